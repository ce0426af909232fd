#!/bin/sh
# Makes the subpicture samples of tests/data/subpic. Each sample is a pair:
#   NAME.vob  an MPEG program stream holding only the subtitle stream (what
#             ffmpeg decodes as the reference), and
#   NAME.sup  the same units as the demultiplexer writes them: the payloads of
#             the stream's packets, one unit after another.
# Samples:
#   spumux_ntsc  two pictures drawn by draw_pictures.py, made into units by
#                dvdauthor's spumux on an NTSC clip (the second one forced)
#   spumux_pal   two pictures on a PAL clip, one reaching the screen's last line
#   ffmpeg_ntsc  spumux_ntsc decoded and encoded again by ffmpeg's dvdsub encoder
#   ffmpeg_pal   the same for spumux_pal
#   builder      the units that the disc builder draws (tools/), taken from the
#                first title EVO of a disc it writes
# Usage: make_subpic.sh [path of tessaline-make-disc]
# Needs ffmpeg, spumux (dvdauthor) and python3.
set -e
here=$(cd "$(dirname "$0")" && pwd)
makedisc=${1:-"$here/../../../build/tools/tessaline-make-disc"}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The palette the re-encoding maps its colours to (and the tests draw with).
palette=000000,ffffff,ff0000,00ff00,0000ff,ffff00,ff00ff,00ffff,808080,800000,008000,000080,c0c0c0,804000,408040,202020

python3 "$here/draw_pictures.py" "$work"

subtitle_only() {  # program stream with subtitles -> NAME.vob and NAME.sup
  ffmpeg -nostdin -loglevel fatal -y -i "$1" -map 0:s:0 -c copy -f vob "$here/$2.vob"
  ffmpeg -nostdin -loglevel error -y -i "$here/$2.vob" -map 0:s:0 -c copy -f data "$here/$2.sup"
}

spumux_sample() {  # name, video format, spumux xml body
  size=720x480; rate=30000/1001
  [ "$2" = PAL ] && size=720x576 && rate=25
  ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc=size=$size:rate=$rate" -t 4 \
    -c:v mpeg2video -b:v 1M -f dvd "$work/$1_video.mpg"
  printf '<subpictures><stream>\n%s\n</stream></subpictures>\n' "$3" >"$work/$1.xml"
  (cd "$work" && VIDEO_FORMAT=$2 spumux -m dvd "$1.xml" <"$1_video.mpg" >"$1_muxed.mpg" 2>"$1.log") ||
    { cat "$work/$1.log"; exit 1; }
  subtitle_only "$work/$1_muxed.mpg" "$1"
}

reencode() {  # source sample, name, canvas size
  ffmpeg -nostdin -loglevel error -y -palette "$palette" -i "$here/$1.vob" -map 0:s:0 \
    -c:s dvdsub -palette "$palette" -s:s "$3" -f vob "$work/$2.mpg"
  subtitle_only "$work/$2.mpg" "$2"
}

spumux_sample spumux_ntsc NTSC '<spu start="00:00:00.50" end="00:00:01.70" image="a.png"/>
<spu start="00:00:02.00" end="00:00:03.25" image="b.png" force="yes"/>'
spumux_sample spumux_pal PAL '<spu start="00:00:00.40" end="00:00:02.00" image="c.png"/>
<spu start="00:00:02.20" end="00:00:03.00" image="b.png"/>'
reencode spumux_ntsc ffmpeg_ntsc 720x480
reencode spumux_pal ffmpeg_pal 720x576

"$makedisc" "$work/disc" >/dev/null
subtitle_only "$work/disc/hv001t01.evo" builder

ls -l "$here"/*.vob "$here"/*.sup
