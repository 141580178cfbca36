#!/bin/sh
# Builds the configuration fuzzer into build/fuzz and runs it for a bounded time
# (seconds, default 60) on the seed corpus in fuzz/corpus. Exit status 0 when nothing
# was found; a crash leaves its input as build/fuzz/crash-* and fails.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$root/build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/fuzz" -j2
mkdir -p "$root/build/fuzz/corpus"
cd "$root/build/fuzz"
./config_fuzzer -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=2048 -print_final_stats=1 \
    corpus "$root/fuzz/corpus"
