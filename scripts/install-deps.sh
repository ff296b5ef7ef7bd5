#!/usr/bin/env bash
# Installs the Debian 12 packages the kit needs to build and test, when any
# is missing. Needs root (or sudo) only when something has to be installed.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libtomlplusplus-dev nlohmann-json3-dev
  firmware-linux-free   # real PC Card CIS images under /lib/firmware/cis
  # 32-bit x86 Linux cross compiler: modemsim32, which runs MODEM.SYS itself
  gcc-i686-linux-gnu g++-i686-linux-gnu
  # Cross tools for the target images MODEM.SYS and DIALTRIM.EXE
  gcc-mingw-w64-i686 binutils-mingw-w64-i686
  # Wine, with its 32-bit part, runs DIALTRIM.EXE in the tests
  wine wine32:i386
  clang libclang-rt-14-dev   # libFuzzer for the harnesses of scripts/fuzz.sh
)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
# 32-bit Wine comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
echo "install-deps: installing ${missing[*]}" >&2
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
