#!/usr/bin/env bash
# Packs a win32 build for Windows users: the NSIS installer, the portable
# archive, a winget manifest for the installer and SHA256SUMS of both, all
# named with the version the build was made with.
# Usage: scripts/make-dist.sh [BUILD_DIR] [DIST_DIR]   (default build/win32 dist)
#
# Signed when FOLDERLANE_SIGN_PFX (a PKCS#12 file) and FOLDERLANE_SIGN_PASSWORD
# are set (see scripts/sign.sh; FOLDERLANE_SIGN_TIMESTAMP adds a time-stamp):
# the three programs, the setup and the uninstaller it writes.
# Unsigned, the output is reproducible: every packed file gets the time
# SOURCE_DATE_EPOCH (by default the commit's time), which makensis also puts
# in the setup's header. FOLDERLANE_RELEASE_URL is the address the manifest
# gives for the setup.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build/win32}" && pwd)
mkdir -p "${2:-$root/dist}"
dist=$(cd "${2:-$root/dist}" && pwd)

version=$(sed -n 's/^#define FOLDERLANE_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/Version.h")
[ -n "$version" ] || { echo "make-dist: no version in $build/generated/Version.h" >&2; exit 1; }
programs=(Folderlane.exe folderlane-send.exe folderlane-open.exe)
files=("${programs[@]}" Nelvoreadme.txt LICENSE.txt)
for file in "${files[@]}"; do
    [ -f "$build/$file" ] || { echo "make-dist: missing $build/$file: build the win32 tree first" >&2; exit 1; }
done

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || stat -c %Y "$root/CMakeLists.txt")
fi
export SOURCE_DATE_EPOCH
signing=""
[ -z "${FOLDERLANE_SIGN_PFX:-}${FOLDERLANE_SIGN_PKCS11_MODULE:-}" ] || signing=1
url=${FOLDERLANE_RELEASE_URL:-https://downloads.folderlane.invalid/Folderlane-$version-setup.exe}

# What setup and the archive hold, in a folder of its own: signed there, and
# all with one time.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
for file in "${files[@]}"; do
    cp "$build/$file" "$stage/"
done
if [ -n "$signing" ]; then
    (cd "$stage" && "$root/scripts/sign.sh" "${programs[@]}")
fi
touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*

setup=$dist/Folderlane-$version-setup.exe
portable=$dist/Folderlane-$version-portable.zip
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DBUILD="$stage" -DROOT="$root" \
    -DOUTFILE="$setup" ${signing:+-DSIGN="$root/scripts/sign.sh"} "$root/installer/Folderlane.nsi"
[ -z "$signing" ] || "$root/scripts/sign.sh" "$setup"

# The shipped files at the top of the archive: unpacked anywhere, they run.
rm -f "$portable"
python3 - "$portable" "$stage" "$SOURCE_DATE_EPOCH" "${files[@]}" <<'PY'
import os, sys, time, zipfile
archive, stage, epoch, names = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:]
# Zip's times start in 1980 and count local time: the epoch's, in UTC.
stamp = max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))
with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for name in names:
        entry = zipfile.ZipInfo(name, stamp)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.external_attr = 0o644 << 16
        with open(os.path.join(stage, name), "rb") as f:
            z.writestr(entry, f.read(), compresslevel=9)
PY

python3 "$root/scripts/winget-manifest.py" "$version" "$setup" "$url" "$dist/winget"
(cd "$dist" && sha256sum "$(basename "$setup")" "$(basename "$portable")" > SHA256SUMS)
echo "dist: $(basename "$setup") $(basename "$portable") SHA256SUMS winget/"
if [ -n "${FOLDERLANE_SIGN_PKCS11_MODULE:-}" ]; then
    echo "dist: signed with the key ${FOLDERLANE_SIGN_KEY:-}"
elif [ -n "$signing" ]; then
    echo "dist: signed with $FOLDERLANE_SIGN_PFX"
else
    echo "dist: unsigned (to sign, see scripts/sign.sh)"
fi
