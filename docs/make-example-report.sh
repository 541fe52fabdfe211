#!/usr/bin/env bash
# Makes docs/example-report.pdf and the PNG of its first page from files that kalvora-cli log
# writes against the simulated chamber: program 2 running, the logger stopped for a while (an
# outage) during which program 3 is written and started (a program change), then logging on.
# Takes about four minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target kalvora-cli kalvora-plot kalvora-chamber-sim >/dev/null
# Russian regional formats, as on the lab's machines, where the locale is there.
if locale -a 2>/dev/null | grep -qix 'ru_RU.utf-\?8'; then
    export LC_ALL=ru_RU.UTF-8
fi
work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
./build/kalvora-chamber-sim --link "$work/ttySIM" --chamber 1 --speed-up 60 --rate 8 &
sim_pid=$!
sleep 1
port=(--port "$work/ttySIM")
# temperature, stabilisation hours and minutes, time-to-mode hours and minutes
printf '%s\n' "-20,0,20,0,15" "60,0,20,0,15" "25,0,10,0,10" >"$work/program2.csv"
printf '%s\n' "85,0,25,0,20" "-40,0,25,0,20" >"$work/program3.csv"
./build/kalvora-cli write-program 1 --program 2 --cycles 2 "$work/program2.csv" "${port[@]}"
./build/kalvora-cli start-program 1 2 "${port[@]}"
mkdir "$work/logs"
log() {
    ./build/kalvora-cli log 1 --period 1 --record-every 2 --csv --dir "$work/logs" "${port[@]}" &
    local pid=$!
    sleep "$1"
    kill -TERM "$pid"
    wait "$pid"
}
log 100
./build/kalvora-cli write-program 1 --program 3 --cycles 1 "$work/program3.csv" "${port[@]}"
./build/kalvora-cli start-program 1 3 "${port[@]}"
sleep 15
log 90
rm -rf docs/example-report
mkdir docs/example-report
cp "$work"/logs/* docs/example-report/
./build/kalvora-plot report docs/example-report/* -o docs/example-report.pdf \
    --html docs/example-report.html --title "Пример: термоциклирование на имитаторе" \
    --customer "Пример заказчика"
pdftoppm -r 80 -f 1 -l 1 -png -singlefile docs/example-report.pdf docs/example-report-page1
ls -l docs/example-report* docs/example-report/
