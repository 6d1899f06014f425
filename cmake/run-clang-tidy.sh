#!/usr/bin/env bash
# Runs clang-tidy, as configured by .clang-tidy, over the production sources of
# every library, the Python module, the driver and zpress-read, from the
# compile database of a build (the release preset's by default), two files at a time (CLANG_TIDY_JOBS changes
# that).  Exits non-zero on any finding, and then counts them by file and check.
#
#   cmake/run-clang-tidy.sh [BUILD_DIR]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
if [ ! -f "$build/compile_commands.json" ]; then
    echo "$0: no $build/compile_commands.json: configure the release preset first" >&2
    exit 2
fi

log=$build/clang-tidy.log
status=0
run-clang-tidy -quiet -j "${CLANG_TIDY_JOBS:-2}" -p "$build" '/(gzstream|lzw|cxx|python)/src/[^/]*$|/(driver|reader)/[^/]*$' \
    >"$log" 2>&1 || status=$?
# run-clang-tidy colours its output even into a file.
sed -i 's/\x1b\[[0-9;]*m//g' "$log"
grep -E '^/.*: (warning|error): ' "$log" | sort -u >"$log.findings" || true
# "count file check" per file and check.
sed -E "s#^$root/##; s/^([^:]*):.*\[([^],]+)[],].*$/\1 \2/" "$log.findings" |
    sort | uniq -c | awk '{print $1, $2, $3}' >"$log.counts"

if [ ! -s "$log.findings" ]; then
    if [ "$status" -ne 0 ]; then
        echo "clang-tidy failed without a finding: see $log" >&2
        exit 1
    fi
    echo "clang-tidy: no findings in $(grep -c '^clang-tidy' "$log") files"
    exit 0
fi

cat "$log.findings"
echo "clang-tidy: $(wc -l <"$log.findings") findings (full log: $log); by file and check:"
sed 's/^/  /' "$log.counts"
exit 1
