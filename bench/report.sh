#!/usr/bin/env bash
# kalvora-plot report on a 30-day log with its readings CSV (43,200 records each, one a minute):
# time and peak resident memory of the PDF and the HTML report. Prints the figures that
# bench/README.md records.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target kalvora-plot kalvora-make-log >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log=$(./build/bench/kalvora-make-log "$work" 43200 3 csv)
csv=${log%.txt}.csv
echo "log: $(stat -c %s "$log") bytes, CSV: $(stat -c %s "$csv") bytes"
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
    measure PDF ./build/kalvora-plot report "$log" "$csv" "${formats[@]}" -o "$work/month.pdf"
    measure HTML ./build/kalvora-plot report "$log" "$csv" "${formats[@]}" --html "$work/month.html"
done
echo "PDF $(stat -c %s "$work/month.pdf") bytes, $(pdfinfo "$work/month.pdf" 2>/dev/null |
    awk '/^Pages/ {print $2}') pages; HTML $(stat -c %s "$work/month.html") bytes"
