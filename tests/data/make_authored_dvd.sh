#!/bin/sh
# Makes DEST/VIDEO_TS: a small DVD-Video authored by dvdauthor from streams
# made by ffmpeg and spumux, the source of the tests' converted HD DVD.
#   VMG: a first-play chain and a menu chain (MPEG-2, AC-3) with two buttons.
#   Title set 1: a menu chain; title 1 plays VOB 1 (three cells, one chapter
#   each) and VOB 2; title 2 plays VOB 1's cells again as two chapters.
#   Its title VOBs carry AC-3, 16-bit LPCM and a subpicture stream.
#   Title set 2: one title of two chapters with MPEG-1 Layer II audio.
set -e
mkdir -p "$1"
dest=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
enc() { ffmpeg -nostdin -loglevel error "$@"; }
video="-target ntsc-dvd -b:v 1200k -maxrate 2000k -g 15 -aspect"

enc -f lavfi -i testsrc=size=720x480:rate=30000/1001 -f lavfi -i sine=f=440:r=48000 -f lavfi -i sine=f=660:r=48000 \
  -t 3 -map 0 -map 1 -map 2 $video 4:3 -c:a:0 ac3 -b:a:0 192k -ac:a:0 2 -c:a:1 pcm_s16be -ac:a:1 1 title.mpg
enc -f lavfi -i testsrc2=size=720x480:rate=30000/1001 -f lavfi -i sine=f=550:r=48000 -t 1 $video 4:3 menu.mpg
enc -f lavfi -i smptebars=size=720x480:rate=30000/1001 -f lavfi -i sine=f=330:r=48000 -t 2 $video 16:9 -c:a mp2 -b:a 192k mp2.mpg

box() { enc -f lavfi -i "color=c=black@0:s=720x480,format=rgba,drawbox=x=120:y=380:w=200:h=40:color=$1@1:t=fill,drawbox=x=400:y=380:w=200:h=40:color=$1@1:t=fill" -frames:v 1 "$2"; }
box white sub.png
box yellow hl.png
box red sel.png
cat > sub.xml <<'XML'
<subpictures><stream>
  <spu start="00:00:00.50" end="00:00:01.50" image="sub.png"/>
  <spu start="00:00:02.00" end="00:00:02.80" image="sub.png"/>
</stream></subpictures>
XML
cat > buttons.xml <<'XML'
<subpictures><stream>
  <spu start="00:00:00.00" force="yes" highlight="hl.png" select="sel.png">
    <button name="b1" x0="120" y0="380" x1="320" y1="420" right="b2"/>
    <button name="b2" x0="400" y0="380" x1="600" y1="420" left="b1"/>
  </spu>
</stream></subpictures>
XML
spumux -s0 sub.xml < title.mpg > title_sub.mpg 2>spumux.log || { cat spumux.log; exit 1; }
spumux -s0 buttons.xml < menu.mpg > menu_buttons.mpg 2>>spumux.log || { cat spumux.log; exit 1; }

cat > dvd.xml <<XML
<dvdauthor dest="$dest" jumppad="0">
  <vmgm>
    <fpc>jump menu 1;</fpc>
    <menus>
      <pgc entry="title">
        <button name="b1">jump title 1;</button>
        <button name="b2">jump title 3;</button>
        <vob file="menu_buttons.mpg" pause="inf"/>
      </pgc>
    </menus>
  </vmgm>
  <titleset>
    <menus>
      <pgc entry="root"><vob file="menu.mpg"/><post>jump title 1;</post></pgc>
    </menus>
    <titles>
      <audio lang="en"/><audio lang="de"/><subpicture lang="en"/>
      <pgc>
        <vob file="title_sub.mpg" chapters="0,1,2"/>
        <vob file="menu.mpg"/>
        <post>call vmgm menu 1;</post>
      </pgc>
      <pgc>
        <vob file="title_sub.mpg"><cell start="0" end="1" chapter="1"/><cell start="1" end="2"/><cell start="2" chapter="1"/></vob>
      </pgc>
    </titles>
  </titleset>
  <titleset>
    <titles>
      <pgc><vob file="mp2.mpg" chapters="0,1"/></pgc>
    </titles>
  </titleset>
</dvdauthor>
XML
VIDEO_FORMAT=NTSC dvdauthor -x dvd.xml >dvdauthor.log 2>&1 || { cat dvdauthor.log; exit 1; }
