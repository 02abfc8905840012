#!/usr/bin/env bash
# Builds the Debian package build/vendara_VERSION_amd64.deb (CPack): the
# programs, the web UI with its npm libraries, the database template, the
# desktop entry and the icon. Install it with
#   sudo apt install ./build/vendara_*_amd64.deb
# and start "Vendara" from the desktop's menu (or `vendara`).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
for dir in webui service/vendor; do
  if [ ! -f "$dir/node_modules/.package-lock.json" ] || [ "$dir/package-lock.json" -nt "$dir/node_modules/.package-lock.json" ]; then
    (cd "$dir" && npm ci --no-audit --no-fund)
  fi
done
bash scripts/build.sh
build_dir=${BUILD_DIR:-build}
(cd "$build_dir" && cpack -G DEB >/dev/null && ls "$PWD"/vendara_*_amd64.deb)
