#!/usr/bin/env bash
# The lab's page (`kalvora-cli lab`) under load, on loopback: two simulated buses of 16 chambers
# each at line speed, a real logger on each, Debian's Prometheus scraping both every 5 s, and the
# lab's page over that Prometheus:
#   bench/lab.sh [SECONDS=60] [CLIENTS=100] [SLOW=10]
# prints the lab's idle CPU, then requests a second, latency percentiles and the lab's CPU while
# CLIENTS connections poll /api/lab and SLOW never finish a request, and how many queries
# Prometheus answered meanwhile (the answer is made at most once every 4 s, whoever asks).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
clients=${2:-100}
slow=${3:-10}
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target kalvora-cli kalvora-chamber-sim kalvora-bench-http >/dev/null

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

targets=
for bench in 1 2; do
    mkdir -p "$work/bench$bench"
    # shellcheck disable=SC2046
    ./build/kalvora-chamber-sim --link "$work/bench$bench/line" --line-speed --delay 2 \
        $(for a in $(seq 1 16); do printf -- '--chamber %d ' "$a"; done) >/dev/null &
    pids+=($!)
    for _ in $(seq 50); do [ -e "$work/bench$bench/line" ] && break; sleep 0.1; done
    port=$(free_port)
    ./build/kalvora-cli log 1-16 --port "$work/bench$bench/line" --dir "$work/bench$bench" \
        --http "127.0.0.1:$port" 2>"$work/bench$bench/stderr" &
    pids+=($!)
    targets+="      - targets: ['127.0.0.1:$port']
        labels: {bench: bench$bench}
"
done

prometheus_port=$(free_port)
cat >"$work/prometheus.yml" <<EOF
global:
  scrape_interval: 5s
scrape_configs:
  - job_name: kalvora
    static_configs:
$targets
EOF
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
    --web.listen-address="127.0.0.1:$prometheus_port" --log.level=warn 2>"$work/prometheus.log" &
prometheus_pid=$!
pids+=($prometheus_pid)
lab_port=$(free_port)
./build/kalvora-cli lab --prometheus "http://127.0.0.1:$prometheus_port" \
    --http "127.0.0.1:$lab_port" 2>"$work/lab.stderr" &
lab_pid=$!
pids+=($lab_pid)

# Until /api/lab holds all 32 chambers.
for _ in $(seq 120); do
    chambers=$(curl -fsS "http://127.0.0.1:$lab_port/api/lab" 2>/dev/null |
        python3 -c 'import json, sys; print(sum(len(b["chambers"]) for b in json.load(sys.stdin)["benches"]))' \
        2>/dev/null || echo 0)
    [ "$chambers" = 32 ] && break
    sleep 1
done
[ "$chambers" = 32 ] || { echo "the lab never showed 32 chambers" >&2; exit 1; }
bytes=$(curl -fsS "http://127.0.0.1:$lab_port/api/lab" | wc -c)
echo "/api/lab: 2 benches, 32 chambers, $bytes bytes"

cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; }
queries() {
    curl -fsS "http://127.0.0.1:$prometheus_port/metrics" |
        awk '/^prometheus_http_requests_total\{.*handler="\/api\/v1\/query"/ { n += $2 } END { print n + 0 }'
}
ticks=$(getconf CLK_TCK)
share() { awk -v a="$1" -v b="$2" -v t="$ticks" -v s="$3" \
    'BEGIN { printf "%.2f s = %.2f %% of one core", (b - a) / t, 100 * (b - a) / t / s }'; }

before=$(cpu $lab_pid)
sleep "$seconds"
echo "idle (no clients), ${seconds} s: lab CPU $(share "$before" "$(cpu $lab_pid)" "$seconds")"
echo

asked=$(queries)
prometheus_before=$(cpu $prometheus_pid)
./build/bench/kalvora-bench-http "$lab_port" "$lab_pid" "$clients" "$seconds" "$slow" /api/lab
prometheus_after=$(cpu $prometheus_pid)
echo "Prometheus meanwhile: $(($(queries) - asked)) queries answered," \
    "CPU $(share "$prometheus_before" "$prometheus_after" "$seconds")"
