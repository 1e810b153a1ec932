#!/usr/bin/env bash
# Installs what the build, the tests and the real-firmware runs need (Debian 12 packages),
# asking apt only for what is missing, and fetches the EDK II source the platform build
# takes into the firmware cache (scripts/firmware.sh builds it; the tests only use it).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

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

if [ "$(id -u)" -ne 0 ] && ! command -v sudo >/dev/null 2>&1; then
  can_be_root=0
else
  can_be_root=1
fi

# apt's own output goes to a log; a person sees one line per step and the log's path.
log=""
apt_step() {
  if [ -z "$log" ]; then
    log="$(mktemp "${TMPDIR:-/tmp}/roster-hotlatch-setup.XXXXXX.log")"
    echo "setup: apt output in $log"
  fi
  if ! "$@" >>"$log" 2>&1; then
    echo "setup: '$*' failed; the end of $log:" >&2
    tail -n 20 "$log" >&2
    exit 1
  fi
}

install_packages() {
  local missing=() package
  for package in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all packages present"
    return
  fi
  if [ "$can_be_root" -eq 0 ]; then
    echo "setup: missing ${missing[*]} and not root; install them and run again" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  echo "setup: updating the package lists"
  apt_step as_root apt-get update
  echo "setup: installing (this can take a few minutes)"
  apt_step as_root apt-get install -y "${missing[@]}"
}

# A deb-src entry for the suites the machine already uses, then the source package of the
# installed ovmf's release, unpacked into the cache.
fetch_edk2_source() {
  local version dir
  version=$(edk2_version)
  dir=$(edk2_source_dir)
  if [ -f "$dir/.roster-fetched" ]; then
    echo "setup: EDK II source $version present"
    return
  fi
  echo "setup: fetching EDK II source $version (Debian source package $EDK2_PACKAGE) into $FIRMWARE_CACHE"
  if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    if [ "$can_be_root" -eq 0 ]; then
      echo "setup: no deb-src entry in apt's sources and not root; add one and run again" >&2
      exit 1
    fi
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
        as_root tee /etc/apt/sources.list.d/roster-hotlatch-src.sources >/dev/null
    else
      grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
        as_root tee /etc/apt/sources.list.d/roster-hotlatch-src.list >/dev/null
    fi
    apt_step as_root apt-get update
  fi
  mkdir -p "$FIRMWARE_CACHE"
  # The platform build holds this lock while it uses the tree.
  exec 9>"$FIRMWARE_CACHE/lock"
  flock 9
  local fetch=$dir.fetch unpacked
  rm -rf "$fetch" "$dir"
  mkdir -p "$fetch"
  apt_step bash -c 'cd "$1" && apt-get source "$2"' fetch "$fetch" "$EDK2_PACKAGE=$version"
  unpacked=$(find "$fetch" -mindepth 1 -maxdepth 1 -type d -name "$EDK2_PACKAGE-*" | head -n 1)
  [ -n "$unpacked" ] || { echo "setup: apt-get source left no $EDK2_PACKAGE directory" >&2; exit 1; }
  mv "$unpacked" "$dir"
  rm -rf "$fetch"
  touch "$dir/.roster-fetched"
  exec 9>&-
  echo "setup: EDK II source in $dir"
}

install_packages
fetch_edk2_source
echo "setup: done"
