#!/usr/bin/env bash
# Builds the fuzz preset and fuzzes one target for a while.
#
#   fuzz/run.sh TARGET SECONDS [libFuzzer options...]
#
# TARGET is gz_read, gz_roundtrip, gz_index, lzw_read, lzw_roundtrip or window_trace.  The committed
# seeds (fuzz/corpus/TARGET) and past crashers (fuzz/regressions/TARGET) are
# read but never written: new inputs go to the work directory
# fuzz/corpus-work/TARGET (not tracked), which is merged down to a minimal set
# afterwards; crashes land in fuzz/corpus-work/TARGET/artifacts.  One job, one
# worker: the machine's cores are shared.
set -euo pipefail

if [ $# -lt 2 ]; then
    echo "usage: $0 TARGET SECONDS [libFuzzer options...]" >&2
    exit 2
fi
target=$1
seconds=$2
shift 2

root=$(cd "$(dirname "$0")/.." && pwd)
case $target in
    gz_read | lzw_read) max_len=32768 ;;
    gz_roundtrip | lzw_roundtrip | gz_index | window_trace) max_len=65536 ;;
    *)
        echo "$0: unknown target $target" >&2
        exit 2
        ;;
esac

cd "$root"
# ZPRESS_FUZZ_PREBUILT: the caller built the targets, and may run several of
# this script at once, which must not configure one build tree together.
if [ -z "${ZPRESS_FUZZ_PREBUILT:-}" ]; then
    cmake --preset fuzz >/dev/null
    cmake --build --preset fuzz --target "fuzz_$target" >/dev/null
fi
binary=$root/build/fuzz/fuzz/fuzz_$target

work=$root/fuzz/corpus-work/$target
mkdir -p "$work/corpus" "$work/artifacts"
seeds=$root/fuzz/corpus/$target
regressions=$root/fuzz/regressions/$target
inputs=("$seeds")
[ -d "$regressions" ] && inputs+=("$regressions")

cd "$work"
status=0
"$binary" -jobs=1 -workers=1 -max_total_time="$seconds" -max_len="$max_len" \
    -rss_limit_mb=2048 -timeout=30 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$@" "$work/corpus" "${inputs[@]}" || status=$?
log=$work/fuzz-0.log
tail -n 25 "$log"

# Keep the work corpus minimal for the next run.
rm -rf "$work/corpus.merged"
mkdir "$work/corpus.merged"
"$binary" -merge=1 -max_len="$max_len" -rss_limit_mb=2048 -timeout=30 \
    "$work/corpus.merged" "$work/corpus" >/dev/null 2>&1 && {
    rm -rf "$work/corpus"
    mv "$work/corpus.merged" "$work/corpus"
}

execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | awk '{print $2}')
crashes=$(find "$work/artifacts" -type f | wc -l)
echo "$(date -u +%FT%TZ) $target seconds=$seconds execs=${execs:-?} exit=$status artifacts=$crashes" |
    tee -a "$work/runs.log"
exit "$status"
