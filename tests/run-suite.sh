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

. "$here/tools/reference-server.sh"
state=$(mktemp -d)
trap 'stop_reference_server; rm -rf "$state"' EXIT
start_reference_server "$server" "$state" --accounts "$here/tests/update/server-accounts.txt" \
    --slow-ms 1500 --lifetime 1500
export VASTREL_TEST_PORT=$port

cd "$build"
if [ "$wine" = "--wine" ]; then
    "$here/tools/wine-env.sh" ctest --output-on-failure --timeout 600 ${CTEST_ARGS:-}
else
    ctest --output-on-failure --timeout 600 ${CTEST_ARGS:-}
fi
