#!/bin/sh
# Makes tests/data/dvdvideo: the information files (".IFO" and ".BUP") of a
# one-second, one-title DVD-Video with a first-play chain and a VMG menu chain,
# authored by dvdauthor from a clip made by ffmpeg. Only the information files
# are kept; the VOB files are not needed by the tests.
set -e
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=size=720x480:rate=30000/1001 \
  -f lavfi -i anullsrc=r=48000:cl=stereo -t 1 -target ntsc-dvd -aspect 4:3 "$work/title.mpg"

cat > "$work/dvd.xml" <<XML
<dvdauthor dest="$work/out" jumppad="0">
  <vmgm>
    <fpc>jump title 1;</fpc>
    <menus>
      <pgc entry="title"><post>jump title 1;</post></pgc>
    </menus>
  </vmgm>
  <titleset>
    <titles>
      <pgc><vob file="$work/title.mpg" chapters="0"/></pgc>
    </titles>
  </titleset>
</dvdauthor>
XML
VIDEO_FORMAT=NTSC dvdauthor -x "$work/dvd.xml" >"$work/log.txt" 2>&1 || { cat "$work/log.txt"; exit 1; }

rm -rf "$here/dvdvideo"
mkdir -p "$here/dvdvideo"
cp "$work/out/VIDEO_TS/"*.IFO "$work/out/VIDEO_TS/"*.BUP "$here/dvdvideo/"
ls -l "$here/dvdvideo"
