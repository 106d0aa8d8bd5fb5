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

closure_roots=$(mktemp)
trap 'rm -f "$closure_roots"' EXIT
commit=$(git -C "$root" rev-parse HEAD 2>/dev/null || echo "unknown (not a git checkout)")
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
    commit="$commit, with uncommitted changes"
fi
echo "Source: Folderlane"
echo "Version: $version"
echo "Commit: $commit"
echo "Source-Date-Epoch: $SOURCE_DATE_EPOCH"
if [ -n "$signed" ]; then
    echo "Signed: yes (a rebuild given the published signatures, FOLDERLANE_SIGNATURES, gives the same files)"
else
    echo "Signed: no"
fi
# The packages' versions are those of one release and its updates.
echo "Build-Release: $(. /etc/os-release && echo "$PRETTY_NAME")"
echo "Build-Architecture: $(dpkg --print-architecture)"
echo "Build-Packages:"
packages "${files[@]}" | tee "$closure_roots" | sed 's/^/ /'
# As Debian's own .buildinfo: every installed package those depend on, to
# the end (mingw-w64-common holds windows.h, libgcc-s1 the compiler's own
# library), each dependency taken by the installed package that meets it.
echo "Installed-Build-Depends:"
dpkg-query -W -f='${db:Status-Abbrev}|${binary:Package}|${Package}|${Version}|${Provides}|${Depends}|${Pre-Depends}\n' |
    /usr/bin/python3 -c '
import re, sys
roots = {line.split(" (= ")[0] for line in open(sys.argv[1]) if " (= " in line}
installed, provides = {}, {}
for line in sys.stdin:
    status, full, name, version, provided, *depends = line.rstrip("\n").split("|")
    if not status.startswith("ii"):
        continue
    installed[full] = (full, version, ",".join(d for d in depends if d))
    # A dependency by bare name is on the package of the build architecture.
    if name not in installed or full.endswith(":" + sys.argv[2]):
        installed[name] = installed[full]
    for virtual in filter(None, (v.strip().split(" ")[0] for v in provided.split(","))):
        provides.setdefault(virtual, full)
def meet(group):
    for alternative in group.split("|"):
        name = re.sub(r":\S+", "", alternative.strip().split(" ")[0])
        if name in installed:
            return installed[name][0]
        if name in provides:
            return provides[name]
seen, todo = set(), [r for r in roots if r in installed]
while todo:
    package = installed[todo.pop()][0]
    if package in seen:
        continue
    seen.add(package)
    todo += [m for m in map(meet, filter(None, installed[package][2].split(","))) if m]
for package in sorted(seen):
    print(f" {package} (= {installed[package][1]})")
' "$closure_roots" "$(dpkg --print-architecture)"
# Where exactly those versions can be had: the state of each package list
# apt read last (snapshot.debian.org keeps every state of Debian's archives).
echo "Package-Lists:"
for list in /var/lib/apt/lists/*_InRelease; do
    [ -f "$list" ] || continue
    date=$(sed -n 's/^Date: //p' "$list" | head -1)
    echo " ${list##*/} $(date -u -d "$date" +%Y%m%dT%H%M%SZ)"
done | sed 's/_InRelease / /'
