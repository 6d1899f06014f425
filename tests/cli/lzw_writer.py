"""A plain .Z (LZW) encoder, written from the format description alone, to
give the decompression tests streams that do not come from the code under
test.

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
            self.out += self.group.to_bytes(width, "little")
            self.group = self.bits = 0

    def close_group(self, width):
        """Pads a started group to its full size of `width` bytes."""
        if self.bits:
            self.out += self.group.to_bytes(width, "little")
            self.group = self.bits = 0

    def finish(self):
        if self.bits:
            self.out += self.group.to_bytes((self.bits + 7) // 8, "little")
            self.group = self.bits = 0


def lzw_compress(data, max_bits=16, block_mode=True, clear_after=None):
    """Encodes data.  clear_after=N writes a clear code after the N-th code
    once (block mode only).  Returns (stream, widest code width used)."""
    assert 9 <= max_bits <= 16
    flags = max_bits | (0x80 if block_mode else 0)
    w = _GroupWriter()
    first_entry = 257 if block_mode else 256
    table_limit = 1 << max_bits
    width = 9
    widen_after = 511
    widest = 9
    table = {}
    next_code = first_entry
    codes_written = 0

    def write_code(code):
        nonlocal width, widen_after, widest, codes_written
        w.put(code, width)
        codes_written += 1
        if next_code > widen_after:
            w.close_group(width)
            width += 1
            widest = max(widest, width)
            widen_after = table_limit if width == max_bits else (1 << width) - 1

    if data:
        prefix = data[0]
        for c in data[1:]:
            key = (prefix, c)
            code = table.get(key)
            if code is not None:
                prefix = code
                continue
            write_code(prefix)
            if block_mode and clear_after is not None and codes_written == clear_after:
                w.put(256, width)
                w.close_group(width)
                width, widen_after = 9, 511
                table.clear()
                next_code = first_entry
            elif next_code < table_limit:
                table[key] = next_code
                next_code += 1
            prefix = c
        write_code(prefix)
    w.finish()
    return bytes([0x1F, 0x9D, flags]) + bytes(w.out), widest
