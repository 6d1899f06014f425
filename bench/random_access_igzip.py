"""Random reads through indexed_gzip, the peer of zpress_random_access:

    /usr/bin/python3 random_access_igzip.py FILE.gz OFFSETS [DATA_OUT]

Builds the full seek index (a point every 1 MiB), then reads 4096 bytes at
every offset in OFFSETS.  Prints the CPU and wall seconds of the index build
and of all the reads.  Run by the Debian interpreter that the
python3-indexed-gzip package installs for.
"""

import sys
import time

import indexed_gzip

READ_SIZE = 4096
SPACING = 1 << 20


def lap(start: tuple[float, float]) -> tuple[float, float, tuple[float, float]]:
    now = (time.process_time(), time.perf_counter())
    return now[0] - start[0], now[1] - start[1], now


def main() -> int:
    path, offsets_file = sys.argv[1], sys.argv[2]
    out = open(sys.argv[3], "wb") if len(sys.argv) > 3 else None
    with open(offsets_file) as f:
        offsets = [int(line) for line in f if line.strip()]
    start = (time.process_time(), time.perf_counter())
    f = indexed_gzip.IndexedGzipFile(path, spacing=SPACING)
    f.build_full_index()
    index_cpu, index_wall, start = lap(start)
    for offset in offsets:
        f.seek(offset)
        data = f.read(READ_SIZE)
        if out:
            out.write(data)
    read_cpu, read_wall, _ = lap(start)
    f.close()
    if out:
        out.close()
    print(f"{index_cpu:.6f} {index_wall:.6f} {read_cpu:.6f} {read_wall:.6f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
