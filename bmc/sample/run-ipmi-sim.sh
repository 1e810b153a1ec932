#!/usr/bin/env bash
# Runs ipmi_sim as the board's BMC with the inventory module, on 127.0.0.1:
#
#   run-ipmi-sim.sh [--lan-port N] [--kcs-port N] [--module PATH] [--options TEXT] STATEDIR
#
# LAN (ipmitool -I lan -H 127.0.0.1 -p N -U ipmiusr -P test) on 9001 and the VM socket QEMU
# connects to on 9002 unless told otherwise. The module stores in STATEDIR/roster-bmc unless
# --options names another statedir=. ipmi_sim replaces this script's process, so its pid is
# this script's.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
LAN_PORT=9001
KCS_PORT=9002
MODULE=$HERE/roster_bmc.so
OPTIONS=""
while [[ $# -gt 1 ]]; do
  case $1 in
    --lan-port) LAN_PORT=$2 ;;
    --kcs-port) KCS_PORT=$2 ;;
    --module) MODULE=$2 ;;
    --options) OPTIONS=$2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
if [[ $# -ne 1 ]]; then
  echo "usage: $0 [--lan-port N] [--kcs-port N] [--module PATH] [--options TEXT] STATEDIR" >&2
  exit 2
fi
if [[ $OPTIONS == *'"'* || $MODULE == *'"'* ]]; then
  echo "the module path and options cannot hold a double quote" >&2
  exit 2
fi
STATE=$(mkdir -p "$1" && cd "$1" && pwd)
MODULE=$(cd "$(dirname "$MODULE")" && pwd)/$(basename "$MODULE")
# The fields are filled by plain text replacement: escape what sed would read as syntax.
escape() { printf '%s' "$1" | sed -e 's/[\\&|]/\\&/g'; }
sed -e "s|@LAN_PORT@|$LAN_PORT|" -e "s|@KCS_PORT@|$KCS_PORT|" -e "s|@MODULE@|$(escape "$MODULE")|" \
    -e "s|@OPTIONS@|$(escape "$OPTIONS")|" "$HERE/lan.conf.in" >"$STATE/lan.conf"
cp "$HERE/emu.cmd" "$STATE/emu.cmd"
exec ipmi_sim -c "$STATE/lan.conf" -f "$STATE/emu.cmd" -s "$STATE" -n
