#!/usr/bin/env bash
# Packaging check: zpress installs, packages and documents itself.
#
#  - builds the release configuration (reusing build/release when it exists)
#  - installs it into a staging prefix and checks what landed there
#  - builds examples/ against the staged install twice, through
#    find_package(zpress) and through pkg-config, and runs the programs: the
#    C++ interface reads real .gz files under /usr/share (compared with
#    Python's gzip module), writes and reads back, decodes .Z, reports damage,
#    and links into a shared object; find_package names a missing component
#  - builds tests/packaging/consumer (static, with find_package) and runs
#    check_api.py: every part of the C++ interface once, judged by Python's
#    gzip and zlib modules and the project's own strict .Z reader
#  - builds the libraries shared (BUILD_SHARED_LIBS=ON), checks their SONAME
#    and exported symbols, installs them into a fresh prefix, and builds and
#    runs the examples against them through find_package and through the
#    README's pkg-config line, with no LD_LIBRARY_PATH
#  - lints the manual page (groff, and mandoc when installed) and checks that
#    it documents every message the driver prints
#  - checks that the package, the pkg-config files, the CMake package and the
#    manual page all carry the project's version
#  - imports the staged Python package with /usr/bin/python3 (when the module
#    is built) and checks round trips and random access
#  - builds the Debian packages, shows their contents and metadata, and runs
#    lintian on all of them: any error or warning fails the check (lintian
#    missing is a failure in CI, a skip elsewhere)
#  - as root in CI (CI=true) only: installs the packages on this machine,
#    runs the installed zpress, finds its manual page, builds the example
#    against the system install, and removes the packages again
#
# Needs: cmake, g++, make, pkg-config, python3, binutils, groff-base, dpkg-dev,
# file, lintian; mandoc and man-db are used when present.
#
# Usage: .ci/package-check.sh [BUILD_DIR]    (default: build/release)
#
# The steps are functions that `check` calls indirectly.
# shellcheck disable=SC2317
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
src=$PWD
build=${1:-build/release}
case $build in /*) ;; *) build=$src/$build ;; esac

work=$(mktemp -d "${TMPDIR:-/tmp}/zpress-package-check.XXXXXX")
stage=$work/stage
installed_packages=()

cleanup() {
    if [ ${#installed_packages[@]} -gt 0 ]; then
        dpkg -r "${installed_packages[@]}" >/dev/null 2>&1 ||
            echo "package-check: could not remove ${installed_packages[*]}" >&2
    fi
    rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
skipped=0

# check NAME COMMAND...: runs the command quietly; shows its output on failure.
check() {
    local name=$1
    shift
    if "$@" >"$work/last.log" 2>&1; then
        passed=$((passed + 1))
        echo "ok    $name"
        return 0
    fi
    failed=$((failed + 1))
    echo "FAIL  $name"
    tail -n 60 "$work/last.log" | sed 's/^/      /'
    return 1
}

skip() {
    skipped=$((skipped + 1))
    echo "skip  $1"
}

finish() {
    echo "package-check: $passed passed, $failed failed, $skipped skipped"
    [ "$failed" -eq 0 ]
    exit
}

# --- build -----------------------------------------------------------------

configure_and_build() {
    if [ -f "$build/CMakeCache.txt" ]; then
        cmake "$build"
    elif [ "$build" = "$src/build/release" ]; then
        cmake --preset release
    else
        cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release
    fi || return 1
    # Only what gets installed: the tests are not needed here.
    cmake --build "$build" -j2 --target zpress gzstream lzw zpress_cxx $(python_target)
}
# The Python module's target, when the build makes it.
python_target() {
    grep -q '^ZPRESS_BUILD_PYTHON:BOOL=ON' "$build/CMakeCache.txt" && echo zpress_python
}
check "configure and build ($build)" configure_and_build || finish

# --- staged install ----------------------------------------------------------

check "cmake --install into a staging prefix" cmake --install "$build" --prefix "$stage" || finish

config=$(find "$stage" -name zpressConfig.cmake | head -n 1)
pcdir=$(dirname "$(find "$stage" -name zpress-gzstream.pc | head -n 1)")
staged_files() {
    local f missing=0
    for f in bin/zpress bin/zpress-read share/man/man1/zpress.1 share/man/man1/zpress-read.1 \
        include/zpress/gzio.h include/zpress/zopen.h \
        include/zpress/zpress.hpp; do
        [ -f "$stage/$f" ] || { echo "missing: $f"; missing=1; }
    done
    [ -n "$config" ] || { echo "missing: zpressConfig.cmake"; missing=1; }
    for f in zpressConfigVersion.cmake zpressTargets.cmake; do
        [ -f "$(dirname "$config")/$f" ] || { echo "missing: $f"; missing=1; }
    done
    for f in zpress-gzstream.pc zpress-lzw.pc zpress-cxx.pc; do
        [ -f "$pcdir/$f" ] || { echo "missing: $f"; missing=1; }
    done
    for f in libzpress-gzstream libzpress-lzw libzpress-cxx; do
        find "$stage" -name "$f.*" | grep -q . || { echo "missing: $f"; missing=1; }
    done
    find "$stage" -type f | sed "s|^$stage/||" | sort
    return "$missing"
}
check "staged files are all there" staged_files

# The Python package, where Debian's python3 imports it under the prefix,
# used as a new user would: round trips judged by the standard library and
# by gzip -dc, random access with an exported index.
with_python=$(python_target)
staged_python() {
    local site
    site=$(dirname "$(find "$stage" -path '*/dist-packages/zpress/__init__.py' | head -n 1)")
    [ -d "$site" ] || { echo "no zpress package under $stage"; return 1; }
    for f in __init__.pyi py.typed; do
        [ -f "$site/$f" ] || { echo "missing: $f"; return 1; }
    done
    ls "$site"/_zpress.cpython-*.so || return 1
    (cd "$work" && PYTHONPATH=$(dirname "$site") /usr/bin/python3 - "$work/py.gz") <<'EOF_PY' || return 1
import gzip, io, random, sys, tarfile, zpress
data = b"".join(b"%d %s\n" % (i, b"x" * (i % 70)) for i in range(100000))
with zpress.open(sys.argv[1], "wb") as f:
    f.write(data)
assert gzip.open(sys.argv[1]).read() == data
assert gzip.decompress(zpress.compress(data, 9)) == data
assert zpress.decompress(gzip.compress(data) * 2) == data * 2
with zpress.open(sys.argv[1]) as f:
    f.build_index()
    index = f.export_index()
with zpress.open(sys.argv[1]) as f:
    f.import_index(index)
    for at in random.Random(1).sample(range(len(data)), 200):
        f.seek(at)
        assert f.read(100) == data[at:at + 100]
print("zpress", zpress.__version__, "imported from", zpress.__file__)
EOF_PY
    gzip -dc "$work/py.gz" | tail -n 1 | grep -qx '99999 x*'
}
if [ -n "$with_python" ]; then
    check "Python package: staged, imported by /usr/bin/python3, round trips" staged_python
else
    skip "Python package (not built: python3-dev or pybind11-dev missing)"
fi

# The zlib release the program was built against, from its version line.
staged_version() {
    local line
    line=$("$stage/bin/zpress" -V) || return 1
    echo "$line"
    [[ $line == "$stage/bin/zpress, based on zlib "* ]]
}
check "staged zpress -V" staged_version
staged_reader_version() {
    local line
    line=$("$stage/bin/zpress-read" -V) || return 1
    echo "$line"
    [[ $line == "zpress-read $version, based on zlib "* ]]
}
zlib_version=$("$stage/bin/zpress" -V 2>/dev/null | sed -n 's/.*, based on zlib //p')

# --- the example, against the staged install ---------------------------------

example_with_cmake() {
    local prefix_path=$1 dir=$2
    cmake -S "$src/examples" -B "$dir" -DCMAKE_BUILD_TYPE=Release \
        ${prefix_path:+-DCMAKE_PREFIX_PATH="$prefix_path"} &&
        cmake --build "$dir" -j2 &&
        examples_touch_only_their_own_files "$dir" &&
        cxx_checks "$dir"
}

# The examples that write work on temporary files of their own, which they
# remove: they leave the directory they run in, and $TMPDIR, as they were.
examples_touch_only_their_own_files() {
    local dir=$1 tmp
    tmp=$(mktemp -d "$work/example-tmp.XXXXXX") && mkdir -p "$dir/run" || return 1
    (cd "$dir/run" && TMPDIR=$tmp ../gz_lines) &&
        (cd "$dir/run" && TMPDIR=$tmp ../gz_random_access) >/dev/null &&
        (cd "$dir/run" && TMPDIR=$tmp ../z_decode) | grep -qx 'sample line 5 of 5' || return 1
    ! find "$dir/run" "$tmp" -mindepth 1 | grep .
}

# The C++ interface as a new user would try it, with the programs that
# example_with_cmake built in DIR.
cxx_checks() {
    local dir=$1 list n=0
    # Real gzip files of this machine, line by line, against Python's reader:
    # "<crc32 hex> <lines> <path>" from both.
    list=$(find /usr/share/doc /usr/share/man /usr/share/info -name '*.gz' -type f -size -4M 2>/dev/null |
        sort | head -n 60)
    if [ -n "$list" ]; then
        printf '%s\n' "$list" | python3 -c '
import gzip, sys, zlib
for path in sys.stdin.read().split("\n"):
    try:
        data = gzip.open(path).read()
    except (OSError, EOFError):  # not for this comparison: Python refuses it
        continue
    lines = data.count(b"\n") + (1 if data and not data.endswith(b"\n") else 0)
    print("%x %d %s" % (zlib.crc32(data), lines, path))' >"$dir/expected.txt" || return 1
        n=$(wc -l <"$dir/expected.txt")
        [ "$n" -gt 0 ] || { echo "Python read none of the files"; return 1; }
        cut -d' ' -f3- "$dir/expected.txt" | xargs -d '\n' "$dir/zlib_beside" >"$dir/got.txt" || return 1
        diff "$dir/expected.txt" "$dir/got.txt" || return 1
        # A real file, damaged: its CRC, then its end cut off.
        python3 - "$(printf '%s\n' "$list" | head -n 1)" "$dir" <<'EOF_PY' || return 1
import sys
data = bytearray(open(sys.argv[1], "rb").read())
cut = bytes(data[: len(data) * 2 // 3])
data[-6] ^= 0x55
open(sys.argv[2] + "/bad-crc.gz", "wb").write(data)
open(sys.argv[2] + "/cut.gz", "wb").write(cut)
EOF_PY
        "$dir/zlib_beside" --expect-damage "$dir/bad-crc.gz" &&
            "$dir/zlib_beside" --expect-damage "$dir/cut.gz" || return 1
    fi
    echo "$n gzip files under /usr/share read line by line as Python reads them"
    "$dir/zlib_beside" --write >"$dir/written.gz" || return 1
    python3 -c 'import gzip, sys; d = gzip.open(sys.argv[1]).read()
sys.exit(d != b"".join(b"line %d\n" % i for i in range(1000)))' "$dir/written.gz" || return 1
    # A C program, through the C++ shim of the examples.
    "$dir/c_caller" "$dir/written.gz" | python3 -c 'import sys
sys.exit(sys.stdin.buffer.read() != b"".join(b"line %d\n" % i for i in range(1000)))' || return 1
    # A .Z file from a plain LZW encoder (9-bit codes, no table growth).
    python3 - "$dir/sample.Z" <<'EOF_PY' || return 1
import sys
text = b"to be or not to be, that is the question; " * 4
table = {bytes([i]): i for i in range(256)}
codes, w, nxt = [], b"", 257
for c in text:
    wc = w + bytes([c])
    if wc in table:
        w = wc
    else:
        codes.append(table[w]); table[wc] = nxt; nxt += 1; w = bytes([c])
codes.append(table[w])
assert nxt < 512
bits = acc = 0
out = bytearray(b"\x1f\x9d\x90")
for code in codes:
    acc |= code << bits; bits += 9
    while bits >= 8:
        out.append(acc & 0xFF); acc >>= 8; bits -= 8
if bits:
    out.append(acc & 0xFF)
open(sys.argv[1], "wb").write(out)
open(sys.argv[1] + ".txt", "wb").write(text)
EOF_PY
    "$dir/zlib_beside" --decode-z "$dir/sample.Z" | cmp - "$dir/sample.Z.txt" || return 1
    "$dir/gz_read_lines" "$dir/written.gz" | tail -n 1 | grep -qx '1000: line 999'
}

# A shared object that links the zpress libraries as installed (static ones
# must be position-independent for this), and a program that uses it.
plugin_with_cmake() {
    local prefix_path=$1 dir=$2
    mkdir -p "$dir/src" &&
        cat >"$dir/src/CMakeLists.txt" <<'EOF_CMAKE' &&
cmake_minimum_required(VERSION 3.16)
project(zpress_plugin LANGUAGES CXX)
find_package(zpress 1.0 REQUIRED COMPONENTS cxx)
add_library(plugin SHARED plugin.cpp)
target_link_libraries(plugin PRIVATE zpress::cxx)
add_executable(host host.cpp)
target_link_libraries(host PRIVATE plugin)
EOF_CMAKE
        cat >"$dir/src/plugin.cpp" <<'EOF_CPP' &&
#include <zpress/zpress.hpp>
#include <string>
int plugin_round_trip(const char* path) {
    {
        zpress::ogzstream out(path);
        out << "from a shared object\n";
        out.close();
        if (!out) return 1;
    }
    zpress::igzstream in(path);
    std::string line;
    return std::getline(in, line) && line == "from a shared object" ? 0 : 1;
}
EOF_CPP
        printf '%s\n' 'int plugin_round_trip(const char*);' \
            'int main(int, char** argv) { return plugin_round_trip(argv[1]); }' >"$dir/src/host.cpp" &&
        cmake -S "$dir/src" -B "$dir/build" -DCMAKE_BUILD_TYPE=Release \
            ${prefix_path:+-DCMAKE_PREFIX_PATH="$prefix_path"} &&
        cmake --build "$dir/build" -j2 &&
        "$dir/build/host" "$dir/plugin.gz"
}

# find_package names the component it does not have.
missing_component() {
    local prefix_path=$1 dir=$2 out
    mkdir -p "$dir" &&
        printf '%s\n' 'cmake_minimum_required(VERSION 3.16)' 'project(p LANGUAGES CXX)' \
            'find_package(zpress 1.0 REQUIRED COMPONENTS cxx nosuch)' >"$dir/CMakeLists.txt" || return 1
    out=$(cmake -S "$dir" -B "$dir/build" ${prefix_path:+-DCMAKE_PREFIX_PATH="$prefix_path"} 2>&1)
    echo "$out"
    grep -q 'no component nosuch' <<<"$out"
}

# g++ with the flags pkg-config gives; also links a one-line .Z program to
# prove zpress-lzw.pc.  An empty PC_PATH means the system's .pc files.  The
# flags that pkg-config prints are meant to be split into words.
# shellcheck disable=SC2046
example_with_pkg_config() (
    pc_path=$1 dir=$2
    export PKG_CONFIG_PATH=$pc_path
    mkdir -p "$dir" &&
        pkg-config --print-errors --exists zpress-gzstream zpress-lzw &&
        echo "zpress-gzstream: $(pkg-config --cflags --libs zpress-gzstream)" &&
        g++ -std=c++20 -O2 -o "$dir/gz_lines" "$src/examples/gz_lines.cpp" \
            $(pkg-config --cflags --libs zpress-gzstream) &&
        "$dir/gz_lines" &&
        echo "zpress-cxx: $(pkg-config --cflags --libs zpress-cxx)" &&
        g++ -std=c++20 -O2 -o "$dir/gz_read_lines" "$src/examples/gz_read_lines.cpp" \
            $(pkg-config --cflags --libs zpress-cxx) &&
        python3 -c 'import gzip, sys; sys.stdout.buffer.write(gzip.compress(b"a\nb\n"))' >"$dir/ab.gz" &&
        "$dir/gz_read_lines" "$dir/ab.gz" | tail -n 1 | grep -qx '2: b' &&
        printf '%s\n' '#include <zpress/zopen.h>' \
            'int main() { return lzw::z_open(0, "?", 0, 0, 0, 0) == nullptr ? 0 : 1; }' |
        g++ -std=c++20 -x c++ -o "$dir/lzw_link" - $(pkg-config --cflags --libs zpress-lzw) &&
        "$dir/lzw_link"
)

check "example via find_package(zpress) (staged)" \
    example_with_cmake "$stage" "$work/example-cmake"
check "example via pkg-config (staged)" \
    example_with_pkg_config "$pcdir" "$work/example-pc"
check "shared object linking the libraries (staged)" \
    plugin_with_cmake "$stage" "$work/plugin"
check "find_package(zpress COMPONENTS nosuch) names it" \
    missing_component "$stage" "$work/missing"

# Every part of the C++ interface, built statically against the install as a
# user would, judged by Python.
api_with_cmake() {
    local prefix_path=$1 dir=$2
    cmake -S "$src/tests/packaging/consumer" -B "$dir" -DCMAKE_BUILD_TYPE=Release \
        ${prefix_path:+-DCMAKE_PREFIX_PATH="$prefix_path"} &&
        cmake --build "$dir" -j2 &&
        python3 "$src/tests/packaging/consumer/check_api.py" "$dir/api_check"
}
check "C++ interface checks via find_package(zpress) (static, staged)" \
    api_with_cmake "$stage" "$work/api-static"

# --- shared libraries ----------------------------------------------------------

# BUILD_SHARED_LIBS=ON: versioned libraries that export their public interface
# only, installed and used as the static ones are.
shared=$work/shared
shared_build() {
    cmake -S "$src" -B "$shared/build" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
        -DZPRESS_BUILD_TESTS=OFF -DZPRESS_BUILD_BENCH=OFF &&
        cmake --build "$shared/build" -j2 &&
        cmake --install "$shared/build" --prefix "$shared/stage"
}
shared_libraries() {
    local lib soname
    for lib in gzstream lzw cxx; do
        soname=$(find "$shared/stage" -name "libzpress-$lib.so" -exec objdump -p {} \; |
            awk '$1 == "SONAME" { print $2 }')
        echo "libzpress-$lib.so: SONAME $soname"
        [ "$soname" = "libzpress-$lib.so.1" ] || return 1
    done
    sh "$src/cxx/tests/check_exports.sh" "$shared/build/gzstream/libzpress-gzstream.so" \
        "$shared/build/lzw/libzpress-lzw.so" "$shared/build/cxx/libzpress-cxx.so"
}
# Installed into a fresh prefix, outside the loader's search path, the
# libraries find each other and the programs find them by their RUNPATH
# ($ORIGIN for the libraries and the program, the library directory for a
# consumer linked with the pkg-config flags): nothing needs LD_LIBRARY_PATH.
shared_runpaths() {
    local f runpath
    for f in "$shared_libdir"/libzpress-*.so.1 "$shared/stage/bin/zpress" \
        "$shared/stage/bin/zpress-read"; do
        runpath=$(objdump -p "$f" | awk '$1 == "RUNPATH" { print $2 }')
        echo "$(basename "$f"): RUNPATH $runpath"
        [[ $runpath == "\$ORIGIN"* ]] || return 1
    done
    "$shared/stage/bin/zpress" -V && "$shared/stage/bin/zpress-read" -V
}
if check "shared build (BUILD_SHARED_LIBS=ON)" shared_build; then
    unset LD_LIBRARY_PATH
    shared_libdir=$(dirname "$(find "$shared/stage" -name libzpress-cxx.so | head -n 1)")
    check "shared libraries: SONAME and exported symbols" shared_libraries
    check "shared libraries and program: \$ORIGIN RUNPATH, zpress runs" shared_runpaths
    check "examples via find_package(zpress) (shared, no LD_LIBRARY_PATH)" \
        example_with_cmake "$shared/stage" "$work/example-shared"
    check "examples via pkg-config (shared, no LD_LIBRARY_PATH)" \
        example_with_pkg_config "$shared_libdir/pkgconfig" "$work/example-shared-pc"
    check "shared object linking the shared libraries" \
        plugin_with_cmake "$shared/stage" "$work/plugin-shared"
fi

# --- manual page -------------------------------------------------------------

# The pages as installed, with the version filled in.
page_src=$stage/share/man/man1/zpress.1
reader_page=$stage/share/man/man1/zpress-read.1
groff_lint() {
    local out
    out=$(groff -man -ww -z "$1" 2>&1)
    [ -z "$out" ] || { echo "$out"; return 1; }
}
mandoc_lint() {
    local out
    out=$(mandoc -T lint -W style "$1" 2>&1)
    [ -z "$out" ] || { echo "$out"; return 1; }
}
for page in "$page_src" "$reader_page"; do
    check "man page $(basename "$page"): groff -man -ww -z" groff_lint "$page"
    if command -v mandoc >/dev/null; then
        check "man page $(basename "$page"): mandoc -T lint" mandoc_lint "$page"
    else
        skip "man page $(basename "$page"): mandoc -T lint (mandoc not installed)"
    fi
done

# Every text the driver reports must appear in the DIAGNOSTICS of the page.
documented_messages() {
    local page missing=0 msg found=0
    page=$(sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' "$page_src")
    while IFS= read -r msg; do
        [ -n "$msg" ] || continue
        found=$((found + 1))
        if grep -qF -- "$msg" <<<"$page"; then
            echo "documented: $msg"
        else
            echo "NOT documented: $msg"
            missing=1
        fi
    done < <(grep -ohE '\b(error|fail|report_create_failure)\("[^"]*"|"%s: [^"]*"' "$src"/driver/*.cpp |
        sed -E 's/^[a-z_]+\(//; s/^"//; s/"$//; s/\\n//g; s/%\.\*s//g; s/%s//g; s/^: *//; s/^ +//; s/ +$//; s/^: //' |
        sort -u)
    # Guards against a change in how the driver spells its reports that
    # would leave nothing to compare.
    [ "$found" -ge 10 ] || { echo "only $found driver messages found"; return 1; }
    return "$missing"
}
check "man page documents every driver message" documented_messages

# --- one version everywhere ----------------------------------------------------

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
one_version() {
    local pc_version config_version
    echo "project version: ${version:-unknown}"
    [ -n "$version" ] || return 1
    pc_version=$(PKG_CONFIG_PATH=$pcdir pkg-config --modversion zpress-gzstream zpress-lzw | sort -u)
    echo "pkg-config: $pc_version"
    [ "$pc_version" = "$version" ] || return 1
    config_version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$(dirname "$config")/zpressConfigVersion.cmake")
    echo "CMake package: $config_version"
    [ "$config_version" = "$version" ] || return 1
    grep -x "\.TH ZPRESS 1 [^ ]* \"zpress $version\" .*" "$page_src" &&
        grep -x "\.TH ZPRESS-READ 1 [^ ]* \"zpress $version\" .*" "$reader_page"
}
check "version $version in pkg-config, CMake package and manual pages" one_version
check "staged zpress-read -V" staged_reader_version

# --- Debian packages ---------------------------------------------------------

debdir=$build/packages
build_debs() {
    rm -rf "$debdir" &&
        (cd "$build" && cpack -G DEB -B "$debdir") &&
        ls "$debdir"/*.deb
}
check "cpack -G DEB" build_debs || finish

runtime_deb=$(find "$debdir" -maxdepth 1 -name 'zpress_*.deb' | head -n 1)
dev_deb=$(find "$debdir" -maxdepth 1 -name 'libzpress-dev_*.deb' | head -n 1)
python_deb=$(find "$debdir" -maxdepth 1 -name 'python3-zpress_*.deb' | head -n 1)
all_debs=("$runtime_deb" "$dev_deb")
[ -n "$with_python" ] && all_debs+=("${python_deb:-missing-python3-zpress.deb}")

show_deb() {
    [ -f "$1" ] || { echo "no package file"; return 1; }
    dpkg-deb -I "$1" && dpkg-deb -c "$1"
}
for deb in "${all_debs[@]}"; do
    echo "---- $(basename "${deb:-missing.deb}")"
    show_deb "$deb" | sed 's/^/      /'
done

field() { dpkg-deb -f "$1" "$2"; }
# Whether the listing $1 has a line matching each further pattern.
lists_all() {
    local list=$1 pattern
    shift
    for pattern in "$@"; do
        grep -q -- "$pattern" <<<"$list" || return 1
    done
}

package_versions() {
    local deb
    for deb in "${all_debs[@]}"; do
        [ "$(field "$deb" Version)" = "$version-1" ] || return 1
    done
}
check "packages have version $version-1" package_versions

if command -v lintian >/dev/null; then
    # The packages carry one override (cmake/debian_docs.py): a first release
    # made outside Debian closes no intent-to-package bug.
    if check "lintian: no errors, no warnings" \
        lintian --fail-on error,warning "${all_debs[@]}"; then
        sed 's/^/      /' "$work/last.log"
    fi
elif [ "${CI:-}" = true ]; then
    check "lintian: installed" false
else
    skip "lintian (not installed)"
fi

runtime_metadata() {
    local depends
    depends=$(field "$runtime_deb" Depends)
    echo "Depends: $depends"
    [ "$(field "$runtime_deb" Package)" = zpress ] &&
        [ "$(field "$runtime_deb" Section)" = utils ] &&
        [ -n "$(field "$runtime_deb" Maintainer)" ] &&
        [ -n "$(field "$runtime_deb" Description)" ] &&
        grep -q 'libc6' <<<"$depends" &&
        grep -qF "zlib1g (>= 1:$zlib_version)" <<<"$depends"
}
check "zpress.deb metadata (name, section, maintainer, depends zlib1g >= 1:$zlib_version)" runtime_metadata

runtime_contents() {
    local list
    list=$(dpkg-deb -c "$runtime_deb") || return 1
    lists_all "$list" ' ./usr/bin/zpress$' ' ./usr/bin/zpress-read$' \
        ' ./usr/share/man/man1/zpress.1.gz$' ' ./usr/share/man/man1/zpress-read.1.gz$' &&
        ! grep -q 'include/\|\.a$' <<<"$list"
}
check "zpress.deb holds bin/zpress, bin/zpress-read and the compressed man pages" runtime_contents

# The packaged page is the installed one, compressed at the highest level
# (header byte XFL = 2) with no time stamp (MTIME = 0).
packaged_page() {
    rm -rf "$work/x" && dpkg-deb -x "$runtime_deb" "$work/x" &&
        python3 - "$work/x/usr/share/man/man1/zpress.1.gz" "$page_src" <<'EOF'
import gzip, sys
with open(sys.argv[1], "rb") as f:
    header = f.read(10)
if header[8] != 2 or header[4:8] != bytes(4):
    sys.exit(f"header {header.hex()}: not maximum compression without a time stamp")
with gzip.open(sys.argv[1]) as packed, open(sys.argv[2], "rb") as page:
    sys.exit(0 if packed.read() == page.read() else "packaged page differs")
EOF
}
check "packaged man page: the installed page, gzip -9n style" packaged_page

dev_package() {
    local list
    list=$(dpkg-deb -c "$dev_deb") || return 1
    echo "Package: $(field "$dev_deb" Package), Depends: $(field "$dev_deb" Depends)"
    [ "$(field "$dev_deb" Package)" = libzpress-dev ] &&
        field "$dev_deb" Depends | grep -q 'zlib1g-dev' &&
        lists_all "$list" 'include/zpress/gzio.h$' 'include/zpress/zopen.h$' \
            'zpressConfig.cmake$' 'include/zpress/zpress.hpp$' 'zpress-gzstream.pc$' \
            'zpress-cxx.pc$' 'libzpress-gzstream.a$' 'libzpress-cxx.a$' \
            ' ./usr/share/doc/libzpress-dev/api.md$' \
            ' ./usr/share/doc/libzpress-dev/examples/gz_read_lines.cpp$' \
            ' ./usr/share/doc/libzpress-dev/examples/CMakeLists.txt$'
}
check "libzpress-dev.deb metadata, contents, reference and examples" dev_package

python_package() {
    local list depends
    list=$(dpkg-deb -c "$python_deb") || return 1
    depends=$(field "$python_deb" Depends)
    echo "Package: $(field "$python_deb" Package), Section: $(field "$python_deb" Section), Depends: $depends"
    [ "$(field "$python_deb" Package)" = python3-zpress ] &&
        [ "$(field "$python_deb" Section)" = python ] &&
        grep -q 'python3 (>= 3\.[0-9]*~), python3 (<< 3\.[0-9]*)' <<<"$depends" &&
        grep -q 'zlib1g' <<<"$depends" &&
        lists_all "$list" ' ./usr/lib/python3/dist-packages/zpress/__init__.py$' \
            ' ./usr/lib/python3/dist-packages/zpress/__init__.pyi$' \
            ' ./usr/lib/python3/dist-packages/zpress/py.typed$' \
            ' ./usr/lib/python3/dist-packages/zpress/_zpress\.cpython-[0-9]*-[a-z0-9_]*-linux-gnu\.so$' \
            ' ./usr/share/doc/python3-zpress/python.md$' &&
        ! grep -q '__pycache__' <<<"$list"
}
if [ -n "$with_python" ]; then
    check "python3-zpress.deb metadata and contents" python_package
fi

# --- install on this machine (root in CI only) -------------------------------

if [ "${CI:-}" = true ] && [ "$(id -u)" -eq 0 ]; then
    install_debs() {
        if [ -n "$with_python" ]; then
            dpkg -i "$runtime_deb" "$dev_deb" "$python_deb" &&
                installed_packages=(python3-zpress libzpress-dev zpress)
        else
            dpkg -i "$runtime_deb" "$dev_deb" && installed_packages=(libzpress-dev zpress)
        fi
    }
    if check "dpkg -i zpress and libzpress-dev" install_debs; then
        installed_run() {
            /usr/bin/zpress -V && /usr/bin/zpress-read -V &&
                printf 'round trip\n' | /usr/bin/zpress | /usr/bin/zpress -d | grep -qx 'round trip'
        }
        check "installed zpress -V and a round trip" installed_run
        if [ -n "$with_python" ]; then
            installed_python() {
                (cd / && /usr/bin/python3 -c 'import gzip, zpress
assert zpress.__file__.startswith("/usr/lib/python3/dist-packages/")
assert gzip.decompress(zpress.compress(b"round trip")) == b"round trip"')
            }
            check "installed python3-zpress imports in /usr/bin/python3" installed_python
        fi
        installed_page() {
            if command -v man >/dev/null; then
                man -w zpress
            else
                test -f /usr/share/man/man1/zpress.1.gz
            fi
        }
        check "installed man page found" installed_page
        check "example via find_package(zpress) (system)" \
            example_with_cmake "" "$work/example-system"
        check "example via pkg-config (system)" example_with_pkg_config "" "$work/example-system-pc"
        remove_debs() {
            dpkg -r "${installed_packages[@]}" && installed_packages=() &&
                ! test -e /usr/bin/zpress
        }
        check "dpkg -r" remove_debs
    fi
else
    skip "dpkg -i / -r on this machine (only as root with CI=true)"
fi

finish
