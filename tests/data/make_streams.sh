#!/bin/sh
# Makes the small elementary streams that the EVO builder multiplexes into test
# discs. The files are committed; tests use them without ffmpeg. Run again only to
# change them (needs ffmpeg with its experimental DTS, MLP and TrueHD encoders).
#
# Subpicture units and the VC-1 stream are not made here: ffmpeg cannot encode
# bitmap subtitles from text nor VC-1, so the builder makes both itself.
set -e
cd "$(dirname "$0")"
out=streams
mkdir -p "$out"
ff="ffmpeg -hide_banner -loglevel error -y -bitexact"

# Two tones, one per channel, so that a swapped channel order shows.
tones="-f lavfi -i sine=frequency=440:sample_rate=48000 -f lavfi -i sine=frequency=660:sample_rate=48000"
stereo="-filter_complex [0][1]amerge=inputs=2"

# MPEG-2 video, NTSC frame size and rate, I and P pictures only (so decode order
# is presentation order), a sequence header before every 15-picture GOP.
$ff -f lavfi -i "testsrc=size=720x480:rate=30000/1001" -t 2 \
  -c:v mpeg2video -b:v 300k -maxrate 600k -bufsize 1835k -g 15 -bf 0 -aspect 4:3 \
  -pix_fmt yuv420p -f mpeg2video "$out/video_720x480.m2v"

# H.264, the same picture rate, one access unit delimiter before every picture.
$ff -f lavfi -i "testsrc=size=352x240:rate=30000/1001" -t 2 \
  -c:v libx264 -profile:v main -bf 0 -g 15 -b:v 120k -x264-params aud=1 \
  -pix_fmt yuv420p -f h264 "$out/video_352x240.264"

$ff $tones $stereo -t 3 -c:a ac3 -b:a 96k -f ac3 "$out/audio_48k_2ch.ac3"
$ff $tones $stereo -t 3 -c:a eac3 -b:a 96k -f eac3 "$out/audio_48k_2ch.eac3"
$ff $tones $stereo -t 1 -strict -2 -c:a dca -b:a 384k -f dts "$out/audio_48k_2ch.dts"
$ff $tones $stereo -t 1 -strict -2 -c:a truehd -f truehd "$out/audio_48k_2ch.thd"
$ff $tones $stereo -t 1 -strict -2 -c:a mlp -f mlp "$out/audio_48k_2ch.mlp"
$ff $tones $stereo -t 3 -c:a mp2 -b:a 128k -f mp2 "$out/audio_48k_2ch.mp2"

# LPCM as raw big-endian samples; the loader regroups 24-bit samples into the
# order that LPCM packets carry (high and middle bytes first, then the low bytes).
$ff $tones $stereo -t 0.25 -c:a pcm_s16be -f s16be "$out/lpcm_48k_2ch_16.pcm"
tones96="-f lavfi -i sine=frequency=440:sample_rate=96000 -f lavfi -i sine=frequency=660:sample_rate=96000"
$ff $tones96 $stereo -t 0.125 -c:a pcm_s24be -f s24be "$out/lpcm_96k_2ch_24.pcm"

ls -l "$out"

# ---- MPEG-1/2 video samples for the video analyser -------------------------
# Each about a second of testsrc; B pictures so that decode order differs from
# display order. ffmpeg writes no sequence end codes; where one is wanted it is
# appended here.
seq_end() { printf '\000\000\001\267' >> "$1"; }
src() { echo "testsrc=size=$1:rate=$2"; }

# NTSC interlaced (top field first), 4:3, alternate scan, two 15-picture GOPs.
$ff -f lavfi -i "$(src 720x480 30000/1001)" -t 1 -c:v mpeg2video -q:v 31 -g 15 -bf 2 \
  -flags +ildct+ilme -top 1 -alternate_scan 1 -aspect 4:3 -pix_fmt yuv420p \
  -f mpeg2video "$out/m2v_ntsc_interlaced.m2v"
seq_end "$out/m2v_ntsc_interlaced.m2v"

# PAL progressive 16:9 with a sequence display extension before every GOP.
$ff -f lavfi -i "$(src 720x576 25)" -t 1 -c:v mpeg2video -q:v 31 -g 12 -bf 2 \
  -seq_disp_ext 1 -aspect 16:9 -pix_fmt yuv420p -f mpeg2video "$out/m2v_pal_wide.m2v"

# MPEG-1, NTSC and PAL source intermediate format.
$ff -f lavfi -i "$(src 352x240 30000/1001)" -t 1 -c:v mpeg1video -q:v 10 -g 15 -bf 2 \
  -aspect 4:3 -f mpeg1video "$out/m1v_ntsc.m1v"
$ff -f lavfi -i "$(src 352x288 25)" -t 1 -c:v mpeg1video -q:v 10 -g 12 -bf 2 \
  -aspect 4:3 -f mpeg1video "$out/m1v_pal.m1v"

# Film soft-telecined the DVD way: encoded progressive at 23.976, then flagged by
# m2v_flags below (frame rate 29.97, interlaced sequence, the 2:3 pattern of
# top_field_first / repeat_first_field by display number).
$ff -f lavfi -i "$(src 720x480 24000/1001)" -t 1 -c:v mpeg2video -q:v 31 -g 12 -bf 2 \
  -aspect 16:9 -pix_fmt yuv420p -f mpeg2video "$out/m2v_film_telecine.m2v"

# Half-D1 PAL: 704 wide, 4:3, its display extension flagged 540 wide by m2v_flags.
$ff -f lavfi -i "$(src 704x576 25)" -t 0.2 -c:v mpeg2video -q:v 31 -g 12 -bf 0 \
  -seq_disp_ext 1 -aspect 4:3 -pix_fmt yuv420p -f mpeg2video "$out/m2v_half_d1.m2v"

# Stills: one picture with a sequence end; three such stills back to back.
for i in 1 2 3; do
  $ff -f lavfi -i "$(src 720x480 30000/1001)" -ss $i -frames:v 1 -c:v mpeg2video -q:v 31 \
    -aspect 4:3 -f mpeg2video "$out/still_$i.tmp"
  seq_end "$out/still_$i.tmp"
done
cp "$out/still_1.tmp" "$out/m2v_still.m2v"
cat "$out/still_1.tmp" "$out/still_2.tmp" "$out/still_3.tmp" > "$out/m2v_stills.m2v"
rm -f "$out"/still_*.tmp

python3 - "$out" <<'PY'
# m2v_flags: sets header fields in place, start code by start code.
import sys
out = sys.argv[1]

def start_codes(d):
    i = d.find(b'\0\0\1')
    while i >= 0 and i + 3 < len(d):
        yield i + 3, d[i + 3]
        i = d.find(b'\0\0\1', i + 3)

def telecine(path):
    d = bytearray(open(path, 'rb').read())
    base = pictures = temporal = 0
    for p, code in start_codes(d):
        b = p + 1
        if code == 0xB3:
            d[b + 3] = (d[b + 3] & 0xF0) | 4                  # frame_rate_code 29.97
        elif code == 0xB8:
            base = pictures
        elif code == 0x00:
            temporal = (d[b] << 2) | (d[b + 1] >> 6)
            pictures += 1
        elif code == 0xB5 and d[b] >> 4 == 1:
            d[b + 1] &= ~0x08                                # progressive_sequence 0
        elif code == 0xB5 and d[b] >> 4 == 8:
            tff, rff = [(1, 0), (1, 1), (0, 0), (0, 1)][(base + temporal) % 4]
            d[b + 3] = (d[b + 3] & 0x7D) | (tff << 7) | (rff << 1)
            d[b + 4] |= 0x80                                 # progressive_frame
    open(path, 'wb').write(d)

def display_width(path, width):
    d = bytearray(open(path, 'rb').read())
    for p, code in start_codes(d):
        b = p + 1
        if code == 0xB5 and d[b] >> 4 == 2:
            s = b + (4 if d[b] & 1 else 1)                   # display sizes after the colours
            v = int.from_bytes(d[s:s + 4], 'big')
            v = (v & ((1 << 18) - 1)) | (width << 18)        # 14 bits of width, then marker and height
            d[s:s + 4] = v.to_bytes(4, 'big')
    open(path, 'wb').write(d)

telecine(out + '/m2v_film_telecine.m2v')
display_width(out + '/m2v_half_d1.m2v', 540)
PY
