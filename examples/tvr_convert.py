#!/usr/bin/env python3
"""Converts a folder of bare tavrine streams into checksummed .tvr files.

Usage: tvr_convert.py [--threads N] SOURCE_DIR TARGET_DIR

Every *.tvraw file of SOURCE_DIR (a bare stream, as `tavrine --raw` or
ZOLT_Encode writes it) is decoded, written to TARGET_DIR as NAME.tvr, and
the .tvr file is read back, every checksum verified, and compared with the
decoded bytes. A stream that fails is reported with the reason and leaves no
file behind; the others go on. Exit status 0 when every stream converted, 1
when one failed. tvr_convert_dask.py does the same job on a Dask cluster,
with the functions of this file.
"""

from __future__ import annotations

import argparse
import hashlib
import sys
from dataclasses import dataclass
from pathlib import Path

import tavrine

PIECE = 1 << 20


@dataclass
class Outcome:
    """What became of one stream: its sizes, or why it failed."""

    source: str
    decoded_size: int = 0
    tvr_size: int = 0
    error: str | None = None

    @property
    def ok(self) -> bool:
        return self.error is None

    def line(self) -> str:
        if self.ok:
            return f"ok      {self.source}: {self.decoded_size} bytes, {self.tvr_size} as .tvr"
        return f"FAILED  {self.source}: {self.error}"


def convert(source: Path, target_dir: Path, threads: int = 0) -> Outcome:
    """Converts one stream into TARGET_DIR/NAME.tvr and checks the file;
    never raises: a failure is the outcome's error."""
    target = target_dir / (source.stem + ".tvr")
    partial = target.with_name(target.name + ".partial")
    try:
        data = tavrine.decompress(source.read_bytes())
        with tavrine.open(partial, "wb", threads=threads) as file:
            file.write(data)
        # Read back: the reader verifies every checksum; the digest compares the content.
        digest = hashlib.blake2b()
        with tavrine.open(partial, threads=threads) as file:
            while piece := file.read(PIECE):
                digest.update(piece)
        if digest.digest() != hashlib.blake2b(data).digest():
            raise ValueError("the .tvr file does not give the stream's bytes back")
        partial.replace(target)
        return Outcome(str(source), len(data), target.stat().st_size)
    except (tavrine.TavrineError, OSError, MemoryError, ValueError) as error:
        partial.unlink(missing_ok=True)
        return Outcome(str(source), error=f"{type(error).__name__}: {error}")


def convert_batch(sources: list[str], target_dir: str, threads: int = 0) -> list[Outcome]:
    """One outcome per stream, in order."""
    return [convert(Path(source), Path(target_dir), threads) for source in sources]


def streams_in(directory: Path) -> list[Path]:
    return sorted(path for path in directory.glob("*.tvraw") if path.is_file())


def report(outcomes: list[Outcome], expected: int) -> int:
    """Prints every outcome and a summary; the exit status."""
    for outcome in outcomes:
        print(outcome.line())
    failed = sum(not outcome.ok for outcome in outcomes)
    missing = expected - len(outcomes)
    print(f"{len(outcomes) - failed} of {expected} streams converted, {failed} failed"
          + (f", {missing} NOT ACCOUNTED FOR" if missing else ""))
    return 0 if failed == 0 and missing == 0 else 1


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--threads", type=int, default=0, help="worker threads per file (default 0: none)")
    parser.add_argument("source_dir", type=Path)
    parser.add_argument("target_dir", type=Path)
    arguments = parser.parse_args()
    arguments.target_dir.mkdir(parents=True, exist_ok=True)
    sources = streams_in(arguments.source_dir)
    outcomes = [convert(source, arguments.target_dir, arguments.threads) for source in sources]
    return report(outcomes, len(sources))


if __name__ == "__main__":
    sys.exit(main())
