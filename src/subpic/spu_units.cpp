#include "subpic/spu_units.h"

#include <algorithm>
#include <cstring>

#include "core/bit_stream.h"
#include "core/byte_order.h"

namespace tess::subpic {

using core::ReadBE16;
using core::ReadBE32;

// ---- unit header ----

bool TSpuHeader::Decode(const uint8_t* Data, uint64_t Available) {
  if (Available < kSdUnitHeaderSize) return false;
  const uint16_t first = ReadBE16(Data);
  // An SD unit is never empty, so a zero size word is the HD identifier.
  if (first == 0) {
    if (Available < kHdUnitHeaderSize) return false;
    Kind = TSpuKind::HD;
    Size = ReadBE32(Data + 2);
    ControlOffset = ReadBE32(Data + 6);
    return true;
  }
  Kind = TSpuKind::SD;
  Size = first;
  ControlOffset = ReadBE16(Data + 2);
  return true;
}

namespace {

uint32_t ControlHeaderSize(TSpuKind Kind) { return Kind == TSpuKind::HD ? 6 : 4; }

}  // namespace

bool TSpuHeader::ControlInside() const {
  return ControlOffset >= HeaderSize() && static_cast<uint64_t>(ControlOffset) + ControlHeaderSize(Kind) <= Size;
}

// ---- display-control sequences ----

namespace {

TCodeNibbles CodeNibbles(const uint8_t* P) {
  // Stored emphasis 2, emphasis 1, pattern, background.
  return {static_cast<uint8_t>(P[1] & 15), static_cast<uint8_t>(P[1] >> 4), static_cast<uint8_t>(P[0] & 15),
          static_cast<uint8_t>(P[0] >> 4)};
}

TSpuArea AreaOf(const uint8_t* P) {
  TSpuArea a;
  a.X1 = (P[0] << 4) | (P[1] >> 4);
  a.X2 = ((P[1] & 15) << 8) | P[2];
  a.Y1 = (P[3] << 4) | (P[4] >> 4);
  a.Y2 = ((P[4] & 15) << 8) | P[5];
  return a;
}

constexpr uint32_t kLineChangesEnd = 0x0FFFFFFF;
constexpr uint32_t kPixelChangeSize = 6;

// The parameter area of a colour-and-contrast change: line groups, each with its
// change points, up to the end mark. False when a group runs past the area.
bool DecodeLineChanges(const uint8_t* P, uint32_t Size, std::vector<TLineChange>& Out) {
  uint32_t at = 0;
  while (at + 4 <= Size) {
    const uint32_t word = ReadBE32(P + at);
    at += 4;
    if (word == kLineChangesEnd) return true;
    TLineChange line;
    line.FirstLine = static_cast<int32_t>((word >> 16) & 0xFFF);
    line.LastLine = static_cast<int32_t>(word & 0xFFF);
    const uint32_t points = (word >> 12) & 15;
    if (at + points * kPixelChangeSize > Size) return false;
    for (uint32_t i = 0; i < points; ++i, at += kPixelChangeSize) {
      TPixelChange c;
      c.Column = ReadBE16(P + at) & 0xFFF;
      c.Colours = CodeNibbles(P + at + 2);
      c.Contrasts = CodeNibbles(P + at + 4);
      line.Points.push_back(c);
    }
    Out.push_back(std::move(line));
  }
  // No end mark: the area was used up, which readers take as the end.
  return at == Size;
}

}  // namespace

bool DecodeDisplayControl(const uint8_t* Unit, uint32_t Size, TSpuKind Kind, uint32_t Offset, TDisplayControl& Out) {
  Out = TDisplayControl{};
  const uint32_t header = ControlHeaderSize(Kind);
  if (Offset > Size || Size - Offset < header) return false;
  const uint8_t* p = Unit + Offset;
  Out.Delay = ReadBE16(p);
  Out.Next = Kind == TSpuKind::HD ? ReadBE32(p + 2) : ReadBE16(p + 2);
  uint32_t at = Offset + header;
  // Each command checks that its parameters lie inside the unit before it reads them.
  auto take = [&](uint32_t n) -> const uint8_t* {
    if (Size - at < n) return nullptr;
    const uint8_t* q = Unit + at;
    at += n;
    return q;
  };
  auto stop = [&](TControlFault Fault, uint8_t Command) {
    Out.Fault = Fault;
    Out.FaultCommand = Command;
    Out.End = at;
    return true;
  };
  while (at < Size) {
    const uint8_t command = Unit[at++];
    const uint8_t* q = nullptr;
    switch (command) {
      case 0x00:
      case 0x01:
        Out.Start = true;
        Out.Forced = Out.Forced || command == 0x00;
        Out.DisplayOn = true;
        continue;
      case 0x02:
        Out.Stop = true;
        Out.DisplayOn = false;
        continue;
      case 0x03:
        if (!(q = take(2))) break;
        Out.Colours = CodeNibbles(q);
        Out.HasColours = true;
        continue;
      case 0x04:
        if (!(q = take(2))) break;
        Out.Contrasts = CodeNibbles(q);
        Out.HasContrasts = true;
        continue;
      case 0x05:
      case 0x85:
        if (!(q = take(6))) break;
        Out.Area = AreaOf(q);
        Out.HasArea = true;
        continue;
      case 0x06:
        if (!(q = take(4))) break;
        Out.TopField = ReadBE16(q);
        Out.BottomField = ReadBE16(q + 2);
        Out.HasFields = true;
        continue;
      case 0x86:
        if (!(q = take(8))) break;
        Out.TopField = ReadBE32(q);
        Out.BottomField = ReadBE32(q + 4);
        Out.HasFields = true;
        continue;
      case 0x07: {
        // The size word counts itself.
        if (Size - at < 2) break;
        const uint32_t n = ReadBE16(Unit + at);
        if (n < 2 || !(q = take(n))) break;
        std::vector<TLineChange> lines;
        if (!DecodeLineChanges(q + 2, n - 2, lines)) break;
        Out.LineChanges = std::move(lines);
        Out.HasLineChanges = true;
        continue;
      }
      case 0x83:
        if (!(q = take(kHdPaletteBytes))) break;
        Out.HdPalette = q;
        continue;
      case 0x84:
        if (!(q = take(kHdAlphaBytes))) break;
        Out.HdAlpha = q;
        continue;
      case 0xFF:
        return stop(TControlFault::None, 0);
      default:
        return stop(TControlFault::UnknownCommand, command);
    }
    return stop(TControlFault::Truncated, command);
  }
  return stop(TControlFault::Truncated, 0xFF);
}

// ---- run-length coded pictures ----

namespace {

// Nibbles of one SD field, from its offset to the unit's end.
class NibbleReader {
 public:
  NibbleReader(const uint8_t* Data, uint32_t Size, uint32_t Offset)
      : data_(Data), end_(static_cast<uint64_t>(Size) * 2), at_(static_cast<uint64_t>(Offset) * 2) {}
  bool Has(uint32_t N) const { return at_ <= end_ && end_ - at_ >= N; }
  uint32_t Next() {
    const uint8_t b = data_[at_ / 2];
    const uint32_t v = (at_ & 1) ? (b & 15) : (b >> 4);
    ++at_;
    return v;
  }
  void AlignToByte() { at_ = (at_ + 1) & ~uint64_t{1}; }

 private:
  const uint8_t* data_;
  uint64_t end_;
  uint64_t at_;
};

constexpr int32_t kToLineEnd = -1;

// One SD run: its length (kToLineEnd for the rest of the line) and code.
// False when the field's data ends inside the run's code.
bool ReadSdRun(NibbleReader& R, int32_t& Length, uint8_t& Code) {
  // The code grows by a nibble while its value stays below 4, 16 and 64.
  uint32_t v = 0;
  for (uint32_t limit = 1; v < limit && limit <= 0x40; limit <<= 2) {
    if (!R.Has(1)) return false;
    v = (v << 4) | R.Next();
  }
  Code = static_cast<uint8_t>(v & 3);
  Length = v < 4 ? kToLineEnd : static_cast<int32_t>(v >> 2);
  return true;
}

int32_t BitsLeft(const core::TBitStream& B) {
  if (B.ByteIndex >= B.Size) return 0;
  return (B.Size - B.ByteIndex - 1) * 8 + B.BitsLeft;
}

// One HD run: a run flag, a colour-width flag, the colour (2 or 8 bits) and for
// runs a length of 3 bits (+2) or 7 bits (+9; 0 for the rest of the line).
bool ReadHdRun(core::TBitStream& B, int32_t& Length, uint8_t& Colour) {
  if (BitsLeft(B) < 2) return false;
  const bool run = B.ReadBit() != 0;
  const int colourBits = B.ReadBit() ? 8 : 2;
  if (BitsLeft(B) < colourBits) return false;
  Colour = static_cast<uint8_t>(B.ReadBits(colourBits));
  if (!run) {
    Length = 1;
    return true;
  }
  if (BitsLeft(B) < 1) return false;
  if (B.ReadBit() == 0) {
    if (BitsLeft(B) < 3) return false;
    Length = static_cast<int32_t>(B.ReadBits(3)) + 2;
    return true;
  }
  if (BitsLeft(B) < 7) return false;
  const int32_t n = static_cast<int32_t>(B.ReadBits(7));
  Length = n == 0 ? kToLineEnd : n + 9;
  return true;
}

void AlignToByte(core::TBitStream& B) {
  if (B.BitsLeft != 8) {
    B.BitsLeft = 8;
    ++B.ByteIndex;
  }
}

// Decodes the lines First, First + 2, ... of one field with ReadRun and Align.
template <class Reader, class ReadRun, class Align>
TRleResult DecodeField(Reader& R, ReadRun Read, Align AlignLine, int32_t First, int32_t Width, int32_t Height,
                       uint8_t* Pixels, bool& Clipped) {
  for (int32_t y = First; y < Height; y += 2) {
    uint8_t* line = Pixels + static_cast<size_t>(y) * static_cast<size_t>(Width);
    int32_t x = 0;
    while (x < Width) {
      int32_t length = 0;
      uint8_t value = 0;
      if (!Read(R, length, value)) return TRleResult::OutOfData;
      if (length == kToLineEnd) {
        length = Width - x;
      } else if (length > Width - x) {
        length = Width - x;
        Clipped = true;
      }
      std::memset(line + x, value, static_cast<size_t>(length));
      x += length;
    }
    AlignLine(R);
  }
  return TRleResult::Whole;
}

TRleResult Combine(TRleResult Top, TRleResult Bottom, bool Clipped) {
  if (Top == TRleResult::OutOfData || Bottom == TRleResult::OutOfData) return TRleResult::OutOfData;
  return Clipped ? TRleResult::Clipped : TRleResult::Whole;
}

}  // namespace

TRleResult DecodeSdPicture(const uint8_t* Unit, uint32_t Size, uint32_t TopField, uint32_t BottomField, int32_t Width,
                           int32_t Height, uint8_t* Pixels) {
  std::memset(Pixels, 0, static_cast<size_t>(Width) * static_cast<size_t>(Height));
  bool clipped = false;
  auto align = [](NibbleReader& R) { R.AlignToByte(); };
  NibbleReader top(Unit, Size, TopField), bottom(Unit, Size, BottomField);
  const TRleResult a = DecodeField(top, ReadSdRun, align, 0, Width, Height, Pixels, clipped);
  const TRleResult b = DecodeField(bottom, ReadSdRun, align, 1, Width, Height, Pixels, clipped);
  return Combine(a, b, clipped);
}

TRleResult DecodeHdPicture(const uint8_t* Unit, uint32_t Size, uint32_t TopField, uint32_t BottomField, int32_t Width,
                           int32_t Height, uint8_t* Pixels) {
  std::memset(Pixels, 0, static_cast<size_t>(Width) * static_cast<size_t>(Height));
  bool clipped = false;
  auto fieldReader = [&](uint32_t Offset) {
    const uint32_t at = std::min(Offset, Size);
    return core::TBitStream(Unit + at, static_cast<int32_t>(Size - at));
  };
  core::TBitStream top = fieldReader(TopField), bottom = fieldReader(BottomField);
  const TRleResult a = DecodeField(top, ReadHdRun, AlignToByte, 0, Width, Height, Pixels, clipped);
  const TRleResult b = DecodeField(bottom, ReadHdRun, AlignToByte, 1, Width, Height, Pixels, clipped);
  return Combine(a, b, clipped);
}

}  // namespace tess::subpic
