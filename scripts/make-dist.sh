#!/usr/bin/env bash
# Packs a win32 build for Windows users: the NSIS installer and the portable
# archive, named with the version the build was made with, the licence and
# the read-me, BUILDINFO (what a rebuild needs), SHA256SUMS of them all and a
# winget manifest for the installer.
# Usage: scripts/make-dist.sh [BUILD_DIR] [DIST_DIR]   (default build/win32 dist)
#
# Signed when a key is given (a token or a PKCS#12 file: see scripts/sign.sh):
# the three programs, the setup and the uninstaller it writes.
# Unsigned, the output is reproducible: every packed file, and the setup's PE
# header, gets the time SOURCE_DATE_EPOCH (by default the commit's time).
# FOLDERLANE_RELEASE_URL, the address of the folder where dist/'s files are
# published, makes it a release: the manifest is written only with it, and a
# release is signed only with a time-stamp. FOLDERLANE_PROJECT_URL, the
# project's page, is the manifest's PackageUrl.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build/win32}" && pwd)
mkdir -p "${2:-$root/dist}"
dist=$(cd "${2:-$root/dist}" && pwd)

version=$(sed -n 's/^#define FOLDERLANE_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/Version.h")
[ -n "$version" ] || { echo "make-dist: no version in $build/generated/Version.h" >&2; exit 1; }
programs=(Folderlane.exe folderlane-send.exe folderlane-open.exe)
files=("${programs[@]}" Nelvoreadme.txt LICENSE.txt THIRD-PARTY-NOTICES.txt)
for file in "${files[@]}"; do
    [ -f "$build/$file" ] || { echo "make-dist: missing $build/$file: build the win32 tree first" >&2; exit 1; }
done

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || stat -c %Y "$root/CMakeLists.txt")
fi
export SOURCE_DATE_EPOCH
# Debian's own Python packs the archive, whichever python3 comes first in
# PATH: BUILDINFO names its packages.
python=/usr/bin/python3
signing=""
[ -z "${FOLDERLANE_SIGN_PFX:-}${FOLDERLANE_SIGN_PKCS11_MODULE:-}${FOLDERLANE_SIGNATURES:-}" ] || signing=1
# Once for every signing step, makensis's for the uninstaller too.
. "$root/scripts/sign-password.sh"

# What setup and the archive hold, in a folder of its own: signed there, and
# all with one time.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
# Each signing step leaves the file's detached signature in dist/signatures,
# to publish: a rebuild given them (FOLDERLANE_SIGNATURES, instead of a key)
# attaches them and gives the signed files byte for byte. BUILDINFO gets the
# unsigned files' SHA-256 too.
# (Read from a copy: they may be this very dist folder's.)
if [ -n "${FOLDERLANE_SIGNATURES:-}" ]; then
    published_signatures=$FOLDERLANE_SIGNATURES
    cp -r "$FOLDERLANE_SIGNATURES" "$stage/.signatures"
    export FOLDERLANE_SIGNATURES=$stage/.signatures
fi
rm -rf "$dist/signatures"
if [ -n "$signing" ]; then
    mkdir "$dist/signatures"
    export FOLDERLANE_SIGNATURES_OUT=$dist/signatures FOLDERLANE_UNSIGNED_SUMS=$stage/UNSIGNED
fi
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
# makensis leaves the time its stub was built in the setup's PE header.
"$python" - "$setup" "$SOURCE_DATE_EPOCH" <<'PY'
import struct, sys
with open(sys.argv[1], "r+b") as f:
    f.seek(0x3C)
    header = struct.unpack("<I", f.read(4))[0]
    f.seek(header)
    if f.read(4) != b"PE\0\0":
        sys.exit(f"make-dist: {sys.argv[1]} is no PE file")
    f.seek(header + 8)
    f.write(struct.pack("<I", int(sys.argv[2]) & 0xFFFFFFFF))
PY
[ -z "$signing" ] || "$root/scripts/sign.sh" "$setup"

# The shipped files at the top of the archive: unpacked anywhere, they run.
rm -f "$portable"
"$python" - "$portable" "$stage" "$SOURCE_DATE_EPOCH" "${files[@]}" <<'PY'
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

cp "$stage/LICENSE.txt" "$stage/THIRD-PARTY-NOTICES.txt" "$stage/Nelvoreadme.txt" "$dist/"
{
    "$root/scripts/buildinfo.sh" "$build" "$version" "$signing"
    if [ -n "$signing" ]; then
        echo "Unsigned-SHA256:"
        sed 's/^/ /' "$FOLDERLANE_UNSIGNED_SUMS"
    fi
} >"$dist/BUILDINFO"
published=("$(basename "$setup")" "$(basename "$portable")" LICENSE.txt THIRD-PARTY-NOTICES.txt Nelvoreadme.txt BUILDINFO)
(cd "$dist" && sha256sum "${published[@]}" >SHA256SUMS)
rm -rf "$dist/winget"
if [ -n "${FOLDERLANE_RELEASE_URL:-}" ]; then
    "$python" "$root/scripts/winget-manifest.py" "$version" "$setup" "$FOLDERLANE_RELEASE_URL" "$dist/winget" \
        "${FOLDERLANE_PROJECT_URL:-}"
    echo "dist: ${published[*]} SHA256SUMS winget/"
else
    echo "dist: ${published[*]} SHA256SUMS"
    echo "dist: no winget manifest (set FOLDERLANE_RELEASE_URL to the address dist/ is published at)"
fi
if [ -n "${FOLDERLANE_SIGN_PKCS11_MODULE:-}" ]; then
    echo "dist: signed with the key ${FOLDERLANE_SIGN_KEY:-}"
elif [ -n "$signing" ]; then
    echo "dist: signed with ${FOLDERLANE_SIGN_PFX:-the signatures in $published_signatures}"
else
    echo "dist: unsigned (to sign, see scripts/sign.sh)"
fi
