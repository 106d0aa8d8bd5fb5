#!/usr/bin/env bash
# Signs Windows programs in place with Authenticode (SHA-256), through
# osslsigncode (2.5, Debian 12's, and later). make-dist.sh calls it for the
# programs and the setup, makensis for the uninstaller it writes into setup.
# The key is in one of two places:
# - a token or an HSM, through PKCS#11 (where publicly trusted code-signing
#   keys are kept since 2023): FOLDERLANE_SIGN_PKCS11_MODULE, the token's
#   PKCS#11 library; FOLDERLANE_SIGN_KEY, the key's PKCS#11 URI; and
#   FOLDERLANE_SIGN_CERTS, the certificate with its chain (PEM).
#   Without FOLDERLANE_SIGN_PKCS11_ENGINE, the path of an OpenSSL PKCS#11
#   engine, osslsigncode takes the one installed as "pkcs11" (Debian's
#   libengine-pkcs11-openssl); osslsigncode 2.5 fails on any path ("bad engine
#   id"), so leave it unset there;
# - a PKCS#12 file: FOLDERLANE_SIGN_PFX.
# FOLDERLANE_SIGN_PASSWORD is the token's PIN or the PKCS#12 file's password;
# leave it unset or empty for a token without a PIN or a PKCS#12 file without
# a password (osslsigncode refuses an empty one). osslsigncode reads it
# through /dev/fd from an anonymous file (sign-password.sh), since it reads
# standard input only from 2.9 on.
# FOLDERLANE_SIGN_TIMESTAMP names an RFC 3161 time-stamp server. A release
# (FOLDERLANE_RELEASE_URL set) is not signed without one.
# Instead of a key, FOLDERLANE_SIGNATURES may name a folder of a release's
# published detached signatures (NAME.sig): each is attached to its file as
# it was, so that a rebuild gives the published signed files byte for byte.
# osslsigncode checks that each signature is the file's; its certificates
# are taken as they come (a rebuild is checked against SHA256SUMS).
# FOLDERLANE_SIGNATURES_OUT, when set, receives each file's signature as
# NAME.sig, and FOLDERLANE_UNSIGNED_SUMS each file's SHA-256 before signing.
# Usage: scripts/sign.sh [--name NAME] FILE...   (NAME: the file's name in
# the release, for one made under another, as makensis's uninstaller is)
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/sign-password.sh"
release_name=""
if [ "${1:-}" = "--name" ]; then
    release_name=$2
    shift 2
fi
if [ -n "${FOLDERLANE_SIGNATURES:-}" ]; then
    key=()
elif [ -n "${FOLDERLANE_SIGN_PKCS11_MODULE:-}" ]; then
    : "${FOLDERLANE_SIGN_KEY:?sign: set FOLDERLANE_SIGN_KEY to the PKCS#11 URI of the key}"
    : "${FOLDERLANE_SIGN_CERTS:?sign: set FOLDERLANE_SIGN_CERTS to the certificate file (PEM)}"
    key=(-pkcs11module "$FOLDERLANE_SIGN_PKCS11_MODULE" -key "$FOLDERLANE_SIGN_KEY"
         -certs "$FOLDERLANE_SIGN_CERTS")
    [ -z "${FOLDERLANE_SIGN_PKCS11_ENGINE:-}" ] || key+=(-pkcs11engine "$FOLDERLANE_SIGN_PKCS11_ENGINE")
elif [ -n "${FOLDERLANE_SIGN_PFX:-}" ]; then
    key=(-pkcs12 "$FOLDERLANE_SIGN_PFX")
else
    echo "sign: set FOLDERLANE_SIGN_PKCS11_MODULE (a token), FOLDERLANE_SIGN_PFX (a PKCS#12 file)" \
         "or FOLDERLANE_SIGNATURES (a release's detached signatures)" >&2
    exit 1
fi
timestamp=()
if [ -n "${FOLDERLANE_SIGN_TIMESTAMP:-}" ]; then
    timestamp=(-ts "$FOLDERLANE_SIGN_TIMESTAMP")
elif [ -n "${FOLDERLANE_RELEASE_URL:-}" ] && [ -z "${FOLDERLANE_SIGNATURES:-}" ]; then
    echo "sign: a release is signed only with a time-stamp: without one its signatures stop being" \
         "valid when the certificate expires. Set FOLDERLANE_SIGN_TIMESTAMP to an RFC 3161 server." >&2
    exit 1
fi
readpass=()
[ -z "${FOLDERLANE_SIGN_PASSWORD_FD:-}" ] || readpass=(-readpass "/dev/fd/$FOLDERLANE_SIGN_PASSWORD_FD")
# The signatures' own certificates, with the system's, are what a signature
# being attached is checked against.
certs=$(mktemp)
trap 'rm -f "$certs"' EXIT
for file in "$@"; do
    name=${release_name:-$(basename "$file")}
    [ -z "${FOLDERLANE_UNSIGNED_SUMS:-}" ] ||
        echo "$(sha256sum <"$file" | cut -d' ' -f1)  $name" >>"$FOLDERLANE_UNSIGNED_SUMS"
    if [ -n "${FOLDERLANE_SIGNATURES:-}" ]; then
        signature=$FOLDERLANE_SIGNATURES/$name.sig
        [ -f "$signature" ] || { echo "sign: no signature $signature" >&2; exit 1; }
        { openssl pkcs7 -in "$signature" -print_certs
          cat /etc/ssl/certs/ca-certificates.crt 2>/dev/null || true; } >"$certs"
        command=(attach-signature -sigin "$signature" -CAfile "$certs")
    else
        command=(sign "${key[@]}" "${readpass[@]}" -h sha256 -n Folderlane "${timestamp[@]}")
    fi
    # Quiet when it works; when not, osslsigncode's own words (half of them
    # on standard output) say why: a wrong PIN retried blind locks a token.
    if ! output=$(osslsigncode "${command[@]}" -in "$file" -out "$file.signed" 2>&1 </dev/null); then
        rm -f "$file.signed"
        printf '%s\n' "$output" >&2
        echo "sign: could not sign $file" >&2
        exit 1
    fi
    mv -f "$file.signed" "$file"
    if [ -n "${FOLDERLANE_SIGNATURES_OUT:-}" ]; then
        # PEM: Debian 12's osslsigncode writes the DER form with the PE's
        # own certificate header in front, which nothing else reads.
        osslsigncode extract-signature -pem -in "$file" -out "$FOLDERLANE_SIGNATURES_OUT/$name.sig" >/dev/null
    fi
done
