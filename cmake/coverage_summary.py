#!/usr/bin/env python3
"""Prints line and branch coverage per library and for the driver from a
gcovr JSON summary (cmake/coverage.cmake writes it)."""
import json
import sys

PARTS = [("gzstream", "gzstream/"), ("lzw", "lzw/"), ("cxx", "cxx/"), ("driver", "driver/")]


def percent(covered, total):
    return "%6.1f%%" % (100.0 * covered / total) if total else "     -"


def main(path):
    with open(path) as f:
        files = json.load(f)["files"]
    rows = []
    for name, prefix in PARTS + [("all", "")]:
        sums = [0, 0, 0, 0]
        for entry in files:
            if entry["filename"].startswith(prefix):
                for i, key in enumerate(("line_covered", "line_total",
                                         "branch_covered", "branch_total")):
                    sums[i] += entry[key]
        rows.append((name, *sums))
    print("%-9s %17s %19s" % ("", "lines", "branches"))
    for name, lc, lt, bc, bt in rows:
        print("%-9s %s %5d/%-5d %s %5d/%-5d" % (name, percent(lc, lt), lc, lt,
                                               percent(bc, bt), bc, bt))


if __name__ == "__main__":
    main(sys.argv[1])
