#!/usr/bin/env bash
# Runs a command in a private mount namespace in which the system's CA bundle
# also holds a test authority, so that Wine's CRYPT32 (which takes its roots
# from that bundle) trusts it; sets VASTREL_TEST_CA_TRUSTED=1 there. Start the
# Wine environment inside it. Without root it runs the command as it is.
#   usage: tools/with-test-ca.sh CA_PEM COMMAND [ARGS...]
set -euo pipefail
bundle=/etc/ssl/certs/ca-certificates.crt
ca=$(realpath "$1")
shift
if [ -z "${VASTREL_IN_MOUNTNS:-}" ]; then
    if [ "$(id -u)" -eq 0 ] && [ -f "$bundle" ] && command -v unshare >/dev/null; then
        VASTREL_IN_MOUNTNS=1 exec unshare --mount --propagation private "$0" "$ca" "$@"
    fi
    echo "with-test-ca: cannot make the test authority trusted here" >&2
    exec "$@"
fi
copy=$(mktemp)
cat "$bundle" "$ca" >"$copy"
if mount --bind "$copy" "$bundle"; then
    export VASTREL_TEST_CA_TRUSTED=1
else
    echo "with-test-ca: cannot make the test authority trusted here" >&2
fi
rm -f "$copy"
exec "$@"
