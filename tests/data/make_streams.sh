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
# is presentation order), a sequence header before every closed 15-picture GOP.
$ff -f lavfi -i "testsrc=size=720x480:rate=30000/1001" -t 2 \
  -c:v mpeg2video -b:v 300k -maxrate 600k -bufsize 1835k -g 15 -bf 0 -aspect 4:3 \
  -flags +cgop -sc_threshold 1000000000 \
  -pix_fmt yuv420p -f mpeg2video "$out/video_720x480.m2v"

# The same for PAL discs: PAL frame size and rate, 12-picture GOPs, five whole
# ones, so that the video loops at a GOP start like the PAL disc's VOBUs.
$ff -f lavfi -i "testsrc=size=720x576:rate=25" -t 2.4 \
  -c:v mpeg2video -b:v 300k -maxrate 600k -bufsize 1835k -g 12 -bf 0 -aspect 4:3 \
  -flags +cgop -sc_threshold 1000000000 \
  -pix_fmt yuv420p -f mpeg2video "$out/video_720x576.m2v"

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
# E-AC-3 7.1: the 5.1 sample's frames, each followed by a frame of a stereo
# encode made its dependent substream (strmtyp 1) carrying the rear pair
# (chanmap Lrs/Rrs; the 17 bits come off the frame's zero padding and crc2 is
# made anew). And that stereo encode with every frame marked as one block.
$ff -f lavfi -i "aevalsrc=sin(990*2*PI*t)|sin(1100*2*PI*t):c=stereo:s=48000" -t 0.3 -c:a eac3 -b:a 96k \
  -f eac3 "$out/rear.tmp"
python3 - "$out" <<'PY'
import sys
out = sys.argv[1]
def frames(path):
    d, i, f = open(path, 'rb').read(), 0, []
    while i + 4 <= len(d):
        n = ((((d[i + 2] & 7) << 8) | d[i + 3]) + 1) * 2
        f.append(bytearray(d[i:i + n])); i += n
    return f
def crc16(data):
    c = 0
    for x in data:
        c ^= x << 8
        for _ in range(8): c = ((c << 1) ^ 0x8005 if c & 0x8000 else c << 1) & 0xFFFF
    return c
rear, joined = frames(out + '/rear.tmp'), bytearray()
for main, dep in zip(frames(out + '/a_48k_6ch.eac3'), rear):
    bits = ''.join(format(v, '08b') for v in dep[:-2])
    at = 16 + 2 + 3 + 11 + 2 + 2 + 3 + 1 + 5 + 5                # up to compre
    at += 1 + (8 if bits[at] == '1' else 0)
    assert bits.endswith('0' * 17)
    bits = bits[:16] + '01' + bits[18:at] + '1' + format(0x0200, '016b') + bits[at:-17]
    dep = bytearray(int(bits[k:k + 8], 2) for k in range(0, len(bits), 8))
    c = crc16(dep[2:])
    joined += main + dep + bytes([c >> 8, c & 0xFF])
open(out + '/a_48k_8ch.eac3', 'wb').write(joined)
for f in rear: f[4] &= 0xCF                                  # numblkscod 0
open(out + '/a_48k_2ch_1blk.eac3', 'wb').write(b''.join(rear))
PY
rm -f "$out/rear.tmp"
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
# A plain WAV (format tag 1, the 44-byte header and nothing else) of half a
# second, for the information texts and the segment splitter.
$ff -f lavfi -i "$(tone 44100)" -ac 1 -t 0.5 -map_metadata -1 -fflags +bitexact -c:a pcm_s16le -f wav \
  "$out/w_44k_1ch_16.wav"

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

# ---- H.264, VC-1 and caption samples for the video analysers ----------------
# libx264 streams with and without access unit delimiters (the second of each
# pair is the first with its delimiters filtered out), progressive and
# interlaced (MBAFF, top field first). The PAL stream's timing carries
# emulation-prevention bytes; its copy loses its timing information and
# 4 pixels on the right.
$ff -f lavfi -i "$(src 352x240 30000/1001)" -t 1 -c:v libx264 -profile:v main -g 15 -b:v 100k \
  -x264-params aud=1 -aspect 4:3 -pix_fmt yuv420p -f h264 "$out/h264_ntsc_aud.264"
$ff -f lavfi -i "$(src 720x480 30000/1001)" -t 0.5 -c:v libx264 -profile:v high -g 15 -b:v 300k \
  -flags +ildct+ilme -x264-params aud=1:interlaced=1:tff=1 -vf setsar=40/33 -pix_fmt yuv420p \
  -f h264 "$out/h264_interlaced_aud.264"
$ff -f lavfi -i "$(src 720x576 25)" -t 0.4 -c:v libx264 -profile:v high -g 12 -b:v 200k -pix_fmt yuv420p \
  -bsf:v h264_metadata=sample_aspect_ratio=16/11 -f h264 "$out/h264_pal_wide.264"
for f in ntsc interlaced; do
  $ff -i "$out/h264_${f}_aud.264" -c copy -bsf:v filter_units=remove_types=9 -f h264 "$out/h264_$f.264"
done
$ff -i "$out/h264_pal_wide.264" -c copy -bsf:v h264_metadata=crop_right=4 -f h264 "$out/h264_pal_notiming.264"

python3 - "$out" <<'PY'
import random, sys
out = sys.argv[1]

# h264_pal_notiming: the sequence parameter set rewritten without its timing
# information (timing_info_present_flag 0, the 65 bits after it gone).
def rbsp(b):
    o, z = bytearray(), 0
    for x in b:
        if z >= 2 and x == 3: z = 0; continue
        z = z + 1 if x == 0 else 0; o.append(x)
    return o
def ebsp(b):
    o, z = bytearray(), 0
    for x in b:
        if z >= 2 and x <= 3: o.append(3); z = 0
        o.append(x); z = z + 1 if x == 0 else 0
    return o
class Bits:
    def __init__(s, b): s.b = ''.join(format(x, '08b') for x in b); s.p = 0
    def u(s, n): v = int(s.b[s.p:s.p + n] or '0', 2); s.p += n; return v
    def ue(s):
        z = 0
        while s.b[s.p] == '0': z += 1; s.p += 1
        s.p += 1
        return (1 << z) - 1 + s.u(z) if z else 0
path = out + '/h264_pal_notiming.264'
d = bytearray(open(path, 'rb').read())
i = d.find(b'\0\0\1\x67') + 3; j = d.find(b'\0\0\1', i)
r = Bits(rbsp(d[i:j]))
r.u(8); profile = r.u(8); r.u(16); r.ue()
if profile in (100, 110, 122, 244):
    if r.ue() == 3: r.u(1)
    r.ue(); r.ue(); r.u(2)
r.ue()
if r.ue() == 0: r.ue()
r.ue(); r.u(1); r.ue(); r.ue()
if r.u(1) == 0: r.u(1)
r.u(1)
if r.u(1): [r.ue() for _ in range(4)]
r.u(1)
if r.u(1) and r.u(8) == 255: r.u(32)
if r.u(1): r.u(1)
if r.u(1):
    r.u(4)
    if r.u(1): r.u(24)
if r.u(1): r.ue(); r.ue()
bits = (r.b[:r.p] + '0' + r.b[r.p + 66:]).rstrip('0')
bits += '0' * (-len(bits) % 8)
d[i:j] = ebsp(bytes(int(bits[k:k + 8], 2) for k in range(0, len(bits), 8)))
open(path, 'wb').write(d)

# VC-1: no encoder is at hand, so advanced-profile streams are built here: a
# sequence header (with or without display extension, aspect and frame rate)
# and an entry point every 15 frames, frames of filler after 00 00 01 0D.
class Writer:
    def __init__(s): s.bits = []
    def put(s, v, n): s.bits += [(v >> k) & 1 for k in range(n - 1, -1, -1)]
    def bytes(s):
        b = s.bits + [0] * (-len(s.bits) % 8)
        return bytes(int(''.join(map(str, b[k:k + 8])), 2) for k in range(0, len(b), 8))
def vc1(name, width, height, interlace, frames, display=None, aspect=None, rate=None):
    w = Writer()
    for v, n in ((3, 2), (1, 3), (1, 2), (7, 3), (31, 5), (0, 1), (width // 2 - 1, 12), (height // 2 - 1, 12),
                 (0, 1), (interlace, 1), (0, 1), (0, 1), (1, 1), (0, 1), (display is not None, 1)):
        w.put(int(v), n)
    if display:
        w.put(display[0] - 1, 14); w.put(display[1] - 1, 14)
        w.put(aspect is not None, 1)
        if aspect: w.put(aspect, 4)
        w.put(rate is not None, 1)
        if rate: w.put(0, 1); w.put(rate[0], 8); w.put(rate[1], 4)
        w.put(0, 1)
    w.put(0, 1)
    header = b'\0\0\1\x0f' + w.bytes() + b'\0\0\1\x0e\x48\x40\x80'
    rnd, data = random.Random(1), b''
    for i in range(frames):
        if i % 15 == 0: data += header
        data += b'\0\0\1\x0d' + bytes([0xC4 if i % 15 == 0 else 0x44])
        data += bytes(rnd.randrange(1, 256) for _ in range(300))
    open(out + '/' + name, 'wb').write(data)
vc1('vc1_ntsc.vc1', 720, 480, 1, 30, (720, 480), 3, (3, 2))
vc1('vc1_pal_wide.vc1', 720, 576, 0, 25, (720, 576), 4, (2, 1))
vc1('vc1_plain.vc1', 720, 480, 0, 30)
PY

# Line-21 captions the DVD way, in the user data after every GOP header: "CC",
# 1, 0xF8, then 15 groups of a field-1 pair (0xFF) and an empty field-2 pair
# (0xFE 00 00). Two pop-on captions, written with odd parity.
$ff -f lavfi -i "$(src 352x240 30000/1001)" -t 2 -c:v mpeg2video -q:v 10 -g 15 -bf 2 -aspect 4:3 \
  -pix_fmt yuv420p -f mpeg2video "$out/m2v_captions.m2v"
python3 - "$out/m2v_captions.m2v" <<'PY'
import sys
path = sys.argv[1]
def odd(c): return c | (0x80 if bin(c).count('1') % 2 == 0 else 0)
def caption(text):
    b = [odd(ord(c)) for c in text] + ([0x80] if len(text) % 2 else [])
    ctl = lambda v: [(v >> 8, v & 0xFF)] * 2
    return ctl(0x9420) + ctl(0x94AE) + ctl(0x9452) + [(b[k], b[k + 1]) for k in range(0, len(b), 2)] + ctl(0x942F)
first = caption("HELLO TESSALINE")
pairs = first + [(0x80, 0x80)] * (30 - len(first)) + caption("SECOND CAPTION")
d = open(path, 'rb').read()
out, pos, gop = bytearray(), 0, 0
i = d.find(b'\0\0\1\xb8')
while i >= 0:
    out += d[pos:i + 8]; pos = i + 8
    chunk = (pairs[gop * 15:gop * 15 + 15] + [(0x80, 0x80)] * 15)[:15]
    out += b'\0\0\1\xb2CC\x01\xf8' + bytes([0x80 | 15])
    for a, b in chunk: out += bytes([0xFF, a, b, 0xFE, 0, 0])
    gop += 1
    i = d.find(b'\0\0\1\xb8', i + 4)
open(path, 'wb').write(out + d[pos:])
PY
