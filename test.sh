#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a plain build, then once with
# AddressSanitizer + UndefinedBehaviorSanitizer and once with ThreadSanitizer. Exits non-zero on
# any failure or sanitizer report. KALVORA_QUICK=1 runs the plain build only.
set -euo pipefail
cd "$(dirname "$0")"
source ./scripts-common.sh

kalvora_install_missing "${KALVORA_PACKAGES[@]}" "${KALVORA_PACKAGING_PACKAGES[@]}" \
    "${KALVORA_TEST_PACKAGES[@]}"
kalvora_generate_locales "${KALVORA_TEST_LOCALES[@]}"

phase() {
    echo "=== $* ($(date +%T), ${SECONDS} s in)"
}

run_tests() {
    phase "$1: tests"
    # Three at a time on two cores: the end-to-end tests spend most of their time waiting for
    # the program's own timers and for the simulated line.
    ctest --test-dir "$1" --output-on-failure --timeout 900 -j3
}

# The next tree compiles at the lowest priority while the tests of the tree before it run, in
# the cores those tests leave idle, and at the usual priority once they are done (where the user
# may raise it back: root, as in CI), so that other work on the machine cannot starve it. It runs
# in a session of its own, so that the script can end it whole; where the kernel groups a
# session's processes for the scheduler (autogroup), the group's priority is lowered as well,
# since a process's own nice then counts only within its group. Its output goes to <tree>.log,
# shown if it fails.
background_pid=""
trap '[ -z "$background_pid" ] || kill -- "-$background_pid" 2>/dev/null || true' EXIT
start_build() {
    local dir=$1
    shift
    phase "$dir: build starts beside the tests"
    setsid nice -n 19 bash -c '{ echo 19 >/proc/self/autogroup; } 2>/dev/null
        source ./scripts-common.sh && kalvora_build "$@"' build "$dir" "$@" >"$dir.log" 2>&1 &
    background_pid=$!
}
finish_build() {
    local dir=$1 status=0
    renice --priority 0 -g "$background_pid" >/dev/null 2>&1 || true
    { echo 0 >"/proc/$background_pid/autogroup"; } 2>/dev/null || true
    wait "$background_pid" || status=$?
    background_pid=""
    if [ "$status" -ne 0 ]; then
        cat "$dir.log"
        echo "=== $dir: build failed" >&2
        exit "$status"
    fi
    phase "$dir: built"
}

# Line tables are enough for a failing test's backtrace, and full debug information made the
# compiler take a fifth longer.
phase "build: build"
kalvora_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVORA_SANITIZE= \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
if [ "${KALVORA_QUICK:-0}" = 1 ]; then
    run_tests build
    exit 0
fi

# Instrumented builds compile at -O1 with line tables only: the sanitizers' own advice, and
# about 40 % less compile time; their reports still name file and line.
sanitizer_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
start_build build-asan "${sanitizer_flags[@]}" -DKALVORA_SANITIZE=address
run_tests build
finish_build build-asan

start_build build-tsan "${sanitizer_flags[@]}" -DKALVORA_SANITIZE=thread
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_tests build-asan
finish_build build-tsan

# QProcess starts children with a clone that shares memory until exec; ThreadSanitizer then takes
# the parent for a forked child and refuses its next thread. The program itself never forks.
export TSAN_OPTIONS=suppressions=$PWD/tests/sanitizers/tsan.supp:halt_on_error=1:second_deadlock_stack=1:die_after_fork=0
run_tests build-tsan
phase "All three builds passed."
