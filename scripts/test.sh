#!/usr/bin/env bash
# Builds and runs every test: the benchmark, which prints its figures, then
# the whole host suite under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

cmake --preset release >/dev/null
cmake --build --preset release
build/release/bench/sambrel_bench --benchmark_min_time=0.2

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize
