"""The examples that convert a folder of bare streams into .tvr files, on this
machine and on a local Dask cluster of two worker processes."""

import io
import subprocess
import sys
from pathlib import Path

import pytest

import tavrine
from conftest import BLOCK, generated

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


@pytest.fixture
def streams(tmp_path):
    """A folder of bare streams, one of them cut short and one not a stream at all."""
    folder = tmp_path / "streams"
    folder.mkdir()
    contents = {f"{kind}": generated(kind, 2 * BLOCK + 100 * number)
                for number, kind in enumerate(["text", "records", "runs", "noise", "periodic"])}
    for name, data in contents.items():
        (folder / f"{name}.tvraw").write_bytes(tavrine.compress(data))
    (folder / "cut.tvraw").write_bytes(tavrine.compress(generated("text", 3 * BLOCK))[:-10])
    (folder / "zeros.tvraw").write_bytes(bytes(100))  # a block of size 0: no encoder writes it
    (folder / "ignored.txt").write_bytes(b"no .tvraw suffix")
    return folder, contents


def tvr_bytes(data):
    """The .tvr file the examples write for data: the package's defaults."""
    target = io.BytesIO()
    with tavrine.TvrFile(target, "wb") as file:
        file.write(data)
    return target.getvalue()


# Seven streams in batches of two: a batch holds a failing stream beside a good one, and the last batch is short.
@pytest.mark.parametrize("program, options", [
    ("tvr_convert.py", []),
    ("tvr_convert_dask.py", ["--local-workers", "2", "--batch", "2"]),
])
def test_a_folder_converted_and_every_failure_reported(streams, tmp_path, program, options):
    folder, contents = streams
    target = tmp_path / "tvr"
    run = subprocess.run([sys.executable, str(EXAMPLES / program), *options, str(folder), str(target)],
                         capture_output=True, text=True, timeout=600)
    assert run.returncode == 1, run.stdout + run.stderr  # two streams fail
    lines = run.stdout.splitlines()
    assert lines[-1] == f"{len(contents)} of {len(contents) + 2} streams converted, 2 failed", run.stderr
    failures = sorted(line for line in lines if line.startswith("FAILED"))
    assert len(failures) == 2
    assert "cut.tvraw: TavrineError: truncated data at stream offset" in failures[0]
    assert "zeros.tvraw: TavrineError: corrupt data at stream offset 0" in failures[1]
    # Only the converted streams leave files, each the package's bytes for the stream's content.
    assert {path.name: path.read_bytes() for path in target.iterdir()} == \
        {f"{name}.tvr": tvr_bytes(data) for name, data in contents.items()}
