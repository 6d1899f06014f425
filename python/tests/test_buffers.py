"""zpress.compress/decompress and the .Z functions against the standard
library's gzip and zlib modules."""

import gzip
import os
import random
import struct
import zlib

import pytest

import zpress

TEXT = b"".join(b"%d the quick brown fox %s\n" % (i, b"jumps" * (i % 7)) for i in range(20000))
KINDS = [b"", b"x", TEXT, os.urandom(70000), bytes(300000)]


@pytest.mark.parametrize("level", [0, 1, 6, 9])
@pytest.mark.parametrize("kind", range(len(KINDS)))
def test_compress_is_read_by_gzip_and_zlib(kind, level):
    data = KINDS[kind]
    packed = zpress.compress(data, level)
    assert gzip.decompress(packed) == data
    assert zlib.decompress(packed, 31) == data
    assert zpress.decompress(packed) == data


def test_any_bytes_like_input():
    packed = zpress.compress(memoryview(bytearray(TEXT))[5:])
    assert zpress.decompress(bytearray(packed)) == TEXT[5:]
    assert zpress.decompress(memoryview(packed)) == TEXT[5:]
    with pytest.raises(TypeError):
        zpress.compress("text")


def test_decompress_reads_every_member_and_zero_padding():
    parts = [TEXT[:1000], b"", TEXT[1000:]]
    stream = b"".join(gzip.compress(p) for p in parts) + bytes(512)
    assert zpress.decompress(stream) == TEXT
    assert zpress.decompress(b"") == b""  # no member, as gzip.decompress


def test_header_fields():
    packed = zpress.compress(b"abc", name="r\u00e9sum\u00e9.txt", comment=b"note", mtime=1234567)
    flags, mtime = packed[3], struct.unpack("<I", packed[4:8])[0]
    assert flags == 0x18 and mtime == 1234567
    assert packed[10:].startswith("r\u00e9sum\u00e9.txt".encode("latin-1") + b"\0note\0")
    plain = zpress.compress(b"abc")
    assert plain[3] == 0 and plain[4:8] == bytes(4)  # no name, no time: reproducible
    with pytest.raises(ValueError):
        zpress.compress(b"", name="a\0b")
    with pytest.raises(ValueError):
        zpress.compress(b"", mtime=1 << 32)
    with pytest.raises(ValueError):
        zpress.compress(b"", level=10)


@pytest.mark.parametrize("damage", ["crc", "trailing", "not gzip"])
def test_decompress_refuses_damage(damage):
    packed = bytearray(zpress.compress(TEXT))
    if damage == "crc":
        packed[-8] ^= 1
    elif damage == "trailing":
        packed += b"\0\0junk"
    else:
        packed = bytearray(b"plain text, no gzip at all")
    with pytest.raises(zpress.BadGzipFile) as e:
        zpress.decompress(bytes(packed))
    assert isinstance(e.value, OSError) and isinstance(e.value, gzip.BadGzipFile)


@pytest.mark.parametrize("cut", [3, 15, 5000, -4])
def test_decompress_cut_off_is_eof_error(cut):
    packed = zpress.compress(TEXT) + gzip.compress(b"second")
    with pytest.raises(EOFError):
        zpress.decompress(packed[:cut])


@pytest.mark.parametrize("bits", [9, 12, 16])
def test_lzw_round_trip(bits):
    data = TEXT + bytes(random.Random(bits).randbytes(20000))
    packed = zpress.lzw_compress(data, bits)
    assert packed[:3] == bytes([0x1F, 0x9D, 0x80 | bits])
    assert zpress.lzw_decompress(packed) == data
    assert zpress.lzw_decompress(zpress.lzw_compress(b"")) == b""


def test_lzw_refuses_foreign_data():
    with pytest.raises(ValueError):
        zpress.lzw_decompress(b"not a .Z stream")
    with pytest.raises(ValueError):
        zpress.lzw_compress(b"", bits=17)
