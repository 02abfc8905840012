#!/usr/bin/env bash
# vendara: the installed program's launcher. The program finds every file by
# a name relative to its working directory, so the seller's data lives in
# ~/.local/share/vendara/: the launcher makes that folder (owner only), puts
# the package's database template in it and starts the program there. When
# maker_base is its built-in default (the web UI on this machine), the
# package's maker-service serves the web UI while the program runs and is
# stopped with it. SIGTERM, SIGINT and SIGUSR1 reach the program.
set -euo pipefail
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
prefix=$(dirname "$here")
lib="$prefix/lib/vendara"
share="$prefix/share/vendara"
default_maker="http://127.0.0.1:18080"

data="$HOME/.local/share/vendara"
mkdir -p "$data"
chmod 700 "$data"
cd "$data"
mkdir -p tpl
# The template of this package: a first start makes the database from it,
# and a later one adds what a newer template brings.
cp -f "$share/tpl/vendara2012.db" tpl/vendara2012.db

maker_base=""
if [ -f vendara2012.db ] && command -v sqlite3 >/dev/null; then
  maker_base=$(sqlite3 -readonly vendara2012.db \
    "select value from sys_config where key = 'maker_base'" 2>/dev/null || true)
fi
maker_base=${maker_base%/}

service=""
if [ -z "$maker_base" ] || [ "$maker_base" = "$default_maker" ]; then
  "$lib/maker-service" --port 18080 --webui "$share/webui" --vendor "$share/vendor" >/dev/null &
  service=$!
  # The program opens the page at once: wait (at most 5 s) until it is served.
  for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.1/18080) 2>/dev/null && break
    kill -0 "$service" 2>/dev/null || break
    sleep 0.1
  done
fi

"$lib/vendara" &
program=$!
trap 'kill -TERM $program 2>/dev/null || true' TERM INT
trap 'kill -USR1 $program 2>/dev/null || true' USR1
# wait returns early whenever a trapped signal arrives; go on until the
# program itself has ended, and keep its exit status.
status=0
while :; do
  if wait "$program"; then status=0; else status=$?; fi
  kill -0 "$program" 2>/dev/null || break
done
if [ -n "$service" ]; then
  kill -TERM "$service" 2>/dev/null || true
  wait "$service" 2>/dev/null || true
fi
exit "$status"
