#!/usr/bin/env bash
# make bench: the update run's figures natively and under Wine, one server.
#   usage: tools/bench.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1")
server="$build/native/tools/update-server/vastrel-update-server"
. "$here/tools/reference-server.sh"
state=$(mktemp -d)
trap 'stop_reference_server; rm -rf "$state"' EXIT
start_reference_server "$server" "$state" --accounts "$here/tests/update/server-accounts.txt" --lifetime 900
echo "== native"
(cd "$state" && "$build/native/tools/bench/vastrel_bench" "$port")
echo "== Windows build under Wine"
(cd "$state" && "$here/tools/wine-env.sh" wine "$build/windows/tools/bench/vastrel_bench.exe" "$port")
echo "== vastrel.exe: $(stat -c %s "$build/windows/src/vastrel.exe") bytes (static, stripped: no)"
