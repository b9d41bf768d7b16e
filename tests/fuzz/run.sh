#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (fuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for a bounded time: first the kept inputs of earlier findings (regressions/),
# then new inputs grown from the seeds (seeds/). A crash fails the run; its input is left in
# the output folder to be kept under regressions/ with a test.
#   tests/fuzz/run.sh [SECONDS_PER_TARGET] [OUT_DIR] [TARGET...]   (clang: scripts/install-deps fuzz)
# The sources are compiled once, as the project's libraries, in a CMake build folder configured
# with ORVO_FUZZ; each target links them. Without TARGET names every target runs.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-20}
out=${2:-build-fuzz}
shift $(($# < 2 ? $# : 2))
scripts/install-deps fuzz
mkdir -p "$out"
out=$(realpath "$out")

started=$SECONDS
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
    -DORVO_FUZZ=ON -DORVO_BUILD_TESTS=OFF -DORVO_BUILD_BENCH=OFF >/dev/null
nice cmake --build "$out" -j2 --target orvo_fuzz
echo "fuzz: built in $((SECONDS - started)) s"

if (($# > 0)); then
    targets=("$@")
else
    mapfile -t targets <"$out/fuzz/targets"
fi

status=0
for target in "${targets[@]}"; do
    started=$SECONDS
    program="$out/fuzz/$target"
    corpus="$out/corpus-$target"
    crashes="$out/crashes-$target"
    mkdir -p "$corpus" "$crashes"
    regressions=(tests/fuzz/regressions/$target/*)
    if [[ -e "${regressions[0]}" ]]; then
        echo "fuzz: $target: ${#regressions[@]} kept inputs"
        "$program" "${regressions[@]}" || status=1
    fi
    echo "fuzz: $target for $seconds s"
    "$program" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 -max_len=9000 \
        -print_final_stats=1 -artifact_prefix="$crashes/" \
        "$corpus" "tests/fuzz/seeds/$target" 2>&1 | tail -n 15 || status=1
    if compgen -G "$crashes/*" >/dev/null; then
        echo "fuzz: $target found inputs that fail: $crashes/" >&2
        status=1
    fi
    echo "fuzz: $target took $((SECONDS - started)) s"
done
exit $status
