#!/usr/bin/env bash
# A longer run of the HTTP request fuzzer than the suite's few seconds.
# Usage: bench/bench_web_fuzz.sh [build-dir] [seconds]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/dev}" && pwd)"
seconds="${2:-300}"
corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
"$build/tests/web/fuzz_http_request.bin" -max_total_time="$seconds" -max_len=4096 -timeout=5 -print_final_stats=1 \
    "$corpus" "$root/tests/web/corpus"
