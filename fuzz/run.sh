#!/usr/bin/env bash
# Runs every fuzzer of the fuzz build for a bounded time over its seed
# corpus. Fails on any crash, hang, leak, out-of-memory or sanitizer report.
# Usage: bash fuzz/run.sh <fuzz build dir> [seconds per fuzzer, default 30]
set -euo pipefail

build=${1:?usage: fuzz/run.sh <fuzz build dir> [seconds per fuzzer]}
seconds=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

status=0
for seeds in "$here"/corpus/*/; do
    target=$(basename "$seeds")
    fuzzer="$build/fuzz/fuzz_$target"
    if [ ! -x "$fuzzer" ]; then
        echo "fuzz: $fuzzer is missing; build the fuzz preset first" >&2
        exit 1
    fi
    # New inputs go to a scratch corpus; the committed seeds are only read.
    mkdir -p "$work/$target/corpus" "$work/$target/artifacts"
    echo "=== fuzz_$target: ${seconds} s over $(ls "$seeds" | wc -l) seeds"
    if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
            -print_final_stats=1 -artifact_prefix="$work/$target/artifacts/" \
            "$work/$target/corpus" "$seeds" >"$work/$target/log" 2>&1; then
        echo "fuzz_$target FAILED:" >&2
        tail -n 60 "$work/$target/log" >&2
        for artifact in "$work/$target/artifacts"/*; do
            [ -e "$artifact" ] || continue
            echo "reproducer: $(basename "$artifact") (base64):" >&2
            base64 -w 76 "$artifact" | head -n 40 >&2
        done
        status=1
        continue
    fi
    grep -E "^stat::(number_of_executed_units|peak_rss_mb)" "$work/$target/log" || true
done
exit $status
