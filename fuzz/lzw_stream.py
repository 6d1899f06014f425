"""A small writer of the .Z (LZW) format, written from the format description:
codes of 9 to 16 bits, least significant bit first, in groups of eight codes
of one width; a group closed early (the width grows, or a clear code) is padded
to its full size; block mode makes 256 the clear code.  Used to make seed
inputs for the fuzz targets and test streams for the fault-injection tests."""


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
