#!/usr/bin/env bash
# Runs one build tree's tests against a reference update server of its own.
#   usage: tests/run-suite.sh BUILD_DIR SERVER_BINARY [--wine]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# The Windows suite runs the real program, which registers one of the
# machine's own addresses: give it a namespace with a known one.
if [ "${3:-}" = "--wine" ] && [ -z "${VASTREL_IN_NETNS:-}" ]; then exec "$here/tools/in-netns.sh" "$0" "$@"; fi
build=$(realpath "$1")
server=$(realpath "$2")
wine=${3:-}

state=$(mktemp -d)
"$server" --accounts "$here/tests/update/server-accounts.txt" --port 0 --port-file "$state/port" \
    --slow-ms 1500 --lifetime 1500 >"$state/server.out" 2>&1 &
server_pid=$!
trap 'kill $server_pid 2>/dev/null || true; wait $server_pid 2>/dev/null || true; rm -rf "$state"' EXIT
for _ in $(seq 1 100); do
    [ -s "$state/port" ] && break
    sleep 0.05
done
[ -s "$state/port" ] || { echo "run-suite: the reference server did not start" >&2; cat "$state/server.out" >&2; exit 1; }
export VASTREL_TEST_PORT=$(cat "$state/port")

cd "$build"
if [ "$wine" = "--wine" ]; then
    "$here/tools/wine-env.sh" ctest --output-on-failure --timeout 600 ${CTEST_ARGS:-}
else
    ctest --output-on-failure --timeout 600 ${CTEST_ARGS:-}
fi
