#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs the whole test suite:
# the C++ tests with ctest, then the browser tests in headless Chromium
# (webui/tests, with playwright-core from npm; no browser is downloaded),
# then the Windows tests, cross-built and run under Wine, then every fuzz
# target for 20 s (scripts/fuzz.sh, clang, build-fuzz/) and the C++ tests
# once more built with AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan/, every report fails the run).
set -euo pipefail
cd "$(dirname "$0")/.."
# ccache keys on paths relative to the checkout, so every clone of the tree
# (a CI run's included) reuses what any other compiled.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1
bash scripts/setup.sh --test
bash scripts/build.sh
build_dir=$(realpath "${BUILD_DIR:-build}")
# Clang's -Wthread-safety over the program's sources: every lock-guarded field touched under its lock.
bash scripts/thread-safety.sh "$build_dir"
# maker-service serves jQuery and jQuery UI from these npm packages.
(cd service/vendor && npm ci --no-audit --no-fund)
# The page's chart library, served by maker-service under /lib/.
(cd webui && npm ci --no-audit --no-fund)
# The package test among them packs both npm folders above.
(cd "$build_dir" && ctest --output-on-failure -j 2 --timeout 300)
# The browser tests save screenshots of every view in $build_dir/screenshots.
(cd webui/tests && npm ci --no-audit --no-fund && VENDARA_BUILD_DIR="$build_dir" npm test)
# The Windows platform layer, IM window steps and updater under Wine
# (about 3 minutes from a machine without MinGW-w64 and Wine).
bash scripts/windows-test.sh
# Every parser on arbitrary input: each fuzz target for 20 s, two at a time.
bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
# The C++ suite under AddressSanitizer and UndefinedBehaviorSanitizer: -O1
# and no benchmarks keep the build short; any report stops its test. The
# one test that measures memory given back to the system runs only above:
# AddressSanitizer holds freed memory in its quarantine.
asan_dir=$(realpath -m "${ASAN_BUILD_DIR:-build-asan}")
BUILD_DIR="$asan_dir" bash scripts/build.sh -DQUORVEL_ASAN=ON -DQUORVEL_BENCH=OFF \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1
(cd "$asan_dir" && ASAN_OPTIONS="halt_on_error=1:detect_leaks=1" \
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" ctest --output-on-failure -j 2 --timeout 600 \
  -E '^ItemActions\.ASixteenMegabyteDeleteListIsRefusedAndItsMemoryGivenBack$')
