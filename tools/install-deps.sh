#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those missing: a machine that has them
# all is left alone. The one list of them; the other scripts and CI call this one.
#   tools/install-deps.sh [GROUP...]    groups (default: all of them):
#     build     compile the programs          test      the native tests
#     lint      clang-format and clang-tidy   fuzz      the libFuzzer programs (clang)
#     windows   the MinGW build and Wine      package   the .deb (CPack)
# Installing takes root: run as root, or with sudo where it is there.
set -euo pipefail

declare -A groups=(
    # help2man makes ostrevan-sim's man page from its --help; libudev lists the serial ports;
    # nlohmann-json writes the reports (header-only, the Windows build takes the same header)
    [build]="cmake g++ make help2man pkg-config libudev-dev nlohmann-json3-dev"
    # objcopy, srec_cat and the ARM linker make the S-record, Intel HEX and ELF files that the
    # image tests read back
    [test]="libgtest-dev libgmock-dev binutils binutils-arm-none-eabi srecord"
    [lint]="clang-format clang-tidy"
    [fuzz]="clang libclang-rt-14-dev"
    # MinGW-w64 has no packaged GoogleTest: the Windows build compiles Debian's sources of it
    [windows]="g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest wine64 wine xvfb fonts-wine"
    [package]="dpkg-dev file"
)
order=(build test lint fuzz windows package)

wanted=("$@")
[ ${#wanted[@]} -gt 0 ] || wanted=("${order[@]}")
packages=()
for group in "${wanted[@]}"; do
    if [ -z "${groups[$group]+set}" ]; then
        echo "install-deps: no group '$group' (groups: ${order[*]})" >&2
        exit 2
    fi
    read -ra list <<<"${groups[$group]}"
    packages+=("${list[@]}")
done

if ! command -v dpkg >/dev/null; then
    echo "install-deps: not a Debian system; install the equivalents of: ${packages[*]}" >&2
    exit 0
fi
installed=" $(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null |
    awk '$4 == "installed" { printf "%s ", $1 }' || true)"
missing=()
for p in "${packages[@]}"; do
    [[ "$installed" == *" $p "* ]] || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

echo "install-deps: installing ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "install-deps: as root, run: apt-get update && apt-get install ${missing[*]}" >&2
        exit 1
    fi
    sudo=(sudo)
fi
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
