#!/bin/sh
# Checks the dynamic symbols of the shared zpress libraries: each library
# exports its public interface and nothing else (no internal helpers, no
# copies of standard-library templates).
#   usage: check_exports.sh LIBGZSTREAM LIBLZW LIBCXX
set -eu
status=0

# check LIB REQUIRED_REGEX ALLOWED_REGEX: demangled names of the defined
# dynamic symbols must all match ALLOWED_REGEX, and one must match each
# line of REQUIRED_REGEX.
check() {
    lib=$1 required=$2 allowed=$3
    names=$(nm -D --defined-only -C "$lib" | awk '{ $1 = ""; $2 = ""; sub(/^  /, ""); print }')
    if [ -z "$names" ]; then
        echo "$lib: no dynamic symbols"
        status=1
        return
    fi
    extra=$(printf '%s\n' "$names" | grep -Ev "$allowed" || true)
    if [ -n "$extra" ]; then
        echo "$lib exports names outside its interface:"
        printf '%s\n' "$extra" | sed 's/^/    /'
        status=1
    fi
    printf '%s\n' "$required" | while IFS= read -r want; do
        printf '%s\n' "$names" | grep -Eq "$want" || { echo "$lib does not export $want"; exit 1; }
    done || status=1
    echo "$lib: $(printf '%s\n' "$names" | wc -l) exported names checked"
}

check "$1" \
'^gzstream::gzopen\(
^gzstream::gzread\(
^gzstream::gzclose\(
^gzstream::gzseek\(
^gzstream::gzheader\(
^gzstream::gzerrno\(' \
'^gzstream::(gz[a-z_]+|engine_version)\('

check "$2" \
'^lzw::z_open\(
^lzw::zread\(
^lzw::z_close\(' \
'^lzw::(z_open|z_open_io|zread|zwrite|z_close)\('

check "$3" \
'^zpress::gzfile::gzfile\(
^zpress::igzstream::igzstream\(
^zpress::olzwstream::olzwstream\(
^zpress::gzip_decompress[[(]
^zpress::gzfile::header\(
^typeinfo for zpress::error$
^vtable for zpress::igzstream$' \
'^((typeinfo|typeinfo name|vtable|VTT) for |(non-)?virtual thunk to )?zpress::'

exit $status
