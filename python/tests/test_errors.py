"""Failures as the standard library reports them: damage, cut-off data,
system errors, a file object's own exceptions, misuse."""

import errno
import gzip
import io
import os

import pytest

import zpress

DATA = os.urandom(50000) + b"text " * 50000


@pytest.fixture
def packed():
    return zpress.compress(DATA)


def test_damage_raises_bad_gzip_file(tmp_path, packed):
    path = tmp_path / "bad.gz"
    bad = bytearray(packed)
    bad[len(bad) // 2] ^= 0xFF
    path.write_bytes(bad)
    with zpress.open(path) as f, pytest.raises(zpress.BadGzipFile):
        f.read()
    path.write_bytes(packed + b"garbage")
    with zpress.open(path) as f, pytest.raises(gzip.BadGzipFile):
        f.read()
    path.write_bytes(b"just some text\n")
    with zpress.open(path) as f, pytest.raises(OSError):
        f.readline()


@pytest.mark.parametrize("cut", [5, 12, 30000, -3])
def test_cut_off_never_gives_a_short_read(tmp_path, packed, cut):
    path = tmp_path / "cut.gz"
    path.write_bytes(packed[:cut])
    with zpress.open(path) as f, pytest.raises(EOFError):
        f.read(len(DATA) - 1)  # never fewer bytes than asked for, before the end
        f.read()
    with zpress.open(io.BytesIO(packed[:cut])) as f, pytest.raises(EOFError):
        for _ in f:
            pass


def test_system_failures_carry_errno_and_filename(tmp_path):
    with pytest.raises(OSError) as e:
        with zpress.open("/dev/full", "wb") as f:
            f.write(os.urandom(1 << 20))
    assert e.value.errno == errno.ENOSPC and e.value.filename == "/dev/full"
    with pytest.raises(FileNotFoundError) as e:
        zpress.open(tmp_path / "missing.gz")
    assert e.value.filename == str(tmp_path / "missing.gz")


def test_a_file_objects_exception_comes_through(packed):
    class Broken(io.BytesIO):
        def readinto(self, b):
            raise KeyError("from the file object")

    class Full(io.BytesIO):
        def write(self, b):
            raise OSError(errno.ENOSPC, "no room")

    with pytest.raises(KeyError):
        zpress.open(Broken(packed)).read()
    with pytest.raises(OSError) as e:
        with zpress.open(Full(), "wb") as f:
            f.write(DATA)
    assert e.value.errno == errno.ENOSPC


def test_misuse(tmp_path, packed):
    path = tmp_path / "ok.gz"
    path.write_bytes(packed)
    with pytest.raises(ValueError):
        zpress.open(path, "r+b")
    with pytest.raises(ValueError):
        zpress.open(path, "wb", level=11)
    with pytest.raises(ValueError):
        zpress.open(path, "rb", mtime=5)
    f = zpress.open(path)
    with pytest.raises(io.UnsupportedOperation):
        f.write(b"x")
    f.close()
    f.close()
    assert f.closed
    for call in (f.read, f.tell, f.readline, lambda: f.seek(0), lambda: next(iter(f))):
        with pytest.raises(ValueError):
            call()
    with zpress.open(tmp_path / "w.gz", "wb") as w:
        w.write(b"abc")
        with pytest.raises(io.UnsupportedOperation):
            w.read()
        with pytest.raises(OSError):
            w.seek(1)  # back, while writing
        assert w.seek(10) == 10  # forward: zero bytes
    assert gzip.decompress((tmp_path / "w.gz").read_bytes()) == b"abc" + bytes(7)
