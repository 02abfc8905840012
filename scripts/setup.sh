#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need,
# Chromium for the browser tests included. With --test it also installs the
# CJK fonts the browser tests' screenshots need to be read by eye (test
# machines only; the seller's own browser brings its fonts), and clang with
# its sanitizer and libFuzzer runtimes for the fuzz targets (scripts/fuzz.sh).
# Safe to run again; skips apt-get when everything is already installed.
set -euo pipefail
packages=(
  build-essential cmake ninja-build ccache pkg-config
  libboost-dev libsqlite3-dev sqlite3 libjsoncpp-dev libcurl4-openssl-dev libpcre2-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  libayatana-appindicator3-dev
  curl wrk
  chromium
)
if [ "${1:-}" = "--test" ]; then
  # python3: the mail tests read the sent mails with Python's email package.
  packages+=(fonts-noto-cjk clang libclang-rt-14-dev python3)
  # The tray tests: a virtual X display and a private D-Bus session.
  packages+=(xvfb xauth dbus)
fi
# The browser tests run on Node.js with npm; a machine that has them (from
# any source) keeps its own.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi
bash "$(dirname "$0")/apt-install.sh" "${packages[@]}"
