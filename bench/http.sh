#!/usr/bin/env bash
# The overview server of `kalvora-cli log --http` under load, against 32 simulated chambers on a
# pseudo-terminal at line speed, read every 4 s:
#   bench/http.sh [SECONDS=60] [CLIENTS=100] [SLOW=10]
# KALVORA_CLI=PATH measures another build's kalvora-cli with the same load (an earlier version).
# prints requests a second, latency percentiles and the logger's CPU while CLIENTS connections
# poll /api/chambers and SLOW never finish a request; then the same for a day's history of one
# chamber, the logger's idle CPU for comparison, and the memory of a full day's history.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
clients=${2:-100}
slow=${3:-10}
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target kalvora-cli kalvora-chamber-sim kalvora-bench-http \
    kalvora-bench-history >/dev/null

work=$(mktemp -d)
sim_pid=
log_pid=
cleanup() {
    [ -n "$log_pid" ] && kill "$log_pid" 2>/dev/null && wait "$log_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# shellcheck disable=SC2046
./build/kalvora-chamber-sim --link "$work/line" --line-speed --delay 2 \
    $(for a in $(seq 1 32); do printf -- '--chamber %d ' "$a"; done) >/dev/null &
sim_pid=$!
for _ in $(seq 50); do [ -e "$work/line" ] && break; sleep 0.1; done
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cli=${KALVORA_CLI:-./build/kalvora-cli}
"$cli" log 1-32 --port "$work/line" --dir "$work" --csv \
    --http "127.0.0.1:$port" 2>"$work/stderr" &
log_pid=$!
sleep 10 # the first rounds

cpu() { awk '{print $14 + $15}' "/proc/$log_pid/stat"; }
ticks=$(getconf CLK_TCK)
before=$(cpu)
sleep "$seconds"
echo "idle (no clients), ${seconds} s: logger CPU $(awk -v a="$before" -v b="$(cpu)" \
    -v t="$ticks" -v s="$seconds" 'BEGIN { printf "%.2f s = %.2f %% of one core", (b - a) / t,
    100 * (b - a) / t / s }')"
echo
./build/bench/kalvora-bench-http "$port" "$log_pid" "$clients" "$seconds" "$slow" /api/chambers
echo
./build/bench/kalvora-bench-http "$port" "$log_pid" 10 "$((seconds / 2))" 0 \
    "/api/chambers/1/history?minutes=1440"
echo
# Rounds kept on time meanwhile: the worst gap between two CSV rows of chamber 1.
awk -F, 'FNR > 1 { split(substr($1, 12, 8), p, ":"); t = p[1] * 3600 + p[2] * 60 + p[3];
    if (last != "" && t - last > worst) worst = t - last; last = t }
    END { printf "worst gap between two readings of chamber 1: %d s (period 4 s)\n", worst }' \
    "$work"/ЖЫМ№1\ *.csv
./build/bench/kalvora-bench-history
