#!/usr/bin/env bash
# Prints BUILDINFO for dist/: what a rebuilder needs to get the same files,
# the commit, SOURCE_DATE_EPOCH and the exact Debian packages whose files make
# the release's bytes (the compiler, its runtime and libraries, binutils,
# NSIS's stubs and plug-ins, Python and the zlib that packs the archive, and
# osslsigncode when signing).
# Usage: scripts/buildinfo.sh BUILD_DIR VERSION SIGNED   (SIGNED: 1 or empty)
set -euo pipefail
# The same text in every locale (sort's order above all).
export LC_ALL=C
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$1 version=$2 signed=${3:-}

# The compilers CMake found for the build.
compiler() { sed -n "s/^set(CMAKE_$1_COMPILER \"\(.*\)\")$/\1/p" "$build"/CMakeFiles/*/CMake$1Compiler.cmake; }
cxx=$(compiler CXX)
files=("$cxx" "$(compiler C)" "$(compiler RC)" "$(command -v cmake)")
for program in cc1plus cc1 as ld; do
    files+=("$("$cxx" -print-prog-name="$program")")
done
for library in libstdc++.a libgcc.a libgcc_eh.a crt2.o libmingw32.a libmsvcrt.a libkernel32.a libwinpthread.a; do
    files+=("$("$cxx" -print-file-name="$library")")
done
nsis=/usr/share/nsis
files+=("$(command -v makensis)" "$nsis/Stubs/lzma_solid-x86-unicode" "$nsis/Plugins/x86-unicode/System.dll")
# make-dist.sh's Python, the one that packs the archive.
files+=($(/usr/bin/python3 -c 'import sys, zipfile, zlib
print(sys.executable, zipfile.__file__)
print(*(line.split()[-1] for line in open("/proc/self/maps") if "/libz.so" in line))'))
[ -z "$signed" ] || files+=("$(command -v osslsigncode)")

# dpkg knows /bin and /lib files by those names, even where they are links
# into /usr.
packages() {
    local file path owner package
    for file in "$@"; do
        path=$(readlink -f "$file")
        owner=$(dpkg-query -S "$path" 2>/dev/null || dpkg-query -S "${path#/usr}" 2>/dev/null) ||
            { echo "not from a Debian package: $path"; continue; }
        for package in $(sed -n 's/: \/.*//p' <<<"$owner" | tr ',' ' '); do
            dpkg-query -W -f='${binary:Package} (= ${Version})\n' "$package"
        done
    done | sort -u
}

commit=$(git -C "$root" rev-parse HEAD 2>/dev/null || echo "unknown (not a git checkout)")
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
    commit="$commit, with uncommitted changes"
fi
echo "Source: Folderlane"
echo "Version: $version"
echo "Commit: $commit"
echo "Source-Date-Epoch: $SOURCE_DATE_EPOCH"
if [ -n "$signed" ]; then
    echo "Signed: yes (the signatures and their times differ from build to build; the rest does not)"
else
    echo "Signed: no"
fi
# The packages' versions are those of one release and its updates.
echo "Build-Release: $(. /etc/os-release && echo "$PRETTY_NAME")"
echo "Build-Architecture: $(dpkg --print-architecture)"
echo "Build-Packages:"
packages "${files[@]}" | sed 's/^/ /'
