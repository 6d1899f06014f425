"""A small writer and a strict reader of the .Z (LZW) format, written from the
format description alone, so that the streams and verdicts they give never
come from the code under test.

Format: 1F 9D, a flags byte (maximum code width in bits 0-4, block mode in
bit 7), then codes of 9 up to the maximum width, least significant bit first,
in groups of eight codes of one width (w bytes).  A group is padded to its full
w bytes when the width changes or after a clear code (256, block mode only);
the last group holds only the bytes its codes occupy.  The width grows just
after a code is written, before that code's table entry is made, once the
next free code exceeds 2^width - 1 (or, at the maximum width, the table size).
"""


class _GroupWriter:
    def __init__(self):
        self.out = bytearray()
        self.group = 0  # bits of the current group, as an integer
        self.bits = 0  # bits used in the current group

    def put(self, code, width):
        self.group |= code << self.bits
        self.bits += width
        if self.bits == 8 * width:  # eight codes: the group is full
            self.close_group(width)

    def close_group(self, width):
        """Pads a started group to its full size of `width` bytes."""
        if self.bits:
            self.out += self.group.to_bytes(width, "little")
            self.group = self.bits = 0

    def finish(self):
        if self.bits:
            self.out += self.group.to_bytes((self.bits + 7) // 8, "little")
            self.group = self.bits = 0
        return bytes(self.out)


class LzwEncoder:
    """Encodes with the given maximum width (8 to 16; below 9 the table never
    grows) and mode.  After encode(), `widest` is the widest code width used
    and `code_ends[k]` the input position at which code k was written."""

    def __init__(self, maxbits=16, block=True):
        assert 8 <= maxbits <= 16
        self.maxbits, self.block = maxbits, block
        self.widest = 9
        self.code_ends = []

    def encode(self, data, clear_after=()):
        """A .Z stream of `data`.  For each position in `clear_after` (block
        mode only) a clear code follows the first code written at or after
        that input position, as a writer does when its ratio drops."""
        clears = sorted(clear_after)
        first_free = 257 if self.block else 256
        limit = 1 << self.maxbits
        w = _GroupWriter()
        width, widen_after, next_code = 9, 511, first_free
        table = {}
        self.widest, self.code_ends = 9, []

        def write(code, at):
            nonlocal width, widen_after
            w.put(code, width)
            self.code_ends.append(at)
            if next_code > widen_after:
                w.close_group(width)
                width += 1
                self.widest = max(self.widest, width)
                widen_after = limit if width == self.maxbits else (1 << width) - 1

        if data:
            prefix = data[0]
            for at in range(1, len(data)):
                c = data[at]
                code = table.get((prefix, c))
                if code is not None:
                    prefix = code
                    continue
                write(prefix, at)
                if next_code < limit:
                    table[(prefix, c)] = next_code
                    next_code += 1
                prefix = c
                if self.block and clears and clears[0] <= at:
                    while clears and clears[0] <= at:
                        clears.pop(0)
                    w.put(256, width)
                    w.close_group(width)
                    width, widen_after, next_code = 9, 511, first_free
                    table.clear()
            write(prefix, len(data))
        head = bytes([0x1F, 0x9D, (0x80 if self.block else 0) | self.maxbits])
        return head + w.finish()


def lzw_encode(data, maxbits=16, block=True, clear_after=()):
    """A .Z stream of `data` (see LzwEncoder.encode)."""
    return LzwEncoder(maxbits, block).encode(data, clear_after)


def lzw_decode(stream):
    """Decodes a whole .Z stream, taking only the codes a writer can make: a
    literal byte first and after each clear code, then codes already defined
    or the one being defined (while the table has room for it).  Returns
    (data, ok); ok is False for a bad header or any other code, and data is
    then what decoded before it.  A header without its flags byte is bad; a
    code cut short ends the stream."""
    if len(stream) < 3 or stream[:2] != b"\x1f\x9d":
        return b"", False
    flags = stream[2]
    maxbits = flags & 0x1F
    if maxbits > 16:
        return b"", False
    block = bool(flags & 0x80)
    limit = 1 << maxbits
    body = stream[3:]
    st = {"start": 0, "offset": 0, "width": 9, "widen_after": 511, "reset": False,
          "next": 257 if block else 256}

    def fetch():
        width = st["width"]
        change = st["reset"] or st["next"] > st["widen_after"]
        if st["offset"] == 8 * width or (change and st["offset"] > 0):
            st["start"] += width
            st["offset"] = 0
        if change:
            if st["reset"]:
                st["width"], st["widen_after"], st["reset"] = 9, 511, False
            else:
                st["width"] += 1
                st["widen_after"] = (limit if st["width"] == maxbits
                                     else (1 << st["width"]) - 1)
        width, start = st["width"], st["start"]
        held = max(0, min(len(body) - start, width))
        if st["offset"] + width > 8 * held:
            return -1
        group = int.from_bytes(body[start:start + held], "little")
        code = (group >> st["offset"]) & ((1 << width) - 1)
        st["offset"] += width
        return code

    code = fetch()
    if code < 0:
        return b"", True
    if code > 255:
        return b"", False
    out = bytearray([code])
    prev = bytes([code])
    table = {}
    after_clear = False
    while True:
        code = fetch()
        if code < 0:
            return bytes(out), True
        if block and code == 256 and not after_clear:
            st["next"], st["reset"], after_clear = 256, True, True
            continue
        self_code = code == st["next"] and st["next"] < limit
        if (after_clear and code > 255) or (code >= st["next"] and not self_code):
            return bytes(out), False
        after_clear = False
        if code < 256:
            string = bytes([code])
        elif self_code:
            string = prev + prev[:1]
        else:
            string = table[code]
        out += string
        if st["next"] < limit:
            table[st["next"]] = prev + string[:1]
            st["next"] += 1
        prev = string
