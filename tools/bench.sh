#!/usr/bin/env bash
# make bench: the update run's figures from Release builds, natively and under
# Wine, against one Release reference server.
#   usage: tools/bench.sh BUILD_DIR   (BUILD_DIR/release: native, BUILD_DIR/windows: Windows)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1")
native="$build/release"
windows="$build/windows"
for tree in "$native" "$windows"; do
    type=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$tree/CMakeCache.txt")
    [ "$type" = Release ] || { echo "bench: $tree is a $type build, not Release" >&2; exit 1; }
done
server="$native/tools/update-server/vastrel-update-server"
. "$here/tools/reference-server.sh"
state=$(mktemp -d)
trap 'stop_reference_server; rm -rf "$state"' EXIT
start_reference_server "$server" "$state" --accounts "$here/tests/update/server-accounts.txt" --lifetime 900
echo "== native, Release ($(sed -n 's/^CMAKE_CXX_FLAGS_RELEASE:STRING=//p' "$native/CMakeCache.txt")), Release reference server"
(cd "$state" && "$native/tools/bench/vastrel_bench" "$port")
echo "== Windows build under Wine, Release, same server"
exe="$windows/src/vastrel.exe"
(cd "$state" && "$here/tools/wine-env.sh" --prefix "$build/wine-prefix" bash -c \
    'wine "$0" "$1" 15 30000 "$(winepath -w "$2")"' "$windows/tools/bench/vastrel_bench.exe" "$port" "$exe")
shipped="$windows/tools/dist/stage/vastrel.exe"
echo "== vastrel.exe: $(stat -c %s "$exe") bytes static, $(stat -c %s "$shipped") bytes stripped as shipped"
for package in "$windows"/dist/*; do echo "== $(basename "$package"): $(stat -c %s "$package") bytes"; done
