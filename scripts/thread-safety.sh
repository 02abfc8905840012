#!/usr/bin/env bash
# Clang's thread-safety check over every source of the program (tests and
# benchmarks left out): each file is parsed once, nothing is compiled, and any
# -Wthread-safety warning fails the run (base/ThreadAnnotations.h says what
# the annotations mean; every other warning is left to the normal build).
# Reads the include paths, definitions and language standard of each file
# from the build's compile_commands.json, so run it after scripts/build.sh.
# Two files at a time (THREAD_SAFETY_JOBS). Prints the files that warn and
# how long the check took.
#
#   bash scripts/thread-safety.sh [BUILD_DIR [FILE...]]
#
# BUILD_DIR defaults to build/ ($BUILD_DIR); FILEs (paths from the top of the
# tree) check only those sources.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-${BUILD_DIR:-build}}
commands="$build_dir/compile_commands.json"
[ -f "$commands" ] || { echo "thread-safety: no $commands (run scripts/build.sh first)" >&2; exit 1; }
command -v clang++ >/dev/null || { echo "thread-safety: clang++ missing (bash scripts/setup.sh --test)" >&2; exit 1; }
shift || true
exec python3 - "$commands" "$PWD" "${THREAD_SAFETY_JOBS:-2}" "$@" <<'PY'
import concurrent.futures, json, os, shlex, subprocess, sys, time

commands, root, jobs = sys.argv[1], os.path.realpath(sys.argv[2]), int(sys.argv[3])
only = {os.path.normpath(name) for name in sys.argv[4:]}
check = ["clang++", "-fsyntax-only", "-Wno-everything", "-Wthread-safety", "-Werror=thread-safety"]
paired = ("-I", "-D", "-U", "-isystem", "-iquote", "-include")

runs, seen = [], set()
for entry in json.load(open(commands)):
    path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    relative = os.path.relpath(path, root)
    if relative.startswith(("..", "tests/", "bench/", "build")) or path in seen or (only and relative not in only):
        continue
    seen.add(path)
    words = entry.get("arguments") or shlex.split(entry["command"])
    flags, i = [], 1
    while i < len(words):
        if words[i] in paired:
            flags += words[i:i + 2]
            i += 2
            continue
        if words[i].startswith(paired + ("-std=",)):
            flags.append(words[i])
        i += 1
    runs.append((relative, entry["directory"], check + flags + [path]))

def run(job):
    relative, directory, argv = job
    done = subprocess.run(argv, cwd=directory, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return relative, done.returncode, done.stdout

start = time.monotonic()
failed = []
with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
    for relative, code, output in pool.map(run, runs):
        if code != 0 or output.strip():
            failed.append(relative)
            sys.stdout.write(output)
print(f"thread-safety: {len(runs)} files in {time.monotonic() - start:.0f} s, {len(failed)} with warnings")
for relative in failed:
    print(f"  {relative}")
sys.exit(1 if failed else 0)
PY
