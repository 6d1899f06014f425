"""Test data from fixed pseudo-random sequences: the same bytes on every run
and every Python version."""


def sample_text(size, seed=1):
    """Compressible, level-sensitive text: words drawn from a small
    vocabulary by a fixed pseudo-random sequence."""
    words = [b"alpha", b"beta", b"gamma", b"delta", b"epsilon", b"zeta", b"eta",
             b"theta", b"iota", b"kappa", b"lambda", b"mu", b"\n", b"0123456789"]
    state = seed
    out = bytearray()
    while len(out) < size:
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        out += words[(state >> 16) % len(words)]
        out += b" "
    return bytes(out[:size])


def random_bytes(size, seed=7):
    """Incompressible bytes from a fixed pseudo-random sequence."""
    state = seed
    out = bytearray(size)
    for i in range(size):
        state = (state * 6364136223846793005 + 1442695040888963407) & (2**64 - 1)
        out[i] = state >> 56
    return bytes(out)
