#!/bin/sh
# Builds the libFuzzer programs with clang, AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs each for a bounded time from its seed corpus in tests/fuzz/corpus/<target>/.
# New inputs and any crash go to a scratch folder, never into the repository; a crash is
# fixed and its input kept under tests/fuzz/regressions/<target>/, where the main test suite
# replays it.
#
#   scripts/fuzz.sh [build-dir]     FUZZ_SECONDS=60  FUZZ_TARGETS="part_number mount ..."
#                                   FUZZ_SCRATCH=<folder> (default: a fresh one under /tmp)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-fuzz"}
seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-"part_number settings_load help_file mount fat_entry"}
scratch=${FUZZ_SCRATCH:-$(mktemp -d /tmp/quenvol-fuzz-run-XXXXXX)}
jobs=$(nproc 2>/dev/null || echo 2)

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++
fi
cmake --build "$build" -j "$jobs" --target fuzz_all

# Mount inputs are the first sectors of a diskette: room for the system area and some data.
max_len_for() {
    case "$1" in
        mount) echo 24576 ;;
        fat_entry) echo 8192 ;;
        *) echo 4096 ;;
    esac
}

status=0
mkdir -p "$scratch"
# The file-based targets write their input to a file each run: memory is faster than disk.
files=$(mktemp -d /dev/shm/quenvol-fuzz-XXXXXX 2>/dev/null) || files="$scratch/files"
mkdir -p "$files"
trap 'rm -rf "$files"' EXIT
summary="$scratch/summary.txt"
: > "$summary"
for target in $targets; do
    corpus="$scratch/corpus/$target"
    artifacts="$scratch/crashes/$target"
    mkdir -p "$corpus" "$artifacts"
    log="$scratch/$target.log"
    echo "fuzzing $target for ${seconds}s (log: $log)"
    # Work on a copy of the seeds: the fuzzer adds what it finds to its first corpus folder.
    cp "$root/tests/fuzz/corpus/$target/"* "$corpus/" 2>/dev/null || true
    if [ -d "$root/tests/fuzz/regressions/$target" ]; then
        cp "$root/tests/fuzz/regressions/$target/"* "$corpus/" 2>/dev/null || true
    fi
    set +e
    TMPDIR="$files" ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/fuzz_$target" -max_total_time="$seconds" -max_len="$(max_len_for "$target")" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" > "$log" 2>&1
    rc=$?
    set -e
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    inputs=$(ls "$corpus" | wc -l)
    if [ "$rc" -ne 0 ]; then
        status=1
        echo "$target: FAILED after ${runs:-?} executions, inputs in $artifacts" | tee -a "$summary"
        grep -E "ERROR|SUMMARY|$target:" "$log" | head -n 5
    else
        echo "$target: ${runs:-?} executions in ${seconds}s, corpus of $inputs inputs" | tee -a "$summary"
    fi
done
echo "scratch folder: $scratch"
exit $status
