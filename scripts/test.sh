#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs the whole test suite:
# the C++ tests with ctest, then the browser tests in headless Chromium
# (webui/tests, with playwright-core from npm; no browser is downloaded),
# then the Windows tests, cross-built and run under Wine, then one clang
# build (build-fuzz/) with AddressSanitizer, UndefinedBehaviorSanitizer and
# the lock-annotation check: every fuzz target for 20 s (scripts/fuzz.sh),
# then the C++ tests once more (every report fails the run).
set -euo pipefail
cd "$(dirname "$0")/.."
# ccache keys on paths relative to the checkout, so every clone of the tree
# (a CI run's included) reuses what any other compiled.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1
bash scripts/setup.sh --test
bash scripts/build.sh
build_dir=$(realpath "${BUILD_DIR:-build}")
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
# One clang build for the rest: clang checks every lock annotation as it
# compiles (a guarded field touched without its lock fails the build), and
# AddressSanitizer with UndefinedBehaviorSanitizer watch both passes.
# Every parser on arbitrary input: each fuzz target for 20 s, two at a time.
fuzz_dir=$(realpath -m "${FUZZ_BUILD_DIR:-build-fuzz}")
FUZZ_BUILD_DIR="$fuzz_dir" FUZZ_TESTS=ON bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
# The C++ suite under the sanitizers; any report stops its test. Two tests
# run only above: the one that measures memory given back to the system
# (AddressSanitizer holds freed memory in its quarantine), and the one that
# exhausts the process's file descriptors (the sanitizer checks a member
# call's dynamic type through a pipe, which cannot open then: false reports).
(cd "$fuzz_dir" && ASAN_OPTIONS="halt_on_error=1:detect_leaks=1" \
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" ctest --output-on-failure -j 2 --timeout 600 \
  -E '^(ItemActions\.ASixteenMegabyteDeleteListIsRefusedAndItsMemoryGivenBack|AcceptErrors\.AreRetriedAfterAPauseAndTheConnectionIsServedLater)$')
