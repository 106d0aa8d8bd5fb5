#!/usr/bin/env bash
# Packs a win32 build for Windows users: the NSIS installer and the portable
# archive, both named with the version the build was made with.
# Usage: scripts/make-dist.sh [BUILD_DIR] [DIST_DIR]   (default build/win32 dist)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build/win32}" && pwd)
mkdir -p "${2:-$root/dist}"
dist=$(cd "${2:-$root/dist}" && pwd)

version=$(sed -n 's/^#define FOLDERLANE_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/Version.h")
[ -n "$version" ] || { echo "make-dist: no version in $build/generated/Version.h" >&2; exit 1; }
files=(Folderlane.exe folderlane-send.exe folderlane-open.exe Nelvoreadme.txt)
for file in "${files[@]}"; do
    [ -f "$build/$file" ] || { echo "make-dist: missing $build/$file: build the win32 tree first" >&2; exit 1; }
done

setup=$dist/Folderlane-$version-setup.exe
portable=$dist/Folderlane-$version-portable.zip
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DBUILD="$build" -DROOT="$root" \
    -DOUTFILE="$setup" "$root/installer/Folderlane.nsi"

# The shipped files at the top of the archive: unpacked anywhere, they run.
rm -f "$portable"
python3 - "$portable" "$build" "${files[@]}" <<'PY'
import os, sys, zipfile
archive, build, names = sys.argv[1], sys.argv[2], sys.argv[3:]
with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for name in names:
        z.write(os.path.join(build, name), name)
PY
echo "dist: $(basename "$setup") $(basename "$portable")"
