""".tvr files as file objects, in the manner of bz2.BZ2File and bz2.open."""

from __future__ import annotations

import builtins
import io
import os
from typing import IO, Any, Iterator, Union

from . import _tavrine

_MODE_CLOSED, _MODE_READ, _MODE_WRITE = 0, 1, 2
_BINARY_MODES = {
    "": ("rb", _MODE_READ), "r": ("rb", _MODE_READ), "rb": ("rb", _MODE_READ),
    "w": ("wb", _MODE_WRITE), "wb": ("wb", _MODE_WRITE),
    "x": ("xb", _MODE_WRITE), "xb": ("xb", _MODE_WRITE),
    "a": ("ab", _MODE_WRITE), "ab": ("ab", _MODE_WRITE),
}

FileName = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


class _RawReader(io.RawIOBase):
    """The decoded content of a .tvr file, verified, as a raw stream; seeks
    forward by reading and backward by reading again from the start."""

    def __init__(self, fp: IO[bytes], threads: int) -> None:
        self._fp = fp
        self._threads = threads
        self._start = self._position_of(fp)
        self._reader = _tavrine.TvrReader(fp, threads)
        self._pos = 0
        self._size = -1  # the content's length, once the end was seen

    @staticmethod
    def _position_of(fp: IO[bytes]) -> int | None:
        try:
            return fp.tell() if fp.seekable() else None
        except (AttributeError, OSError, ValueError):
            return None

    def readable(self) -> bool:
        return True

    def seekable(self) -> bool:
        return self._start is not None

    def readinto(self, buffer: Any) -> int:
        count = self._reader.readinto(buffer)
        if count == 0 and memoryview(buffer).nbytes > 0:
            self._size = self._pos
        self._pos += count
        return count

    def _rewind(self) -> None:
        assert self._start is not None
        self._fp.seek(self._start)
        self._reader.close()
        self._reader = _tavrine.TvrReader(self._fp, self._threads)
        self._pos = 0

    def seek(self, offset: int, whence: int = io.SEEK_SET) -> int:
        if not self.seekable():
            raise io.UnsupportedOperation("the underlying file is not seekable")
        if whence == io.SEEK_CUR:
            offset += self._pos
        elif whence == io.SEEK_END:
            if self._size < 0:
                self._skip(-1)
            offset += self._size
        elif whence != io.SEEK_SET:
            raise ValueError(f"invalid whence ({whence}, should be 0, 1 or 2)")
        if offset < self._pos:
            self._rewind()
        self._skip(max(offset, 0) - self._pos)
        return self._pos

    def _skip(self, count: int) -> None:
        """Reads and drops count bytes (all, for -1), or up to the end."""
        scratch = bytearray(io.DEFAULT_BUFFER_SIZE * 8)
        while count != 0:
            view = memoryview(scratch)
            if 0 < count < len(scratch):
                view = view[:count]
            got = self.readinto(view)
            if got == 0:
                break
            if count > 0:
                count -= got

    def tell(self) -> int:
        return self._pos

    def close(self) -> None:
        if not self.closed:
            self._reader.close()
        super().close()


class TvrFile(io.BufferedIOBase):
    """A .tvr file opened in binary mode.

    filename is a file name (str, bytes or path-like object) or a file object
    to read from or write to, which is then left open by close(). mode is
    "r" to read, "w" to write anew, "x" to create (failing when the file
    exists), "a" to append one member to what the file holds; "b" may be
    added. Reading gives the content of every member in turn; bytes are
    returned only from segments whose checksums matched, and the end of the
    file only once every member's content checksum and end frame agreed.
    Damage raises TavrineError.

    threads is the number of worker threads that code segments beside the
    calling thread (0: none). Writing, variant (5 or 0) and segment_size
    (4096 to 64 MiB) choose the format; the bytes written are the same for
    any thread count and for any way of cutting the input into write()
    calls. The GIL is released while coding.
    """

    def __init__(self, filename: FileName | IO[bytes], mode: str = "r", *, threads: int = 0,
                 variant: int = _tavrine.VARIANT_RANGE_CODED,
                 segment_size: int = _tavrine.DEFAULT_SEGMENT_SIZE) -> None:
        self._fp: Any = None
        self._closefp = False
        self._mode = _MODE_CLOSED
        self._buffer: io.BufferedReader | None = None
        self._writer: Any = None
        self._pos = 0
        if mode not in _BINARY_MODES:
            raise ValueError(f"invalid mode: {mode!r}")
        file_mode, mode_code = _BINARY_MODES[mode]

        if isinstance(filename, (str, bytes, os.PathLike)):
            # Unbuffered: the library reads and writes whole frames and segments.
            self._fp = builtins.open(filename, file_mode, buffering=0)
            self._closefp = True
        elif hasattr(filename, "read") or hasattr(filename, "write"):
            self._fp = filename
        else:
            raise TypeError("filename must be a str, bytes, file or PathLike object")

        try:
            if mode_code == _MODE_READ:
                raw = _RawReader(self._fp, threads)
                self._buffer = io.BufferedReader(raw, buffer_size=io.DEFAULT_BUFFER_SIZE * 8)
            else:
                self._writer = _tavrine.TvrWriter(self._fp, variant, segment_size, threads)
        except BaseException:
            if self._closefp:
                self._fp.close()
            self._fp = None
            raise
        self._mode = mode_code

    def close(self) -> None:
        """Close the file; in writing mode, complete the member first (the
        last segment and the end frame). A file object given by the caller
        stays open."""
        if self._mode == _MODE_CLOSED:
            return
        try:
            if self._mode == _MODE_READ:
                assert self._buffer is not None
                self._buffer.close()
            else:
                self._writer.close()
        finally:
            try:
                if self._closefp:
                    self._fp.close()
            finally:
                self._fp = None
                self._closefp = False
                self._mode = _MODE_CLOSED
                self._buffer = None
                self._writer = None

    @property
    def closed(self) -> bool:
        return self._mode == _MODE_CLOSED

    def fileno(self) -> int:
        self._check_not_closed()
        return self._fp.fileno()

    def seekable(self) -> bool:
        return self.readable() and self._reading_buffer().seekable()

    def readable(self) -> bool:
        self._check_not_closed()
        return self._mode == _MODE_READ

    def writable(self) -> bool:
        self._check_not_closed()
        return self._mode == _MODE_WRITE

    def peek(self, n: int = 0) -> bytes:
        """Return buffered bytes without moving the position: at least one,
        unless at the end of the content."""
        return self._reading_buffer().peek(n)

    def read(self, size: int | None = -1) -> bytes:
        """Read up to size decoded bytes, or all of the rest when size is
        negative or None; b"" at the end of the content."""
        return self._reading_buffer().read(size)

    def read1(self, size: int = -1) -> bytes:
        """Read up to size bytes with at most one call into the library."""
        if size < 0:
            size = io.DEFAULT_BUFFER_SIZE
        return self._reading_buffer().read1(size)

    def readinto(self, b: Any) -> int:
        return self._reading_buffer().readinto(b)

    def readline(self, size: int | None = -1) -> bytes:
        return self._reading_buffer().readline(size)

    def __iter__(self) -> Iterator[bytes]:
        return self._reading_buffer().__iter__()

    def write(self, data: Any) -> int:
        """Compress data (any object with the buffer protocol) into the file
        and return the number of bytes taken."""
        if self._mode != _MODE_WRITE:
            self._check_not_closed()
            raise io.UnsupportedOperation("File not open for writing")
        length = len(data) if isinstance(data, (bytes, bytearray)) else memoryview(data).nbytes
        self._writer.write(data)
        self._pos += length
        return length

    def seek(self, offset: int, whence: int = io.SEEK_SET) -> int:
        """Move to a position of the decoded content: forward by reading,
        backward by reading again from the start of the file, which can be
        slow; in reading mode only."""
        return self._reading_buffer().seek(offset, whence)

    def tell(self) -> int:
        """The position in the decoded content."""
        self._check_not_closed()
        if self._mode == _MODE_READ:
            assert self._buffer is not None
            return self._buffer.tell()
        return self._pos

    def _check_not_closed(self) -> None:
        if self.closed:
            raise ValueError("I/O operation on closed file")

    def _reading_buffer(self) -> io.BufferedReader:
        if self._mode != _MODE_READ:
            self._check_not_closed()
            raise io.UnsupportedOperation("File not open for reading")
        assert self._buffer is not None
        return self._buffer


def open(file: FileName | IO[bytes], mode: str = "rb", *, threads: int = 0,
         variant: int = _tavrine.VARIANT_RANGE_CODED, segment_size: int = _tavrine.DEFAULT_SEGMENT_SIZE,
         encoding: str | None = None, errors: str | None = None,
         newline: str | None = None) -> TvrFile | io.TextIOWrapper:
    """Open a .tvr file in binary or text mode, as bz2.open does.

    mode is "r", "w", "x" or "a" with "b" (binary, the default) or "t"
    (text). In binary mode this is TvrFile(file, mode, ...); in text mode
    that file is wrapped in an io.TextIOWrapper with the given encoding,
    errors and newline handling, which binary mode does not take.
    """
    if "t" in mode:
        if "b" in mode:
            raise ValueError(f"invalid mode: {mode!r}")
    else:
        if encoding is not None:
            raise ValueError("Argument 'encoding' not supported in binary mode")
        if errors is not None:
            raise ValueError("Argument 'errors' not supported in binary mode")
        if newline is not None:
            raise ValueError("Argument 'newline' not supported in binary mode")
    binary = TvrFile(file, mode.replace("t", ""), threads=threads, variant=variant,
                     segment_size=segment_size)
    if "t" in mode:
        return io.TextIOWrapper(binary, io.text_encoding(encoding), errors, newline)
    return binary
