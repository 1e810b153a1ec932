#!/usr/bin/env bash
# Installs what the build, the tests and the real-firmware runs need (Debian 12 packages),
# asking apt only for what is missing.
set -euo pipefail

PACKAGES=(clang lld cmake make googletest libgtest-dev libgmock-dev qemu-system-x86 ovmf python3
  libclang-rt-14-dev  # libFuzzer and the sanitizer runtimes for clang 14
  gcc g++ nasm acpica-tools uuid-dev dpkg-dev xz-utils)  # EDK II BaseTools and OVMF (scripts/firmware.sh)

if ! command -v dpkg-query >/dev/null 2>&1; then
  echo "setup: not a Debian system; install these yourself: ${PACKAGES[*]}" >&2
  exit 0
fi

missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "setup: missing ${missing[*]} and not root; install them and run again" >&2
    exit 1
  fi
  sudo_cmd=(sudo)
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" apt-get install -y "${missing[@]}"
