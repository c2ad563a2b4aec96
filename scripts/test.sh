#!/usr/bin/env bash
# Builds and runs every test: the benchmarks, which print their figures; the
# registry file loader's fuzz target for 30 seconds; then the whole host
# suite under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

cmake --preset release >/dev/null
cmake --build --preset release
build/release/bench/sambrel_bench --benchmark_min_time=0.2

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
build/fuzz/fuzz/regfile_fuzz -max_total_time=30 -print_final_stats=1 "$corpus" fuzz/corpus 2>&1 | tail -n 4

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize
