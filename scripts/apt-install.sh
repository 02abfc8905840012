#!/usr/bin/env bash
# Installs with apt-get those of the named Debian packages that are not
# installed yet (with sudo unless run as root); does nothing when every one
# is. Options before the names go to apt-get install.
#
#   bash scripts/apt-install.sh wine64 xvfb
#   bash scripts/apt-install.sh --no-install-recommends xfce4-panel
set -euo pipefail
options=()
while [ $# -gt 0 ] && [ "${1#-}" != "$1" ]; do
  options+=("$1")
  shift
done
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
$sudo_cmd apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${options[@]}" "${missing[@]}"
