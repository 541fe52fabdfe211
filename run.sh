#!/usr/bin/env bash
# Installs what is missing, builds, starts the simulated chamber on a pseudo-terminal and the
# program with COM1 pointing at it. Set KALVORA_COM1 yourself to use a real port instead.
# KALVORA_SIM_ARGS adds simulator options (split into words; no shell quoting inside).
# --overview also starts the logger with its overview page at http://127.0.0.1:9731/ (chambers
# 1 and 2 of a second simulated bus as COM2, 3 silent; logs in build/overview/); without a
# display it runs only that, until Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")"
source ./scripts-common.sh

overview=0
case "${1:-}" in
"") ;;
--overview) overview=1 ;;
*)
    echo "Usage: ./run.sh [--overview]" >&2
    exit 2
    ;;
esac

has_display=1
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    has_display=0
    if [ "$overview" = 0 ]; then
        echo "No display found. To try the program without one, run it under a virtual X server:"
        echo "    apt-get install -y xvfb && xvfb-run -s '-screen 0 1280x1024x24' ./run.sh"
        echo "or see the overview page only: ./run.sh --overview"
        exit 1
    fi
fi

kalvora_install_missing "${KALVORA_PACKAGES[@]}"
kalvora_configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Only what runs here; ./test.sh builds the rest.
targets=(kalvora kalvora-chamber-sim)
[ "$overview" = 1 ] && targets+=(kalvora-cli)
cmake --build build --parallel "$(nproc)" --target "${targets[@]}"

sim_pid=""
overview_pids=()
cleanup() {
    for pid in ${overview_pids[@]+"${overview_pids[@]}"} $sim_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}
trap cleanup EXIT

# Waits until the simulator started as $1 has made its link $2.
wait_for_link() {
    for _ in $(seq 50); do
        [ -e "$2" ] && return 0
        kill -0 "$1" 2>/dev/null || return 1
        sleep 0.1
    done
    [ -e "$2" ]
}

if [ "$overview" = 1 ]; then
    # A bus of its own: the logger and the window program never share a port.
    log_link="$PWD/build/ttyKALVORA-SIM-LOG"
    ./build/kalvora-chamber-sim --link "$log_link" --chamber 1 --chamber 2 --speed-up 2 \
        >/dev/null &
    overview_pids+=($!)
    if ! wait_for_link "$!" "$log_link"; then
        echo "The logger's simulated bus did not start." >&2
        exit 1
    fi
    export KALVORA_COM2="$log_link"
    # Chamber 1 heats towards 80 °C, so that its chart moves.
    ./build/kalvora-cli set-point 1 80 --port COM2 >/dev/null
    ./build/kalvora-cli start 1 --port COM2 >/dev/null
    mkdir -p build/overview
    ./build/kalvora-cli log 1,2,3 --port COM2 --dir build/overview --csv --http 127.0.0.1:9731 &
    overview_pids+=($!)
    echo "The overview page: http://127.0.0.1:9731/ (logs in build/overview/)"
    if [ "$has_display" = 0 ]; then
        echo "No display: only the logger runs. Ctrl+C ends it."
        wait "${overview_pids[1]}"
        exit $?
    fi
fi

if [ -z "${KALVORA_COM1:-}" ]; then
    link="$PWD/build/ttyKALVORA-SIM"
    read -r -a sim_args <<<"${KALVORA_SIM_ARGS:-}"
    ./build/kalvora-chamber-sim --link "$link" --chamber 1 --chamber 2 --speed-up 60 \
        ${sim_args[@]+"${sim_args[@]}"} &
    sim_pid=$!
    wait_for_link "$sim_pid" "$link" || true
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        status=0
        wait "$sim_pid" || status=$?
        sim_pid=""
        echo "The simulated chamber ended at start (exit $status); see its message above." >&2
        echo "Options passed to it: --chamber 1 --chamber 2 --speed-up 60 ${KALVORA_SIM_ARGS:-}" >&2
        exit 1
    fi
    if [ ! -e "$link" ]; then
        echo "The simulated chamber did not make $link within 5 seconds." >&2
        exit 1
    fi
    export KALVORA_COM1="$link"
    echo "Simulated chambers 1 and 2 are on COM1 ($link)."
fi

./build/kalvora
