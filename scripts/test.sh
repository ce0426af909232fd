#!/bin/sh
# Builds Tessaline as a Release build and with AddressSanitizer + UBSan, runs
# every test in both, checks that no library includes a layer above it, and
# builds the fuzz targets with clang and runs each of them briefly.
set -e
cd "$(dirname "$0")/.."
# JOBS build (and test) jobs at once; default: every core.
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
case $jobs in
  '' | *[!0-9]* | 0) echo "JOBS must be a number of jobs, 1 or more: '$jobs'" >&2; exit 2 ;;
esac
./scripts/install-deps.sh

./scripts/check_layers.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESS_SANITIZE=ON -DTESS_BENCH=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

# A clang Release build of every library and tool with AddressSanitizer + UBSan,
# and a short pass of every fuzz target, as many at once as there are jobs (at
# most 4: a target may take up to 2 GiB).
fuzz_jobs=$jobs
[ "$fuzz_jobs" -gt 4 ] && fuzz_jobs=4
FUZZ_JOBS=${FUZZ_JOBS:-$fuzz_jobs} ./scripts/fuzz.sh "${TESS_FUZZ_SECONDS:-5}"
echo "All tests passed in both builds; clang builds; the fuzz pass found nothing."
