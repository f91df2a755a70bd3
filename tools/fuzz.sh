#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each on its corpus for a while. Inputs that grow the
# coverage collect in build-fuzz/corpus/<Name>/; an input that brings a fault is written to
# build-fuzz/findings/<Name>/. Put such a reproducer into tests/fuzz/corpus/<Name>/ together
# with the fix: the unit tests replay that folder, so the fault stays fixed.
# Usage: tools/fuzz.sh [seconds per target (default 60)] [target names (default all)]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

tools/install-deps.sh fuzz

seconds=${1:-60}
shift || true
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
    for folder in tests/fuzz/corpus/*/; do
        targets+=("$(basename "$folder")")
    done
fi

cmake -S "$root" -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 -DPIXALOOM_FUZZ=ON -DPIXALOOM_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$root/tools/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
status=0
for name in "${targets[@]}"; do
    echo "== fuzzing $name for $seconds s"
    mkdir -p "build-fuzz/corpus/$name" "build-fuzz/findings/$name"
    "build-fuzz/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="build-fuzz/findings/$name/" \
        "build-fuzz/corpus/$name" "tests/fuzz/corpus/$name" || status=1
done
exit $status
