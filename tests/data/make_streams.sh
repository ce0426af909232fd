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

# Small audio samples for the stream module tests: several rates and layouts of
# each format, a few KB each. Six channels carry six different tones.
six="aevalsrc=sin(440*2*PI*t)|sin(550*2*PI*t)|sin(660*2*PI*t)|0.5*sin(60*2*PI*t)|sin(770*2*PI*t)|sin(880*2*PI*t):c=5.1"
tone() { echo "sine=frequency=440:sample_rate=$1"; }
$ff -f lavfi -i "$six:s=48000" -t 0.25 -c:a ac3 -b:a 224k -f ac3 "$out/a_48k_6ch.ac3"
$ff -f lavfi -i "$(tone 44100)" -ac 1 -t 0.5 -c:a ac3 -b:a 64k -f ac3 "$out/a_44k_1ch.ac3"
$ff -f lavfi -i "$(tone 32000)" -ac 2 -t 0.3 -c:a ac3 -b:a 96k -f ac3 "$out/a_32k_2ch.ac3"
$ff -f lavfi -i "$six:s=48000" -t 0.3 -c:a eac3 -b:a 192k -f eac3 "$out/a_48k_6ch.eac3"
$ff -f lavfi -i "$(tone 44100)" -ac 1 -t 0.3 -c:a eac3 -b:a 64k -f eac3 "$out/a_44k_1ch.eac3"
$ff -f lavfi -i "$(tone 32000)" -ac 2 -t 0.3 -c:a eac3 -b:a 96k -f eac3 "$out/a_32k_2ch.eac3"
$ff -f lavfi -i "$six:s=48000" -t 0.1 -strict -2 -c:a dca -b:a 768k -f dts "$out/a_48k_6ch.dts"
$ff -f lavfi -i "$(tone 44100)" -ac 1 -t 0.2 -strict -2 -c:a dca -b:a 256k -f dts "$out/a_44k_1ch.dts"
$ff -f lavfi -i "$(tone 32000)" -ac 2 -t 0.2 -strict -2 -c:a dca -b:a 256k -f dts "$out/a_32k_2ch.dts"
$ff -f lavfi -i "$six:s=44100" -t 0.02 -sample_fmt s16 -strict -2 -c:a mlp -f mlp "$out/a_44k_6ch_16.mlp"
$ff -f lavfi -i "$(tone 96000)" -ac 1 -t 0.05 -sample_fmt s32 -strict -2 -c:a mlp -f mlp "$out/a_96k_1ch_24.mlp"
$ff -f lavfi -i "$six:s=48000" -t 0.02 -sample_fmt s32 -strict -2 -c:a truehd -f truehd "$out/a_48k_6ch.thd"
$ff -f lavfi -i "$(tone 44100)" -ac 1 -t 0.5 -c:a mp2 -b:a 64k -f mp2 "$out/a_44k_1ch.mp2"
$ff -f lavfi -i "$(tone 24000)" -ac 2 -t 0.5 -c:a mp2 -b:a 64k -f mp2 "$out/a_24k_2ch.mp2"
# MP3s with their ID3v2 tag and Xing or Info frame: MPEG-1 stereo (CBR) and mono,
# MPEG-2 mono (VBR), MPEG-2.5 mono.
$ff -f lavfi -i "$(tone 44100)" -ac 2 -t 0.5 -c:a libmp3lame -b:a 128k -f mp3 "$out/a_44k_2ch.mp3"
$ff -f lavfi -i "$(tone 48000)" -ac 1 -t 0.3 -c:a libmp3lame -b:a 64k -f mp3 "$out/a_48k_1ch.mp3"
$ff -f lavfi -i "$(tone 22050)" -ac 1 -t 0.5 -c:a libmp3lame -q:a 5 -f mp3 "$out/a_22k_1ch_vbr.mp3"
$ff -f lavfi -i "$(tone 8000)" -ac 1 -t 0.5 -c:a libmp3lame -b:a 16k -f mp3 "$out/a_8k_1ch.mp3"
# Plain big-endian LPCM samples; the tests put them into the disc's order.
$ff -f lavfi -i "$(tone 48000)" -ac 1 -t 0.05 -c:a pcm_s16be -f s16be "$out/lpcm_48k_1ch_16.pcm"
$ff -f lavfi -i "$six:s=48000" -t 0.01 -c:a pcm_s16be -f s16be "$out/lpcm_48k_6ch_16.pcm"
$ff -f lavfi -i "$(tone 48000)" -ac 1 -t 0.03 -c:a pcm_s24be -f s24be "$out/lpcm_48k_1ch_24.pcm"
$ff -f lavfi -i "$six:s=48000" -t 0.01 -c:a pcm_s24be -f s24be "$out/lpcm_48k_6ch_24.pcm"
# WAV files whose data chunk does not stand at byte 44: a LIST chunk before it,
# and the extensible 40-byte format chunk of a six-channel file.
$ff -f lavfi -i "$(tone 48000)" -ac 2 -t 0.02 -metadata title=tessaline -c:a pcm_s16le -f wav "$out/w_48k_2ch_list.wav"
$ff -f lavfi -i "$six:s=48000" -t 0.01 -c:a pcm_s24le -f wav "$out/w_48k_6ch_ext.wav"

ls -l "$out"
