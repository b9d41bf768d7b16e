#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (fuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for a bounded time: first the kept inputs of earlier findings (regressions/),
# then new inputs grown from the seeds (seeds/). A crash fails the run; its input is left in
# the output folder to be kept under regressions/ with a test.
#   tests/fuzz/run.sh [SECONDS_PER_TARGET] [OUT_DIR]      (clang: scripts/install-deps fuzz)
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-20}
out=${2:-build-fuzz}
scripts/install-deps fuzz
mkdir -p "$out"
out=$(realpath "$out")

cxx=clang++
qt=$(pkg-config --cflags --libs Qt6Core)
moc=$(pkg-config --variable=libexecdir Qt6Core)/moc
flags=(-std=c++17 -g -O1 -fPIC -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -Isrc)

# The notice transport is a QObject: its meta-object code comes from moc.
"$moc" -Isrc src/app/Notices.h -o "$out/moc_Notices.cpp"

declare -A sources=(
    [sip_pack_analyser]="tests/fuzz/SipPackAnalyserFuzz.cpp src/servers/SipPackAnalyser.cpp"
    [user_agent]="tests/fuzz/UserAgentFuzz.cpp src/discovery/DeviceCommand.cpp
                  src/discovery/QueryDevInfoBySipThread.cpp src/app/Notices.cpp
                  $out/moc_Notices.cpp src/app/UdpExchange.cpp src/app/ThreadName.cpp"
    [phone_key]="tests/fuzz/PhoneKeyFuzz.cpp src/record/PhoneKey.cpp"
)

status=0
for target in sip_pack_analyser user_agent phone_key; do
    echo "fuzz: building $target"
    # shellcheck disable=SC2086
    nice "$cxx" "${flags[@]}" ${sources[$target]} $qt -o "$out/$target"
    corpus="$out/corpus-$target"
    mkdir -p "$corpus" "$out/crashes-$target"
    regressions=(tests/fuzz/regressions/$target/*)
    if [[ -e "${regressions[0]}" ]]; then
        echo "fuzz: $target: ${#regressions[@]} kept inputs"
        "$out/$target" "${regressions[@]}" || status=1
    fi
    echo "fuzz: $target for $seconds s"
    "$out/$target" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 -max_len=9000 \
        -print_final_stats=1 -artifact_prefix="$out/crashes-$target/" \
        "$corpus" "tests/fuzz/seeds/$target" 2>&1 | tail -n 15 || status=1
    if compgen -G "$out/crashes-$target/*" >/dev/null; then
        echo "fuzz: $target found inputs that fail: $out/crashes-$target/" >&2
        status=1
    fi
done
exit $status
