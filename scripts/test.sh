#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs the whole test suite:
# the C++ tests with ctest, then the browser tests in headless Chromium
# (webui/tests, with playwright-core from npm; no browser is downloaded),
# then the Windows tests, cross-built and run under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --test
bash scripts/build.sh
build_dir=$(realpath "${BUILD_DIR:-build}")
(cd "$build_dir" && ctest --output-on-failure -j 2 --timeout 300)
# maker-service serves jQuery and jQuery UI from these npm packages.
(cd service/vendor && npm ci --no-audit --no-fund)
# The page's chart library, served by maker-service under /lib/.
(cd webui && npm ci --no-audit --no-fund)
# The browser tests save screenshots of every view in $build_dir/screenshots.
(cd webui/tests && npm ci --no-audit --no-fund && VENDARA_BUILD_DIR="$build_dir" npm test)
# The Windows platform layer, IM window steps and updater under Wine
# (about 3 minutes from a machine without MinGW-w64 and Wine).
bash scripts/windows-test.sh
