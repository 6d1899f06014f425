"""gzip members built and taken apart by hand around Python's zlib, so that
tests can set every header field, damage the trailer, and read what the code
under test wrote without trusting it."""

import struct
import zlib


def raw_deflate(data, level=6, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)
    return c.compress(data) + c.flush()


def gzip_member(data, level=6, flags=0, name=None, comment=None, extra=None,
                header_crc=False, crc=None, isize=None, mtime=0,
                strategy=zlib.Z_DEFAULT_STRATEGY):
    """One gzip member: `flags` are set as given, plus the bit of each field
    passed; a wrong `crc` or `isize` damages the trailer."""
    flg = flags
    if extra is not None:
        flg |= 0x04
    if name is not None:
        flg |= 0x08
    if comment is not None:
        flg |= 0x10
    if header_crc:
        flg |= 0x02
    head = bytearray(b"\x1f\x8b\x08")
    head.append(flg)
    head += struct.pack("<I", mtime) + b"\x00\x03"
    if extra is not None:
        head += struct.pack("<H", len(extra)) + extra
    if name is not None:
        head += name + b"\x00"
    if comment is not None:
        head += comment + b"\x00"
    if header_crc:
        head += struct.pack("<H", zlib.crc32(head) & 0xFFFF)
    if crc is None:
        crc = zlib.crc32(data)
    if isize is None:
        isize = len(data) & 0xFFFFFFFF
    return bytes(head) + raw_deflate(data, level, strategy) + struct.pack("<II", crc, isize)


def split_members(stream):
    """Parses a gzip stream member by member.  Each member is a dict with the
    header fields, the raw deflate bytes, the inflated data and the trailer."""
    members = []
    pos = 0
    while pos < len(stream):
        if stream[pos:pos + 2] != b"\x1f\x8b":
            raise ValueError("no gzip magic at offset %d" % pos)
        cm, flg = stream[pos + 2], stream[pos + 3]
        mtime, xfl, osb = struct.unpack("<IBB", stream[pos + 4:pos + 10])
        p = pos + 10
        name = None
        if flg & 0x04:
            (xlen,) = struct.unpack("<H", stream[p:p + 2])
            p += 2 + xlen
        if flg & 0x08:
            end = stream.index(b"\x00", p)
            name = stream[p:end]
            p = end + 1
        comment = None
        if flg & 0x10:
            end = stream.index(b"\x00", p)
            comment = stream[p:end]
            p = end + 1
        if flg & 0x02:
            p += 2
        d = zlib.decompressobj(-15)
        data = d.decompress(stream[p:])
        if not d.eof:
            raise ValueError("deflate data cut off")
        end = len(stream) - len(d.unused_data)
        crc, isize = struct.unpack("<II", stream[end:end + 8])
        members.append({"cm": cm, "flags": flg, "mtime": mtime, "xfl": xfl, "os": osb,
                        "name": name, "comment": comment, "header": stream[pos:p],
                        "deflate": stream[p:end],
                        "data": data, "crc": crc, "isize": isize})
        pos = end + 8
    return members
