#!/usr/bin/env bash
# Builds the fuzz targets with clang into build-fuzz/ and runs each for a fixed time.
#   scripts/fuzz.sh                    every target, 20 s each
#   scripts/fuzz.sh --seconds 600      longer, by hand (docs/fuzzing.md: long runs side by side)
#   scripts/fuzz.sh --seconds 3600 --runs 10000000 Blob
#                                      stops at whichever of the two limits comes first
#   scripts/fuzz.sh Curve MidiQueue    only these targets
#   scripts/fuzz.sh --keep Blob        merges what the runs found into the kept corpus
#                                      (fuzz/corpus/Blob), minimised; nothing is fuzzed
# Each target first replays its kept corpus (fuzz/corpus/<Name>) and the inputs that once broke
# it (fuzz/regressions/<Name>), then fuzzes from those, the seeds the build writes
# (build-fuzz/corpus/<Name>) and what earlier runs found (build-fuzz/work/<Name>). A crashing
# input lands in build-fuzz/crashes/<Name>/ and fails the run; copy it to
# fuzz/regressions/<Name>/ with the fix, so every test run replays it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVO_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=20
runs=
keep=0
targets=()
while [[ $# -gt 0 ]]; do
    case $1 in
    --seconds)
        seconds=$2
        shift 2
        ;;
    --runs)
        runs=$2
        shift 2
        ;;
    --keep)
        keep=1
        shift
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

# Longest input that can still reach new code, for targets that read less than libFuzzer's
# default: a Blob is read no further than its byte form (Blob::byteSize, 1137 bytes).
declare -A max_len=([Blob]=1137)

# A quarantine of 16 MB instead of 256 MB still holds everything one parser input frees (a use
# after free within an input is found as before) and keeps the freed memory in the caches: with
# the full quarantine most allocations touched fresh pages, and the sequencer target ran at
# 10 000 instead of 16 500 inputs per second.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1:quarantine_size_mb=16}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for name in "${targets[@]}"; do
    kept=$root/fuzz/corpus/$name
    regressions=$root/fuzz/regressions/$name
    mkdir -p "$build/work/$name" "$build/crashes/$name" "$build/corpus/$name"
    fuzzer=("$build/fuzz/fuzz_$name" -timeout=20 -rss_limit_mb=2048 -artifact_prefix="$build/crashes/$name/")
    [[ -n ${max_len[$name]:-} ]] && fuzzer+=(-max_len="${max_len[$name]}")
    if [[ $keep -eq 1 ]]; then
        mkdir -p "$kept"
        "${fuzzer[@]}" -merge=1 "$kept" "$build/work/$name" >"$build/crashes/$name.merge.log" 2>&1
        echo "fuzz: $name keeps $(find "$kept" -type f | wc -l) inputs" >&2
        continue
    fi
    replay=()
    for folder in "$kept" "$regressions"; do [[ -d $folder ]] && replay+=("$folder"); done
    if [[ ${#replay[@]} -gt 0 ]] && ! "${fuzzer[@]}" -runs=0 "${replay[@]}" >"$build/crashes/$name.replay.log" 2>&1; then
        failed+=("$name")
        tail -n 40 "$build/crashes/$name.replay.log" >&2
        continue
    fi
    echo "fuzz: $name for $seconds s" >&2
    limits=(-max_total_time="$seconds")
    [[ -n $runs ]] && limits+=(-runs="$runs")
    if ! "${fuzzer[@]}" "${limits[@]}" -print_final_stats=1 \
        "$build/work/$name" "${replay[@]}" "$build/corpus/$name" >"$build/crashes/$name.log" 2>&1; then
        failed+=("$name")
        tail -n 40 "$build/crashes/$name.log" >&2
    else
        grep -E "^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)" "$build/crashes/$name.log" |
            tr '\n' ' ' >&2
        echo >&2
    fi
done
if [[ ${#failed[@]} -gt 0 ]]; then
    echo "fuzz: failing targets: ${failed[*]} (inputs in $build/crashes/)" >&2
    exit 1
fi
