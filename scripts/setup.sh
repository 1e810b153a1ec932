#!/usr/bin/env bash
# Installs what the build, the tests and the real-firmware runs need (Debian 12 packages),
# asking apt only for what is missing.
set -euo pipefail

PACKAGES=(clang lld cmake make googletest libgtest-dev libgmock-dev qemu-system-x86 ovmf python3
  libclang-rt-14-dev  # libFuzzer and the sanitizer runtimes for clang 14
  openipmi libopenipmi-dev ipmitool  # the BMC module: ipmi_sim, its module headers, a real IPMI client
  gcc g++ nasm acpica-tools uuid-dev dpkg-dev xz-utils)  # EDK II BaseTools and OVMF (scripts/firmware.sh)

if ! command -v dpkg-query >/dev/null 2>&1 || ! command -v apt-get >/dev/null 2>&1; then
  echo "setup: no apt here, so nothing was installed. Install what these Debian 12 packages" >&2
  echo "setup: provide with your system's package manager, then run again:" >&2
  echo "setup:   ${PACKAGES[*]}" >&2
  exit 1
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

# apt's own output goes to a log; a person sees one line per step and the log's path.
log="$(mktemp "${TMPDIR:-/tmp}/roster-hotlatch-setup.XXXXXX.log")"
echo "setup: installing ${missing[*]} (apt output in $log)"
export DEBIAN_FRONTEND=noninteractive
apt_step() {
  if ! "${sudo_cmd[@]}" "$@" >>"$log" 2>&1; then
    echo "setup: '$*' failed; the end of $log:" >&2
    tail -n 20 "$log" >&2
    exit 1
  fi
}
echo "setup: updating the package lists"
apt_step apt-get update
echo "setup: installing (this can take a few minutes)"
apt_step apt-get install -y "${missing[@]}"
echo "setup: done"
