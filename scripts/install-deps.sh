#!/usr/bin/env bash
# Installs, by Debian package name, whatever the build and the tests need
# and the machine lacks: every program they call. Does nothing when
# everything is there. `make check-fresh` proves the list on a stock Debian.
set -euo pipefail

need=()
have() { command -v "$1" >/dev/null 2>&1; }
pkg_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have cmake || need+=(cmake)
have make || need+=(make)
have g++ || need+=(g++)
# clang with its own sanitizer and fuzzer runtime: without a clang, the two
# of the same default version; with one, the runtime of its major version.
if have clang; then
    clang_major=$(clang -dumpversion)
    pkg_installed "libclang-rt-${clang_major%%.*}-dev" || need+=("libclang-rt-${clang_major%%.*}-dev")
else
    need+=(clang libclang-rt-dev)
fi
have i686-w64-mingw32-g++ || need+=(g++-mingw-w64-i686 mingw-w64-i686-dev)
have i686-w64-mingw32-windres || need+=(binutils-mingw-w64-i686)
have wine || need+=(wine)
pkg_installed wine32:i386 || need+=(wine32:i386)
have Xvfb || need+=(xvfb)
have xdotool || need+=(xdotool)
have xwininfo || need+=(x11-utils)
have import || need+=(imagemagick)
# Debian's own: make-dist.sh packs with it.
[ -x /usr/bin/python3 ] || need+=(python3)
have valgrind || need+=(valgrind)
have makensis || need+=(nsis)
have osslsigncode || need+=(osslsigncode)
have git || need+=(git)
# The signing tests: a throwaway certificate and a local time-stamp server,
# and a software token with the PKCS#11 engine that osslsigncode takes.
have openssl || need+=(openssl)
have softhsm2-util || need+=(softhsm2)
pkg_installed libengine-pkcs11-openssl || need+=(libengine-pkcs11-openssl)
# `make check-fresh` makes a stock Debian with it.
have debootstrap || need+=(debootstrap)
# The winget manifest's check against its published JSON schemas.
pkg_installed python3-yaml || need+=(python3-yaml)
pkg_installed python3-jsonschema || need+=(python3-jsonschema)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
pkg_installed locales || need+=(locales)
# Wine in a Japanese locale runs with the double-byte code page 932.
japanese=""
locale -a 2>/dev/null | grep -qix 'ja_JP.utf8' || japanese=ja_JP.UTF-8

[ ${#need[@]} -eq 0 ] && [ -z "$japanese" ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
if [ ${#need[@]} -gt 0 ]; then
    echo "Installing: ${need[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
if [ -n "$japanese" ]; then
    echo "Generating the locale $japanese"
    $sudo localedef -i ja_JP -f UTF-8 "$japanese"
fi
