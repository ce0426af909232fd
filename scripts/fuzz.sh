#!/bin/sh
# Builds the libFuzzer targets with clang (AddressSanitizer + UBSan) and runs
# each for the given number of seconds (default 60), starting from seed corpora:
# a disc written by the builder and the files under tests/data.
set -e
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=$(nproc 2>/dev/null || echo 2)
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESS_FUZZ=ON \
  -DBUILD_TESTING=OFF -DTESS_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$jobs"

seeds=build-fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds/disc"
./build-fuzz/tools/tessaline-make-disc "$seeds/disc" >/dev/null
corpus() {  # target, then the seed files
  target=$1
  shift
  mkdir -p "build-fuzz/corpus/$target"
  for f in "$@"; do
    [ -f "$f" ] && head -c 262144 "$f" > "build-fuzz/corpus/$target/seed-$(basename "$f")"
  done
}
corpus ifo_fuzz "$seeds"/disc/*.IFO tests/data/dvdvideo/*.IFO
corpus scout_fuzz "$seeds"/disc/*.evo
corpus hlt2_fuzz

for target in build-fuzz/tests/fuzz/*_fuzz; do
  name=$(basename "$target")
  echo "fuzzing $name for $seconds s"
  log="build-fuzz/$name.log"
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1 \
    "$target" -max_total_time="$seconds" -max_len=262144 -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=1 "build-fuzz/corpus/$name" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "$name found a fault; the input is saved as crash-* / timeout-* / oom-* in $(pwd)"
    exit 1
  fi
  grep -E "stat::(number_of_executed_units|new_units_added)" "$log"
done
echo "Fuzzing found nothing."
