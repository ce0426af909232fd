#include "subpic/sup_decoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "core/messages.h"
#include "core/number_text.h"
#include "core/run_context.h"
#include "core/timecode.h"
#include "disc/palette.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/rounding.h"
#include "subpic/picture_files.h"
#include "subpic/spu_units.h"

namespace tess::subpic {

namespace {

// A ".sup" output holds one unit, or at most one stream's units; anything
// larger than this is not a subpicture stream and is not read into memory.
constexpr uint64_t kMaxSupFileSize = 256ull << 20;
constexpr int32_t kNtscLines = 480;
constexpr uint8_t kMaxNibble = 15;
// Palette entries: 0 is outside the subpicture, then four per code set.
constexpr uint8_t kOutsideIndex = 0;
constexpr size_t kCodesPerSet = 4;
constexpr size_t kMaxCodeSets = (256 - 1) / kCodesPerSet;
constexpr uint32_t kUnitsBetweenPumps = 64;
// A unit redraws its picture when it moves to a new area or bitmap; real units
// do so a few times, a crafted one could do it for every few bytes.
constexpr uint32_t kMaxPicturesPerUnit = 100;
// Each sequence is read up to its end code, which may lie past the next
// sequence's start, so a crafted unit can have every sequence read on through
// all the later ones. Real sequences share no bytes; this many readings of
// each byte of the unit are allowed.
constexpr uint64_t kReadsPerUnitByte = 16;

uint8_t AlphaOf(uint8_t Nibble) { return static_cast<uint8_t>(Nibble * 17); }

// Whole milliseconds, as the results count them.
int64_t RoundedMs(uint64_t Ticks) { return platform::RoundEven(core::TicksToMs(static_cast<int64_t>(Ticks))); }

// What a shown picture looks like as far as the effects go.
struct TLook {
  int32_t ContrastSum = 0;
  uint8_t MaxContrast = 0;
  bool HasLines = false;
  int32_t FirstLine = 0, LastLine = 0, Column = 0;
};

// Follows the looks of one shown picture and gathers runs of successive fades
// and scrolls into the result's lists.
class TEffectTracker {
 public:
  explicit TEffectTracker(TCutSupFromFileResult& Info) : info_(Info) {}

  void Begin(int64_t Ms, const TLook& Look) {
    Finish();
    prev_ = Look;
    prevMs_ = Ms;
  }
  void Step(int64_t Ms, const TLook& Look) {
    const int32_t fadeDir = (Look.ContrastSum > prev_.ContrastSum) - (Look.ContrastSum < prev_.ContrastSum);
    Advance(fade_, fadeDir, Ms, static_cast<int32_t>(ContrastPercent(Look.MaxContrast)), true);
    int32_t type = 0, coordinate = 0;
    if (Look.HasLines && prev_.HasLines) {
      if (Look.LastLine != prev_.LastLine || Look.FirstLine != prev_.FirstLine) {
        const int32_t delta = Look.LastLine != prev_.LastLine ? Look.LastLine - prev_.LastLine : Look.FirstLine - prev_.FirstLine;
        type = delta > 0 ? 1 : 2;
        coordinate = Look.LastLine != prev_.LastLine ? Look.LastLine : Look.FirstLine;
      } else if (Look.Column != prev_.Column) {
        type = Look.Column > prev_.Column ? 3 : 4;
        coordinate = Look.Column;
      }
    }
    Advance(scroll_, type, Ms, coordinate, false);
    prev_ = Look;
    prevMs_ = Ms;
  }
  void Finish() {
    Flush(fade_, true);
    Flush(scroll_, false);
  }

 private:
  struct Run {
    int32_t Kind = 0;  // fade: direction; scroll: type; 0 none
    int32_t Steps = 0;
    int64_t Start = 0, Last = 0;
    int32_t Value = 0;
  };

  void Advance(Run& R, int32_t Kind, int64_t Ms, int32_t Value, bool IsFade) {
    if (Kind == 0 || Kind != R.Kind) {
      Flush(R, IsFade);
      if (Kind == 0) return;
      R.Kind = Kind;
      R.Start = prevMs_;
    }
    ++R.Steps;
    R.Last = Ms;
    R.Value = Value;
  }
  void Flush(Run& R, bool IsFade) {
    // One change is a cut, not an effect.
    if (R.Steps >= 2) {
      const auto start = static_cast<int32_t>(std::min<int64_t>(R.Start, INT32_MAX));
      const auto duration = static_cast<int32_t>(std::min<int64_t>(R.Last - R.Start, INT32_MAX));
      if (IsFade) info_.Fades.push_back({start, duration, R.Value});
      else info_.Scrolls.push_back({start, duration, R.Kind, R.Value});
    }
    R = Run{};
  }

  TCutSupFromFileResult& info_;
  TLook prev_;
  int64_t prevMs_ = 0;
  Run fade_, scroll_;
};

// What the display-control sequences of one unit have set so far.
struct TUnitState {
  bool On = false;
  TCodeNibbles Colours{};
  TCodeNibbles Contrasts{};
  bool HasArea = false, HasFields = false;
  TSpuArea Area;
  uint32_t TopField = 0, BottomField = 0;
  std::vector<TLineChange> Lines;
  const uint8_t* HdPalette = nullptr;
  const uint8_t* HdAlpha = nullptr;
};

TLook LookOf(const TUnitState& S) {
  TLook l;
  auto add = [&l](const TCodeNibbles& Contrasts) {
    for (const uint8_t c : Contrasts) {
      l.ContrastSum += c;
      l.MaxContrast = std::max(l.MaxContrast, c);
    }
  };
  add(S.Contrasts);
  for (const auto& line : S.Lines)
    for (const auto& p : line.Points) add(p.Contrasts);
  if (!S.Lines.empty()) {
    l.HasLines = true;
    l.FirstLine = S.Lines.front().FirstLine;
    l.LastLine = S.Lines.front().LastLine;
    l.Column = S.Lines.front().Points.empty() ? 0 : S.Lines.front().Points.front().Column;
  }
  return l;
}

std::string CommandText(uint8_t Command) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", Command);
  return text;
}

// One ".sup" file being decoded.
class TSupDecoder {
 public:
  TSupDecoder(core::RunContext& Run, const SubpicSettings& Settings, const std::string& SupFileName,
              const std::string& BmpName, TPictureSize& PictureSize, TCutSupFromFileResult& Info, bool NoPictures,
              const TSubpicturePalette& Palette)
      : run_(Run), supName_(SupFileName), bmpName_(BmpName), size_(PictureSize), info_(Info),
        noPictures_(NoPictures), palette_(Palette), effects_(Info), format_(Settings.PictureFormat) {}

  bool Decode();

 private:
  bool ReadWhole(std::vector<uint8_t>& Data);
  void DecodeUnit(const uint8_t* Unit, const TSpuHeader& Header, uint64_t At);
  void Apply(const TDisplayControl& C, TUnitState& S, bool& NewBitmap) const;
  void DrawPicture(const uint8_t* Unit, const TSpuHeader& Header, const TUnitState& S, uint64_t At);
  bool ChooseCanvas(TSpuKind Kind, const TSpuArea& Area);
  void BuildPalette(TSpuKind Kind, const TUnitState& S);
  void Report(const std::string& Text) {
    whole_ = false;
    run_.LogError("Subpicture file " + platform::ExtractFileName(supName_) + ": " + Text);
  }
  static std::string At(uint64_t Offset) { return "unit at byte " + std::to_string(Offset); }

  core::RunContext& run_;
  const std::string& supName_;
  const std::string& bmpName_;
  TPictureSize& size_;
  TCutSupFromFileResult& info_;
  bool noPictures_;
  const TSubpicturePalette& palette_;
  TEffectTracker effects_;
  TPictureFormat format_;
  bool whole_ = true;
  uint64_t elapsedTicks_ = 0;   // display time of the units before the current one
  std::vector<uint8_t> codes_;  // the current picture's decoded area, reused
  TIndexedPicture picture_;     // reused from picture to picture
  std::vector<std::array<uint8_t, 8>> codeSets_;  // colours and contrasts of each palette set
};

bool TSupDecoder::ReadWhole(std::vector<uint8_t>& Data) {
  const int fd = platform::OpenRegularFile(supName_, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    // A missing file decodes nothing and is not taken.
    whole_ = false;
    if (errno != ENOENT) Report(std::string("cannot be opened (") + std::strerror(errno) + ")");
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    Report(std::string("cannot be read (") + std::strerror(errno) + ")");
    ::close(fd);
    return false;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size > kMaxSupFileSize) {
    Report("its " + std::to_string(size) + " bytes are more than a subpicture stream holds; not decoded");
    ::close(fd);
    return false;
  }
  Data.resize(size);
  int err = 0;
  const size_t got = platform::ReadFull(fd, Data.data(), Data.size(), &err);
  ::close(fd);
  if (got != size) {
    Report("only " + std::to_string(got) + " of its " + std::to_string(size) + " bytes could be read" +
           (err ? std::string(" (") + std::strerror(err) + ")" : std::string()));
    if (err) run_.NoteReadError(supName_);
    Data.resize(got);
  }
  return true;
}

bool TSupDecoder::Decode() {
  std::vector<uint8_t> data;
  if (!ReadWhole(data)) return whole_;
  uint64_t at = 0;
  uint32_t units = 0;
  while (at < data.size()) {
    if (++units % kUnitsBetweenPumps == 0) run_.ProcessMessages();
    if (run_.Aborted()) {
      whole_ = false;
      break;
    }
    const uint64_t left = data.size() - at;
    TSpuHeader header;
    if (!header.Decode(data.data() + at, left)) {
      Report(At(at) + ": the last " + std::to_string(left) + " bytes hold no whole unit header; ignored");
      break;
    }
    // Without a size that fits, the next unit cannot be found: the rest is lost.
    if (!header.SizeFits(left)) {
      Report(At(at) + ": its size " + std::to_string(header.Size) + " does not fit the " + std::to_string(left) +
             " bytes left; the rest of the file is skipped");
      break;
    }
    if (!header.ControlInside()) {
      Report(At(at) + ": its control table offset " + std::to_string(header.ControlOffset) +
             " lies outside the unit of " + std::to_string(header.Size) + " bytes; unit skipped");
    } else {
      DecodeUnit(data.data() + at, header, at);
    }
    at += header.Size;
  }
  info_.DurationMs = static_cast<uint32_t>(std::min<int64_t>(RoundedMs(elapsedTicks_), UINT32_MAX));
  return whole_;
}

void TSupDecoder::Apply(const TDisplayControl& C, TUnitState& S, bool& NewBitmap) const {
  NewBitmap = (C.HasArea && (!S.HasArea || !(C.Area == S.Area))) ||
              (C.HasFields && (!S.HasFields || C.TopField != S.TopField || C.BottomField != S.BottomField));
  if (C.HasColours) S.Colours = C.Colours;
  if (C.HasContrasts) S.Contrasts = C.Contrasts;
  if (C.HasArea) S.Area = C.Area, S.HasArea = true;
  if (C.HasFields) S.TopField = C.TopField, S.BottomField = C.BottomField, S.HasFields = true;
  if (C.HasLineChanges) S.Lines = C.LineChanges;
  if (C.HdPalette) S.HdPalette = C.HdPalette;
  if (C.HdAlpha) S.HdAlpha = C.HdAlpha;
  if (C.Start || C.Stop) S.On = C.DisplayOn;
}

void TSupDecoder::DecodeUnit(const uint8_t* Unit, const TSpuHeader& Header, uint64_t At) {
  TUnitState state;
  TLook look;  // of the state so far; only contrasts and line changes alter it
  uint64_t stopTicks = 0;
  uint32_t pictures = 0;
  uint64_t read = 0;
  const int64_t baseMs = RoundedMs(elapsedTicks_);
  uint32_t offset = Header.ControlOffset;
  for (;;) {
    TDisplayControl c;
    if (!DecodeDisplayControl(Unit, Header.Size, Header.Kind, offset, c)) {
      Report(this->At(At) + ": the control sequence at " + std::to_string(offset) + " is cut off by the unit's end");
      break;
    }
    read += c.End - offset;
    if (read > kReadsPerUnitByte * Header.Size) {
      Report(this->At(At) + ": its control sequences read the same bytes over and over; the sequences from the one at " +
             std::to_string(offset) + " on are skipped");
      break;
    }
    if (c.Fault == TControlFault::Truncated && c.FaultCommand == 0xFF)
      Report(this->At(At) + ": the control sequence at " + std::to_string(offset) + " has no end code before the unit's end");
    else if (c.Fault == TControlFault::Truncated)
      Report(this->At(At) + ": command " + CommandText(c.FaultCommand) + " of the control sequence at " +
             std::to_string(offset) + " runs past the unit's end; the rest of the sequence is skipped");
    else if (c.Fault == TControlFault::UnknownCommand)
      Report(this->At(At) + ": unknown command " + CommandText(c.FaultCommand) + " in the control sequence at " +
             std::to_string(offset) + "; the rest of the sequence is skipped");
    const bool wasOn = state.On;
    bool newBitmap = false;
    Apply(c, state, newBitmap);
    if (c.HasContrasts || c.HasLineChanges) look = LookOf(state);
    const uint64_t ticks = static_cast<uint64_t>(c.Delay) * kDelayTicks;
    const int64_t ms = baseMs + RoundedMs(ticks);
    if (state.On && (!wasOn || newBitmap)) {
      if (++pictures <= kMaxPicturesPerUnit)
        DrawPicture(Unit, Header, state, At);
      else if (pictures == kMaxPicturesPerUnit + 1)
        Report(this->At(At) + ": more than " + std::to_string(kMaxPicturesPerUnit) +
               " pictures in one unit; the later ones are not drawn");
      effects_.Begin(ms, look);
    } else if (state.On) {
      effects_.Step(ms, look);
    } else if (wasOn) {
      effects_.Finish();
      stopTicks = ticks;
    }
    // The last sequence points at itself; a link backwards would loop.
    if (c.Next == offset) break;
    if (c.Next < offset || c.Next >= Header.Size) {
      Report(this->At(At) + ": the control sequence at " + std::to_string(offset) + " links to " +
             std::to_string(c.Next) + ", outside the rest of the unit; the sequences after it are skipped");
      break;
    }
    offset = c.Next;
  }
  effects_.Finish();
  elapsedTicks_ += stopTicks;
}

bool TSupDecoder::ChooseCanvas(TSpuKind Kind, const TSpuArea& Area) {
  const bool hd = Kind == TSpuKind::HD;
  const int32_t maxW = hd ? kHdMaxWidth : kSdMaxWidth, maxH = hd ? kHdMaxHeight : kSdMaxHeight;
  if (size_.Width <= 0 || size_.Height <= 0 || size_.Width > maxW || size_.Height > maxH) {
    size_.Width = maxW;
    size_.Height = hd ? kHdMaxHeight : (Area.Y2 < kNtscLines ? kNtscLines : kSdMaxHeight);
  }
  return Area.X2 < size_.Width && Area.Y2 < size_.Height;
}

void TSupDecoder::BuildPalette(TSpuKind Kind, const TUnitState& S) {
  auto& pal = picture_.Palette;
  pal.clear();
  if (Kind == TSpuKind::HD) {
    pal.resize(256, TRGBA{0, 0, 0, 255});
    for (size_t i = 0; i < 256; ++i) {
      if (S.HdPalette) {
        const uint8_t* e = S.HdPalette + 3 * i;
        const auto rgb = disc::YCrCbToRGBUnsnapped(e[0], e[1], e[2]);
        for (int c = 0; c < 3; ++c) pal[i][c] = static_cast<uint8_t>(disc::SnapPaletteChannel(rgb[c]));
      } else if (i < 16) {
        pal[i] = TRGBA{palette_[3 * i], palette_[3 * i + 1], palette_[3 * i + 2], 255};
      }
      if (S.HdAlpha) pal[i][3] = AlphaOf(static_cast<uint8_t>((i & 1) ? S.HdAlpha[i / 2] & 15 : S.HdAlpha[i / 2] >> 4));
    }
    return;
  }
  pal.push_back(TRGBA{0, 0, 0, 0});
  for (const auto& set : codeSets_)
    for (size_t code = 0; code < kCodesPerSet; ++code) {
      const uint8_t colour = set[code] & kMaxNibble;
      pal.push_back(TRGBA{palette_[3 * colour], palette_[3 * colour + 1], palette_[3 * colour + 2],
                          AlphaOf(set[kCodesPerSet + code])});
    }
}

void TSupDecoder::DrawPicture(const uint8_t* Unit, const TSpuHeader& Header, const TUnitState& S, uint64_t At) {
  if (!S.HasArea || !S.HasFields) {
    Report(this->At(At) + ": the display starts before the unit gives its picture's area and data; no picture");
    return;
  }
  const TSpuArea& a = S.Area;
  const bool hd = Header.Kind == TSpuKind::HD;
  const int32_t w = a.Width(), h = a.Height();
  if (w <= 0 || h <= 0 || a.X2 >= (hd ? kHdMaxWidth : kSdMaxWidth) || a.Y2 >= (hd ? kHdMaxHeight : kSdMaxHeight)) {
    Report(this->At(At) + ": picture area " + std::to_string(a.X1) + "," + std::to_string(a.Y1) + " to " +
           std::to_string(a.X2) + "," + std::to_string(a.Y2) + " is empty or larger than the screen; refused");
    return;
  }
  const bool fits = ChooseCanvas(Header.Kind, a);
  codes_.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
  const TRleResult rle = hd ? DecodeHdPicture(Unit, Header.Size, S.TopField, S.BottomField, w, h, codes_.data())
                            : DecodeSdPicture(Unit, Header.Size, S.TopField, S.BottomField, w, h, codes_.data());
  if (rle == TRleResult::OutOfData)
    Report(this->At(At) + ": the picture data ends before the picture's last line; the lines left take the background code");
  else if (rle == TRleResult::Clipped)
    Report(this->At(At) + ": runs of the picture data pass their line's end; cut at the line's end");
  if (!fits)
    Report(this->At(At) + ": the picture reaches past the " + std::to_string(size_.Width) + " x " +
           std::to_string(size_.Height) + " screen; the part outside is left out");

  ++info_.PictureCount;
  if (!hd) info_.CurrentColours = TPictureColours{S.Colours, S.Contrasts};
  if (noPictures_) return;

  // SD pixels: palette set by the colour-and-contrast change holding at the
  // pixel (the unit's own colours where none does), then the pixel's code.
  codeSets_.clear();
  auto setOf = [this](const TCodeNibbles& Colours, const TCodeNibbles& Contrasts) -> size_t {
    std::array<uint8_t, 8> key{};
    std::copy(Colours.begin(), Colours.end(), key.begin());
    std::copy(Contrasts.begin(), Contrasts.end(), key.begin() + kCodesPerSet);
    const auto found = std::find(codeSets_.begin(), codeSets_.end(), key);
    if (found != codeSets_.end()) return static_cast<size_t>(found - codeSets_.begin());
    if (codeSets_.size() >= kMaxCodeSets) return 0;
    codeSets_.push_back(key);
    return codeSets_.size() - 1;
  };
  if (!hd) setOf(S.Colours, S.Contrasts);

  // HD pictures index the unit's own palette; their outside takes its first
  // transparent entry.
  uint8_t outside = kOutsideIndex;
  if (hd) {
    BuildPalette(Header.Kind, S);
    const auto clear = std::find_if(picture_.Palette.begin(), picture_.Palette.end(), [](const TRGBA& E) { return E[3] == 0; });
    if (clear != picture_.Palette.end()) outside = static_cast<uint8_t>(clear - picture_.Palette.begin());
  }
  picture_.Width = size_.Width;
  picture_.Height = size_.Height;
  picture_.Pixels.assign(static_cast<size_t>(size_.Width) * static_cast<size_t>(size_.Height), outside);
  std::vector<size_t> pointSets;
  // Only the part of the area that lies on the screen is drawn.
  const int32_t rows = std::max(0, std::min(h, size_.Height - a.Y1));
  const int32_t cols = std::max(0, std::min(w, size_.Width - a.X1));
  for (int32_t y = 0; y < rows && cols > 0; ++y) {
    const uint8_t* src = codes_.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
    uint8_t* dst = picture_.Pixels.data() + static_cast<size_t>(a.Y1 + y) * static_cast<size_t>(size_.Width) + a.X1;
    if (hd) {
      std::memcpy(dst, src, static_cast<size_t>(cols));
      continue;
    }
    const int32_t screenLine = a.Y1 + y;
    const TLineChange* change = nullptr;
    for (const auto& line : S.Lines)
      if (screenLine >= line.FirstLine && screenLine <= line.LastLine) {
        change = &line;
        break;
      }
    pointSets.clear();
    if (change)
      for (const auto& p : change->Points) pointSets.push_back(setOf(p.Colours, p.Contrasts));
    // Columns only grow along the line, so the points passed stay passed.
    size_t set = 0, point = 0;
    const size_t points = change ? change->Points.size() : 0;
    for (int32_t x = 0; x < cols; ++x) {
      for (; point < points && change->Points[point].Column <= a.X1 + x; ++point) set = pointSets[point];
      dst[x] = static_cast<uint8_t>(1 + set * kCodesPerSet + src[x]);
    }
  }
  if (!hd) BuildPalette(Header.Kind, S);

  const std::string name = SubpicturePictureName(bmpName_, info_.PictureCount, PictureExtension(format_));
  if (run_.WritesOverSource(name)) return;
  std::string error;
  errno = 0;
  if (!WritePicture(format_, picture_, name, &error)) {
    const int err = errno;  // the log line may change errno
    Report(std::string(core::msg::ErrorInSubpictureManagerWhileConvertingTo) + " " + name + " (" + error + ")");
    // A picture the disk has no room for stops the run as any failed write does.
    if (err == ENOSPC || err == EDQUOT || err == EFBIG || err == EIO) run_.StopForWriteError(name);
  }
}

}  // namespace

uint32_t ContrastPercent(uint8_t Contrast) { return static_cast<uint32_t>(platform::RoundEven(Contrast * 20.0 / 3.0)); }

std::string SubpicturePictureName(const std::string& BmpName, uint32_t Number, const std::string& Extension) {
  std::string base = BmpName;
  if (base.size() >= 3 && ::strcasecmp(base.c_str() + base.size() - 3, "bmp") == 0) base.resize(base.size() - 3);
  else base += '.';
  if (Number <= 1) return base + Extension;
  if (!base.empty() && base.back() == '.') base.pop_back();
  return base + "_" + core::IntToStrZeroPad(Number, 3) + "." + Extension;
}

TSupOutputResult DecodeSupOutput(core::RunContext& Run, const SubpicSettings& Settings, const std::string& SupFileName,
                                 const std::string& BmpName, TPictureSize& PictureSize,
                                 const TSubpicturePalette& Palette) {
  TSupOutputResult r;
  TSupDecoder decoder(Run, Settings, SupFileName, BmpName, PictureSize, r.Info, false, Palette);
  r.Whole = decoder.Decode();
  return r;
}

void DecodeSupFile(core::RunContext& Run, const SubpicSettings& Settings, const std::string& SupFileName,
                   const std::string& BmpName, TPictureSize& PictureSize, TCutSupFromFileResult& Info, bool NoPictures,
                   const TSubpicturePalette& Palette) {
  TSupDecoder decoder(Run, Settings, SupFileName, BmpName, PictureSize, Info, NoPictures, Palette);
  decoder.Decode();
}

}  // namespace tess::subpic
