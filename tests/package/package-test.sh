#!/usr/bin/env bash
# package-test.sh BUILD_DIR: builds the package, checks what it holds and
# declares, unpacks it into a temporary root and runs the installed launcher
# there with HOME in a temporary folder, without a desktop: it must make the
# data folder, start the program in it (and maker-service beside it when the
# web UI's port is free) and answer getStatus; SIGTERM ends both, exit 0.
set -euo pipefail
build=$(realpath "$1")
tmp=$(mktemp -d)
launcher_pid=""
cleanup() {
  [ -n "$launcher_pid" ] && kill -KILL "$launcher_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -f "$tmp/out.txt" ] && cat "$tmp/out.txt" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$tmp/out" >"$tmp/cpack.txt" 2>&1) || { cat "$tmp/cpack.txt" >&2; fail "cpack"; }
deb=$(ls "$tmp"/out/vendara_*_amd64.deb) || fail "no vendara_VERSION_amd64.deb"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libayatana-appindicator3 libsqlite3 libcurl libjsoncpp sqlite3; do
  [[ "$depends" == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done

root="$tmp/root"
dpkg -x "$deb" "$root"
for file in usr/bin/vendara usr/lib/vendara/vendara usr/lib/vendara/vendara-tray.so usr/lib/vendara/refitter usr/lib/vendara/maker-service \
  usr/share/vendara/tpl/vendara2012.db usr/share/vendara/webui/index.html usr/share/vendara/webui/js/main.js \
  usr/share/vendara/webui/vendara2012/1100/js/login.js \
  usr/share/vendara/webui/node_modules/chart.js/dist/chart.umd.min.js \
  usr/share/vendara/vendor/jquery/tmp/jquery.js usr/share/vendara/vendor/jquery-ui-dist/jquery-ui.min.js \
  usr/share/applications/vendara.desktop usr/share/icons/hicolor/scalable/apps/vendara.svg; do
  [ -f "$root/$file" ] || fail "the package lacks $file"
done
[ -x "$root/usr/bin/vendara" ] || fail "the launcher is not executable"
grep -q '^Exec=vendara$' "$root/usr/share/applications/vendara.desktop" || fail "desktop entry"

# A browser that only notes its argument, found before any real one.
mkdir -p "$tmp/bin" "$tmp/home"
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s"\n' "$tmp/opened.txt" > "$tmp/bin/google-chrome"
chmod +x "$tmp/bin/google-chrome"
service_port_free=1
(exec 3<>/dev/tcp/127.0.0.1/18080) 2>/dev/null && service_port_free=0

env -u DISPLAY -u WAYLAND_DISPLAY HOME="$tmp/home" PATH="$tmp/bin:/usr/bin:/bin" \
  "$root/usr/bin/vendara" >"$tmp/out.txt" 2>&1 &
launcher_pid=$!
address=""
for _ in $(seq 300); do
  address=$(sed -n 's/^Web UI: \(.*\)$/\1/p' "$tmp/out.txt" | head -n 1)
  [ -n "$address" ] && break
  kill -0 "$launcher_pid" 2>/dev/null || fail "the launcher ended early"
  sleep 0.1
done
[ -n "$address" ] || fail "no Web UI line"
port=$(sed -n 's/.*port=\([0-9]*\).*/\1/p' <<<"$address")
key=${address##*#token=}
status=$(curl -s --max-time 10 "http://127.0.0.1:$port/?do=getStatus&callback=cb&token=$key")
[[ "$status" == *'"SUCCESS" : 1'* ]] || fail "getStatus answered: $status"

data="$tmp/home/.local/share/vendara"
[ -f "$data/vendara2012.db" ] || fail "no database in $data"
[ "$(stat -c %a "$data")" = 700 ] || fail "$data is not the owner's alone"
[ -f "$data/launch/open-ui.html" ] || fail "the page was not opened from the data folder"
if [ "$service_port_free" = 1 ]; then
  page=$(curl -s --max-time 10 "http://127.0.0.1:18080/") || true
  [[ "$page" == *"<html"* ]] || fail "maker-service does not serve the web UI: $page"
  [[ "$(curl -s --max-time 10 http://127.0.0.1:18080/lib/chart.umd.min.js | head -c 200)" == *[a-zA-Z]* ]] ||
    fail "maker-service does not serve the chart library"
else
  echo "port 18080 is taken on this machine: the maker-service check is left out"
fi

kill -TERM "$launcher_pid"
code=0
wait "$launcher_pid" || code=$?
launcher_pid=""
[ "$code" = 0 ] || fail "the launcher ended with $code"
if [ "$service_port_free" = 1 ]; then
  (exec 3<>/dev/tcp/127.0.0.1/18080) 2>/dev/null && fail "maker-service still runs after the program ended"
fi
echo "package test passed: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB"
