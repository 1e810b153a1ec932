#!/usr/bin/env bash
# Builds an OVMF X64 platform from Debian's EDK II source with Roster, Hotlatch and the
# optional KcsTransport added the way an integrator adds them (dist/ from `cmake --install`,
# the DSC lines, the FDF snippets), plus the virtual board's support driver, then boots it
# on the virtual board with ipmi_sim and the BMC module behind QEMU's KCS interface and
# checks what the drivers did and what the BMC stored (e2e/run_firmware.py).
#
#   scripts/firmware.sh [--smm] [--build-only] [--no-build-images] [--no-build-firmware] [--os-boot] [runner options...]
#
# --os-boot boots Debian's kernel with our initramfs on the built firmware instead
# (e2e/run_os_boot.py) and judges the runtime phase.
# --smm builds the second platform: OvmfPkgX64 with SMM_REQUIRE (Hotlatch then writes
# through the "SSVS" software SMI) and the SSVS handler in the volume with the SMM drivers,
# in its own output directory and under its own key, so both platforms stay cached; it
# boots as q35 with SMM and secure flash.
#
# Everything EDK II lives outside the clone, in the firmware cache (scripts/common.sh):
# the source package (scripts/setup.sh fetches it; this script never touches apt),
# BaseTools and the platform's build tree, and one finished firmware per key. The key
# covers the source version, the build flags, this script and every file the build takes
# from us, so a second run with nothing changed only boots, and a change of ours reruns
# the EDK II build incrementally (our modules and the flash image only). With
# --no-build-firmware (the ctest run) nothing is built: the firmware for the current key
# must be there, else the run fails and says what to run.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
source scripts/common.sh

EDK2_TOOLCHAIN=GCC5
EDK2_TARGET=RELEASE
EDK2_FLAGS=(-DFD_SIZE_4MB -DBUILD_SHELL=FALSE)
EDK2_JOBS="${EDK2_JOBS:-$JOBS}"
CACHE=$FIRMWARE_CACHE

build_only=0
build_images=1
build_firmware=1
os_boot=0
smm=0
runner_args=()
for arg in "$@"; do
  case "$arg" in
    --build-only) build_only=1 ;;
    --no-build-images) build_images=0 ;;
    --no-build-firmware) build_firmware=0 ;;
    --os-boot) os_boot=1 ;;
    --smm) smm=1 ;;
    *) runner_args+=("$arg") ;;
  esac
done

# Each platform its own DSC and FDF copy and its own OUTPUT_DIRECTORY: an incremental build
# of one never undoes the other.
PLATFORM=RosterHotlatchOvmfPkgX64
OUTPUT_DIR=Build/OvmfX64
smm_name="" smm_flag=""
if [ "$smm" -eq 1 ]; then
  smm_name="SMM " smm_flag="--smm "
  EDK2_FLAGS+=(-DSMM_REQUIRE=TRUE)
  PLATFORM=RosterHotlatchOvmfPkgX64Smm
  OUTPUT_DIR=Build/RosterHotlatchOvmfX64Smm
fi

started=$SECONDS
progress() { echo "firmware: [$((SECONDS - started)) s] $*"; }
missing() {
  echo "firmware: FAIL, missing: $*" >&2
  exit 1
}

build_basetools() {
  local dir=$1
  if [ -f "$dir/.roster-basetools" ]; then
    progress "BaseTools present"
    return
  fi
  [ "$build_firmware" -eq 1 ] || missing "BaseTools in $dir (scripts/firmware.sh --build-only builds them; scripts/test.sh runs it)"
  progress "building BaseTools"
  local t=$SECONDS
  nice make -C "$dir/BaseTools" -j"$EDK2_JOBS" >"$dir/basetools.log" 2>&1 ||
    { tail -n 40 "$dir/basetools.log"; exit 1; }
  touch "$dir/.roster-basetools"
  progress "BaseTools built in $((SECONDS - t)) s"
}

# The integrator's steps, on a copy of the stock DSC and FDF: the INFs in
# [Components.X64], the FV lines in [FV.DXEFV] after the variable drivers, the rules once.
platform_files() {
  local dir=$1
  local dsc=$dir/OvmfPkg/$PLATFORM.dsc fdf=$dir/OvmfPkg/$PLATFORM.fdf
  sed -e "s#^\\(\\s*FLASH_DEFINITION\\s*=\\s*\\).*#\\1OvmfPkg/$PLATFORM.fdf#" \
    -e "s#^\\(\\s*OUTPUT_DIRECTORY\\s*=\\s*\\).*#\\1$OUTPUT_DIR#" \
    "$dir/OvmfPkg/OvmfPkgX64.dsc" >"$dsc"
  grep -q "OUTPUT_DIRECTORY *= *$OUTPUT_DIR\$" "$dsc" || { echo "firmware: no OUTPUT_DIRECTORY in the stock DSC" >&2; exit 1; }
  cat >>"$dsc" <<'DSC'

[Components.X64]
  RosterHotlatchPkg/Roster/Roster.inf
  RosterHotlatchPkg/Hotlatch/Hotlatch.inf
  RosterHotlatchPkg/KcsTransport/KcsTransport.inf
  RosterHotlatchBoardPkg/BoardDxe/BoardDxe.inf
DSC
  # The handler goes where OVMF's SMM drivers are: [FV.DXEFV], with PiSmmCore.
  local handler=""
  if [ "$smm" -eq 1 ]; then
    echo "  RosterHotlatchPkg/SsvsHandler/SsvsHandler.inf" >>"$dsc"
    handler="!include RosterHotlatchPkg/SsvsHandler.fdf.inc"
  fi
  awk -v handler="$handler" '
    /^\[FV\.FVMAIN_COMPACT\]/ && !done {
      print "INF  RuleOverride = ROSTER_HOTLATCH_BINARY RosterHotlatchBoardPkg/BoardDxe/BoardDxe.inf"
      print "!include RosterHotlatchPkg/RosterHotlatch.fdf.inc"
      print "!include RosterHotlatchPkg/KcsTransport.fdf.inc"
      if (handler != "") print handler
      print ""
      done = 1
    }
    { print }
    END { print ""; print "!include RosterHotlatchPkg/RosterHotlatchRules.fdf.inc" }
  ' "$dir/OvmfPkg/OvmfPkgX64.fdf" >"$fdf"
  grep -q 'RosterHotlatch.fdf.inc' "$fdf" || { echo "firmware: no [FV.FVMAIN_COMPACT] in the stock FDF" >&2; exit 1; }
}

stage_modules() {
  local stage=$1
  rm -rf "$stage"
  mkdir -p "$stage"
  cmake --install "$BUILD_DIR" --prefix "$stage" --component firmware >/dev/null
  local board=$stage/RosterHotlatchBoardPkg
  mkdir -p "$board/BoardDxe"
  cp "$ROOT/e2e/board_dxe/RosterHotlatchBoardPkg.dec" "$board/"
  cp "$ROOT/e2e/board_dxe/BoardDxe.inf" "$BUILD_DIR/efi/BoardDxe.efi" "$BUILD_DIR/packaging/BoardDxe.depex" "$board/BoardDxe/"
}

# Keeps the newest few firmwares: each is a few megabytes with its build log.
prune_firmware() {
  local dir=$1 keep=$2
  find "$dir" -mindepth 1 -maxdepth 1 -type d -printf '%T@ %p\n' | sort -rn | tail -n +6 | cut -d' ' -f2- |
    while read -r old; do
      [ "$(basename "$old")" = "$keep" ] || rm -rf "$old"
    done
}

main() {
  if [ "$build_images" -eq 1 ]; then
    progress "building our images (cmake, $BUILD_DIR)"
    if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
      configure_build "$BUILD_DIR" >/dev/null
    fi
    cmake --build "$BUILD_DIR" -j"$JOBS" --target firmware_images Roster_depex Hotlatch_depex KcsTransport_depex \
      SsvsHandler_depex BoardDxe_depex roster_bmc roster-decode >/dev/null
  fi
  local image
  for image in "$BUILD_DIR/efi/BoardDxe.efi" "$BUILD_DIR/packaging/BoardDxe.depex"; do
    [ -f "$image" ] || missing "$image (a build with tests makes it: cmake --build $BUILD_DIR)"
  done

  local version src
  version=$(edk2_version) || missing "the ovmf package (scripts/setup.sh installs it)"
  src=$(edk2_source_dir)
  [ -f "$src/.roster-fetched" ] || missing "EDK II source $version in $src (scripts/setup.sh fetches it)"
  mkdir -p "$CACHE"
  # One EDK II build at a time per cache: the tree, the stage and the keys are shared.
  exec 9>"$CACHE/lock"
  if ! flock -n 9; then
    progress "waiting for another firmware build on $CACHE"
    flock 9
  fi
  progress "EDK II source $version present"
  build_basetools "$src"

  local stage=$CACHE/stage
  stage_modules "$stage"
  local key
  key=$( {
    echo "$EDK2_PACKAGE $version $EDK2_TOOLCHAIN $EDK2_TARGET ${EDK2_FLAGS[*]} $PLATFORM"
    sha256sum <"$ROOT/scripts/firmware.sh"
    (cd "$stage" && find . -type f -print0 | sort -z | xargs -0 sha256sum)
  } | sha256sum | cut -c1-16)
  local out=$CACHE/firmware/$key
  if [ -f "$out/OVMF_CODE.fd" ]; then
    progress "firmware $key cached: no EDK II build"
  elif [ "$build_firmware" -eq 0 ]; then
    missing "the ${smm_name}platform build of these images (key $key) in $CACHE/firmware" \
      "(scripts/firmware.sh ${smm_flag}--build-only builds it; scripts/test.sh runs it)"
  else
    progress "building OVMF X64 $EDK2_TARGET with Roster, Hotlatch, KcsTransport and the board driver (key $key)"
    local t=$SECONDS
    rm -rf "$src/RosterHotlatchPkg" "$src/RosterHotlatchBoardPkg"
    cp -r "$stage/RosterHotlatchPkg" "$stage/RosterHotlatchBoardPkg" "$src/"
    platform_files "$src"
    local log=$CACHE/firmware/build-$key.log
    mkdir -p "$CACHE/firmware"
    # edksetup.sh reads unset variables, so not under set -u.
    if ! (cd "$src" && set +u && export WORKSPACE="$src" PACKAGES_PATH="$src" PYTHON_COMMAND=python3 &&
          unset EDK_TOOLS_PATH CONF_PATH && . ./edksetup.sh >/dev/null &&
          nice build -a X64 -t "$EDK2_TOOLCHAIN" -b "$EDK2_TARGET" -n "$EDK2_JOBS" \
            -p "OvmfPkg/$PLATFORM.dsc" "${EDK2_FLAGS[@]}") >"$log" 2>&1; then
      grep -E "error|Error" "$log" | tail -n 20 || tail -n 20 "$log"
      echo "firmware: EDK II build failed, log in $log" >&2
      exit 1
    fi
    local fv=$src/$OUTPUT_DIR/${EDK2_TARGET}_$EDK2_TOOLCHAIN/FV
    rm -rf "$out.tmp"
    mkdir -p "$out.tmp"
    cp "$fv/OVMF_CODE.fd" "$fv/OVMF_VARS.fd" "$fv/DXEFV.Fv" "$fv/Guid.xref" "$out.tmp/"
    cp "$log" "$out.tmp/build.log"
    mv "$out.tmp" "$out"
    rm -f "$log"
    progress "EDK II build took $((SECONDS - t)) s"
    prune_firmware "$CACHE/firmware" "$key"
  fi
  if [ "$build_only" -eq 1 ]; then
    progress "firmware in $out"
    return
  fi
  if [ "$os_boot" -eq 1 ]; then
    progress "booting an OS on the built firmware"
    [ "$smm" -eq 0 ] || runner_args=(--smm "${runner_args[@]}")
    python3 "$ROOT/e2e/run_os_boot.py" --code "$out/OVMF_CODE.fd" --vars "$out/OVMF_VARS.fd" \
      --hotlatch "$stage/RosterHotlatchPkg/Hotlatch/Hotlatch.efi" --initramfs "$BUILD_DIR/os-initramfs.cpio" \
      "${runner_args[@]}"
    progress "done"
    return
  fi
  progress "booting the virtual board on the built firmware"
  if [ "$smm" -eq 1 ]; then
    runner_args=(--smm --inf "$stage/RosterHotlatchPkg/SsvsHandler/SsvsHandler.inf" "${runner_args[@]}")
  fi
  python3 "$ROOT/e2e/run_firmware.py" --code "$out/OVMF_CODE.fd" --vars "$out/OVMF_VARS.fd" \
    --fv "$out/DXEFV.Fv" --xref "$out/Guid.xref" --volinfo "$src/BaseTools/Source/C/bin/VolInfo" \
    --inf "$stage/RosterHotlatchBoardPkg/BoardDxe/BoardDxe.inf" \
    --inf "$stage/RosterHotlatchPkg/Roster/Roster.inf" --inf "$stage/RosterHotlatchPkg/Hotlatch/Hotlatch.inf" \
    --inf "$stage/RosterHotlatchPkg/KcsTransport/KcsTransport.inf" \
    --bmc-module "$BUILD_DIR/bmc/roster_bmc.so" --roster-decode "$BUILD_DIR/tools/roster-decode/roster-decode" \
    "${runner_args[@]}"
  progress "done"
}

main
