#!/usr/bin/env bash
# kalvora-plot on a 30-day log (43,200 records, one a minute): time and peak resident memory of
# the PNG, SVG and CSV outputs. Prints the figures that bench/README.md records.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target kalvora-plot kalvora-make-log >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log=$(./build/bench/kalvora-make-log "$work" 43200 3)
echo "log: $(basename "$log"), $(stat -c %s "$log") bytes"
# The log is written with day.month.year dates and 24-hour times, whatever this machine uses.
formats=(--date-format %d.%m.%Y --time-format %H:%M:%S)

measure() {
    local what=$1
    shift
    /usr/bin/time -v "$@" 2>"$work/time.txt" >/dev/null
    local wall user system rss
    wall=$(grep 'Elapsed (wall clock)' "$work/time.txt" | awk '{print $NF}')
    user=$(grep 'User time' "$work/time.txt" | awk '{print $NF}')
    system=$(grep 'System time' "$work/time.txt" | awk '{print $NF}')
    rss=$(grep 'Maximum resident set size' "$work/time.txt" | awk '{print $NF}')
    printf '%-5s wall %s, CPU %s s user + %s s system, peak resident %s MB\n' \
        "$what" "$wall" "$user" "$system" "$((rss / 1024))"
}

for run in 1 2 3; do
    measure PNG ./build/kalvora-plot "$log" "${formats[@]}" -o "$work/month.png"
    measure SVG ./build/kalvora-plot "$log" "${formats[@]}" -o "$work/month.svg"
    measure CSV ./build/kalvora-plot "$log" "${formats[@]}" --csv "$work/month.csv"
done
echo "PNG $(stat -c %s "$work/month.png") bytes, SVG $(stat -c %s "$work/month.svg") bytes," \
    "CSV $(wc -l <"$work/month.csv") lines"
