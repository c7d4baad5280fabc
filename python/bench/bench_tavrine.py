#!/usr/bin/env python3
"""Benchmark of the Python package against the C library.

1. compress() and decompress() of a 4 MB input against the C one-shot calls
   tavrine_encode and tavrine_decode, timed through ctypes on the very code
   the module runs (the extension carries the library and keeps its C
   functions visible); the C calls reuse buffers made once, the Python calls
   make their bytes objects every time. Paired rounds, in alternating order,
   and the median of the ratios, since a shared machine's clock drifts.
   With --library PATH (a libtavrine.so of a CMake build), the same C calls
   on that library too: how the module's compilation compares.
2. A batch of streams decoded (and encoded) by a concurrent.futures thread
   pool of 1 and of 2 threads: the GIL is released while coding, so two
   threads should take little more than half the time. This needs two idle
   cores: the load average is printed before and after.

Usage: bench_tavrine.py [--rounds N] [--library PATH] [FILE]
(FILE: the input of part 1; default 4 MB of generated text)
"""

from __future__ import annotations

import argparse
import concurrent.futures
import ctypes
import os
import platform
import random
import statistics
import time
from pathlib import Path

import tavrine

INPUT_SIZE = 4_000_000
BATCH = 24
BATCH_STREAM_SIZE = 1_000_000


def generated_text(length: int, seed: int) -> bytes:
    rng = random.Random(seed)
    words = ["".join(rng.choices("etaoinshrdlucmfwypvbgk", k=rng.randint(1, 9))) for _ in range(800)]
    weights = [1 / (rank + 1) for rank in range(len(words))]
    out = bytearray()
    while len(out) < length:
        out += (" ".join(rng.choices(words, weights, k=12)).capitalize() + ".\n").encode()
    return bytes(out[:length])


def cpu_model() -> str:
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def load() -> str:
    return " ".join(f"{value:.2f}" for value in os.getloadavg())


class CLibrary:
    """tavrine_encode and tavrine_decode of a shared object, with buffers made once."""

    def __init__(self, path: str, data: bytes, stream: bytes) -> None:
        self.lib = ctypes.CDLL(path)
        for name in ("tavrine_encode", "tavrine_decode"):
            getattr(self.lib, name).restype = ctypes.c_int
        self.lib.tavrine_encode.argtypes = [ctypes.c_uint32, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p,
                                            ctypes.c_size_t, ctypes.POINTER(ctypes.c_size_t), ctypes.c_void_p,
                                            ctypes.c_void_p]
        self.lib.tavrine_decode.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p, ctypes.c_size_t,
                                            ctypes.POINTER(ctypes.c_size_t), ctypes.c_void_p, ctypes.c_void_p,
                                            ctypes.c_void_p]
        self.data = ctypes.create_string_buffer(data, len(data))
        self.stream = ctypes.create_string_buffer(stream, len(stream))
        self.encoded = ctypes.create_string_buffer(len(data) + len(data) // 100 + 65536)
        self.decoded = ctypes.create_string_buffer(len(data))
        self.length = ctypes.c_size_t()
        self.sizes = (len(data), len(stream))
        assert self.encode() == stream and self.decode() == data, "the C calls give other bytes"

    def encode(self) -> bytes:
        status = self.lib.tavrine_encode(5, self.data, self.sizes[0], self.encoded, len(self.encoded),
                                         ctypes.byref(self.length), None, None)
        assert status == 0
        return self.encoded.raw[:self.length.value]

    def decode(self) -> bytes:
        status = self.lib.tavrine_decode(self.stream, self.sizes[1], self.decoded, len(self.decoded),
                                         ctypes.byref(self.length), None, None, None)
        assert status == 0
        return self.decoded.raw[:self.length.value]

    def time_encode(self) -> float:
        start = time.perf_counter()
        self.lib.tavrine_encode(5, self.data, self.sizes[0], self.encoded, len(self.encoded),
                                ctypes.byref(self.length), None, None)
        return time.perf_counter() - start

    def time_decode(self) -> float:
        start = time.perf_counter()
        self.lib.tavrine_decode(self.stream, self.sizes[1], self.decoded, len(self.decoded),
                                ctypes.byref(self.length), None, None, None)
        return time.perf_counter() - start


def timed(call, *arguments) -> float:
    start = time.perf_counter()
    call(*arguments)
    return time.perf_counter() - start


def one_shot(data: bytes, rounds: int, library: str | None) -> None:
    stream = tavrine.compress(data)
    module = CLibrary(tavrine._tavrine.__file__, data, stream)
    others = {"module's C calls": module}
    if library:
        others["C calls of " + library] = CLibrary(library, data, stream)
    print(f"\n1. {len(data)} bytes -> {len(stream)} bytes; {rounds} paired rounds, median of the ratios")
    for what, python_call, argument in (("compress", tavrine.compress, data),
                                        ("decompress", tavrine.decompress, stream)):
        ratios = {name: [] for name in others}
        python_times = []
        def c_times() -> dict:
            return {name: c.time_encode() if what == "compress" else c.time_decode() for name, c in others.items()}

        for round_number in range(rounds):
            # The order alternates from round to round, so that neither side always runs on a warmer cache.
            before = c_times() if round_number % 2 else {}
            python_time = timed(python_call, argument)
            after = {} if round_number % 2 else c_times()
            python_times.append(python_time)
            for name, c_time in {**before, **after}.items():
                ratios[name].append(python_time / c_time)
        best = min(python_times)
        print(f"   tavrine.{what}: median {statistics.median(python_times) * 1e3:.1f} ms, "
              f"best {best * 1e3:.1f} ms ({len(data) / best / 1e6:.1f} MB/s of data)")
        for name, values in ratios.items():
            print(f"     / {name}: {statistics.median(values):.3f}x "
                  f"(range {min(values):.3f}-{max(values):.3f})")


def batch(rounds: int) -> None:
    inputs = [generated_text(BATCH_STREAM_SIZE, seed) for seed in range(BATCH)]
    streams = [tavrine.compress(data) for data in inputs]
    print(f"\n2. a batch of {BATCH} streams of {BATCH_STREAM_SIZE} bytes, thread pools of 1 and 2; "
          f"load average before: {load()}")
    for what, call, items in (("decompress", tavrine.decompress, streams), ("compress", tavrine.compress, inputs)):
        times = {1: [], 2: []}
        for round_number in range(rounds):
            # Paired rounds, the order alternated, so that a change of load falls on both.
            for workers in ((1, 2) if round_number % 2 == 0 else (2, 1)):
                with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
                    start = time.perf_counter()
                    results = list(pool.map(call, items))
                    times[workers].append(time.perf_counter() - start)
                assert len(results) == len(items)
        ratios = [one / two for one, two in zip(times[1], times[2])]
        print(f"   {what}: 1 thread {statistics.median(times[1]):.3f} s, "
              f"2 threads {statistics.median(times[2]):.3f} s; paired ratio median {statistics.median(ratios):.2f}x "
              f"(range {min(ratios):.2f}-{max(ratios):.2f})")
    print(f"   load average after: {load()}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=11)
    parser.add_argument("--library", help="a libtavrine.so to time as well")
    parser.add_argument("file", nargs="?", type=Path)
    arguments = parser.parse_args()
    print(f"tavrine {tavrine.__version__}, Python {platform.python_version()}, {cpu_model()}, "
          f"{os.cpu_count()} logical CPUs")
    data = arguments.file.read_bytes() if arguments.file else generated_text(INPUT_SIZE, 1)
    one_shot(data, arguments.rounds, arguments.library)
    batch(max(4, arguments.rounds // 2))


if __name__ == "__main__":
    main()
