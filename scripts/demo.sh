#!/bin/sh
# Installs what is needed, builds Tessaline, writes a sample disc, shows its
# structure, runs the main job on it with a settings file of its own, then
# shows what came out.
set -e
cd "$(dirname "$0")/.."
# JOBS build (and test) jobs at once; default: every core.
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
case $jobs in
  '' | *[!0-9]* | 0) echo "JOBS must be a number of jobs, 1 or more: '$jobs'" >&2; exit 2 ;;
esac
demo=${DEMO_DIR:-/tmp/tessaline-demo}
# The demo deletes nothing of the user's: it writes only disc/, out/,
# settings.ini, show.txt and its marker file, and leaves the clearing of
# disc/ and out/ to the programs that write them (the disc builder replaces
# only an earlier disc of its own, a run only what an earlier run wrote). A
# folder without the marker must be new or empty; one with it must hold
# nothing else. Looked at before the build, so that a refusal comes at once.
marker="$demo/.tessaline-demo"
if [ -f "$marker" ] && [ ! -L "$marker" ]; then
  for entry in "$demo"/* "$demo"/.[!.]* "$demo"/..?*; do
    [ -e "$entry" ] || [ -L "$entry" ] || continue
    name=${entry##*/}
    case $name in
      disc | out) [ -d "$entry" ] && [ ! -L "$entry" ] && continue ;;
      settings.ini | show.txt | .tessaline-demo) [ -f "$entry" ] && [ ! -L "$entry" ] && continue ;;
    esac
    echo "demo.sh: $demo holds $name, which the demo did not write; it writes only disc/, out/," \
      "settings.ini, show.txt and .tessaline-demo there, so it stops. Move $name elsewhere, or set" \
      "DEMO_DIR to a new or empty folder." >&2
    exit 1
  done
elif [ -e "$demo" ] || [ -L "$demo" ]; then
  if [ ! -d "$demo" ] || [ -n "$(ls -A "$demo")" ]; then
    echo "demo.sh: $demo is not an empty folder and holds no $marker, so the demo did not make it;" \
      "it is left as it is. Set DEMO_DIR to a new or empty folder." >&2
    exit 1
  fi
fi
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs" --target tessaline tessaline-make-disc

mkdir -p "$demo"
: >"$marker"
./build/tools/tessaline-make-disc "$demo/disc"
echo "The sample disc as its information files describe it:"
./build/tessaline show "$demo/disc" >"$demo/show.txt"
lines=$(wc -l <"$demo/show.txt")
head -n 40 "$demo/show.txt"
if [ "$lines" -gt 40 ]; then
  echo "... (the first 40 of $lines lines; all of them are in $demo/show.txt)"
fi
echo
# The demo keeps its own settings file: every setting at its default, but the
# run's log is saved beside the outputs.
./build/tessaline settings --settings "$demo/settings.ini" --set AutoSaveLog=1 >/dev/null
echo "Settings: $demo/settings.ini (AutoSaveLog=1: the log is saved as out/Tessaline.log)"
./build/tessaline demux "$demo/disc" "$demo/out" --settings "$demo/settings.ini"
echo
echo "Written under $demo/out:"
find "$demo/out" -type f | sort | while read -r f; do
  printf '%12s  %s\n' "$(stat -c %s "$f")" "${f#"$demo"/out/}"
done
