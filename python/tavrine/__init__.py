"""The tavrine block-sorting codec, in the manner of the standard library's
bz2 and lzma modules.

Bare streams (exactly the bytes of the library's ZOLT_Encode and ZOLT_Decode):

    compress(data, variant=5) -> bytes
    decompress(data) -> bytes
    decoded_length(data) -> int
    Compressor(variant=5), Decompressor(): the same in pieces of any size

Checksummed .tvr files, as the tavrine tool writes and reads them:

    open(file, mode="rb", *, threads=0, ...) -> TvrFile or io.TextIOWrapper
    TvrFile(file, mode="r", *, threads=0, variant=5, segment_size=1 MiB)

Every function takes any object with the buffer protocol (bytes, bytearray,
memoryview, mmap, array) without copying it, and releases the GIL while it
codes, so that threads decoding or encoding different data run in parallel.
Bad input raises TavrineError (a ValueError) with its status and, for
damaged input, the offset of the fault; running out of memory raises
MemoryError. The library is compiled into the module: no installed
libtavrine is needed.
"""

from __future__ import annotations

from typing import TYPE_CHECKING

from . import _tavrine
from ._errors import Status, TavrineError
from ._file import TvrFile, open
from ._tavrine import (
    DEFAULT_SEGMENT_SIZE,
    MAX_SEGMENT_SIZE,
    MAX_THREADS,
    MIN_SEGMENT_SIZE,
    VARIANT_RANGE_CODED,
    VARIANT_UNCODED,
    Compressor,
    Decompressor,
)

if TYPE_CHECKING:
    from _typeshed import ReadableBuffer

__version__: str = _tavrine.__version__
"""The library's version, which the package's version follows."""


# The functions are Python functions around the module's, so that they pickle
# by name: process pools and Dask send them to other processes.

def compress(data: ReadableBuffer, variant: int = VARIANT_RANGE_CODED) -> bytes:
    """Compress data into a bare stream, byte for byte what ZOLT_Encode writes.

    data may be any object with the buffer protocol (bytes, bytearray,
    memoryview, mmap, array); it is read in place, without a copy. variant 5
    range-codes the blocks, variant 0 stores them block-sorted only. The GIL
    is released while the data is coded.
    """
    return _tavrine.compress(data, variant)


def decompress(data: ReadableBuffer) -> bytes:
    """Decompress a bare stream and return the bytes it holds, as ZOLT_Decode does.

    A damaged or cut stream raises TavrineError with the status CORRUPT or
    TRUNCATED and the stream offset of the block at fault. The output is
    made at the length the block headers announce, up to some 6500 times the
    stream's: for untrusted streams, Decompressor with max_length bounds it.
    The GIL is released while the data is decoded.
    """
    return _tavrine.decompress(data)


def decoded_length(data: ReadableBuffer) -> int:
    """The length that a bare stream decodes to, read from its block headers
    without decoding; raises TavrineError as decompress() does when the
    headers are damaged or the stream stops inside a block."""
    return _tavrine.decoded_length(data)


__all__ = [
    "DEFAULT_SEGMENT_SIZE",
    "MAX_SEGMENT_SIZE",
    "MAX_THREADS",
    "MIN_SEGMENT_SIZE",
    "VARIANT_RANGE_CODED",
    "VARIANT_UNCODED",
    "Compressor",
    "Decompressor",
    "Status",
    "TavrineError",
    "TvrFile",
    "compress",
    "decoded_length",
    "decompress",
    "open",
]
