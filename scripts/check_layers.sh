#!/bin/sh
# Fails when a library (or the tests of a layer) includes a header of a layer
# above it, or when code below app includes the settings record or names the
# project state.
# Layers, lowest first:
#   platform < core < disc < streams < subpic < state < demux < app
cd "$(dirname "$0")/.."
rank() {
  case "$1" in
    platform) echo 0 ;; core) echo 1 ;; disc) echo 2 ;; streams) echo 3 ;;
    subpic) echo 4 ;; state) echo 5 ;; demux) echo 6 ;; app) echo 7 ;; *) echo "" ;;
  esac
}
bad=0
for dir in src/* tests/*; do
  layer=$(basename "$dir")
  own=$(rank "$layer")
  [ -n "$own" ] || continue
  for f in "$dir"/*.h "$dir"/*.cpp; do
    [ -f "$f" ] || continue
    grep -n '^#include "[a-z]*/' "$f" | while IFS= read -r line; do
      target=$(echo "$line" | sed 's/.*#include "\([a-z]*\)\/.*/\1/')
      r=$(rank "$target")
      if [ -n "$r" ] && [ "$r" -gt "$own" ]; then
        echo "$f: ${line#*:} reaches up from $layer to $target"
      fi
    done
  done
done > /tmp/tess-layer-check.$$
# The settings record and the project state are the shell's: below app, code
# takes the typed settings (core/settings.h and its layer's own) and the parts
# of the project state it uses (the demultiplexer its environment), never the
# record or the whole state. Only the record's own module includes it there.
# The fuzz targets and the benchmarks drive code below app and build what it
# takes from the parts as well.
below_app() {
  for dir in src/* tests/*; do
    own=$(rank "$(basename "$dir")")
    [ -n "$own" ] && [ "$own" -lt "$(rank app)" ] && echo "$dir"
  done
  echo tests/fuzz
  echo bench
}
for dir in $(below_app); do
  for f in "$dir"/*.h "$dir"/*.cpp; do
    [ -f "$f" ] || continue
    case "$f" in src/core/options.h | src/core/options.cpp) continue ;; esac
    grep -n '^#include "core/options.h"' "$f" | while IFS= read -r line; do
      echo "$f: ${line#*:} reads the settings record below app"
    done
    grep -nw 'TForm1' "$f" | while IFS= read -r line; do
      echo "$f:${line%%:*}: names the project state TForm1 below app"
    done
  done
done >> /tmp/tess-layer-check.$$
if [ -s /tmp/tess-layer-check.$$ ]; then
  cat /tmp/tess-layer-check.$$
  bad=1
fi
rm -f /tmp/tess-layer-check.$$
[ "$bad" -eq 0 ] && echo "Layers: no upward includes, no settings record and no project state below app."
exit $bad
