#!/usr/bin/env bash
# Figures of kalvora-cli against simulated chambers on a pseudo-terminal at line speed:
#   bench/cli.sh round       a round over 32 chambers (2 ms turnaround), beside mbpoll
#   bench/cli.sh scan        scan 0..250 --tries 1 --timeout 20, chambers 0, 125, 250 after 15 ms
#   bench/cli.sh soak [MIN]  CPU and memory of `log` over 32 chambers every 4 s (default 30 min)
#   bench/cli.sh backoff [S] 32 chambers, 8 of them silent, default options, for S seconds
#                            (default 300): gaps between readings of a live chamber, and between
#                            the asks of a silent one
set -euo pipefail
cd "$(dirname "$0")/.."
source ./scripts-common.sh
kalvora_install_missing mbpoll
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target kalvora-cli kalvora-chamber-sim >/dev/null

work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

start_sim() {
    ./build/kalvora-chamber-sim --link "$work/line" --line-speed "$@" >"$work/sim.out" &
    sim_pid=$!
    for _ in $(seq 50); do [ -e "$work/line" ] && return; sleep 0.1; done
    echo "simulator did not start" >&2
    exit 1
}

chambers_1_to_32() { for a in $(seq 1 32); do printf -- '--chamber %d ' "$a"; done; }

backoff() {
    local seconds=${1:-300}
    # shellcheck disable=SC2046
    start_sim $(for a in $(seq 1 24); do printf -- '--chamber %d ' "$a"; done) --delay 2
    QT_LOGGING_RULES="kalvora.line.debug=true" timeout -s TERM "$seconds" \
        ./build/kalvora-cli log 1-32 --port "$work/line" --dir "$work" 2>"$work/trace" || true
    awk '
        function s(t) { split(substr(t, 12, 12), p, ":"); return (p[1] * 60 + p[2]) * 60 + p[3] }
        function report(name, n, g,    i, j, t, late) {
            for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (g[j] < g[i]) { t = g[i]; g[i] = g[j]; g[j] = t }
            for (i = 1; i <= n; i++) if (g[i] > 6) late++
            printf "%s: %d gaps, median %.2f s, worst %.2f s, %d over 6 s\n", name, n, g[int((n + 1) / 2)], g[n], late
        }
        $3 == "tx" && $4 == "01" { if (live) lg[++ln] = s($2) - live; live = s($2) }
        $3 == "tx" && $4 == "20" { if (quiet && s($2) - quiet > 1) qg[++qn] = s($2) - quiet; quiet = s($2) }
        END { report("live chamber 1, between readings", ln, lg)
              report("silent chamber 32, between asks", qn, qg) }' "$work/trace"
}

round() {
    # shellcheck disable=SC2046
    start_sim $(chambers_1_to_32) --delay 2
    echo "floor: 32 x (43 bytes x 10 bits / 57600 + 2 ms + 1.75 ms) = 359 ms"
    # kalvora-cli: the line trace time-stamps every frame; a round runs from the request to
    # chamber 1 to the reply of chamber 32.
    QT_LOGGING_RULES="kalvora.line.debug=true" timeout -s TERM 12 \
        ./build/kalvora-cli log 1-32 --port "$work/line" --period 1 --record-every 3600 \
        --dir "$work" 2>"$work/trace" || true
    awk '
        function ms(t) { split(substr(t, 12, 12), p, ":"); return (p[1] * 60 + p[2]) * 60000 + p[3] * 1000 }
        function close_round() { if (start && end) { n++; sum += end - start } start = end = last = 0 }
        $3 == "tx" && $4 == "01" { close_round(); start = ms($2) }
        $3 == "tx" && $4 == "20" { last = 1 }
        $3 == "rx" && last { end = ms($2) }
        END { close_round(); printf "kalvora-cli: %d rounds, mean %.1f ms a round\n", n, sum / n }' "$work/trace"
    # mbpoll (libmodbus): the same 15 input registers from the same 32 chambers, one pass each run.
    best=999999
    for _ in 1 2 3 4 5; do
        t0=$(date +%s%N)
        mbpoll -m rtu -b 57600 -P none -d 8 -s 1 -a 1:32 -t 3 -r 1 -c 15 -1 -o 0.5 \
            "$work/line" >"$work/mbpoll.out" 2>&1
        t1=$(date +%s%N)
        ms=$(( (t1 - t0) / 1000000 ))
        [ "$ms" -lt "$best" ] && best=$ms
    done
    echo "mbpoll: best of 5 passes $best ms (process start included)," \
        "$(grep -c 'Polling slave' "$work/mbpoll.out") chambers polled," \
        "$(grep -ci 'fail' "$work/mbpoll.out") failures in the last pass"
}

scan() {
    start_sim --chamber 0 --chamber 125 --chamber 250 --delay 15
    /usr/bin/time -f "scan: %e s wall, %U s user, %S s system" \
        ./build/kalvora-cli scan --port "$work/line" --tries 1 --timeout 20
}

soak() {
    local minutes=${1:-30}
    # shellcheck disable=SC2046
    start_sim $(chambers_1_to_32) --delay 2
    ./build/kalvora-cli log 1-32 --port "$work/line" --dir "$work" --csv &
    local pid=$!
    ticks=$(getconf CLK_TCK)
    cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
    rss() { awk '/VmRSS/ {print $2}' "/proc/$pid/status"; }
    sleep 10
    local cpu0 rss0
    cpu0=$(cpu); rss0=$(rss)
    echo "after 10 s: RSS ${rss0} kB"
    for m in $(seq 1 "$minutes"); do
        sleep 60
        echo "minute $m: RSS $(rss) kB, CPU $(( ($(cpu) - cpu0) * 1000 / ticks )) ms so far"
    done
    local used=$(( ($(cpu) - cpu0) * 1000 / ticks ))
    kill -TERM "$pid"; wait "$pid"
    echo "CPU over $minutes min: $used ms = $(awk -v u="$used" -v m="$minutes" 'BEGIN { printf "%.3f", u / (m * 600) }') % of a core"
    echo "rows in the CSV of chamber 1: $(($(cat "$work"/*№1\ *.csv | wc -l) - 1))"
}

"${1:-round}" "${@:2}"
