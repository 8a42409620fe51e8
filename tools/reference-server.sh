# Sourced by the scripts that need the reference update server:
#   start_reference_server SERVER_BINARY STATE_DIR [SERVER OPTIONS...]
# starts it on a free loopback port, waits for it, and sets server_pid and
# port; stop_reference_server ends it. A server that does not start ends the
# calling script with its output.
server_pid=""
port=""

start_reference_server() {
    local binary=$1 state=$2
    shift 2
    "$binary" --port 0 --port-file "$state/port" "$@" >"$state/server.out" 2>&1 &
    server_pid=$!
    for _ in $(seq 1 100); do
        [ -s "$state/port" ] && break
        sleep 0.05
    done
    if [ ! -s "$state/port" ]; then
        echo "the reference server did not start:" >&2
        cat "$state/server.out" >&2
        exit 1
    fi
    port=$(cat "$state/port")
}

stop_reference_server() {
    [ -n "$server_pid" ] || return 0
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
}
