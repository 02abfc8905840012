#!/usr/bin/env bash
# The Windows tests: installs Debian's MinGW-w64 cross compiler, Wine and
# Xvfb, cross-builds the Windows platform layer, the IM window steps, the
# updater and their tests into build-win32/ (or $WIN32_BUILD_DIR) with the
# toolchain file cmake/mingw-w64-x86_64.cmake, and runs every test with ctest
# under xvfb-run and wine64 in a fresh Wine prefix, with code page 936 (a
# zh_CN locale made in a temporary folder).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++-mingw-w64-x86-64-posix wine64 xvfb xauth locales)
bash scripts/apt-install.sh "${packages[@]}"

build_dir=${WIN32_BUILD_DIR:-build-win32}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BENCH=OFF >/dev/null
cmake --build "$build_dir" -j "${JOBS:-2}"

scratch=$(mktemp -d)
cleanup() {
  WINEPREFIX="$scratch/prefix" wineserver -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# Windows takes its ANSI code page from the locale: zh_CN gives 936 (GBK),
# as on the sellers' systems. Only the Wine processes get the locale.
localedef -i zh_CN -f UTF-8 "$scratch/zh_CN.UTF-8" 2>/dev/null || true
locale=(env LOCPATH="$scratch" LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8)
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wine=/usr/lib/wine/wine64
build_abs=$(realpath "$build_dir")
reg=$(realpath tests/win32/wine/desktop.reg)
# One X server and one Wine server for the whole run; every test is a Wine
# process of its own.
cat >"$scratch/run.sh" <<SCRIPT
set -e
wineserver -p
${locale[*]} $wine wineboot -i >/dev/null 2>&1 || true
${locale[*]} $wine regedit /S '$reg'
cd '$build_abs'
${locale[*]} ctest --output-on-failure --timeout 300
SCRIPT
xvfb-run -a -s "-screen 0 1024x768x24" bash "$scratch/run.sh"
