#!/bin/bash
# Runs a test command in an empty folder, with an empty temporary folder, and
# fails when either holds anything afterwards: tests write only into a
# temporary folder of their own and remove it.
here=$(mktemp -d) && mkdir "$here/cwd" "$here/tmp" || exit 1
trap 'rm -rf "$here"' EXIT
(cd "$here/cwd" && TEST_TMPDIR="$here/tmp" TMPDIR="$here/tmp" "$@") || exit 1
left=$(cd "$here" && find cwd tmp -mindepth 1)
[ -z "$left" ] || { printf 'left behind:\n%s\n' "$left"; exit 1; }
