"""Index files as gzstream/src/gz_index_file.cpp lays them out, for tests
that make older or damaged ones.

A 76-byte header (the version at 8, the point count at 44, the compressed
file's stamp from 48 on; versions 2 and 3 stop at 48), then per point
73 bytes of fields (the window size at 41, the packed window's size at 49;
version 2 had only the first 53 bytes) and the window, raw deflate data,
then a CRC-32 of it all.  Version 4 deflates the window's run form: a count
of runs, each run's gap (zero bytes after the run before) and length, all
LEB128 varints, then the runs' bytes; versions 2 and 3 the window itself."""

import struct
import zlib

HEADER = 76
HEADER_BEFORE_STAMPS = 48
POINT_FIELDS = 73
V2_POINT_FIELDS = 53


def raw_deflate(data, level=9):
    c = zlib.compressobj(level, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def raw_inflate(data):
    d = zlib.decompressobj(-15)
    out = d.decompress(data) + d.flush()
    assert d.eof and not d.unused_data
    return out


def varint(v):
    out = bytearray()
    while v >= 0x80:
        out.append(v & 0x7F | 0x80)
        v >>= 7
    out.append(v)
    return bytes(out)


def runs(window):
    """(start, end) of each run of non-zero bytes."""
    found, at = [], 0
    while at < len(window):
        if window[at] == 0:
            at += 1
            continue
        start = at
        while at < len(window) and window[at] != 0:
            at += 1
        found.append((start, at))
    return found


def run_form(window, extra=()):
    """The run form of `window`, with `extra` (gap, length, bytes) runs
    appended as they are, well formed or not."""
    head, body, end = bytearray(), bytearray(), 0
    spans = runs(window)
    for start, stop in spans:
        head += varint(start - end) + varint(stop - start)
        body += window[start:stop]
        end = stop
    for gap, length, data in extra:
        head += varint(gap) + varint(length)
        body += data
    return varint(len(spans) + len(extra)) + bytes(head) + bytes(body)


def window_of(form, size):
    at = 0

    def get():
        nonlocal at
        v = shift = 0
        while True:
            b = form[at]
            at += 1
            v |= (b & 0x7F) << shift
            shift += 7
            if b < 0x80:
                return v

    spans, end = [], 0
    for _ in range(get()):
        start = end + get()
        end = start + get()
        spans.append((start, end))
    window = bytearray(size)
    for start, stop in spans:
        window[start:stop] = form[at:at + stop - start]
        at += stop - start
    assert at == len(form)
    return bytes(window)


def points(index):
    """(offset, window size, packed size) of each point of `index`."""
    found, at = [], HEADER
    for _ in range(struct.unpack_from("<I", index, 44)[0]):
        size, _, packed = struct.unpack_from("<III", index, at + 41)
        found.append((at, size, packed))
        at += POINT_FIELDS + packed
    assert at == len(index) - 4
    return found


def window_at(index, point):
    at, size, packed = point
    form = raw_inflate(index[at + POINT_FIELDS:at + POINT_FIELDS + packed])
    return form, window_of(form, size)


def with_crc(body):
    return bytes(body) + struct.pack("<I", zlib.crc32(body))


def with_form(index, k, form, level=6):
    """`index` (version 4) with point k's run form replaced by `form`."""
    at, _, packed = points(index)[k]
    new = raw_deflate(form, level)
    out = bytearray(index[:at + POINT_FIELDS]) + new + index[at + POINT_FIELDS + packed:-4]
    struct.pack_into("<I", out, at + 49, len(new))
    return with_crc(out)


def as_version(index, version):
    """`index` (version 4) in an older format: no stamp, windows deflated
    whole; version 2 without the CRCs of the bytes before the points and the line
    tallies."""
    out = bytearray(index[:HEADER_BEFORE_STAMPS])
    struct.pack_into("<I", out, 8, version)
    for point in points(index):
        at, _, packed = point
        fields = bytearray(index[at:at + (V2_POINT_FIELDS if version == 2 else POINT_FIELDS)])
        window = raw_deflate(window_at(index, point)[1]) if packed else b""
        struct.pack_into("<I", fields, 49, len(window))
        out += fields + window
    return with_crc(out)
