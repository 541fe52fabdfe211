#!/usr/bin/env bash
# Builds and runs the monitoring measurements; prints the figures that bench/README.md records.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target kalvora-bench kalvora-chamber-sim
./build/bench/kalvora-bench exchange
./build/bench/kalvora-bench cpu
