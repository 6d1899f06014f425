"""GzipFile over every kind of file: reading, writing, lines, text mode,
tarfile and threads."""

import gzip
import io
import os
import pathlib
import tarfile
import threading

import pytest

import zpress

LINES = [b"line %d %s\n" % (i, b"=" * (i % 50)) for i in range(30000)]
DATA = b"".join(LINES)


class Unseekable(io.RawIOBase):
    """A reader that cannot go back, as a pipe."""

    def __init__(self, data):
        self._data, self._at = data, 0

    def readable(self):
        return True

    def readinto(self, b):
        n = min(len(b), len(self._data) - self._at, 1000)  # short reads, as a pipe gives
        b[:n] = self._data[self._at:self._at + n]
        self._at += n
        return n


@pytest.fixture
def gz_path(tmp_path):
    path = tmp_path / "data.gz"
    path.write_bytes(gzip.compress(DATA[:100000]) + gzip.compress(DATA[100000:]))
    return path


def sources(path):
    yield str(path)
    yield os.fsencode(path)
    yield pathlib.Path(path)
    with open(path, "rb") as f:          # a descriptor
        yield f
    yield io.BytesIO(path.read_bytes())  # seekable, no descriptor
    yield Unseekable(path.read_bytes())  # neither


def test_every_kind_of_source_reads_the_data(gz_path):
    for source in sources(gz_path):
        with zpress.open(source) as f:
            assert f.read(10) == DATA[:10]
            assert f.read() == DATA[10:]
            assert f.read() == b""


def test_descriptor_is_read_from_the_objects_position(tmp_path):
    path = tmp_path / "after-prefix"
    path.write_bytes(b"PREFIX" + gzip.compress(DATA))
    with open(path, "rb") as raw:
        assert raw.read(6) == b"PREFIX"
        with zpress.open(raw) as f:
            assert f.read() == DATA
        assert raw.tell() == 6  # its own position is left alone


def test_unseekable_source_goes_forward_only(gz_path):
    with zpress.open(Unseekable(gz_path.read_bytes())) as f:
        assert not f.seekable()
        assert f.seek(5000) == 5000
        assert f.read(5) == DATA[5000:5005]
        with pytest.raises(io.UnsupportedOperation):
            f.seek(10)
        assert f.read(5) == DATA[5005:5010]
        with pytest.raises(io.UnsupportedOperation):
            f.build_index()


def test_every_kind_of_sink_writes_one_member(tmp_path):
    targets = [str(tmp_path / "a.gz"), tmp_path / "b.gz", io.BytesIO()]
    with open(tmp_path / "c.gz", "wb") as raw:
        raw.write(b"head")
        for target in targets + [raw]:
            with zpress.open(target, "wb", 1) as f:
                assert f.write(DATA[:50000]) == 50000
                f.write(memoryview(DATA)[50000:])
                assert f.tell() == len(DATA)
    assert gzip.decompress((tmp_path / "a.gz").read_bytes()) == DATA
    assert gzip.decompress((tmp_path / "b.gz").read_bytes()) == DATA
    assert gzip.decompress(targets[2].getvalue()) == DATA
    assert (tmp_path / "c.gz").read_bytes()[:4] == b"head"
    assert gzip.decompress((tmp_path / "c.gz").read_bytes()[4:]) == DATA


def test_append_exclusive_and_header(tmp_path):
    path = tmp_path / "log.txt.gz"
    with zpress.open(path, "wb") as f:
        f.write(b"one\n")
        assert f.header.name == "log.txt"
    with zpress.open(path, "ab", comment="second", mtime=99) as f:
        f.write(b"two\n")
    assert gzip.decompress(path.read_bytes()) == b"one\ntwo\n"
    with zpress.open(path) as f:
        assert f.header == zpress.GzipHeader("log.txt", None, 0)
    with pytest.raises(FileExistsError):
        zpress.open(path, "xb")
    with zpress.open(tmp_path / "x.gz", "x", name="\u00e9t\u00e9", comment="c", mtime=7) as f:
        f.write(b"")
    with zpress.open(tmp_path / "x.gz") as f:
        assert f.header == zpress.GzipHeader("\u00e9t\u00e9", "c", 7) and f.mtime == 7


def test_lines_reads_and_iteration_stay_in_order(gz_path):
    with zpress.open(gz_path) as f:
        assert f.readline() == LINES[0]
        assert f.readline(4) == LINES[1][:4]
        assert f.readline() == LINES[1][4:]
        it = iter(f)
        assert next(it) == LINES[2]
        assert f.read(3) == LINES[3][:3]
        assert next(it) == LINES[3][3:]
        assert f.peek(1).startswith(LINES[4][:1])
        assert f.read1(2) == LINES[4][:2]
        buf = bytearray(3)
        assert f.readinto(buf) == 3 and bytes(buf) == LINES[4][2:5]
        assert f.readlines(1) == [LINES[4][5:]]
        assert list(f) == LINES[5:]
    for line in zpress.open(gz_path):  # the iterator keeps the file alive
        assert line == LINES[0]
        break


def test_long_lines_and_a_last_line_without_newline():
    data = b"a" * 300000 + b"\n" + b"b" * 5 + b"\n" + b"tail"
    with zpress.open(io.BytesIO(gzip.compress(data))) as f:
        assert [len(x) for x in f] == [300001, 6, 4]


def test_text_mode(tmp_path):
    path = tmp_path / "t.gz"
    with zpress.open(path, "wt", encoding="utf-8", newline="\r\n") as f:
        f.write("caf\u00e9\nna\u00efve\n")
    assert gzip.decompress(path.read_bytes()) == "caf\u00e9\r\nna\u00efve\r\n".encode()
    with zpress.open(path, "rt", encoding="utf-8") as f:
        assert f.readlines() == ["caf\u00e9\n", "na\u00efve\n"]
    with zpress.open(path, "rt", encoding="ascii", errors="replace", newline="") as f:
        assert f.read() == "caf\ufffd\ufffd\r\nna\ufffd\ufffdve\r\n"
    with pytest.raises(ValueError):
        zpress.open(path, "rb", encoding="utf-8")


def test_tarfile_over_zpress(tmp_path):
    path = tmp_path / "a.tar.gz"
    files = {"a.txt": DATA[:70000], "dir/b.bin": os.urandom(5000)}
    with zpress.open(path, "wb") as gz, tarfile.open(fileobj=gz, mode="w") as tar:
        for name, data in files.items():
            info = tarfile.TarInfo(name)
            info.size = len(data)
            tar.addfile(info, io.BytesIO(data))
    with tarfile.open(path, "r:gz") as tar:  # the standard library reads it
        assert tar.getnames() == list(files)
    with zpress.open(path) as gz, tarfile.open(fileobj=gz) as tar:
        for name in reversed(list(files)):  # extraction seeks back
            assert tar.extractfile(name).read() == files[name]


def test_threads(tmp_path):
    paths = []
    for i in range(4):
        paths.append(tmp_path / f"{i}.gz")
        paths[-1].write_bytes(zpress.compress(DATA * (i + 1)))
    results = {}

    def read(path):
        with zpress.open(path) as f:
            results[path] = f.read()

    threads = [threading.Thread(target=read, args=(p,)) for p in paths]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(results[p] == DATA * (i + 1) for i, p in enumerate(paths))

    # One file shared by threads: every line comes out once, none torn.
    got = []
    with zpress.open(paths[3]) as f:
        def take():
            got.extend(f)

        threads = [threading.Thread(target=take) for _ in range(3)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    assert sorted(got) == sorted(LINES * 4)
