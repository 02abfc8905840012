#!/usr/bin/env bash
# Builds every libFuzzer target with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) into build-fuzz/ (or $FUZZ_BUILD_DIR) and runs
# each for SECONDS (default 30) on its seed corpus (<folder>/fuzz/corpus/NAME)
# and dictionary (<folder>/fuzz/NAME.dict, else <folder>/fuzz/fuzz.dict).
# What a run finds (crash-*, leak-*, timeout-* files) is left in
# build-fuzz/findings/NAME/; the new inputs it made stay in
# build-fuzz/corpus/NAME/ for the next run. FUZZ_JOBS targets run at once
# (default 2). Extra arguments name the targets to run (default: all).
# With FUZZ_TESTS=ON the build holds the C++ suite too (built here with the
# targets, so that one clang build serves the fuzzing and the suite's
# sanitizer pass; scripts/test.sh runs the suite there afterwards).
#
#   bash scripts/fuzz.sh            # every target, 30 s each
#   bash scripts/fuzz.sh 300 http_request_fuzz
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
build_dir=${FUZZ_BUILD_DIR:-build-fuzz}
jobs=${FUZZ_JOBS:-2}

if ! command -v clang++ >/dev/null || ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "install ok installed"; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq clang libclang-rt-14-dev
fi

tests=${FUZZ_TESTS:-OFF}
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_FUZZ=ON \
  -DQUORVEL_TESTS="$tests" -DQUORVEL_BENCH=OFF >/dev/null
if [ "$tests" = ON ]; then
  cmake --build "$build_dir" -j "${JOBS:-2}"
else
  cmake --build "$build_dir" -j "${JOBS:-2}" --target quorvel_fuzz
fi

# Every fuzz target's program and its source folder: build-fuzz/X/fuzz/NAME.
mapfile -t programs < <(find "$build_dir" -path '*/fuzz/*_fuzz' -type f -perm -u+x | sort)
if [ $# -gt 0 ]; then
  wanted=" $* "
  selected=()
  for program in "${programs[@]}"; do
    [[ "$wanted" == *" $(basename "$program") "* ]] && selected+=("$program")
  done
  programs=("${selected[@]}")
fi
[ ${#programs[@]} -gt 0 ] || { echo "fuzz.sh: no fuzz target found" >&2; exit 1; }

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"

run_one() {
  local program=$1
  local name source fuzz_dir dict log
  name=$(basename "$program")
  source=$(dirname "${program#"$build_dir"/}")
  fuzz_dir=$PWD/$source
  dict=()
  if [ -f "$fuzz_dir/$name.dict" ]; then dict=(-dict="$fuzz_dir/$name.dict");
  elif [ -f "$fuzz_dir/fuzz.dict" ]; then dict=(-dict="$fuzz_dir/fuzz.dict"); fi
  mkdir -p "$build_dir/corpus/$name" "$build_dir/findings/$name"
  log=$build_dir/findings/$name/run.log
  # New inputs go to the first corpus folder (the build's), never into the tree.
  if "$program" -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build_dir/findings/$name/" "${dict[@]}" \
      "$build_dir/corpus/$name" "$fuzz_dir/corpus/$name" >"$log" 2>&1; then
    local runs speed
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    printf '%-22s ok     %10s runs %8s exec/s\n' "$name" "${runs:-?}" "${speed:-?}"
  else
    printf '%-22s FAILED (see %s)\n' "$name" "$log"
    grep -E 'ERROR|runtime error|SUMMARY|Test unit written' "$log" | head -5
    return 1
  fi
}

failed=0
running=0
for program in "${programs[@]}"; do
  run_one "$program" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
if [ "$failed" -ne 0 ]; then
  echo "fuzz.sh: a fuzz target found a fault" >&2
  exit 1
fi
