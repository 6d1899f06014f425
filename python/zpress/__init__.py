"""gzip files with trusted random access, whole buffers, lines and header fields.

    zpress.compress(data, level=6, *, name=None, comment=None, mtime=None) -> bytes
    zpress.decompress(data) -> bytes
    zpress.lzw_compress(data, bits=16) -> bytes, zpress.lzw_decompress(data) -> bytes
    zpress.open(file, mode="rb", level=6, ...) -> GzipFile (or io.TextIOWrapper in text modes)

A GzipFile reads or writes one gzip stream, like the standard library's
gzip.GzipFile, and reads at random: build_index() (or load_index /
import_index) makes a seek anywhere cost a small decode, and an index is
checked against the data before it is trusted.  See doc/python.md.
"""

from __future__ import annotations

import io
import os
import tempfile
from typing import NamedTuple

from . import _zpress
from ._zpress import BadGzipFile, compress, decompress, lzw_compress, lzw_decompress

__all__ = ["BadGzipFile", "GzipFile", "GzipHeader", "compress", "decompress", "lzw_compress",
           "lzw_decompress", "open"]
__version__ = _zpress.__version__

# zlib's flush modes, for GzipFile.flush.
Z_NO_FLUSH, Z_PARTIAL_FLUSH, Z_SYNC_FLUSH, Z_FULL_FLUSH = 0, 1, 2, 3


class GzipHeader(NamedTuple):
    """The fields of a gzip member header beyond the fixed ones."""

    name: str | None     # FNAME, decoded as Latin-1; None when absent
    comment: str | None  # FCOMMENT, decoded as Latin-1; None when absent
    mtime: int           # MTIME, seconds since 1970 (UTC); 0 for none


def _latin1(text: bytes | None) -> str | None:
    return None if text is None else text.decode("latin-1")


def _as_text(text: str | bytes | None) -> str | None:
    return text.decode("latin-1") if isinstance(text, bytes) else text


def _stored_name(name: str | bytes) -> bytes | None:
    """The name a writer keeps in the header: the base name without ".gz"."""
    base = os.path.basename(os.fsencode(name))
    if len(base) > 3 and base.endswith(b".gz"):
        base = base[:-3]
    return base or None


def _mode_letter(mode: str) -> str:
    letters = mode.replace("b", "")
    if len(letters) != 1 or letters not in "rwax" or mode.count("b") > 1:
        raise ValueError(f"invalid mode: {mode!r}")
    return letters


def _usable_fileno(file) -> int | None:
    try:
        return file.fileno()
    except (AttributeError, OSError, ValueError):  # io.UnsupportedOperation is both
        return None


class GzipFile(io.BufferedIOBase):
    """One gzip stream, read or written, as a binary file object.

    `file` is a path (str, bytes, os.PathLike) or a binary file object.  A
    seekable file object with a working fileno() is read through its
    descriptor (its own position is left alone); any other is read through
    its read/readinto and seek (random access when it is seekable), and
    written through its write.  mode is "rb", "wb", "ab" (a new member
    after the data), "xb" (the file must not exist), or without "b".
    Writers keep `name`, `comment` and `mtime` in the member header: by
    default the file's base name without ".gz", no comment and time 0.
    """

    def __init__(self, file, mode: str = "rb", level: int = 6, *, name=None, comment=None,
                 mtime=None):
        letter = _mode_letter(mode)
        if not 0 <= level <= 9:
            raise ValueError("level must be 0 to 9")
        self._f = None
        is_path = isinstance(file, (str, bytes, os.PathLike))
        if is_path:
            file = os.fspath(file)
            self.name = file
        else:
            given = getattr(file, "name", "")
            self.name = given if isinstance(given, (str, bytes)) else ""
        self.mode = letter.replace("x", "w") + "b"
        header = None
        if letter == "r":
            if name is not None or comment is not None or mtime is not None:
                raise ValueError("name, comment and mtime are for writing")
        else:
            if name is None and self.name:
                name = _stored_name(self.name)
            header = (name, comment, 0 if mtime is None else int(mtime))
            self._written_header = GzipHeader(_as_text(name), _as_text(comment), header[2])
        error_name = self.name if self.name != "" else None
        if is_path:
            self._f = _zpress.GzFile.open_path(os.fsencode(file), letter, level, header,
                                               error_name)
            return
        seekable = bool(getattr(file, "seekable", lambda: False)())
        if letter == "r":
            fd = _usable_fileno(file) if seekable else None
            if fd is not None:
                self._f = _zpress.GzFile.open_descriptor(fd, file.tell(), error_name)
                return
        elif hasattr(file, "flush"):
            file.flush()
        self._f = _zpress.GzFile.open_object(file, letter, level, header, seekable, error_name)

    def __repr__(self) -> str:
        return f"<zpress.GzipFile {self.name!r} mode={self.mode!r}>"

    # -- state ---------------------------------------------------------------

    @property
    def closed(self) -> bool:
        return self._f is None or self._f.closed

    def close(self) -> None:
        """Finishes a written member (its trailer) and closes the file; a
        file object given at open is left open.  Raises when the data could
        not be written completely."""
        if self._f is not None:
            self._f.close()

    def readable(self) -> bool:
        self._check_open()
        return not self._f.writing

    def writable(self) -> bool:
        self._check_open()
        return self._f.writing

    def seekable(self) -> bool:
        self._check_open()
        return self._f.seekable()

    def _check_open(self) -> None:
        if self.closed:
            raise ValueError("I/O operation on closed file.")

    @property
    def header(self) -> GzipHeader:
        """The first member's name, comment and time (for a writer: what it
        writes)."""
        self._check_open()
        if self._f.writing:
            return self._written_header
        name, comment, mtime = self._f.header()
        return GzipHeader(_latin1(name), _latin1(comment), mtime)

    @property
    def mtime(self) -> int:
        """The first member's MTIME (as gzip.GzipFile.mtime, 0 for none)."""
        return self.header.mtime

    # -- reading -----------------------------------------------------------

    def read(self, size: int | None = -1) -> bytes:
        return self._f.read(-1 if size is None else size)

    def read1(self, size: int = -1) -> bytes:
        return self._f.read1(size)

    def readinto(self, b) -> int:
        return self._f.readinto(b)

    def readinto1(self, b) -> int:
        return self._f.readinto(b, True)

    def peek(self, size: int = 0) -> bytes:
        return self._f.peek(size)

    def readline(self, size: int | None = -1) -> bytes:
        return self._f.readline(-1 if size is None else size)

    def readlines(self, hint: int | None = -1) -> list[bytes]:
        return self._f.readlines(-1 if hint is None else hint)

    def __iter__(self):
        # The lines come from the same buffer as readline() and read().
        self._check_open()
        return self._f.iter_lines(self)

    def __next__(self) -> bytes:
        line = self._f.readline(-1)
        if not line:
            raise StopIteration
        return line

    # -- positioning -------------------------------------------------------

    def seek(self, offset: int, whence: int = io.SEEK_SET) -> int:
        """Positions in the uncompressed data.  Reading: anywhere (a seek past
        the end stops at the end, as gzip.GzipFile does); SEEK_END once the
        size is known (after build_index() or a read to the end).  Writing:
        forward only, writing zero bytes."""
        return self._f.seek(offset, whence)

    def tell(self) -> int:
        return self._f.tell()

    # -- writing -----------------------------------------------------------

    def write(self, data) -> int:
        return self._f.write(data)

    def flush(self, zlib_mode: int = Z_SYNC_FLUSH) -> None:
        """Makes what was written so far decodable (a deflate sync flush),
        as gzip.GzipFile.flush does; a no-op when reading."""
        self._f.flush(zlib_mode)

    # -- random access -----------------------------------------------------

    def build_index(self) -> None:
        """Reads the whole data once and notes restart points, so that every
        later seek costs a small decode.  The position stays."""
        self._f.build_index()

    def save_index(self, path) -> None:
        """Writes the index to `path` (atomically: a new file renamed over it)."""
        path = os.fspath(path)
        self._f.save_index(os.fsencode(path), path)

    def load_index(self, path) -> None:
        """Takes an index saved for this compressed file.  An index that is
        damaged, stale, another file's or inconsistent is refused with
        ValueError, and the file object stays as it was."""
        path = os.fspath(path)
        self._f.load_index(os.fsencode(path), path)

    def export_index(self) -> bytes:
        """The index as bytes, as save_index() would write it."""
        self._check_open()
        shm = "/dev/shm"  # memory, where there is one: the save syncs its file
        where = shm if os.path.isdir(shm) and os.access(shm, os.W_OK) else None
        with tempfile.TemporaryDirectory(prefix="zpress-", dir=where) as d:
            path = os.path.join(d, "index")
            self._f.save_index(os.fsencode(path), path)
            with io.open(path, "rb") as f:
                return f.read()

    def import_index(self, data) -> None:
        """As load_index(), from bytes-like data made by export_index()."""
        self._f.import_index(data)

    def verify_index(self) -> None:
        """Reads the whole data once and checks every point of a loaded
        index against it; ValueError (and the index is dropped) when one does
        not agree."""
        self._f.verify_index()

    def index_budget(self, nbytes: int) -> None:
        """The most memory the index may take: 0 (none) or at least 512 KiB
        (8 MiB by default); points are thinned to fit."""
        self._f.index_budget(nbytes)

    def seek_line(self, n: int) -> int:
        """Moves to the first byte of line n (from 1) and returns its offset;
        ValueError, leaving the position, when the data has fewer lines."""
        return self._f.seek_line(n)

    def lines(self) -> int | None:
        """The number of newline bytes in the data once the index covers all
        of it, else None."""
        return self._f.lines()


def open(file, mode: str = "rb", level: int = 6, encoding: str | None = None,
         errors: str | None = None, newline: str | None = None, *, name=None, comment=None,
         mtime=None):
    """A GzipFile, or in text modes ("rt", "wt", "at", "xt") an
    io.TextIOWrapper around one, as gzip.open gives."""
    if "t" in mode:
        if "b" in mode:
            raise ValueError(f"invalid mode: {mode!r}")
        binary = GzipFile(file, mode.replace("t", ""), level, name=name, comment=comment,
                          mtime=mtime)
        return io.TextIOWrapper(binary, io.text_encoding(encoding), errors, newline)
    if encoding is not None or errors is not None or newline is not None:
        raise ValueError("encoding, errors and newline are for text modes")
    return GzipFile(file, mode, level, name=name, comment=comment, mtime=mtime)
