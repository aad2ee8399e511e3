#!/usr/bin/env bash
# Builds the libFuzzer target of the text-file layer with clang, as a CMake
# project of its own, and runs each for a bounded time from fresh seeds:
#
#   bash tests/fuzz/run.sh [SECONDS]      (default 60 s for each target)
#
# Prints each target's executions, speed and coverage, and exits non-zero
# when any target crashes, trips a sanitizer or breaks a property it checks;
# the input that did it is then shrunk and printed in hex.
#
# Settings from the environment:
#   FUZZ_BUILD_DIR     build folder (default: build-fuzz at the repository root)
#   FUZZ_CORPUS_DIR    keeps each target's corpus between runs (default: a
#                      fresh corpus in the build folder every time)
#   FUZZ_ARTIFACT_DIR  where failing inputs go (default: in the build folder)
#   FUZZ_TARGETS       the targets to run, separated by spaces (default: all)
#   FUZZ_ARGS          further libFuzzer options for every target
set -euo pipefail

seconds=${1:-60}
[[ $seconds =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [SECONDS]" >&2 && exit 2; }
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
artifacts=${FUZZ_ARTIFACT_DIR:-$build/artifacts}
corpora=${FUZZ_CORPUS_DIR:-$build/corpus}

# The sanitizer and libFuzzer runtimes are in libclang-rt-14-dev, which plain
# clang does not pull in on Debian 12.
FUZZ_PACKAGES=(cmake ninja-build clang libclang-rt-14-dev qt6-base-dev python3)
if [ -f "$root/scripts/deps.sh" ]; then
    . "$root/scripts/deps.sh"
fi
if declare -F install_missing >/dev/null; then
    install_missing "${FUZZ_PACKAGES[@]}"
fi

echo "== Building the fuzz targets in $build"
cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build"

# Debian's own python3 comes with the CP932 codec that the seeds need.
python=$(command -v /usr/bin/python3 || command -v python3)
rm -rf "$build/seeds"
"$python" "$root/tests/fuzz/make_seeds.py" "$build/seeds"
[ -n "${FUZZ_CORPUS_DIR:-}" ] || rm -rf "$corpora"
mkdir -p "$artifacts" "$build/logs"

read -r -a targets <<<"${FUZZ_TARGETS:-fuzz_textfile}"
read -r -a extra <<<"${FUZZ_ARGS:-}"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
summary=()
for target in "${targets[@]}"; do
    log=$build/logs/$target.log
    mkdir -p "$corpora/$target"
    rm -f "$artifacts/$target-"*
    echo "== $target: $seconds s"
    status=0
    # libFuzzer stops itself after max_total_time; the outer limit only
    # catches a run that hangs where libFuzzer cannot see it.
    timeout --signal=INT --kill-after=30 $((seconds + 120)) "$build/$target" \
        -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=2048 -timeout=60 \
        -print_final_stats=1 -artifact_prefix="$artifacts/$target-" "${extra[@]}" \
        "$corpora/$target" "$build/seeds/$target" >"$log" 2>&1 || status=$?

    # Totals come from the final statistics, coverage from the last status line.
    total() { grep -oE "^stat::$1: *[0-9]+" "$log" | grep -oE '[0-9]+$' || echo '?'; }
    latest() { grep -oE "$1: *[0-9]+" "$log" | tail -n 1 | grep -oE '[0-9]+$' || echo '?'; }
    result=ok
    if [ "$status" -ne 0 ]; then
        result="FAILED (exit $status)"
        failed+=("$target")
    fi
    summary+=("$(printf '%-20s %10s runs %7s exec/s  cov %5s  ft %6s  %s' "$target" \
        "$(total number_of_executed_units)" "$(total average_exec_per_sec)" \
        "$(latest cov)" "$(latest ft)" "$result")")
    echo "${summary[-1]}"
    [ "$result" = ok ] && continue

    echo "-- $target: what went wrong (full log: $log)"
    grep -E -A6 '^==fuzz property failed==|^==[0-9]+==ERROR|runtime error:|^SUMMARY' "$log" |
        cut -c1-300 | head -n 40 || true
    for artifact in "$artifacts/$target-"*; do
        [ -f "$artifact" ] && [[ $artifact != *.min ]] || continue
        # Shrinking keeps only what the failure needs, which is what a
        # regression test should hold.
        small=$artifact.min
        "$build/$target" -minimize_crash=1 -max_total_time=30 -max_len=4096 \
            -exact_artifact_path="$small" "$artifact" >"$log.minimize" 2>&1 || true
        [ -s "$small" ] || small=$artifact
        echo "-- failing input $small ($(stat -c %s "$small") bytes), in hex:"
        od -An -tx1 -v "$small" | head -n 32
        echo "-- to reproduce: $build/$target $small"
    done
done

echo
echo "== Fuzzing summary ($seconds s per target)"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
    echo "FAILED: ${failed[*]}" >&2
    exit 1
fi
