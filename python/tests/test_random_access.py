"""Seeks, the index (built, saved, exported, imported, refused) and lines."""

import gzip
import io
import os
import random

import pytest

import zpress

PARTS = [b"".join(b"%d:%s\n" % (i, b"ab" * (i % 40)) for i in range(k, k + n))
         for k, n in ((0, 40000), (0, 0), (40000, 25000), (65000, 30000))]
PLAIN = b"".join(PARTS)


def multi_member():
    # Members of zpress and of the standard library, one empty.
    return b"".join(zpress.compress(p, 6) if i % 2 else gzip.compress(p, 9)
                    for i, p in enumerate(PARTS))


@pytest.fixture
def gz_path(tmp_path):
    path = tmp_path / "multi.gz"
    path.write_bytes(multi_member())
    return path


def random_seeks(f, count, seed):
    rng = random.Random(seed)
    for _ in range(count):
        at = rng.randrange(len(PLAIN) + 1)
        n = rng.choice([1, 100, 4096, 70000])
        assert f.seek(at) == at
        assert f.read(n) == PLAIN[at:at + n], at
        assert f.tell() == min(at + n, len(PLAIN))


@pytest.mark.parametrize("indexed", [True, False])
def test_random_seeks_match_the_data(gz_path, indexed):
    with zpress.open(gz_path) as f:
        if indexed:
            f.build_index()
        random_seeks(f, 1000 if indexed else 100, 1)


def test_seek_whence_and_the_end(gz_path):
    with zpress.open(gz_path) as f:
        f.seek(1000)
        assert f.seek(-10, io.SEEK_CUR) == 990
        with pytest.raises(io.UnsupportedOperation):
            f.seek(-5, io.SEEK_END)  # the size is not known yet
        f.build_index()
        assert f.tell() == 990
        assert f.seek(-5, io.SEEK_END) == len(PLAIN) - 5
        assert f.read() == PLAIN[-5:]
        assert f.seek(len(PLAIN) + 100) == len(PLAIN)  # as gzip.GzipFile: stops at the end
        assert f.read(1) == b""
        with pytest.raises(ValueError):
            f.seek(-1)


def test_index_in_a_file_and_in_bytes(gz_path, tmp_path):
    with zpress.open(gz_path) as f:
        with pytest.raises(ValueError):
            f.save_index(tmp_path / "none.zpi")  # nothing noted yet
        f.build_index()
        f.save_index(tmp_path / "i.zpi")
        exported = f.export_index()
    assert exported == (tmp_path / "i.zpi").read_bytes()
    for load in (lambda g: g.load_index(tmp_path / "i.zpi"),
                 lambda g: g.import_index(memoryview(exported))):
        with zpress.open(gz_path) as g:
            load(g)
            g.verify_index()
            random_seeks(g, 200, 2)


def test_foreign_or_edited_index_is_refused(gz_path, tmp_path):
    with zpress.open(gz_path) as f:
        f.build_index()
        good = f.export_index()
    other = tmp_path / "other.gz"
    other.write_bytes(zpress.compress(PLAIN[::-1]))
    edited = bytearray(good)
    edited[len(edited) // 2] ^= 0x40
    for target, index in ((other, good), (gz_path, bytes(edited)), (gz_path, good[:-9])):
        with zpress.open(target) as g:
            g.seek(123)
            with pytest.raises(ValueError):
                g.import_index(index)
            assert g.tell() == 123  # left as it was
            assert g.read(50) == (PLAIN if target == gz_path else PLAIN[::-1])[123:173]
    with zpress.open(gz_path) as g, pytest.raises(FileNotFoundError):
        g.load_index(tmp_path / "missing.zpi")


def test_seek_line_and_lines(gz_path):
    lines = PLAIN.splitlines(keepends=True)
    starts = [0]
    for line in lines:
        starts.append(starts[-1] + len(line))
    with zpress.open(gz_path) as f:
        assert f.lines() is None
        f.build_index()
        assert f.lines() == PLAIN.count(b"\n")
        for n in (1, 2, 40001, len(lines), 77777):
            assert f.seek_line(n) == starts[n - 1]
            assert f.readline() == lines[n - 1]
        assert f.seek_line(len(lines) + 1) == len(PLAIN)  # after the last newline
        f.seek(500)
        with pytest.raises(ValueError):
            f.seek_line(len(lines) + 2)
        assert f.tell() == 500
        with pytest.raises(ValueError):
            f.seek_line(0)


def test_seekable_object_without_descriptor(gz_path):
    with zpress.open(io.BytesIO(gz_path.read_bytes())) as f:
        f.build_index()
        random_seeks(f, 100, 3)
        with pytest.raises(io.UnsupportedOperation):
            f.export_index()


def test_index_budget(gz_path):
    with zpress.open(gz_path) as f:
        with pytest.raises(ValueError):
            f.index_budget(1000)
        f.index_budget(512 << 10)
        f.build_index()
        random_seeks(f, 50, 4)
