"""The library's statuses and the exception that carries them."""

from __future__ import annotations

import enum


class Status(enum.IntEnum):
    """Why a call failed: the library's tavrine_status values."""

    OK = 0
    CORRUPT = 1  # a block, frame or checksum that no encoder writes
    TRUNCATED = 2  # the input ends inside a block, frame or file
    OUTPUT_TOO_SMALL = 3
    OUT_OF_MEMORY = 4
    ABORTED = 5
    BAD_ARGUMENT = 6  # a setting out of range
    TOO_LARGE = 7  # more segments than a .tvr file can count
    IO_ERROR = 8
    UNKNOWN_FORMAT = 9  # not a .tvr file, or of a version this library does not read
    MEMORY_LIMIT = 10  # a .tvr segment needs more memory than the reader may hold


class TavrineError(ValueError):
    """Bad input or settings: a damaged, cut or foreign stream or file, or a
    setting out of range.

    ``status`` is the library's :class:`Status`; ``offset`` is, for damaged,
    cut or foreign input, the offset of the fault (the stream offset of the
    block at fault in a bare stream, the input offset of the frame or segment
    in a .tvr file), and None otherwise. Running out of memory raises
    MemoryError instead, and a failing file object its own exception.
    """

    def __init__(self, message: str, status: int, offset: int | None = None) -> None:
        super().__init__(message)
        self.message = message
        try:
            self.status: Status | int = Status(status)
        except ValueError:  # a status of a newer library
            self.status = status
        self.offset = offset

    def __reduce__(self):
        # Errors travel between processes (concurrent.futures, Dask) whole.
        return (type(self), (self.message, int(self.status), self.offset))

    def __str__(self) -> str:
        return self.message
