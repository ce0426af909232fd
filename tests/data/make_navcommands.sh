#!/bin/sh
# Makes tests/data/navcommands: the information files of a small DVD-Video whose
# program chains carry pre-, post- and cell commands of many kinds, and
# dvdunauthor's reading of them (dvdunauthor.xml), the reference the
# navigation-command tests compare with.
#
# dvdauthor compiles the commands of the script below. The pre-commands of
# title 3 of title set 1 are then replaced, in the ".IFO" and ".BUP" files, by
# hand-built commands of every type (the table below), before dvdunauthor reads
# the disc. Only the ".IFO" files and the XML are kept.
set -e
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=size=720x480:rate=30000/1001 \
  -f lavfi -i anullsrc=r=48000:cl=stereo -t 2 -target ntsc-dvd -aspect 4:3 clip.mpg

# Hand-built commands: eight bytes each, in hexadecimal.
cat > hand.txt <<'EOF'
00 00 00 00 00 00 00 00  # type 0: nop
00 a1 00 03 00 05 00 02  # goto with an immediate compare
00 11 00 03 00 05 00 02  # goto with a bit test of registers
00 02 00 00 00 00 00 00  # break
00 03 00 00 00 00 05 02  # temporary parental level
00 c9 00 83 12 34 00 00  # not a type 0 command, with a condition
30 01 00 00 00 00 00 00  # type 1 jumps: exit
30 22 00 00 00 03 01 02  # title, with a condition
30 03 00 00 00 01 00 00  # title of this title set
30 05 00 02 00 01 00 00  # part of a title
30 06 00 00 00 00 00 00  # first play
30 06 00 00 00 42 00 00  # the video manager's title menu
30 66 00 01 01 87 00 81  # a title set's part-of-title menu, with a condition
30 06 00 02 00 c0 00 00  # a video manager menu chain
30 08 00 00 02 00 00 00  # calls: first play
30 08 00 00 03 42 00 00  # title menu
30 08 00 00 01 87 00 00  # part-of-title menu
30 08 00 01 01 c0 00 00  # a video manager menu chain
20 01 00 00 00 00 00 01  # type 1 links: top of cell
20 41 00 07 00 08 00 02  # next cell, with a compare of registers
20 b1 00 07 00 09 0c 03  # previous cell, with an immediate compare and a button
20 01 00 00 00 00 00 05
20 01 00 00 00 00 00 06
20 01 00 00 00 00 00 07
20 01 00 00 00 00 00 09
20 01 00 00 00 00 00 0a
20 01 00 00 00 00 00 0b
20 01 00 00 00 00 00 0c
20 01 00 00 00 00 00 0d
20 01 00 00 00 00 04 10  # resume, with a button
20 04 00 00 00 00 00 02  # chain
20 05 00 00 00 00 08 01  # part of title, with a button
20 06 00 00 00 00 08 02  # program, with a button
20 77 00 02 00 81 00 03  # cell, with a compare of registers
51 00 00 81 c1 82 00 00  # type 2: streams
51 00 00 00 bf 00 00 00  # a dummy subpicture stream, shown
41 00 00 83 84 85 00 00  # streams from registers
52 00 00 0a 00 02 00 00  # navigation timer
42 00 00 03 00 02 00 00  # navigation timer from a register
53 00 00 05 00 83 00 00  # counter mode
43 00 00 04 00 02 00 00  # register mode from a register
56 00 00 00 0c 00 00 00  # button
46 00 00 00 00 07 00 00  # button from a register
46 01 00 00 00 07 00 01  # button from a register, then a link
71 00 00 01 00 05 00 00  # type 3: every set operation
61 00 00 01 00 02 00 00
62 00 00 01 00 02 00 00
73 00 00 03 00 05 00 00
64 00 00 04 00 86 00 00
75 00 00 05 00 07 00 00
76 00 00 06 00 08 00 00
77 00 00 07 00 09 00 00
78 00 00 08 00 0a 00 00
79 00 00 09 00 0b 00 00
7a 00 00 0a 00 0c 00 00
6b 00 00 0b 00 0d 00 00
61 00 00 01 00 81 00 00  # system registers as sources
61 00 00 01 00 88 00 00
61 00 00 01 00 94 00 00
61 c0 01 02 00 03 00 10  # with an immediate compare
61 50 01 02 00 03 00 87  # with a compare of registers
61 07 00 02 00 03 00 05  # with a link
83 21 00 03 00 05 04 01  # type 4: register set, register compare
93 a1 00 05 00 09 08 02  # immediate set and compare
83 a1 00 03 00 09 04 09  # register set, immediate compare
a1 31 02 03 00 05 00 00  # type 5 without a link: every compare form
a1 b1 02 03 00 09 00 00
b3 31 00 07 04 05 00 00
b3 b1 00 07 04 05 00 00
a1 31 02 03 00 05 00 01  # type 5 with a link
a1 b1 02 03 00 09 00 01
b3 31 00 07 04 05 04 02
b3 b1 00 07 04 05 04 02
c1 31 02 03 00 05 00 00  # type 6 without a link
c1 31 02 03 00 05 00 01  # type 6 with a link
c1 b1 02 03 00 09 00 01
d3 31 00 07 04 05 04 02
d3 b1 00 07 04 05 04 02
EOF
count=$(grep -c . hand.txt)

# Title 3 of title set 1 holds one placeholder per hand-built command:
# "g12 = 1000 + i", which dvdauthor writes as the set 71 00 00 0c hh ll 00 00.
placeholders=$(awk -v n="$count" 'BEGIN { for (i = 0; i < n; i++) printf "g12 = %d; ", 1000 + i }')

cat > dvd.xml <<XML
<dvdauthor dest="out" jumppad="1">
  <vmgm>
    <fpc>g0 = 1; g1 = 7; jump vmgm menu 1;</fpc>
    <menus>
      <pgc entry="title">
        <pre>g1 = g0; g2 += 3; g3 -= g1; g4 *= 2; g5 /= 3; g6 %= 4; g7 &amp;= 12; g8 |= g2; g9 ^= 5; g10 = random(6);</pre>
        <vob file="clip.mpg" chapters="0,1"/>
        <post>if (g1 == 5) jump title 2; else jump titleset 1 menu entry root;</post>
      </pgc>
      <pgc>
        <pre>if (g2 gt g3) g4 = 9; if (g5 ne 100) jump menu 1; audio = 1; subtitle = 65; button = 2048;</pre>
        <vob file="clip.mpg"/>
        <post>if (g0 lt 3) jump titleset 1 title 1 chapter 2; if (g0 le s7) jump titleset 2 menu; jump title 3;</post>
      </pgc>
    </menus>
  </vmgm>
  <titleset>
    <menus>
      <pgc entry="root">
        <pre>if ((g1 &amp; 4) != 0) jump title 1 chapter 2; angle = 1; g11 = s1;</pre>
        <vob file="clip.mpg"><cell start="0" end="1" chapter="1">jump cell 1;</cell><cell start="1">jump pgc tail;</cell></vob>
        <post>jump vmgm menu entry title;</post>
      </pgc>
      <pgc entry="ptt">
        <vob file="clip.mpg"/>
        <post>if (g3 ge 2) jump menu entry root; jump vmgm menu 2; jump title 2;</post>
      </pgc>
    </menus>
    <titles>
      <pgc>
        <vob file="clip.mpg" chapters="0,1"/>
        <vob file="clip.mpg"><cell start="0" end="1" chapter="1">g2 = 1;</cell><cell start="1" program="1">jump cell 2;</cell></vob>
        <post>call vmgm menu entry title resume 1;</post>
      </pgc>
      <pgc>
        <pre>if (g0 == 2) { g1 = 3; jump chapter 1; }</pre>
        <vob file="clip.mpg"><cell start="0" end="1" chapter="1">jump next program;</cell><cell start="1" chapter="1"/></vob>
        <post>call menu entry root resume 2;</post>
      </pgc>
      <pgc>
        <pre>$placeholders</pre>
        <vob file="clip.mpg"/>
        <post>exit;</post>
      </pgc>
    </titles>
  </titleset>
  <titleset>
    <menus>
      <pgc entry="root"><vob file="clip.mpg"/><post>jump vmgm menu 1;</post></pgc>
    </menus>
    <titles>
      <pgc><vob file="clip.mpg"/><post>if (g0 == 1) exit; else resume;</post></pgc>
    </titles>
  </titleset>
</dvdauthor>
XML
VIDEO_FORMAT=NTSC dvdauthor -x dvd.xml >log.txt 2>&1 || { cat log.txt; exit 1; }

# Each placeholder occurs once per file; it is replaced by its command.
for f in out/VIDEO_TS/VTS_01_0.IFO out/VIDEO_TS/VTS_01_0.BUP; do
  perl -e '
    my ($hand, $file) = @ARGV;
    open(my $h, "<", $hand) or die; my @cmds;
    while (<$h>) { s/#.*//; s/\s+//g; push @cmds, pack("H*", $_) if length; }
    open(my $f, "<:raw", $file) or die; local $/; my $b = <$f>; close $f;
    for my $i (0 .. $#cmds) {
      my $v = 1000 + $i; my $ph = pack("C4nC2", 0x71, 0, 0, 0x0c, $v, 0, 0);
      my $n = () = $b =~ /\Q$ph\E/g; die "placeholder $v found $n times in $file\n" if $n != 1;
      $b =~ s/\Q$ph\E/$cmds[$i]/;
    }
    open($f, ">:raw", $file) or die; print $f $b; close $f;
  ' hand.txt "$f"
done

mkdir un
(cd un && dvdunauthor ../out >../unlog.txt 2>&1) || { cat unlog.txt; exit 1; }

rm -rf "$here/navcommands"
mkdir -p "$here/navcommands"
cp out/VIDEO_TS/*.IFO "$here/navcommands/"
cp un/dvdauthor.xml "$here/navcommands/dvdunauthor.xml"
ls -l "$here/navcommands"
