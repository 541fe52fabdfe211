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

run_suite() {
    local dir=$1
    shift
    echo "=== $dir: build"
    kalvora_build "$dir" "$@"
    echo "=== $dir: tests"
    # Three at a time on two cores: the end-to-end tests spend most of their time waiting for
    # the program's own timers and for the simulated line.
    ctest --test-dir "$dir" --output-on-failure --timeout 900 -j3
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVORA_SANITIZE=
[ "${KALVORA_QUICK:-0}" = 1 ] && exit 0

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Instrumented builds compile at -O1 with line tables only: the sanitizers' own advice, and
# about 40 % less compile time; their reports still name file and line.
sanitizer_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
run_suite build-asan "${sanitizer_flags[@]}" -DKALVORA_SANITIZE=address

# QProcess starts children with a clone that shares memory until exec; ThreadSanitizer then takes
# the parent for a forked child and refuses its next thread. The program itself never forks.
export TSAN_OPTIONS=suppressions=$PWD/tests/sanitizers/tsan.supp:halt_on_error=1:second_deadlock_stack=1:die_after_fork=0
run_suite build-tsan "${sanitizer_flags[@]}" -DKALVORA_SANITIZE=thread
echo "All three builds passed."
