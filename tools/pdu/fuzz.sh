#!/bin/bash
# Fuzzes PDU decoding and text forming with libFuzzer under AddressSanitizer
# and UndefinedBehaviorSanitizer for a bounded time.
#   usage: fuzz.sh SECONDS [BUILD_DIR]
# The target is built in BUILD_DIR/fuzz-pdu (default /tmp/vlsms-fuzz-pdu).
# Exits non-zero when the build fails or the fuzzer finds a crash, a leak,
# undefined behaviour or a hang; the failing input is kept in that directory.
set -euo pipefail

seconds=${1:?usage: fuzz.sh SECONDS [BUILD_DIR]}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=${2:+$2/fuzz-pdu}
work=${work:-/tmp/vlsms-fuzz-pdu}
mkdir -p "$work/gen" "$work/corpus" "$work/seeds"
work=$(cd "$work" && pwd)

cxx=${CXX_FUZZ:-clang++-14}
moc=$(pkg-config --variable=host_bins Qt5Core)/moc
qt_flags=$(pkg-config --cflags Qt5Core)
qt_libs=$(pkg-config --libs Qt5Core)

# The whole decoder layer, and the meta-object code of its classes that have one.
sources=("$root"/pdu/*.cpp "$root/tools/pdu/pdureport.cpp" "$here/fuzz_pdu.cpp")
for header in "$root"/pdu/*.h; do
    if grep -q Q_OBJECT "$header"; then
        name=$(basename "$header" .h)
        "$moc" "$header" -o "$work/gen/moc_$name.cpp"
        sources+=("$work/gen/moc_$name.cpp")
    fi
done

echo "fuzz.sh: building $work/fuzz_pdu"
# shellcheck disable=SC2086
"$cxx" -std=c++17 -O1 -g -fPIC -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" $qt_flags "${sources[@]}" $qt_libs -o "$work/fuzz_pdu"

# One seed file per line of the seed list; "|" stands for a line feed.
rm -f "$work/seeds"/*
n=0
while IFS= read -r line; do
    [[ -z "$line" || "$line" == \#* ]] && continue
    n=$((n + 1))
    printf '%s' "${line//|/$'\n'}" > "$work/seeds/seed$n"
done < "$here/fuzz-seeds.txt"

echo "fuzz.sh: fuzzing for $seconds s with $n seeds"
cd "$work"
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
ASAN_OPTIONS=detect_leaks=1 \
    ./fuzz_pdu -max_total_time="$seconds" -timeout=10 -max_len=2048 -print_final_stats=1 -dict="$here/fuzz.dict" \
    -artifact_prefix="$work/" corpus seeds
echo "fuzz.sh: no findings"
