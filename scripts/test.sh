#!/bin/sh
# Checks that no library includes a layer above it, builds Tessaline as a
# Release build (GCC) and with clang, AddressSanitizer + UBSan, runs every test
# in both, and runs each fuzz target of the clang build briefly.
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

# One clang build with AddressSanitizer + UBSan serves the unit tests and the fuzz
# targets (-O1, assertions on): a second sanitizer build would double the
# longest part of the command.
CXX=clang++ cmake -S . -B build-san -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O1 \
  -DTESS_FUZZ=ON -DTESS_BENCH=OFF
cmake --build build-san -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-san --output-on-failure -j "$jobs"

# A short pass of every fuzz target, as many at once as there are jobs (at most
# 4: a target may take up to 2 GiB).
fuzz_jobs=$jobs
[ "$fuzz_jobs" -gt 4 ] && fuzz_jobs=4
FUZZ_BUILD=build-san FUZZ_JOBS=${FUZZ_JOBS:-$fuzz_jobs} ./scripts/fuzz.sh "${TESS_FUZZ_SECONDS:-5}"
echo "All tests passed in the Release build (GCC) and under the sanitizers (clang); the fuzz pass found nothing."
