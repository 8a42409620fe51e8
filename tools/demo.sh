#!/usr/bin/env bash
# The program's main job, end to end: the real vastrel.exe under Wine updates
# a demo account at the reference update server on loopback, then quits
# (/autoexit); the log file is printed. Exits non-zero when no update happened.
#   usage: tools/demo.sh VASTREL_EXE SERVER_BINARY
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
exe=$(realpath "$1")
server=$(realpath "$2")
demo="$here/build/demo"

# Inside a network namespace of its own the program sees a documentation
# address (192.0.2.10) and a global IPv6 one beside loopback, whatever the
# build machine has.
[ -n "${VASTREL_IN_NETNS:-}" ] || exec "$here/tools/in-netns.sh" "$0" "$@"

rm -rf "$demo/run"
mkdir -p "$demo/run"
cp "$exe" "$demo/run/vastrel.exe"
state="$demo/run"

. "$here/tools/reference-server.sh"
trap stop_reference_server EXIT
start_reference_server "$server" "$state" --account demo:demo-secret:myhome.vastrel.example --lifetime 300

hex_port=$(printf '%08x' "$port")
cat >"$state/demo.reg" <<REG
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Brannock\\Vastrel]
"UseProxy"=dword:00000001
"ProxyServer"="127.0.0.1"
"ProxyPort"=dword:$hex_port
"Connection"=dword:00000001
"DetailedLogging"=dword:00000001
"FirstCheck"=dword:00000001

[HKEY_CURRENT_USER\\Software\\Brannock\\Vastrel\\Accounts]
"Count"=dword:00000001

[HKEY_CURRENT_USER\\Software\\Brannock\\Vastrel\\Accounts\\0]
"HostName"="myhome"
"UserName"="demo"
"Password"="demo-secret"
"Server"=dword:00000000
"Update"=dword:00000001
REG

# Wine's own messages and the program's exit code go to a file of their own.
"$here/tools/wine-env.sh" --prefix "$demo/wine-prefix" bash -c '
    set -u
    state=$1
    wine reg delete "HKCU\\Software\\Brannock" /f >/dev/null 2>&1 || true
    wine regedit /S "$(winepath -w "$state/demo.reg")" >/dev/null 2>&1
    timeout 120 wine "$state/vastrel.exe" /autoexit
    echo "vastrel.exe ended with exit code $?"
    wine reg query "HKCU\\Software\\Brannock\\Vastrel\\Accounts\\0" >"$state/account.txt" 2>/dev/null || true
' demo "$state" >"$state/wine.txt" 2>&1 || true

echo "----- the program's log, $demo/run/vastrel.log -----"
tr -d '\r' <"$state/vastrel.log" 2>/dev/null || echo "(no log file)"
echo "-----"
count=$( { exec 3<>"/dev/tcp/127.0.0.1/$port" && printf 'GET /__count?host=myhome.vastrel.example HTTP/1.1\r\n\r\n' >&3 &&
          cat <&3; } 2>/dev/null | tail -n 1)
# LastIP as stored: the address's bytes in network order, read as a little-endian number.
last_ip=$(tr -d '\r' <"$state/account.txt" | awk '$1 == "LastIP" { print $3 }')
if [ "${count:-0}" -ge 1 ] && [ -n "$last_ip" ] && [ "$((last_ip))" -ne 0 ] &&
    grep -q "terminated properly." "$state/vastrel.log"; then
    ip=$((last_ip))
    echo "demo: myhome.vastrel.example now points at $((ip & 255)).$((ip >> 8 & 255)).$((ip >> 16 & 255)).$((ip >> 24 & 255))" \
        "(the server recorded $count update request(s)), and the program quit by itself."
    exit 0
fi
echo "demo: NO UPDATE happened (Wine's messages: $state/wine.txt)" >&2
exit 1
