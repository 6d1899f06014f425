"""Random reads through indexed_gzip, the peer of zpress_random_access:

    /usr/bin/python3 random_access_igzip.py [--save INDEX] FILE.gz OFFSETS [DATA_OUT]
    /usr/bin/python3 random_access_igzip.py --build-only FILE.gz ROUNDS

Builds the full seek index (a point every 1 MiB), then reads 4096 bytes at
every offset in OFFSETS.  Prints the CPU and wall seconds of the index build
and of all the reads, then the median CPU and wall seconds of one read.  With
--save the index is exported to INDEX after the build (untimed).  Run by the Debian interpreter that the
python3-indexed-gzip package installs for.  With --build-only it builds the
full index ROUNDS times and prints the median CPU seconds of one build.
"""

import statistics
import sys
import time

import indexed_gzip

READ_SIZE = 4096
SPACING = 1 << 20


def lap(start: tuple[float, float]) -> tuple[float, float, tuple[float, float]]:
    now = (time.process_time(), time.perf_counter())
    return now[0] - start[0], now[1] - start[1], now


def build_only(path: str, rounds: int) -> int:
    cpu = []
    for _ in range(rounds):
        start = time.process_time()
        f = indexed_gzip.IndexedGzipFile(path, spacing=SPACING)
        f.build_full_index()
        cpu.append(time.process_time() - start)
        f.close()
    print(f"{statistics.median(cpu):.6f}")
    return 0


def main() -> int:
    args = sys.argv[1:]
    if args[:1] == ["--build-only"]:
        return build_only(args[1], int(args[2]))
    save = None
    if args[:1] == ["--save"]:
        save, args = args[1], args[2:]
    path, offsets_file = args[0], args[1]
    out = open(args[2], "wb") if len(args) > 2 else None
    with open(offsets_file) as f:
        offsets = [int(line) for line in f if line.strip()]
    start = (time.process_time(), time.perf_counter())
    f = indexed_gzip.IndexedGzipFile(path, spacing=SPACING)
    f.build_full_index()
    index_cpu, index_wall, start = lap(start)
    if save:
        f.export_index(save)
        start = (time.process_time(), time.perf_counter())
    each_cpu, each_wall = [], []
    for offset in offsets:
        t = (time.process_time(), time.perf_counter())
        f.seek(offset)
        data = f.read(READ_SIZE)
        c, w, _ = lap(t)
        each_cpu.append(c)
        each_wall.append(w)
        if out:
            out.write(data)
    read_cpu, read_wall, _ = lap(start)
    f.close()
    if out:
        out.close()
    print(f"{index_cpu:.6f} {index_wall:.6f} {read_cpu:.6f} {read_wall:.6f} "
          f"{statistics.median(each_cpu):.6f} {statistics.median(each_wall):.6f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
