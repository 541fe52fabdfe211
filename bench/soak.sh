#!/usr/bin/env bash
# Reads and logs for MINUTES (default 30) against two simulated chambers, then reports cycles,
# decoded replies, link-lost events, log records written against expected, and memory.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target kalvora-bench kalvora-chamber-sim
./build/bench/kalvora-bench soak "${1:-30}"
