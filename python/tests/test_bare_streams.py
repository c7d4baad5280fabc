"""Bare streams: compress(), decompress(), decoded_length(), Compressor and
Decompressor against the library's worked streams, the tool's bytes and each
other, and damaged or cut streams."""

import array
import mmap
import subprocess
import sys
import threading
import time

import pytest

import tavrine
from conftest import BLOCK, block_offsets, generated

# Worked streams of the format, byte for byte (the library's own tests hold
# the same).
WORKED = [
    (b"abc", 0, "09 00 03 00 00 00 63 62 63"),
    (b"abc", 5, "09 00 03 00 00 00 63 62 63"),
    (b"a" * 16, 0, "16 00 10 00 00 00 61" + " 00" * 15),
    (b"a" * 16, 5, "0E 00 10 00 00 1B 4C F1 EC 09 8B 00 00 0A"),
    (bytes(32), 5, "10 00 20 00 00 00 00 00 00 00 00 0A 1E 00 00 0C"),
    (b"ab" * 16, 5, "13 00 20 00 00 1B 52 8D 78 08 B8 A9 44 03 0B 7F 00 00 0F"),
    (b"abracadabra", 0, "11 00 0B 00 02 01 72 65 63 02 65 02 00 00 00 65 00"),
    (b"abracadabra", 5, "11 00 0B 00 02 01 72 65 63 02 65 02 00 00 00 65 00"),
]


@pytest.mark.parametrize("source, variant, stream", WORKED)
def test_worked_streams_byte_for_byte(source, variant, stream):
    expected = bytes.fromhex(stream)
    assert tavrine.compress(source, variant) == expected
    assert tavrine.decompress(expected) == source
    assert tavrine.decoded_length(expected) == len(source)


@pytest.mark.parametrize("variant", [0, 5])
def test_round_trip_through_every_entry_point(sample, variant, tmp_path):
    stream = tavrine.compress(sample, variant)
    assert tavrine.decompress(stream) == sample
    assert tavrine.decoded_length(stream) == len(sample)
    compressor = tavrine.Compressor(variant)
    assert compressor.compress(sample) + compressor.flush() == stream
    decompressor = tavrine.Decompressor()
    assert decompressor.decompress(stream) + decompressor.flush() == sample
    with tavrine.open(tmp_path / "sample.tvr", "wb", variant=variant, segment_size=4096) as file:
        file.write(sample)
    with tavrine.open(tmp_path / "sample.tvr") as file:
        assert file.read() == sample


@pytest.mark.parametrize("variant", [0, 5])
def test_streams_equal_the_tools(tool, variant, tmp_path):
    """The tool writes its bare streams (--raw) with the C library's one-shot call."""
    for name, data in [("text", generated("text", 70_000)), ("records", generated("records", 3 * BLOCK + 1))]:
        source = tmp_path / name
        source.write_bytes(data)
        written = subprocess.run([tool, "--raw", f"--variant={variant}", "-c", str(source)],
                                 check=True, capture_output=True).stdout
        assert tavrine.compress(data, variant) == written, name


@pytest.mark.parametrize("piece", [1, 7, 4095, BLOCK, BLOCK + 1, 65536])
def test_pieces_of_every_size_give_the_one_shot_bytes(piece):
    data = generated("text", 5 * BLOCK + 300)
    stream = tavrine.compress(data)
    compressor = tavrine.Compressor()
    pieces = [compressor.compress(data[at:at + piece]) for at in range(0, len(data), piece)]
    assert b"".join(pieces) + compressor.flush() == stream

    # Stream pieces of the same size, and at most `piece` decoded bytes per call.
    for max_length in (-1, piece):
        decompressor = tavrine.Decompressor()
        decoded = bytearray()
        for at in range(0, len(stream), piece):
            decoded += decompressor.decompress(stream[at:at + piece], max_length)
            while not decompressor.needs_input:
                more = decompressor.decompress(b"", max_length)
                assert 0 < len(more) <= piece
                decoded += more
        decoded += decompressor.flush()
        assert decoded == data, max_length


def test_used_objects_refuse_more():
    compressor = tavrine.Compressor(0)
    compressor.flush()
    with pytest.raises(ValueError, match="flushed"):
        compressor.compress(b"more")
    decompressor = tavrine.Decompressor()
    assert decompressor.flush() == b""
    with pytest.raises(ValueError, match="flushed"):
        decompressor.decompress(b"")


def damaged_cases():
    data = generated("text", 4 * BLOCK)
    stream = tavrine.compress(data)
    blocks = block_offsets(stream)
    second, third = blocks[1], blocks[2]
    zero_length = bytearray(stream)
    zero_length[second + 2:second + 4] = b"\0\0"  # a block that decodes to nothing: no encoder writes it
    empty_block = bytearray(stream)
    empty_block[third:third + 2] = (4).to_bytes(2, "little")  # a header and nothing behind it
    return [
        pytest.param(stream[:third + 100], tavrine.Status.TRUNCATED, third, id="cut inside the third block"),
        pytest.param(stream[:second + 3], tavrine.Status.TRUNCATED, second, id="cut inside a header"),
        pytest.param(bytes(zero_length), tavrine.Status.CORRUPT, second, id="second block decodes to nothing"),
        pytest.param(bytes(empty_block), tavrine.Status.CORRUPT, third, id="third block holds nothing"),
    ]


@pytest.mark.parametrize("stream, status, offset", damaged_cases())
def test_damaged_and_cut_streams_say_what_and_where(stream, status, offset):
    for call in (tavrine.decompress, tavrine.decoded_length):
        with pytest.raises(tavrine.TavrineError) as raised:
            call(stream)
        assert (raised.value.status, raised.value.offset) == (status, offset), call
        assert isinstance(raised.value, ValueError)

    decompressor = tavrine.Decompressor()
    decoded = bytearray()
    with pytest.raises(tavrine.TavrineError) as raised:
        for at in range(0, len(stream), 1000):
            decoded += decompressor.decompress(stream[at:at + 1000])
        decoded += decompressor.flush()
    assert (raised.value.status, raised.value.offset) == (status, offset)
    assert str(raised.value) == f"{tavrine._tavrine.status_text(status)} at stream offset {offset}"


def test_bad_settings_and_error_objects():
    for variant in (1, -1, 2**40):
        with pytest.raises(tavrine.TavrineError) as raised:
            tavrine.compress(b"x", variant)
        assert raised.value.status == tavrine.Status.BAD_ARGUMENT and raised.value.offset is None
    with pytest.raises(TypeError):
        tavrine.compress("text is not bytes")
    # Errors cross process boundaries whole (concurrent.futures, Dask).
    import pickle
    error = pickle.loads(pickle.dumps(tavrine.TavrineError("corrupt data at stream offset 9", 1, 9)))
    assert (str(error), error.status, error.offset) == ("corrupt data at stream offset 9", tavrine.Status.CORRUPT, 9)
    # The package's statuses are the library's.
    for status in tavrine.Status:
        assert tavrine._tavrine.status_text(status) != "unknown status"
    assert tavrine._tavrine.status_text(max(tavrine.Status) + 1) == "unknown status"


def test_any_buffer_object_is_taken(tmp_path):
    data = generated("records", 3 * BLOCK)
    stream = tavrine.compress(data)
    path = tmp_path / "mapped"
    path.write_bytes(data)
    with open(path, "rb") as file, mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ) as mapped:
        views = [bytearray(data), memoryview(data), array.array("H", data), mapped,
                 memoryview(b"--" + data + b"--")[2:-2]]
        for view in views:
            assert tavrine.compress(view) == stream, type(view)
    for view in (bytearray(stream), memoryview(stream), array.array("B", stream)):
        assert tavrine.decompress(view) == data
    with pytest.raises(BufferError):
        tavrine.compress(memoryview(data)[::2])  # not contiguous


def test_the_gil_is_released_while_coding():
    """Another thread runs Python code while one call codes 4 MB."""
    data = generated("text", 4_000_000)
    stamps = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            stamps.append(time.perf_counter())

    counter = threading.Thread(target=count)
    counter.start()
    try:
        time.sleep(0.01)
        start = time.perf_counter()
        tavrine.decompress(tavrine.compress(data))
        end = time.perf_counter()
    finally:
        stop.set()
        counter.join()
    # Holding the GIL, the call would give the other thread a turn at most
    # near its start and end (a switch interval, 5 ms), none in its middle.
    third = (end - start) / 3
    assert end - start > 10 * sys.getswitchinterval()
    assert sum(start + third < stamp < end - third for stamp in stamps) > 100
