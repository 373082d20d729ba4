#!/bin/sh
# Builds the BMP decoding fuzzer and runs it for SECONDS (default 60),
# seeded with the BMP conformance pictures and the test suite's regression
# files; new inputs go to fuzz/corpus/, crashers to fuzz/out/. Then replays
# every input under valgrind, which sees into Qt's uninstrumented code.
#
#   fuzz/run.sh [SECONDS] [extra libFuzzer options...]
#   fuzz/run.sh 0 fuzz/out/crash-...     # rerun one input only
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:-60}
[ $# -gt 0 ] && shift
testdata=${PENUMBRIX_TESTDATA_DIR:-$root/../shared/testdata}
out=$here/out
corpus=$here/corpus
mkdir -p "$out" "$corpus"

sources="$root/pictures/bmp_reader.cpp $root/pictures/bmp_writer.cpp $root/pictures/memory.cpp $root/pictures/picture.cpp $root/files/user_files.cpp $root/files/runtime_error.cpp $root/engine/parallel.cpp"
qt_cflags=$(pkg-config --cflags Qt6Gui)
qt_libs=$(pkg-config --libs Qt6Gui)

# shellcheck disable=SC2086
${CXX:-clang++-14} -std=c++20 -g -O1 -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fPIC \
    -I"$root" $qt_cflags "$here/bmp_fuzzer.cpp" $sources $qt_libs -o "$out/bmp_fuzzer"

# Fresh memory is filled with 0xbe so unwritten pixels show (see bmp_fuzzer.cpp).
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:malloc_fill_byte=190:max_malloc_fill_size=1073741824:detect_leaks=1"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-}:print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
# Inputs up to 64 KiB; the largest picture such an input justifies is a
# run-length one of 255 pixels per byte pair (33 MB of picture), so any
# allocation past 64 MB is a fault, as is any memory kept.
limits="-rss_limit_mb=1024 -malloc_limit_mb=64"

if [ $# -gt 0 ] && [ -f "$1" ]; then
    # shellcheck disable=SC2086
    exec "$out/bmp_fuzzer" $limits "$@"
fi

seeds=""
for d in "$testdata/bmpsuite/g" "$testdata/bmpsuite/q" "$testdata/bmpsuite/b" "$root/tests/data/bmp"; do
    [ -d "$d" ] && seeds="$seeds $d"
done

# shellcheck disable=SC2086
"$out/bmp_fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=10 $limits \
    -print_final_stats=1 -artifact_prefix="$out/" "$@" "$corpus" $seeds

if command -v valgrind > /dev/null; then
    # shellcheck disable=SC2086
    ${CXX:-clang++-14} -std=c++20 -gdwarf-4 -O1 -fPIC -I"$root" $qt_cflags \
        "$here/bmp_fuzzer.cpp" "$here/replay_main.cpp" $sources $qt_libs -o "$out/bmp_replay"
    # shellcheck disable=SC2086
    valgrind -q --error-exitcode=1 --track-origins=yes "$out/bmp_replay" "$corpus" $seeds
fi
