#!/usr/bin/env bash
# Sets up, builds and runs every test: the AddressSanitizer/UBSan build of everything, then
# the ThreadSanitizer build of the threading tests.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh

# Every C/C++ file is formatted as .clang-format says.
bash scripts/check-format.sh

# A fresh clone in another folder still hits the compiler cache.
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1
# CORVANE_JOBS limits the parallel jobs on a shared machine.
jobs=${CORVANE_JOBS:-$(nproc)}

# Line tables only (-g1): sanitizer reports keep their symbolised file:line frames, inlined
# ones included, and compiling costs about a third less than with full debug information.
debug_flags="-g1 -O1"

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="$debug_flags" \
  -DCORVANE_SANITIZER=address
cmake --build build/asan -j "$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 600

# Threading tests again under ThreadSanitizer. The util tests are left out: they start no
# thread or loop (text, byte and counter helpers called from the test's own thread).
tsan_targets=()
for component in corvane loop execution database crypto http request event cloud filesystem crash transfer metadata backup zip client e2e; do
  [ -d "inbox/libs/sdk/tests/$component" ] && tsan_targets+=("sdk_${component}_tests")
done
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="$debug_flags" \
  -DCORVANE_SANITIZER=thread -DCORVANE_BUILD_BENCH=OFF
cmake --build build/tsan -j "$jobs" --target "${tsan_targets[@]}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/tsan-suppressions.txt"
label_regex=$(printf '%s\n' "${tsan_targets[@]}" | sed -e 's/^sdk_//' -e 's/_tests$//' | paste -sd'|')
ctest --test-dir build/tsan --output-on-failure -j "$jobs" --timeout 600 -L "^(${label_regex})\$"

# libFuzzer targets of the parsers, each for a bounded time.
if ls fuzz/*_fuzz.cpp >/dev/null 2>&1; then
  CC=clang-14 CXX=clang++-14 cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="$debug_flags" -DCORVANE_SANITIZER=fuzz -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF
  cmake --build build/fuzz -j "$jobs" --target fuzz_all
  fuzz_seconds=${CORVANE_FUZZ_SECONDS:-20}
  # Each target is one process for a fixed time: as many run at once as there are jobs.
  fuzz_one() {
    local target=$1 name corpus seeds=()
    name=$(basename "$target")
    corpus=build/fuzz/corpus/$name
    mkdir -p "$corpus"
    [ -d "fuzz/corpus/${name#fuzz_}" ] && seeds=("fuzz/corpus/${name#fuzz_}")
    echo "fuzzing $name for ${fuzz_seconds}s"
    "$target" -max_total_time="$fuzz_seconds" -print_final_stats=0 "$corpus" "${seeds[@]}" 2> "build/fuzz/$name.log" \
      || { tail -50 "build/fuzz/$name.log"; echo "fuzz: $name failed"; exit 1; }
  }
  export -f fuzz_one
  export fuzz_seconds
  targets=(build/fuzz/fuzz/fuzz_*)
  printf '%s\0' "${targets[@]}" | xargs -0 -n 1 -P "$jobs" bash -c 'fuzz_one "$1"' fuzz_one \
    || { echo "fuzz: a target failed"; exit 1; }
  passed=${#targets[@]}
  echo "fuzz: $passed passed, 0 failed"
fi
