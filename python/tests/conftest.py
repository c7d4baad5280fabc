"""Test inputs and the programs of a native build, for the package's tests.

Inputs come from a small deterministic generator (Python's random with fixed
seeds) and from the repository's tavrine-datagen when TAVRINE_DATAGEN names
it. TAVRINE_TOOL names the tavrine program of a native build, for the tests
that compare with it; they are skipped without it (scripts/test.sh sets both).
"""

import os
import random
import struct
import subprocess

import pytest

BLOCK = 8192
SEGMENT = 4096  # the smallest segment size: many segments from little data

_WORDS = random.Random("vocabulary").sample(
    ["".join(random.Random(i).choices("etaoinshrdlucmfwypvbgkqjxz", k=1 + i % 9)) for i in range(2000)], 600)


def generated(kind: str, length: int, seed: int = 1) -> bytes:
    """length bytes of kind: text, records, runs, periodic, two_symbols or noise."""
    rng = random.Random(f"{kind}/{length}/{seed}")
    if kind == "text":
        weights = [1 / (rank + 1) for rank in range(len(_WORDS))]
        out = bytearray()
        while len(out) < length:
            words = rng.choices(_WORDS, weights, k=rng.randint(4, 14))
            out += (" ".join(words).capitalize() + (".\n" if rng.random() < 0.3 else ". ")).encode()
        return bytes(out[:length])
    if kind == "records":
        out = bytearray()
        for number in range(length // 32 + 1):
            name = rng.choice(_WORDS).encode()[:8].ljust(8, b" ")
            out += struct.pack("<IHhdq", number, rng.randrange(40), rng.randrange(-99, 99),
                               rng.random() * 1000, rng.randrange(10**6)) + name
        return bytes(out[:length])
    if kind == "runs":
        out = bytearray()
        while len(out) < length:
            out += bytes([rng.choice(b"\x00 ax\xff")]) * rng.randint(1, 2000)
        return bytes(out[:length])
    if kind == "periodic":
        pattern = rng.randbytes(7)
        return (pattern * (length // 7 + 1))[:length]
    if kind == "two_symbols":
        return bytes(rng.choices(b"ab", k=length))
    if kind == "noise":
        return rng.randbytes(length)
    raise ValueError(kind)


def _datagen_samples() -> dict:
    program = os.environ.get("TAVRINE_DATAGEN")
    if not program:
        return {}
    return {f"datagen-{kind}": subprocess.run([program, kind, "150000"], check=True, capture_output=True).stdout
            for kind in ("text", "records", "nearly-periodic")}


# Sizes at and around the block size, and one of several segments.
SAMPLES = {
    "empty": b"",
    "one byte": b"\x7f",
    "text 8191": generated("text", BLOCK - 1),
    "text 8192": generated("text", BLOCK),
    "text 100000": generated("text", 100_000),
    "records 8193": generated("records", BLOCK + 1),
    "runs 40000": generated("runs", 40_000),
    "periodic 20000": generated("periodic", 20_000),
    "two symbols 3 blocks + 5": generated("two_symbols", 3 * BLOCK + 5),
    "noise 30000": generated("noise", 30_000),
    **_datagen_samples(),
}


@pytest.fixture(params=sorted(SAMPLES), scope="session")
def sample(request) -> bytes:
    """Every generated sample in turn."""
    return SAMPLES[request.param]


@pytest.fixture(scope="session")
def tool() -> str:
    """The tavrine program of a native build (TAVRINE_TOOL)."""
    program = os.environ.get("TAVRINE_TOOL")
    if not program:
        pytest.skip("TAVRINE_TOOL is not set to a tavrine program")
    assert os.access(program, os.X_OK), f"TAVRINE_TOOL={program} is not a program"
    return program


def block_offsets(stream: bytes) -> list:
    """The stream offset of every block, from the 4-byte headers (the block's
    size, header included, and its decoded length, little-endian)."""
    offsets, at = [], 0
    while at < len(stream):
        offsets.append(at)
        at += int.from_bytes(stream[at:at + 2], "little")
    return offsets
