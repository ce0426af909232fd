#!/bin/sh
# Fails when a library (or the tests of a layer) includes a header of a layer
# above it, or when one below the project state includes the settings record.
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
# The settings record is the shell's: below the project state, code takes the
# typed settings (core/settings.h and its layer's own) and never the record.
# Only the record's own module includes it there.
for dir in src/* tests/*; do
  own=$(rank "$(basename "$dir")")
  [ -n "$own" ] && [ "$own" -lt "$(rank state)" ] || continue
  for f in "$dir"/*.h "$dir"/*.cpp; do
    [ -f "$f" ] || continue
    case "$f" in src/core/options.h | src/core/options.cpp) continue ;; esac
    grep -n '^#include "core/options.h"' "$f" | while IFS= read -r line; do
      echo "$f: ${line#*:} reads the settings record below the project state"
    done
  done
done >> /tmp/tess-layer-check.$$
if [ -s /tmp/tess-layer-check.$$ ]; then
  cat /tmp/tess-layer-check.$$
  bad=1
fi
rm -f /tmp/tess-layer-check.$$
[ "$bad" -eq 0 ] && echo "Layers: no upward includes, no settings record below the project state."
exit $bad
