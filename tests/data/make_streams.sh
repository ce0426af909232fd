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
