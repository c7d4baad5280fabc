""".tvr files through tavrine.open and TvrFile: the tool's files and bytes,
the same bytes for any thread count, the file object's reading, seeking,
text and append modes, and damage refused with status and place."""

import io
import subprocess

import pytest

import tavrine
from conftest import SEGMENT, generated

DATA = generated("text", 11 * SEGMENT + 123)


def written(data, cut=None, **settings):
    """The .tvr bytes of data, written in pieces of `cut` bytes."""
    target = io.BytesIO()
    with tavrine.TvrFile(target, "wb", segment_size=SEGMENT, **settings) as file:
        cut = cut or max(len(data), 1)
        for at in range(0, len(data), cut):
            assert file.write(data[at:at + cut]) == len(data[at:at + cut])
    return target.getvalue()


@pytest.mark.parametrize("variant", [0, 5])
def test_the_same_bytes_for_any_threads_and_cut(variant):
    expected = written(DATA, variant=variant)
    for threads in (0, 1, 3):
        for cut in (1000, SEGMENT, 3 * SEGMENT + 1):
            assert written(DATA, cut, threads=threads, variant=variant) == expected, (threads, cut)
    for threads in (0, 1, 3):
        with tavrine.TvrFile(io.BytesIO(expected), threads=threads) as file:
            assert file.read() == DATA


@pytest.mark.parametrize("threads", [1, 2])
def test_the_tools_files_read_by_the_package_and_back(tool, tmp_path, threads):
    source = tmp_path / "notes.txt"
    source.write_bytes(DATA)
    subprocess.run([tool, "-q", f"-T{threads}", "--segment-size=4K", "-k", str(source)], check=True)
    tool_file = tmp_path / "notes.txt.tvr"
    with tavrine.open(tool_file, threads=threads) as file:
        assert file.read() == DATA
    # The package writes the tool's bytes, and the tool reads and tests them.
    package_file = tmp_path / "package.tvr"
    with tavrine.open(package_file, "wb", threads=threads, segment_size=SEGMENT) as file:
        file.write(DATA)
    assert package_file.read_bytes() == tool_file.read_bytes()
    subprocess.run([tool, "-q", "-t", str(package_file)], check=True)
    back = subprocess.run([tool, "-d", "-c", str(package_file)], check=True, capture_output=True).stdout
    assert back == DATA


def test_reading_as_a_file_object(tmp_path):
    lines = [b"line %d of the file\n" % number for number in range(5000)]
    data = b"".join(lines)
    path = tmp_path / "lines.tvr"
    with tavrine.open(path, "wb", segment_size=SEGMENT) as file:
        file.writelines(lines)
        assert file.tell() == len(data) and file.writable() and not file.readable()
    with tavrine.open(str(path)) as file:
        assert file.readable() and file.seekable() and not file.writable()
        assert file.peek(1)[:4] == b"line"
        assert file.readline() == lines[0]
        buffer = bytearray(100)
        assert file.readinto(buffer) == 100 and bytes(buffer) == data[len(lines[0]):len(lines[0]) + 100]
        assert file.seek(70_000) == 70_000 and file.read(10) == data[70_000:70_010]  # forward
        assert file.seek(5) == 5 and file.read(10) == data[5:15]  # backward: read again
        assert file.seek(-10, io.SEEK_END) == len(data) - 10 and file.read() == data[-10:]
        assert file.seek(-20, io.SEEK_CUR) == len(data) - 20 and file.tell() == len(data) - 20
        file.seek(0)
        assert list(file) == lines
        assert file.read() == b""
    assert file.closed
    with pytest.raises(ValueError):
        file.read()


def test_append_adds_a_member_and_x_refuses_an_existing_file(tmp_path, tool):
    path = tmp_path / "members.tvr"
    with tavrine.open(path, "x") as file:
        file.write(b"first member\n")
    with pytest.raises(FileExistsError):
        tavrine.open(path, "x")
    with tavrine.open(path, "a", variant=0) as file:
        file.write(b"second member\n")
    with tavrine.open(path) as file:
        assert file.read() == b"first member\nsecond member\n"
    listing = subprocess.run([tool, "-l", str(path)], check=True, capture_output=True, text=True).stdout
    assert "(2 members)" in listing


def test_text_mode(tmp_path):
    text = "Grüße, ünïcödé\nzweite Zeile\r\ndritte\n" * 500
    path = tmp_path / "text.tvr"
    with tavrine.open(path, "wt", encoding="utf-8", newline="") as file:
        file.write(text)
    with tavrine.open(path, "rt", encoding="utf-8", newline="") as file:
        assert file.read() == text
    with tavrine.open(path, "rt", encoding="utf-8") as file:
        assert file.readline() == "Grüße, ünïcödé\n" and file.readline() == "zweite Zeile\n"
    with tavrine.open(path, "rt", encoding="ascii", errors="replace") as file:
        assert file.readline().startswith("Gr\ufffd\ufffd")
    for mode, options in [("rb", {"encoding": "utf-8"}), ("rtb", {}), ("rw", {})]:
        with pytest.raises(ValueError):
            tavrine.open(path, mode, **options)


def damaged_files():
    file = written(DATA)
    second = 16 + 28 + int.from_bytes(file[20:24], "little")  # header, first frame, its stream
    flipped = bytearray(file)
    flipped[second + 28 + 40] ^= 1  # inside the second segment's stream
    return [
        pytest.param(bytes(flipped), tavrine.Status.CORRUPT, second, SEGMENT, id="damaged second segment"),
        pytest.param(file[:second + 100], tavrine.Status.TRUNCATED, second + 100, SEGMENT, id="cut"),
        pytest.param(file + b"PK\x03\x04", tavrine.Status.CORRUPT, len(file), len(DATA), id="data after a member"),
        pytest.param(b"\x1f\x8b\x08\x00", tavrine.Status.UNKNOWN_FORMAT, 0, 0, id="foreign"),
        pytest.param(b"", tavrine.Status.UNKNOWN_FORMAT, 0, 0, id="empty"),
    ]


@pytest.mark.parametrize("threads", [0, 2])
@pytest.mark.parametrize("data, status, offset, verified", damaged_files())
def test_damage_is_refused_after_the_verified_segments(data, status, offset, verified, threads):
    # The reader under the file hands out every verified segment before the damage, and nothing else.
    reader = tavrine._tavrine.TvrReader(io.BytesIO(data), threads)
    got, piece = bytearray(), bytearray(1000)
    with pytest.raises(tavrine.TavrineError) as raised:
        while count := reader.readinto(piece):
            got += piece[:count]
    assert (raised.value.status, raised.value.offset) == (status, offset)
    assert bytes(got) == DATA[:verified]
    # The file raises the same; what its buffer had taken in before is lost with the exception, as in bz2.
    with tavrine.TvrFile(io.BytesIO(data), threads=threads) as file:
        got = bytearray()
        with pytest.raises(tavrine.TavrineError) as raised:
            while piece := file.read(1000):
                got += piece
    assert (raised.value.status, raised.value.offset) == (status, offset)
    assert len(got) <= verified and bytes(got) == DATA[:len(got)]


def test_a_failing_file_raises_its_own_error():
    class Failing(io.RawIOBase):
        def readable(self):
            return True

        def writable(self):
            return True

        def readinto(self, buffer):
            raise OSError(5, "the disk is gone")

        def write(self, data):
            raise OSError(28, "the disk is full")

    with pytest.raises(OSError, match="the disk is gone"):
        tavrine.TvrFile(Failing()).read()
    file = tavrine.TvrFile(Failing(), "w")
    with pytest.raises(OSError, match="the disk is full"):
        file.write(b"the header goes out with the first bytes")
    with pytest.raises(OSError, match="the file failed earlier"):
        file.close()
    assert file.closed


@pytest.mark.parametrize("setting", [{"threads": -1}, {"threads": 257}, {"variant": 3},
                                     {"segment_size": SEGMENT - 1}, {"segment_size": 2**26 + 1}])
def test_settings_outside_the_format(setting):
    with pytest.raises(tavrine.TavrineError) as raised:
        tavrine.TvrFile(io.BytesIO(), "w", **setting)
    assert raised.value.status == tavrine.Status.BAD_ARGUMENT
