#!/bin/sh
# Builds the libFuzzer targets with clang (AddressSanitizer + UBSan) and runs
# each for the given number of seconds (default 60), starting from seed corpora:
# discs written by the builder, what tessaline demux makes of them, the files
# under tests/data, and the inputs of faults found before (tests/fuzz/regressions).
# FUZZ_JOBS targets run at once (default 1); FUZZ_TARGETS picks targets by name;
# JOBS compile jobs build them. FUZZ_BUILD names a clang build folder configured
# with TESS_FUZZ=ON to use (the test command's); by default build-fuzz is made.
set -e
cd "$(dirname "$0")/.."
seconds=${1:-60}
parallel=${FUZZ_JOBS:-1}
# JOBS compile jobs at once; default: every core, at most 4 (a clang job with
# the sanitizers takes much memory).
if [ -n "$JOBS" ]; then
  jobs=$JOBS
else
  jobs=$(nproc 2>/dev/null || echo 2)
  [ "$jobs" -gt 4 ] && jobs=4
fi
case $jobs in
  '' | *[!0-9]* | 0) echo "JOBS must be a number of jobs, 1 or more: '$jobs'" >&2; exit 2 ;;
esac
build=${FUZZ_BUILD:-build-fuzz}
if [ -z "$FUZZ_BUILD" ]; then
  CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESS_FUZZ=ON \
    -DBUILD_TESTING=OFF -DTESS_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j "$jobs"

seeds=$build/seeds
if [ ! -d "$seeds/out" ]; then
  rm -rf "$seeds"
  mkdir -p "$seeds"
  "$build"/tools/tessaline-make-disc "$seeds/disc" >/dev/null
  "$build"/tools/tessaline-make-disc "$seeds/adv" --advanced >/dev/null
  : > "$seeds/settings.ini"  # the defaults
  "$build"/tessaline demux "$seeds/disc" "$seeds/out" --settings "$seeds/settings.ini" >/dev/null
fi
data=tests/data
found() { find "$seeds" "$data" -type f \( "$@" \) 2>/dev/null; }
corpus() {  # target, then the seed files
  target=$1
  shift
  mkdir -p "$build/corpus/$target"
  for f in "$@" tests/fuzz/regressions/"$target"/*; do
    [ -f "$f" ] && head -c 262144 "$f" > "$build/corpus/$target/seed-$(basename "$(dirname "$f")")-$(basename "$f")"
  done
  return 0
}
corpus ifo_fuzz $(found -iname '*.IFO')
corpus scout_fuzz $(found -name '*.evo')
corpus demux_fuzz $(found -iname '*.evo')
corpus pes_header_fuzz $(found -iname '*.evo')
corpus vti_fuzz $(found -iname '*.VTI')
corpus hlt2_fuzz $(found -name '*.hlt2')
corpus dat_fuzz $(found -name '*.dat')
corpus ac3_fuzz $(found -name '*.ac3' -o -name '*.eac3')
corpus dts_fuzz $(found -name '*.dts')
corpus mlp_fuzz $(found -name '*.mlp' -o -name '*.thd')
corpus mpa_fuzz $(found -name '*.mp2' -o -name '*.mp3' -o -name '*.mpa')
corpus wav_fuzz $(found -name '*.wav' -o -name '*.pcm')
corpus m2v_fuzz $(found -name '*.m2v' -o -name '*.m1v')
corpus h264_fuzz $(found -name '*.264')
corpus vc1_fuzz $(found -name '*.vc1')
corpus sup_fuzz $(found -name '*.sup')

run() {  # one target; its log is $build/NAME.log
  name=$(basename "$1")
  log="$build/$name.log"
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$1" -max_total_time="$seconds" -max_len=262144 -rss_limit_mb=2048 -timeout=10 \
    -artifact_prefix="$build/$name-" -print_final_stats=1 "$build/corpus/$name" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "$name found a fault; the input is saved as $build/$name-crash-* (or timeout-*, oom-*)"
    return 1
  fi
  echo "$name: $(grep -E 'stat::number_of_executed_units' "$log" | tr -s ' ' | cut -d' ' -f2) runs in $seconds s"
}

targets=$(ls "$build"/tests/fuzz/*_fuzz)
[ -n "$FUZZ_TARGETS" ] && targets=$(for t in $FUZZ_TARGETS; do echo "$build/tests/fuzz/$t"; done)
failed=0
set +e
# Up to FUZZ_JOBS targets at once; each batch is waited for whole.
batch=""
count=0
for target in $targets; do
  run "$target" &
  batch="$batch $!"
  count=$((count + 1))
  if [ "$count" -ge "$parallel" ]; then
    for p in $batch; do wait "$p" || failed=1; done
    batch=""
    count=0
  fi
done
for p in $batch; do wait "$p" || failed=1; done
[ "$failed" -eq 0 ] || exit 1
echo "Fuzzing found nothing."
