"""A small writer and a strict reader of the .Z (LZW) format, written from the
format description: codes of 9 to 16 bits, least significant bit first, in
groups of eight codes of one width; a group closed early (the width grows, or
a clear code) is padded to its full size; block mode makes 256 the clear code.
The writer makes seed inputs for the fuzz targets and test streams for the
fault-injection tests; the reader judges what zpress makes of damaged
streams."""


class _GroupWriter:
    """Packs codes into groups of eight codes of one width, least significant
    bit first; a group closed early is padded to its full size, the last group
    keeps only the bytes its codes occupy."""

    def __init__(self):
        self.out = bytearray()
        self.codes = []
        self.width = 9

    def _pack(self, pad):
        acc = nbits = 0
        for code in self.codes:
            acc |= code << nbits
            nbits += self.width
        nbytes = self.width if pad else (nbits + 7) // 8
        self.out += acc.to_bytes(max(nbytes, (nbits + 7) // 8), "little")[:nbytes]
        self.codes = []

    def put(self, code):
        self.codes.append(code)
        if len(self.codes) == 8:
            self._pack(pad=True)

    def close_group(self):
        if self.codes:
            self._pack(pad=True)

    def finish(self):
        if self.codes:
            self._pack(pad=False)
        return bytes(self.out)


def lzw_encode(data, maxbits=16, block=True, clear_after=()):
    """A .Z stream of `data`.  `clear_after` lists input positions after which a
    clear code is sent (block mode only), as a writer does when its ratio drops."""
    head = bytes([0x1F, 0x9D, (0x80 if block else 0) | maxbits])
    if not data:
        return head
    limit = 1 << maxbits
    first_free = 257 if block else 256
    g = _GroupWriter()
    state = {"next": first_free, "widen_after": 511, "reset": False}

    def emit(code):
        g.put(code)
        if state["next"] > state["widen_after"] or state["reset"]:
            g.close_group()
            if state["reset"]:
                g.width, state["widen_after"], state["reset"] = 9, 511, False
            else:
                g.width += 1
                state["widen_after"] = limit if g.width == maxbits else (1 << g.width) - 1

    table = {}
    prefix = data[0]
    for i in range(1, len(data)):
        c = data[i]
        if (prefix, c) in table:
            prefix = table[(prefix, c)]
            continue
        emit(prefix)
        if state["next"] < limit:
            table[(prefix, c)] = state["next"]
            state["next"] += 1
        prefix = c
        if block and i in clear_after:
            table = {}
            state["next"] = 257
            state["reset"] = True
            emit(256)
    emit(prefix)
    return head + g.finish()


def lzw_decode(stream):
    """Decodes a whole .Z stream, taking only the codes a writer can make: a
    literal byte first and after each clear code, then codes already defined
    or the one being defined (while the table has room for it).  Returns
    (data, ok); ok is False for a bad header or any other code, and data is
    then what decoded before it.  A missing flags byte reads as 0, as for a
    reader whose caller took the magic; a code cut short ends the stream."""
    if len(stream) < 2 or stream[:2] != b"\x1f\x9d":
        return b"", False
    flags = stream[2] if len(stream) > 2 else 0
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
