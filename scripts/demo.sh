#!/usr/bin/env bash
# Sets up a fresh machine, builds, and runs vendara in run/ with the stand-in
# services: maker-service (web UI, login scripts, jQuery, messaging
# endpoints) on 18080 and market-sim (the marketplace) on 18090. The seller
# is not logged in at first: "登录淘宝" in the web UI logs in with the demo
# account stored in the settings, and the daemon runs. Ctrl+C ends all three.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
bash scripts/setup.sh
bash scripts/build.sh

maker_port=${MAKER_PORT:-18080}
sim_port=${SIM_PORT:-18090}
account=${DEMO_ACCOUNT:-vendara_demo}
password=${DEMO_PASSWORD:-demo1234}

# jQuery and jQuery UI for the login page, from npm.
vendor=service/vendor
if [ ! -f "$vendor/node_modules/.package-lock.json" ] || [ "$vendor/package-lock.json" -nt "$vendor/node_modules/.package-lock.json" ]; then
  (cd "$vendor" && npm ci --no-audit --no-fund)
fi
# The web UI's chart library (Chart.js), from npm.
if [ ! -f webui/node_modules/.package-lock.json ] || [ webui/package-lock.json -nt webui/node_modules/.package-lock.json ]; then
  (cd webui && npm ci --no-audit --no-fund)
fi

mkdir -p run/tpl
cp build/tpl/vendara2012.db run/tpl/vendara2012.db

build/service/maker-service --port "$maker_port" --webui "$top/webui" --vendor "$top/$vendor/node_modules" &
maker=$!
build/sim/market-sim --port "$sim_port" --account "$account" --password "$password" &
sim=$!
trap 'kill $maker $sim 2>/dev/null || true' EXIT

# On the first run, make the live database from the template and point the
# program at the stand-in services; later runs keep what the seller changed.
if [ ! -f run/vendara2012.db ]; then
  cp run/tpl/vendara2012.db run/vendara2012.db
  sqlite3 run/vendara2012.db \
    "insert into sys_config (key, value) values ('market_base', 'http://127.0.0.1:$sim_port'), ('maker_base', 'http://127.0.0.1:$maker_port');"
fi
# The demo seller's marketplace login, unless the seller stored another:
# login.js fills it in and sends it (taobao_autologin = 1).
for pair in "taobao_user|$account" "taobao_pwd|$password" "taobao_autologin|1"; do
  key=${pair%%|*}
  value=${pair#*|}
  sqlite3 run/vendara2012.db \
    "insert into sys_config (key, value) select '$key', '${value//\'/\'\'}' where not exists (select 1 from sys_config where key = '$key');"
done
echo "Marketplace demo login: $account / $password (stored as taobao_user / taobao_pwd)"

cd run
"$top/build/app/vendara"
