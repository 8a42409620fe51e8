#!/usr/bin/env bash
# Runs every fuzz target for a while and prints what each did.
#   usage: tools/fuzz.sh FUZZ_BUILD_DIR SECONDS_PER_TARGET
# Each target starts from the seeds in tests/fuzz/corpus/<target> (kept in
# the repository) and grows a working corpus of its own in the build tree.
# Findings (crash-, leak-, timeout- files) land in FUZZ_BUILD_DIR/findings;
# the script then exits 1.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1")
seconds=$2
targets=(fuzz_reply fuzz_request fuzz_settings_text fuzz_retrieve fuzz_version fuzz_dialog_text fuzz_checkip fuzz_service_reply fuzz_server_request)
mkdir -p "$build/findings"
printf '%-20s %12s %8s %8s %9s\n' target runs cov ft findings
found=0
for t in "${targets[@]}"; do
    work="$build/corpus/$t"
    mkdir -p "$work"
    seeds="$here/tests/fuzz/corpus/$t"
    log="$build/$t.log"
    before=$(ls "$build/findings" | grep -c "^$t-" || true)
    set +e
    ASAN_OPTIONS=detect_leaks=1 "$build/tests/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/findings/$t-" "$work" "$seeds" >"$log" 2>&1
    status=$?
    set -e
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo 0)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo 0)
    after=$(ls "$build/findings" | grep -c "^$t-" || true)
    new=$((after - before))
    printf '%-20s %12s %8s %8s %9s\n' "$t" "$runs" "$cov" "$ft" "$new"
    if [ "$status" -ne 0 ] || [ "$new" -ne 0 ]; then
        found=1
        echo "  $t exited with $status; its log: $log" >&2
        tail -40 "$log" >&2
    fi
done
exit $found
