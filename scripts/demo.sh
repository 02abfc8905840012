#!/usr/bin/env bash
# Sets up a fresh machine, builds, and runs vendara in run/ with the stand-in
# services: maker-service (web UI and messaging endpoints) on 18080 and
# market-sim (the marketplace, logged in) on 18090. Ctrl+C ends all three.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
bash scripts/setup.sh
bash scripts/build.sh

maker_port=${MAKER_PORT:-18080}
sim_port=${SIM_PORT:-18090}
mkdir -p run/tpl
cp build/tpl/vendara2012.db run/tpl/vendara2012.db

build/service/maker-service --port "$maker_port" --webui "$top/webui" &
maker=$!
build/sim/market-sim --port "$sim_port" --open &
sim=$!
trap 'kill $maker $sim 2>/dev/null || true' EXIT

# On the first run, make the live database from the template and point the
# program at the stand-in services; later runs keep what the seller changed.
if [ ! -f run/vendara2012.db ]; then
  cp run/tpl/vendara2012.db run/vendara2012.db
  sqlite3 run/vendara2012.db \
    "insert into sys_config (key, value) values ('market_base', 'http://127.0.0.1:$sim_port'), ('maker_base', 'http://127.0.0.1:$maker_port');"
fi

cd run
"$top/build/app/vendara"
