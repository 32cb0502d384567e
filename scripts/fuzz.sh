#!/usr/bin/env bash
# Builds the fuzz targets with clang into build-fuzz/ and runs each for a fixed time.
#   scripts/fuzz.sh                    every target, 20 s each (what CI runs)
#   scripts/fuzz.sh --seconds 600      longer, by hand
#   scripts/fuzz.sh Curve MidiQueue    only these targets
# Each target starts from the seeds the build writes (build-fuzz/corpus/<Name>) and keeps what
# it finds in build-fuzz/work/<Name>; a crashing input lands in build-fuzz/crashes/<Name>/
# and fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVO_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=20
targets=()
while [[ $# -gt 0 ]]; do
    case $1 in
    --seconds)
        seconds=$2
        shift 2
        ;;
    *)
        targets+=("$1")
        shift
        ;;
    esac
done

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_FUZZ=ON \
    -DTARVO_PLUGIN=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target fuzz_all

if [[ ${#targets[@]} -eq 0 ]]; then
    for source in "$root"/fuzz/*Fuzz.cpp; do
        name=${source##*/}
        targets+=("${name%Fuzz.cpp}")
    done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for name in "${targets[@]}"; do
    mkdir -p "$build/work/$name" "$build/crashes/$name"
    echo "fuzz: $name for $seconds s" >&2
    if ! "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/crashes/$name/" "$build/work/$name" "$build/corpus/$name" \
        >"$build/crashes/$name.log" 2>&1; then
        failed+=("$name")
        tail -n 40 "$build/crashes/$name.log" >&2
    else
        grep -E "^stat::(number_of_executed_units|new_units_added)" "$build/crashes/$name.log" | tr '\n' ' ' >&2
        echo >&2
    fi
done
if [[ ${#failed[@]} -gt 0 ]]; then
    echo "fuzz: failing targets: ${failed[*]} (inputs in $build/crashes/)" >&2
    exit 1
fi
