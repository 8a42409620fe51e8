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
# TLS listeners whose valid certificate names loopback and the hosts this
# tree was built for, signed by a test authority made for this run.
tls_names=(--tls-name localhost)
for setting in VASTREL_UPDATE_HOST VASTREL_MAKER_HOST; do
    name=$(sed -n "s/^$setting:STRING=//p" "$build/CMakeCache.txt")
    [ -n "$name" ] && tls_names+=(--tls-name "$name")
done
mkdir "$state/tls"
start_reference_server "$server" "$state" --accounts "$here/tests/update/server-accounts.txt" \
    --slow-ms 1500 --lifetime 1500 --tls-dir "$state/tls" "${tls_names[@]}"
export VASTREL_TEST_PORT=$port
VASTREL_TEST_TLS_PORTS=$(tr ' \n' '= ' <"$state/tls/ports")
export VASTREL_TEST_TLS_PORTS

cd "$build"
if [ "$wine" = "--wine" ]; then
    # A Wine prefix beside the build tree: suites of two trees can run at once.
    "$here/tools/with-test-ca.sh" "$state/tls/ca.pem" \
        "$here/tools/wine-env.sh" --prefix "$build/../wine-prefix" ctest --output-on-failure --timeout 600 ${CTEST_ARGS:-}
else
    # OpenSSL's roots for this run: the test authority alone.
    export SSL_CERT_FILE="$state/tls/ca.pem" VASTREL_TEST_CA_TRUSTED=1
    ctest --output-on-failure --timeout 600 ${CTEST_ARGS:-}
fi
