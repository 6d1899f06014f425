#!/bin/sh
# Fails when a static library defines a global symbol with C linkage whose
# name starts with "gz" or "z": such a name could collide with zlib's own
# functions (gzopen, zError, ...) at link time.  C++ names are mangled
# (_Z...) and never match.
#   usage: check_symbols.sh LIBRARY...      (NM may name the nm to use)
set -eu
nm_tool=${NM:-nm}
listing=$(mktemp)
trap 'rm -f "$listing"' EXIT
status=0
for lib in "$@"; do
    "$nm_tool" -g --defined-only "$lib" >"$listing"
    bad=$(awk 'NF >= 3 && $3 ~ /^(gz|z)/ { print $3 }' "$listing")
    if [ -n "$bad" ]; then
        echo "$lib defines unmangled names that may collide with zlib's:"
        echo "$bad"
        status=1
    else
        echo "$lib: no unmangled gz*/z* symbols"
    fi
done
exit $status
