#!/usr/bin/env bash
# Builds the libFuzzer targets of the text-file layer with clang and runs each
# for a bounded time, starting from freshly generated seeds.
#
#   bash tests/fuzz/run.sh [SECONDS]      (default 60 s for each target)
#
# Prints, for each target, how many inputs it ran, how fast, and the coverage
# it reached, and exits non-zero when any target crashes, trips a sanitizer
# or breaks one of the properties it checks. For each such failure it shrinks
# the input that caused it and prints it in hex.
#
# Settings from the environment:
#   FUZZ_BUILD_DIR     build folder (default: build-fuzz at the repository root)
#   FUZZ_CORPUS_DIR    folder that keeps each target's corpus between runs;
#                      without it the corpus starts empty every time, inside
#                      the build folder
#   FUZZ_ARTIFACT_DIR  where failing inputs go (default: artifacts in the
#                      build folder)
#   FUZZ_TARGETS       the targets to run, separated by spaces (default: all)
#   FUZZ_ARGS          further libFuzzer options for every target
#   FUZZ_CXX           the clang++ to build with (default: clang++)
set -euo pipefail

seconds=${1:-60}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [SECONDS]" >&2
    exit 2
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
artifacts=${FUZZ_ARTIFACT_DIR:-$build/artifacts}

# The sanitizer and libFuzzer runtimes are in libclang-rt-14-dev, which plain
# clang does not pull in on Debian 12.
FUZZ_PACKAGES=(cmake ninja-build clang libclang-rt-14-dev qt6-base-dev python3)
if [ -f "$root/scripts/deps.sh" ]; then
    . "$root/scripts/deps.sh"
fi
if declare -F install_missing >/dev/null; then
    install_missing "${FUZZ_PACKAGES[@]}"
fi

cxx=${FUZZ_CXX:-clang++}
if ! command -v "$cxx" >/dev/null; then
    echo "$cxx not found; the fuzz targets need: ${FUZZ_PACKAGES[*]}" >&2
    exit 2
fi
generator=()
if command -v ninja >/dev/null; then
    generator=(-G Ninja)
fi

echo "== Building the fuzz targets in $build"
mkdir -p "$build"
cmake -S "$root/tests/fuzz" -B "$build" "${generator[@]}" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/configure.log" 2>&1 || {
    cat "$build/configure.log" >&2
    exit 2
}
cmake --build "$build"

python=python3
if [ -x /usr/bin/python3 ]; then
    python=/usr/bin/python3
fi
seeds=$build/seeds
rm -rf "$seeds"
"$python" "$root/tests/fuzz/make_seeds.py" "$seeds"

if [ -n "${FUZZ_CORPUS_DIR:-}" ]; then
    corpora=$FUZZ_CORPUS_DIR
else
    corpora=$build/corpus
    rm -rf "$corpora"
fi
mkdir -p "$corpora" "$artifacts" "$build/logs"

# fuzz_lines writes its files here; a RAM-backed folder keeps it fast.
scratch_base=/tmp
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    scratch_base=/dev/shm
fi
scratch=$(mktemp -d "$scratch_base/yonamito-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

read -r -a targets <<<"${FUZZ_TARGETS:-$(tr ';' ' ' <"$build/targets.txt")}"
read -r -a extra <<<"${FUZZ_ARGS:-}"

# The chunk target puts a megabyte in front of every input itself, so a few
# kilobytes of its own reach everything; the others take whole files.
max_len_of() {
    case $1 in
        fuzz_decode_chunks) echo 4096 ;;
        fuzz_lines) echo 16384 ;;
        *) echo 65536 ;;
    esac
}

# The value after "name:" in libFuzzer's last status line, or in its final
# statistics.
last_status() { grep -oE "$2: *[0-9]+" "$1" | tail -n 1 | grep -oE '[0-9]+$' || echo '?'; }
final_stat() { grep -oE "^stat::$2: *[0-9]+" "$1" | grep -oE '[0-9]+$' || echo '?'; }

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export FUZZ_TMPDIR=$scratch

failed=()
summary=()
for target in "${targets[@]}"; do
    binary=$build/$target
    corpus=$corpora/$target
    log=$build/logs/$target.log
    mkdir -p "$corpus"
    rm -f "$artifacts/$target-"*
    echo "== $target: ${seconds} s"
    status=0
    # libFuzzer stops itself after max_total_time; the outer limit only
    # catches a run that hangs where libFuzzer cannot see it.
    timeout --signal=INT --kill-after=30 $((seconds + 120)) \
        "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 \
        -max_len="$(max_len_of "$target")" -timeout=60 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$target-" "${extra[@]}" \
        "$corpus" "$seeds/$target" >"$log" 2>&1 || status=$?

    runs=$(final_stat "$log" number_of_executed_units)
    speed=$(final_stat "$log" average_exec_per_sec)
    cov=$(last_status "$log" cov)
    ft=$(last_status "$log" ft)
    units=$(find "$corpus" -type f | wc -l)
    result=ok
    if [ "$status" -ne 0 ] || grep -qE '^==[0-9]+==ERROR|^==fuzz property failed==|runtime error:' "$log"; then
        result="FAILED (exit $status)"
        failed+=("$target")
    fi
    line=$(printf '%-20s %10s runs %7s exec/s  cov %5s  ft %6s  corpus %5s  %s' \
        "$target" "$runs" "$speed" "$cov" "$ft" "$units" "$result")
    summary+=("$line")
    echo "$line"

    if [ "$result" != ok ]; then
        echo "-- $target: what went wrong (full log: $log)"
        grep -E -A6 '^==fuzz property failed==|^==[0-9]+==ERROR|runtime error:|^SUMMARY' "$log" |
            sed -E 's/(.{300}).*/\1 .../' | head -n 40 || true
        for artifact in "$artifacts/$target-"*; do
            [ -f "$artifact" ] || continue
            case $artifact in *.min) continue ;; esac
            # Shrinking keeps only what the failure needs, which is what a
            # regression test should hold.
            minimized=$artifact.min
            "$binary" -minimize_crash=1 -max_total_time=30 -max_len="$(max_len_of "$target")" \
                -exact_artifact_path="$minimized" "$artifact" >"$log.minimize" 2>&1 || true
            [ -s "$minimized" ] || minimized=$artifact
            echo "-- failing input $minimized ($(stat -c %s "$minimized") bytes), in hex:"
            od -An -tx1 -v "$minimized" | head -n 32
            echo "-- to reproduce: $binary $minimized"
        done
    fi
done

echo
echo "== Fuzzing summary (${seconds} s per target)"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
    echo "FAILED: ${failed[*]}" >&2
    exit 1
fi
