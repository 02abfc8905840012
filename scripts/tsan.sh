#!/usr/bin/env bash
# Builds with ThreadSanitizer into build-tsan/ (or $BUILD_DIR) and runs every
# test whose suite name carries "Threads" (the multi-threaded tests).
# Extra arguments go to ctest, e.g. `bash scripts/tsan.sh -R StoreThreads`.
set -euo pipefail
cd "$(dirname "$0")/.."
export BUILD_DIR=${BUILD_DIR:-build-tsan}
bash scripts/build.sh -DQUORVEL_TSAN=ON -DQUORVEL_BENCH=OFF
cd "$BUILD_DIR"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
ctest --output-on-failure -j 2 -R Threads "$@"
