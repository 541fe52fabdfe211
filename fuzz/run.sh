#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each one in turn.
#   fuzz/run.sh [seconds per target, default 60] [target ...]
# Each target keeps its corpus in fuzz/corpus-<target>/ (started from fuzz/seeds/<target>/) and
# writes any crashing input to fuzz/crash-<target>-*. Exits non-zero when a target crashed.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_reply fuzz_integer_text fuzz_input_checks fuzz_alarm_rule
    fuzz_overview_query)
build=build-fuzz

declare -A max_len=([fuzz_reply]=256 [fuzz_integer_text]=128 [fuzz_input_checks]=1024
    [fuzz_alarm_rule]=128 [fuzz_overview_query]=64)

for tool in clang clang++; do
    if ! command -v "$tool" >/dev/null; then
        echo "$tool is missing: apt-get install clang libclang-rt-dev (or libclang-rt-14-dev)" >&2
        exit 2
    fi
done

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DKALVORA_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 2
# Only the fuzz targets: the rest of the program is not meant to be built with these flags.
ninja -C "$build" -j2 "${targets[@]}" >/dev/null || exit 2

# Qt is built without frame pointers, so the fast unwinder records junk frames beyond the first
# two of each allocation made inside Qt; kept in full, those stacks make the memory grow without
# bound. A crash input run by hand (build-fuzz/fuzz/<target> <file>) shows full stacks.
export ASAN_OPTIONS=${ASAN_OPTIONS:-malloc_context_size=2}

# Figures of the last status line ("#123 DONE cov: 151 ft: 266 corp: ...") and the final stats.
field() { grep -oE "$1 [0-9]+" <<<"$2" | tail -1 | awk '{print $2}'; }

failed=0
printf '%-18s %7s %10s %8s %5s %5s %7s %8s %s\n' target seconds executions exec/s cov ft corpus rss_mb result
for target in "${targets[@]}"; do
    corpus=fuzz/corpus-$target
    log=$build/fuzz/$target.log
    mkdir -p "$corpus"
    "$build/fuzz/$target" "$corpus" "fuzz/seeds/$target" \
        -max_total_time="$seconds" -max_len="${max_len[$target]:-4096}" -print_final_stats=1 \
        -artifact_prefix="fuzz/crash-$target-" >"$log" 2>&1
    status=$?

    last=$(grep -E '^#[0-9]+.* cov: ' "$log" | tail -1)
    runs=$(grep -oE 'stat::number_of_executed_units: +[0-9]+' "$log" | awk '{print $2}')
    rss=$(grep -oE 'stat::peak_rss_mb: +[0-9]+' "$log" | awk '{print $2}')
    rate=$(grep -oE 'stat::average_exec_per_sec: +[0-9]+' "$log" | awk '{print $2}')
    result=ok
    if [ $status -ne 0 ] || grep -qE '^==[0-9]+==ERROR|runtime error|invariant failed' "$log"; then
        result="CRASH (exit $status, see $log and fuzz/crash-$target-*)"
        failed=1
    fi
    printf '%-18s %7s %10s %8s %5s %5s %7s %8s %s\n' "$target" "$seconds" "${runs:-?}" "${rate:-?}" \
        "$(field cov: "$last")" "$(field ft: "$last")" "$(ls "$corpus" | wc -l)" "${rss:-?}" "$result"
    [ "$result" = ok ] || grep -m3 -E 'invariant failed|^==[0-9]+==ERROR|runtime error' "$log" |
        sed 's/^/    /'
done
exit $failed
