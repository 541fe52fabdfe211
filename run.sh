#!/usr/bin/env bash
# Installs what is missing, builds, starts the simulated chamber on a pseudo-terminal and the
# program with COM1 pointing at it. Set KALVORA_COM1 yourself to use a real port instead.
# KALVORA_SIM_ARGS adds simulator options (split into words; no shell quoting inside).
set -euo pipefail
cd "$(dirname "$0")"
source ./scripts-common.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found. To try the program without one, run it under a virtual X server:"
    echo "    apt-get install -y xvfb && xvfb-run -s '-screen 0 1280x1024x24' ./run.sh"
    exit 1
fi

kalvora_install_missing "${KALVORA_PACKAGES[@]}"
kalvora_configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Only what runs here; ./test.sh builds the rest.
cmake --build build --parallel "$(nproc)" --target kalvora kalvora-chamber-sim

sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

if [ -z "${KALVORA_COM1:-}" ]; then
    link="$PWD/build/ttyKALVORA-SIM"
    read -r -a sim_args <<<"${KALVORA_SIM_ARGS:-}"
    ./build/kalvora-chamber-sim --link "$link" --chamber 1 --chamber 2 --speed-up 60 \
        ${sim_args[@]+"${sim_args[@]}"} &
    sim_pid=$!
    for _ in $(seq 50); do
        [ -e "$link" ] && break
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.1
    done
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
