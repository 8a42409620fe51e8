#!/usr/bin/env bash
# make bench: the update run's figures natively and under Wine, one server.
#   usage: tools/bench.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1")
server="$build/native/tools/update-server/vastrel-update-server"
state=$(mktemp -d)
"$server" --accounts "$here/tests/update/server-accounts.txt" --port 0 --port-file "$state/port" --lifetime 900 \
    >"$state/server.out" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true; rm -rf "$state"' EXIT
for _ in $(seq 1 100); do [ -s "$state/port" ] && break; sleep 0.05; done
port=$(cat "$state/port")
echo "== native"
(cd "$state" && "$build/native/tools/bench/vastrel_bench" "$port")
echo "== Windows build under Wine"
(cd "$state" && "$here/tools/wine-env.sh" wine "$build/windows/tools/bench/vastrel_bench.exe" "$port")
echo "== vastrel.exe: $(stat -c %s "$build/windows/src/vastrel.exe") bytes (static, stripped: no)"
