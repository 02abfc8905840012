#!/usr/bin/env bash
# Takes a picture of the tray menu: Debian's xfce4-panel (its notification
# area shows StatusNotifier items) on Xvfb in a private D-Bus session, the
# built vendara in a temporary data folder, a click on its icon, and the
# screen saved as build/screenshots/tray-menu.png. Not part of the tests;
# installs the panel and xdotool when missing. Run after scripts/build.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build_dir=$(realpath "${BUILD_DIR:-build}")
bash scripts/apt-install.sh --no-install-recommends xfce4-panel xdotool xvfb xauth dbus python3-gi gir1.2-gtk-3.0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/work/tpl" "$tmp/bin" "$tmp/home" "$build_dir/screenshots"
cp "$build_dir/tpl/vendara2012.db" "$tmp/work/tpl/"
printf '#!/bin/sh\n' > "$tmp/bin/xdg-open"   # the page is not opened
chmod +x "$tmp/bin/xdg-open"
cat > "$tmp/grab.py" <<'PY'
import sys, gi
gi.require_version('Gdk', '3.0')
from gi.repository import Gdk
root = Gdk.get_default_root_window()
Gdk.pixbuf_get_from_window(root, 0, 0, root.get_width(), root.get_height()).savev(sys.argv[1], 'png', [], [])
PY
cat > "$tmp/session.sh" <<EOF2
export HOME="$tmp/home"
xfce4-panel --disable-wm-check >/dev/null 2>&1 &
sleep 4
(cd "$tmp/work" && PATH="$tmp/bin:\$PATH" exec "$build_dir/app/vendara" >/dev/null 2>&1) &
sleep 4
# The panel's notification area sits left of the clock, top right.
xdotool mousemove 675 12 click 1
sleep 2
/usr/bin/python3 "$tmp/grab.py" "$build_dir/screenshots/tray-menu.png"
EOF2
timeout 120 xvfb-run -a -s "-screen 0 800x200x24" dbus-run-session -- bash "$tmp/session.sh" >/dev/null 2>&1 || true
ls -l "$build_dir/screenshots/tray-menu.png"
