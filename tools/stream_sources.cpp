#include "stream_sources.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "core/byte_order.h"

namespace tess::tools {

using core::ReadBE16;
using core::ReadBE32;
using core::WriteBE16;

const char* StreamKindName(StreamKind Kind) {
  switch (Kind) {
    case StreamKind::Mpeg2Video: return "MPEG-2 video";
    case StreamKind::H264Video: return "H.264 video";
    case StreamKind::Vc1Video: return "VC-1 video";
    case StreamKind::Ac3: return "AC-3";
    case StreamKind::Eac3: return "E-AC-3";
    case StreamKind::Dts: return "DTS";
    case StreamKind::Mlp: return "MLP";
    case StreamKind::TrueHd: return "TrueHD";
    case StreamKind::MpegAudio: return "MPEG audio";
    case StreamKind::Lpcm: return "LPCM";
    case StreamKind::Subpicture: return "subpicture";
  }
  return "?";
}

bool IsVideoKind(StreamKind Kind) {
  return Kind == StreamKind::Mpeg2Video || Kind == StreamKind::H264Video || Kind == StreamKind::Vc1Video;
}

namespace {

bool Fail(std::string* Error, const std::string& Text) {
  if (Error) *Error = Text;
  return false;
}

bool ReadWholeFile(const std::string& Path, std::vector<uint8_t>& Out) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) return false;
  Out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

uint32_t SamplesToTicks(uint64_t Samples, int Rate) {
  return static_cast<uint32_t>((Samples * 90000 + static_cast<uint64_t>(Rate) / 2) / static_cast<uint64_t>(Rate));
}

uint32_t FrameTicks(uint64_t Index, uint32_t Num, uint32_t Den) {
  return static_cast<uint32_t>((Index * Num + Den / 2) / Den);
}

// Turns frame start offsets into contiguous units: the first unit takes any bytes
// before the first frame, and the data ends with the last whole frame.
void UnitsFromStarts(StreamSource& Src, const std::vector<uint32_t>& Starts, uint32_t End) {
  Src.Units.clear();
  for (size_t i = 0; i < Starts.size(); ++i) {
    AccessUnit u;
    u.Offset = i == 0 ? 0 : Starts[i];
    const uint32_t next = i + 1 < Starts.size() ? Starts[i + 1] : End;
    u.Size = next - u.Offset;
    Src.Units.push_back(u);
  }
  Src.Data.resize(End);
}

// Position of the next 00 00 01 prefix at or after From, or Size.
size_t NextStartCode(const std::vector<uint8_t>& D, size_t From) {
  for (size_t i = From; i + 3 < D.size(); ++i) {
    if (D[i + 2] > 1) {
      i += 2;
      continue;
    }
    if (D[i] == 0 && D[i + 1] == 0 && D[i + 2] == 1) return i;
  }
  return D.size();
}

bool CutMpeg2Video(StreamSource& Src, std::string* Error) {
  static const uint32_t kNum[9] = {0, 15015, 3750, 3600, 3003, 3000, 1800, 3003, 1500};
  static const uint32_t kDen[9] = {1, 4, 1, 1, 1, 1, 1, 2, 1};
  const auto& d = Src.Data;
  std::vector<uint32_t> starts;
  bool inPicture = false;
  uint32_t num = 3003, den = 1;
  size_t end = d.size();
  // A still sequence closes every still with a sequence end and keeps them all,
  // also the last, so that its loop stays one; other video loops on without one.
  bool stills = false;
  for (size_t p = NextStartCode(d, 0); p + 4 < d.size() && !stills; p = NextStartCode(d, p + 3))
    stills = d[p + 3] == 0xB7;
  for (size_t p = NextStartCode(d, 0); p + 3 < d.size(); p = NextStartCode(d, p + 3)) {
    const uint8_t code = d[p + 3];
    if (code == 0xB7 && !stills) {  // sequence end: a looped stream goes on without one
      end = p;
      break;
    }
    if (code == 0xB3 && p + 8 <= d.size()) {
      if (Src.Width == 0) {
        Src.Width = (d[p + 4] << 4) | (d[p + 5] >> 4);
        Src.Height = ((d[p + 5] & 0x0F) << 8) | d[p + 6];
        const int rate = d[p + 7] & 0x0F;
        if (rate >= 1 && rate <= 8) num = kNum[rate], den = kDen[rate];
      }
    }
    if (code == 0xB3 || code == 0xB8) {
      if (inPicture) starts.push_back(static_cast<uint32_t>(p));
      inPicture = false;
    } else if (code == 0x00) {
      if (inPicture || starts.empty()) starts.push_back(static_cast<uint32_t>(p));
      inPicture = true;
    }
  }
  if (starts.empty()) return Fail(Error, "no MPEG video picture found");
  // A picture before the first sequence header is never decodable, but the unit
  // list still has to start at byte 0; UnitsFromStarts folds the header bytes in.
  UnitsFromStarts(Src, starts, static_cast<uint32_t>(end));
  for (size_t i = 0; i < Src.Units.size(); ++i) Src.Units[i].Pts = FrameTicks(i, num, den);
  Src.LoopTicks = FrameTicks(Src.Units.size(), num, den);
  return true;
}

bool CutH264Video(StreamSource& Src, std::string* Error, uint32_t Num, uint32_t Den) {
  const auto& d = Src.Data;
  std::vector<uint32_t> starts;
  bool prevSlice = false;
  for (size_t p = NextStartCode(d, 0); p + 4 < d.size(); p = NextStartCode(d, p + 3)) {
    const uint8_t type = d[p + 3] & 0x1F;
    const bool slice = type == 1 || type == 5;
    const bool firstSlice = slice && (d[p + 4] & 0x80) != 0;  // first_mb_in_slice == 0
    bool begins = false;
    if (type == 9) begins = true;
    else if ((type == 6 || type == 7 || type == 8) && prevSlice) begins = true;
    else if (firstSlice && prevSlice) begins = true;
    if (starts.empty() && (slice || type == 9 || type == 7)) begins = true;
    if (begins) {
      const size_t at = p > 0 && d[p - 1] == 0 ? p - 1 : p;  // the 4-byte start code form
      if (starts.empty() || starts.back() != at) starts.push_back(static_cast<uint32_t>(at));
    }
    if (type == 9) prevSlice = false;
    else if (slice) prevSlice = true;
    else if (type == 6 || type == 7 || type == 8) prevSlice = false;
  }
  if (starts.empty()) return Fail(Error, "no H.264 access unit found");
  UnitsFromStarts(Src, starts, static_cast<uint32_t>(d.size()));
  for (size_t i = 0; i < Src.Units.size(); ++i) Src.Units[i].Pts = FrameTicks(i, Num, Den);
  Src.LoopTicks = FrameTicks(Src.Units.size(), Num, Den);
  return true;
}

// Frame walkers: each returns the frame size at p (0 when no frame starts there)
// and the samples and rate of that frame.
struct FrameInfo {
  uint32_t Size = 0;
  uint32_t Samples = 0;
  int Rate = 0;
  bool Dependent = false;  // an E-AC-3 dependent substream: part of the frame before it
};

FrameInfo Ac3Frame(const uint8_t* p, size_t left) {
  static const uint16_t k48[19] = {64, 80, 96, 112, 128, 160, 192, 224, 256, 320,
                                   384, 448, 512, 640, 768, 896, 1024, 1152, 1280};
  static const uint16_t k44[19] = {69, 87, 104, 121, 139, 174, 208, 243, 278, 348,
                                   417, 487, 557, 696, 835, 975, 1114, 1253, 1393};
  static const int kRates[3] = {48000, 44100, 32000};
  FrameInfo f;
  if (left < 8 || p[0] != 0x0B || p[1] != 0x77) return f;
  const int bsid = p[5] >> 3;
  if (bsid <= 10) {
    const int fscod = p[4] >> 6, code = p[4] & 0x3F;
    if (fscod == 3 || code >= 38) return f;
    uint32_t words = 0;
    if (fscod == 0) words = k48[code / 2];
    else if (fscod == 2) words = k48[code / 2] * 3 / 2;
    else words = k44[code / 2] + (code & 1);
    f.Size = words * 2;
    f.Samples = 1536;
    f.Rate = kRates[fscod];
  } else if (bsid <= 16) {
    static const int kBlocks[4] = {1, 2, 3, 6};
    f.Size = ((((p[2] & 0x07) << 8) | p[3]) + 1) * 2;
    const int fscod = p[4] >> 6;
    if (fscod == 3) {
      const int fscod2 = (p[4] >> 4) & 3;
      if (fscod2 == 3) return FrameInfo{};
      f.Rate = kRates[fscod2] / 2;
      f.Samples = 6 * 256;
    } else {
      f.Rate = kRates[fscod];
      f.Samples = kBlocks[(p[4] >> 4) & 3] * 256;
    }
    f.Dependent = (p[2] >> 6) == 1;
  }
  if (f.Size > left) return FrameInfo{};
  return f;
}

FrameInfo DtsFrame(const uint8_t* p, size_t left) {
  static const int kRates[16] = {0, 8000, 16000, 32000, 0, 0, 11025, 22050, 44100, 0, 0, 12000, 24000, 48000, 0, 0};
  FrameInfo f;
  if (left < 10 || ReadBE32(p) != 0x7FFE8001) return f;
  const uint32_t nblks = ((p[4] & 1u) << 6) | (p[5] >> 2);
  const uint32_t fsize = ((p[5] & 3u) << 12) | (static_cast<uint32_t>(p[6]) << 4) | (p[7] >> 4);
  const int sfreq = (p[8] >> 2) & 0x0F;
  if (fsize < 95 || kRates[sfreq] == 0 || fsize + 1 > left) return f;
  f.Size = fsize + 1;
  f.Samples = (nblks + 1) * 32;
  f.Rate = kRates[sfreq];
  return f;
}

int MlpRateOf(int Code) {
  switch (Code) {
    case 0: return 48000;
    case 1: return 96000;
    case 2: return 192000;
    case 8: return 44100;
    case 9: return 88200;
    case 10: return 176400;
    default: return 0;
  }
}

FrameInfo MpegAudioFrame(const uint8_t* p, size_t left) {
  static const uint16_t kBitrates[2][3][16] = {
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
  static const int kRates[3] = {44100, 48000, 32000};
  FrameInfo f;
  if (left < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return f;
  const int version = (p[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  const int layer = 4 - ((p[1] >> 1) & 3);
  const int bitrateIndex = p[2] >> 4, rateIndex = (p[2] >> 2) & 3, padding = (p[2] >> 1) & 1;
  if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return f;
  const bool mpeg1 = version == 3;
  const int rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
  const uint32_t bitrate = kBitrates[mpeg1 ? 0 : 1][layer - 1][bitrateIndex] * 1000u;
  if (layer == 1) {
    f.Size = (12 * bitrate / rate + padding) * 4;
    f.Samples = 384;
  } else {
    const uint32_t perFrame = (layer == 3 && !mpeg1) ? 72 : 144;
    f.Size = perFrame * bitrate / rate + padding;
    f.Samples = (layer == 3 && !mpeg1) ? 576 : 1152;
  }
  f.Rate = rate;
  if (f.Size < 4 || f.Size > left) return FrameInfo{};
  return f;
}

bool CutAudioFrames(StreamSource& Src, std::string* Error) {
  const auto& d = Src.Data;
  std::vector<uint32_t> starts;
  std::vector<uint32_t> samples;
  size_t p = 0, end = 0;
  while (p < d.size()) {
    FrameInfo f;
    const uint8_t* at = d.data() + p;
    const size_t left = d.size() - p;
    switch (Src.Kind) {
      case StreamKind::Ac3:
      case StreamKind::Eac3: f = Ac3Frame(at, left); break;
      case StreamKind::Dts: f = DtsFrame(at, left); break;
      case StreamKind::MpegAudio: f = MpegAudioFrame(at, left); break;
      case StreamKind::Mlp:
      case StreamKind::TrueHd: {
        if (left < 4) break;
        const uint32_t size = (ReadBE16(at) & 0x0FFFu) * 2;
        if (size < 4 || size > left) break;
        if (left >= 10 && (ReadBE32(at + 4) == 0xF8726FBA || ReadBE32(at + 4) == 0xF8726FBB)) {
          const int code = ReadBE32(at + 4) == 0xF8726FBA ? at[8] >> 4 : at[9] >> 4;
          if (Src.SampleRate == 0) Src.SampleRate = MlpRateOf(code);
        }
        if (Src.SampleRate == 0) break;  // no major sync yet: not a stream start
        f.Size = size;
        f.Rate = Src.SampleRate;
        // 40 samples per unit at 44.1 and 48 kHz, doubling with the rate.
        f.Samples = 40u * static_cast<uint32_t>(f.Rate / (f.Rate % 44100 == 0 ? 44100 : 48000));
        break;
      }
      default: break;
    }
    if (f.Size == 0) {
      ++p;  // not a frame start: the bytes join the unit before (or the first one)
      continue;
    }
    if (f.Dependent && !starts.empty()) {
      samples.back() = std::max(samples.back(), f.Samples);
    } else {
      starts.push_back(static_cast<uint32_t>(p));
      samples.push_back(f.Samples);
      Src.SampleRate = f.Rate;
    }
    p += f.Size;
    end = p;
  }
  if (starts.empty() || Src.SampleRate == 0) return Fail(Error, std::string("no ") + StreamKindName(Src.Kind) + " frame found");
  UnitsFromStarts(Src, starts, static_cast<uint32_t>(end));
  uint64_t total = 0;
  for (size_t i = 0; i < Src.Units.size(); ++i) {
    Src.Units[i].Pts = SamplesToTicks(total, Src.SampleRate);
    total += samples[i];
  }
  Src.LoopTicks = SamplesToTicks(total, Src.SampleRate);
  return true;
}

bool CutLpcm(StreamSource& Src, std::string* Error) {
  if ((Src.BitsPerSample != 16 && Src.BitsPerSample != 24) || Src.Channels < 1 || Src.Channels > 8 ||
      (Src.SampleRate != 48000 && Src.SampleRate != 96000))
    return Fail(Error, "LPCM needs 16 or 24 bits, 1 to 8 channels, 48 or 96 kHz");
  // LPCM frames last 1/600 s.
  const uint32_t frameSamples = static_cast<uint32_t>(Src.SampleRate / 600);
  const uint32_t frameBytes = frameSamples * static_cast<uint32_t>(Src.Channels * Src.BitsPerSample / 8);
  const size_t frames = Src.Data.size() / frameBytes;
  if (frames == 0) return Fail(Error, "LPCM data shorter than one frame");
  Src.Data.resize(frames * frameBytes);
  Src.Units.clear();
  for (size_t i = 0; i < frames; ++i)
    Src.Units.push_back({static_cast<uint32_t>(i * frameBytes), frameBytes, SamplesToTicks(i * frameSamples, Src.SampleRate)});
  Src.LoopTicks = SamplesToTicks(frames * frameSamples, Src.SampleRate);
  Src.GroupBytes = static_cast<uint32_t>(Src.Channels) * (Src.BitsPerSample == 24 ? 6u : 2u);
  return true;
}

// ---- subpicture units ----

class NibbleWriter {
 public:
  explicit NibbleWriter(std::vector<uint8_t>& Out) : out_(Out) {}
  void Put(uint32_t Nibble) {
    if (half_) out_.back() = static_cast<uint8_t>(out_.back() | (Nibble & 0x0F));
    else out_.push_back(static_cast<uint8_t>((Nibble & 0x0F) << 4));
    half_ = !half_;
  }
  void Align() { half_ = false; }

 private:
  std::vector<uint8_t>& out_;
  bool half_ = false;
};

// One run of the DVD subpicture run-length code; Length 0 runs to the line's end.
void PutRun(NibbleWriter& W, uint32_t Length, uint32_t Colour) {
  const uint32_t v = (Length << 2) | Colour;
  if (Length >= 1 && Length <= 3) {
    W.Put(v);
  } else if (Length >= 4 && Length <= 15) {
    W.Put(v >> 4), W.Put(v);
  } else if (Length >= 16 && Length <= 63) {
    W.Put(0), W.Put(v >> 4), W.Put(v);
  } else {
    W.Put(0), W.Put(v >> 8), W.Put(v >> 4), W.Put(v);
  }
}

uint32_t SubpicturePixel(int Unit, int X, int Y, int W, int H) {
  if (X == 0 || Y == 0 || X == W - 1 || Y == H - 1) return 2;  // frame
  if (X < 3 || Y < 3 || X >= W - 3 || Y >= H - 3) return 0;
  const int stripe = 2 + Unit % 4;
  return ((X + Y * (Unit % 2)) / stripe) % 2 == 0 ? 1 : 3;
}

void EncodeLines(std::vector<uint8_t>& Out, int Unit, int FirstLine, int W, int H) {
  NibbleWriter w(Out);
  for (int y = FirstLine; y < H; y += 2) {
    int x = 0;
    while (x < W) {
      const uint32_t c = SubpicturePixel(Unit, x, y, W, H);
      int run = 1;
      while (x + run < W && run < 255 && SubpicturePixel(Unit, x + run, y, W, H) == c) ++run;
      if (x + run == W && run > 3) PutRun(w, 0, c);  // to the end of the line
      else PutRun(w, static_cast<uint32_t>(run), c);
      x += run;
    }
    w.Align();
  }
}

}  // namespace

StreamSource MakeSubpictureSource(int Count, uint32_t IntervalTicks, int Width, int Height) {
  StreamSource src;
  src.Kind = StreamKind::Subpicture;
  src.Name = "subpicture";
  if (Count < 1 || Width < 8 || Height < 8 || Width > 720 || Height > 576) return src;
  const int x1 = (720 - Width) / 2, y1 = 400 - Height;
  for (int u = 0; u < Count; ++u) {
    std::vector<uint8_t> spu(4, 0);
    const size_t topOffset = spu.size();
    EncodeLines(spu, u, 0, Width, Height);
    const size_t bottomOffset = spu.size();
    EncodeLines(spu, u, 1, Width, Height);
    if (spu.size() % 2) spu.push_back(0);
    const size_t first = spu.size();
    const size_t second = first + 2 + 2 + 3 + 3 + 7 + 5 + 1 + 1;
    // First control sequence: colours, contrast, area, field offsets, display on.
    const uint32_t stop = IntervalTicks * 4 / 5 / 1024;  // delays count 1024 ticks
    const uint32_t xe = static_cast<uint32_t>(x1 + Width - 1), ye = static_cast<uint32_t>(y1 + Height - 1);
    const uint8_t seq1[] = {0, 0, static_cast<uint8_t>(second >> 8), static_cast<uint8_t>(second),
                            0x03, 0x32, 0x10,
                            0x04, 0xFF, 0xF0,
                            0x05, static_cast<uint8_t>(x1 >> 4), static_cast<uint8_t>(((x1 & 15) << 4) | (xe >> 8)),
                            static_cast<uint8_t>(xe), static_cast<uint8_t>(y1 >> 4),
                            static_cast<uint8_t>(((y1 & 15) << 4) | (ye >> 8)), static_cast<uint8_t>(ye),
                            0x06, static_cast<uint8_t>(topOffset >> 8), static_cast<uint8_t>(topOffset),
                            static_cast<uint8_t>(bottomOffset >> 8), static_cast<uint8_t>(bottomOffset),
                            0x01, 0xFF};
    spu.insert(spu.end(), std::begin(seq1), std::end(seq1));
    // Second: display off after most of the interval; its link points at itself.
    const uint8_t seq2[] = {static_cast<uint8_t>(stop >> 8), static_cast<uint8_t>(stop),
                            static_cast<uint8_t>(second >> 8), static_cast<uint8_t>(second), 0x02, 0xFF};
    spu.insert(spu.end(), std::begin(seq2), std::end(seq2));
    WriteBE16(spu.data(), static_cast<uint16_t>(spu.size()));
    WriteBE16(spu.data() + 2, static_cast<uint16_t>(first));
    AccessUnit au;
    au.Offset = static_cast<uint32_t>(src.Data.size());
    au.Size = static_cast<uint32_t>(spu.size());
    au.Pts = static_cast<uint32_t>(u) * IntervalTicks;
    src.Units.push_back(au);
    src.Data.insert(src.Data.end(), spu.begin(), spu.end());
  }
  src.LoopTicks = static_cast<uint32_t>(Count) * IntervalTicks;
  src.Width = Width;
  src.Height = Height;
  return src;
}

StreamSource MakeVc1ShapedSource(int Frames, uint32_t FrameTicksValue) {
  StreamSource src;
  src.Kind = StreamKind::Vc1Video;
  src.Name = "vc1-shaped";
  uint32_t seed = 0x1234567u;
  auto filler = [&]() {
    seed = seed * 1103515245u + 12345u;
    return static_cast<uint8_t>(1 + (seed >> 16) % 255);  // never 0: no start code can form
  };
  for (int i = 0; i < Frames; ++i) {
    AccessUnit au;
    au.Offset = static_cast<uint32_t>(src.Data.size());
    auto& d = src.Data;
    if (i % 15 == 0) {
      // Sequence header (advanced profile, level 1, 4:2:0, coded size 720x480,
      // progressive) and a closed entry point.
      const uint8_t seq[] = {0, 0, 1, 0x0F, 0xCB, 0xFE, 0x16, 0x70, 0xEF, 0x08, 0x80,
                             0, 0, 1, 0x0E, 0x48, 0x40, 0x80};
      d.insert(d.end(), std::begin(seq), std::end(seq));
    }
    const uint8_t frame[] = {0, 0, 1, 0x0D};
    d.insert(d.end(), std::begin(frame), std::end(frame));
    // The picture type code opens the payload: 110 an I picture, 0 a P picture.
    d.push_back(i % 15 == 0 ? 0xC4 : 0x44);
    const int size = i % 15 == 0 ? 6000 : 900 + (i * 337) % 1800;
    for (int k = 0; k < size; ++k) d.push_back(filler());
    au.Size = static_cast<uint32_t>(d.size()) - au.Offset;
    au.Pts = static_cast<uint32_t>(i) * FrameTicksValue;
    src.Units.push_back(au);
  }
  src.LoopTicks = static_cast<uint32_t>(Frames) * FrameTicksValue;
  src.Width = 720;
  src.Height = 480;
  return src;
}

bool CutStreamSource(StreamSource& Src, std::string* Error, uint32_t FrameTicksNum, uint32_t FrameTicksDen) {
  Src.Units.clear();
  Src.LoopTicks = 0;
  if (Src.Data.empty()) return Fail(Error, "empty stream");
  if (FrameTicksNum == 0 || FrameTicksDen == 0) return Fail(Error, "no picture duration");
  if (Src.Data.size() > 0x7FFFFFFF) return Fail(Error, "stream too large for a source");
  switch (Src.Kind) {
    case StreamKind::Mpeg2Video: return CutMpeg2Video(Src, Error);
    case StreamKind::H264Video: return CutH264Video(Src, Error, FrameTicksNum, FrameTicksDen);
    case StreamKind::Lpcm: return CutLpcm(Src, Error);
    case StreamKind::Vc1Video:
    case StreamKind::Subpicture: return Fail(Error, "made by the builder, not loaded");
    default: return CutAudioFrames(Src, Error);
  }
}

bool LoadStreamSource(StreamKind Kind, const std::string& Path, StreamSource& Out, std::string* Error,
                      uint32_t FrameTicksNum, uint32_t FrameTicksDen) {
  Out = StreamSource{};
  Out.Kind = Kind;
  Out.Name = Path.substr(Path.find_last_of('/') + 1);
  if (!ReadWholeFile(Path, Out.Data)) return Fail(Error, "cannot read " + Path);
  if (!CutStreamSource(Out, Error, FrameTicksNum, FrameTicksDen)) {
    if (Error) *Error = Out.Name + ": " + *Error;
    return false;
  }
  return true;
}

bool LoadLpcmSource(const std::string& Path, int BitsPerSample, int Channels, int SampleRate, StreamSource& Out,
                    std::string* Error) {
  Out = StreamSource{};
  Out.Kind = StreamKind::Lpcm;
  Out.Name = Path.substr(Path.find_last_of('/') + 1);
  Out.BitsPerSample = BitsPerSample;
  Out.Channels = Channels;
  Out.SampleRate = SampleRate;
  std::vector<uint8_t> raw;
  if (!ReadWholeFile(Path, raw)) return Fail(Error, "cannot read " + Path);
  if (BitsPerSample == 24 && Channels > 0) {
    // Packet order: per two sample frames, the high and middle bytes of every
    // sample in order, then the low bytes in the same order.
    const size_t samples = static_cast<size_t>(Channels) * 2;
    const size_t group = samples * 3;
    const size_t groups = raw.size() / group;
    Out.Data.resize(groups * group);
    for (size_t g = 0; g < groups; ++g) {
      const uint8_t* in = raw.data() + g * group;
      uint8_t* out = Out.Data.data() + g * group;
      for (size_t s = 0; s < samples; ++s) {
        out[2 * s] = in[3 * s];
        out[2 * s + 1] = in[3 * s + 1];
        out[2 * samples + s] = in[3 * s + 2];
      }
    }
  } else {
    Out.Data = std::move(raw);
  }
  if (!CutStreamSource(Out, Error)) {
    if (Error) *Error = Out.Name + ": " + *Error;
    return false;
  }
  return true;
}

bool LoadStandardStreams(const std::string& Folder, StandardStreams& Out, std::string* Error) {
  const std::string f = Folder + "/";
  bool ok = LoadStreamSource(StreamKind::Mpeg2Video, f + "video_720x480.m2v", Out.Mpeg2, Error) &&
            LoadStreamSource(StreamKind::Mpeg2Video, f + "video_720x576.m2v", Out.Mpeg2Pal, Error) &&
            LoadStreamSource(StreamKind::H264Video, f + "video_352x240.264", Out.H264, Error) &&
            LoadStreamSource(StreamKind::Ac3, f + "audio_48k_2ch.ac3", Out.Ac3, Error) &&
            LoadStreamSource(StreamKind::Eac3, f + "audio_48k_2ch.eac3", Out.Eac3, Error) &&
            LoadStreamSource(StreamKind::Dts, f + "audio_48k_2ch.dts", Out.Dts, Error) &&
            LoadStreamSource(StreamKind::Mlp, f + "audio_48k_2ch.mlp", Out.Mlp, Error) &&
            LoadStreamSource(StreamKind::TrueHd, f + "audio_48k_2ch.thd", Out.TrueHd, Error) &&
            LoadStreamSource(StreamKind::MpegAudio, f + "audio_48k_2ch.mp2", Out.Mpa, Error) &&
            LoadLpcmSource(f + "lpcm_48k_2ch_16.pcm", 16, 2, 48000, Out.Lpcm16, Error) &&
            LoadLpcmSource(f + "lpcm_96k_2ch_24.pcm", 24, 2, 96000, Out.Lpcm24, Error);
  if (!ok) return false;
  Out.Vc1 = MakeVc1ShapedSource();
  Out.Subpicture = MakeSubpictureSource();
  return true;
}

}  // namespace tess::tools
