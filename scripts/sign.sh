#!/usr/bin/env bash
# Signs Windows programs in place with Authenticode, through osslsigncode:
# the certificate and key from the PKCS#12 file FOLDERLANE_SIGN_PFX, opened
# with FOLDERLANE_SIGN_PASSWORD (read from standard input, so that no process
# list shows it), and a time-stamp from the RFC 3161 server
# FOLDERLANE_SIGN_TIMESTAMP when one is named. make-dist.sh calls it for the
# programs and the setup, makensis for the uninstaller it writes into setup.
# Usage: scripts/sign.sh FILE...
set -euo pipefail
: "${FOLDERLANE_SIGN_PFX:?sign: set FOLDERLANE_SIGN_PFX to a PKCS#12 file}"
: "${FOLDERLANE_SIGN_PASSWORD?sign: set FOLDERLANE_SIGN_PASSWORD}"
timestamp=()
[ -z "${FOLDERLANE_SIGN_TIMESTAMP:-}" ] || timestamp=(-ts "$FOLDERLANE_SIGN_TIMESTAMP")
for file in "$@"; do
    printf '%s' "$FOLDERLANE_SIGN_PASSWORD" |
        osslsigncode sign -pkcs12 "$FOLDERLANE_SIGN_PFX" -readpass - -h sha256 \
            -n Folderlane "${timestamp[@]}" -in "$file" -out "$file.signed" >/dev/null ||
        { rm -f "$file.signed"; echo "sign: could not sign $file" >&2; exit 1; }
    mv -f "$file.signed" "$file"
done
