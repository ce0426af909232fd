#include "streams/pulldown.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

#include "core/bit_stream.h"
#include "core/byte_order.h"
#include "core/run_context.h"
#include "platform/file_io.h"
#include "platform/rounding.h"
#include "streams/m2v_headers.h"
#include "streams/m2v_reader.h"
#include "streams/m2v_rewrite.h"

namespace tess::streams {

namespace {

constexpr int32_t kBlockSize = 16384;
constexpr size_t kVifRecordSize = 40;
constexpr uint8_t kVifFlagAlways = 0x08;
constexpr uint32_t kVideoFormatNtsc = 2;

}  // namespace

TPulldown::TPulldown(core::RunContext& Run, const std::string& Source, const TPulldownOptions& Options,
                     const std::string& Target)
    : Run_(Run), Options_(Options) {
  if (Options_.SetFrameRate) {
    Pulldown_ = false;
    RecalculateTimeCodes_ = false;
    RateCode_ = Options_.TargetRate == 1 ? 1 : Options_.TargetRate == 2 ? 3 : 4;
    Log(" - setting frame rate to ");
  }
  if (Options_.StripRepeatFirstField) {
    Pulldown_ = false;
    Log(" - stripping out RFF flags");
  }
  if (Options_.KeepTimeCodes) RecalculateTimeCodes_ = false;
  if (Options_.DropFrameMode == 1 || Options_.DropFrameMode == 2) {
    DropFrame_ = Options_.DropFrameMode == 1;
    RecalculateTimeCodes_ = true;
  }
  Log("Pulldown Started");
  Log("  SOURCE = " + Source);
  Log("  TARGET = " + Target);
  Walk(Source, Target);
  if (!SourceRead) return;  // nothing to describe
  // Fields and their flags are MPEG-2's: of anything else a ".vif" would
  // describe nothing.
  if (!Mpeg2Video || Pictures.empty()) {
    Run_.LogError(Source + " is not MPEG-2 video; no video information file is written.");
    return;
  }
  Log("  Total Frames = " + std::to_string(static_cast<int64_t>(Frames)));
  Log("  Total Fields = " + std::to_string(static_cast<int64_t>(Fields)));
  Log("  Total GOPS = " + std::to_string(Gops));
  WriteVif(Target);
}

void TPulldown::Walk(const std::string& Source, const std::string& Target) {
  std::unique_ptr<core::TFileBitStream> bits;
  try {
    bits = std::make_unique<core::TFileBitStream>(Source, kBlockSize, &Run_);
  } catch (const core::EParserFileException&) {
    Log("ERROR: Unable to open input file. #Debug_1");
    return;
  }
  SourceRead = true;
  const int64_t fileSize = bits->FileSize();
  int out = -1;
  if (!Options_.NoOutput && !Run_.WritesOverSource(Target)) {
    Run_.RemoveOwnFile(Target);
    out = ::open(Target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) Log("ERROR: Unable to open output file. #Debug_2");
  }
  const bool writing = out >= 0;
  if (writing) {
    bits->CopyToOutput = true;
    bits->OutputHandle = out;
  }
  // Changes reach only a target; a measurement records the flags as they
  // would be written.
  const auto patch = [&](const uint8_t* Bytes) { return writing ? Bytes : nullptr; };

  TM2VStartCodeReader codes;
  codes.Attach(bits.get());
  codes.Next();
  if (codes.AtEnd || codes.NextCode != kSequenceHeaderCode) Log("ERROR: File is not an MPEG Video Stream");

  const int32_t tcBase = IntegerFrameRate(RateCode_);
  int64_t seqPos = 0, gopPos = 0, picStart = -1;
  uint32_t horizontal = 0, vertical = 0, temporalRef = 0;
  double framesBeforeGop = 0;
  bool preparedSet = false;
  const auto closePicture = [&](int64_t End) {
    if (picStart >= 0 && !Pictures.empty()) Pictures.back().Length = End - picStart;
    picStart = -1;
  };
  // Extensions and user data that are passed as they stand.
  const auto passExtensions = [&]() {
    while (!codes.AtEnd && (codes.NextCode == kExtensionStartCode || codes.NextCode == kUserDataStartCode)) {
      codes.ReadValueByte();
      codes.ReadTo(nullptr);
    }
  };

  while (!codes.AtEnd) {
    const uint32_t code = codes.NextCode;
    const int64_t pos = codes.StartCodePos;
    if (code == kSequenceHeaderCode || code == kGroupStartCode || code == kPictureStartCode)
      closePicture(pos);
    else if (code == kSequenceEndCode)
      closePicture(pos + 4);  // the end code goes with the picture before it
    TM2VHeaderBytes h;
    codes.ReadValueByte();
    switch (code) {
      case kSequenceHeaderCode: {
        seqPos = pos;
        uint8_t b[4];
        core::WriteBE32(b, bits->PeekBits(32));
        horizontal = (uint32_t{b[0]} << 4) | (b[1] >> 4);
        vertical = ((uint32_t{b[1]} & 0xF) << 8) | b[2];
        const uint32_t aspect = Options_.AspectCode > 0 ? static_cast<uint32_t>(Options_.AspectCode) : b[3] >> 4u;
        b[3] = static_cast<uint8_t>((aspect << 4) | RateCode_);
        codes.TakeAhead(h, 4, patch(b));
        codes.ReadTo(&h);
        if (writing && Options_.PanScanMode == 2 && !preparedSet) {
          // Added after every sequence extension: 3/4 of the width shown.
          TDisplayExtSettings d;
          d.VideoFormat = kVideoFormatNtsc;
          d.DisplayHorizontalSize = static_cast<uint32_t>(platform::RoundEven(horizontal * 0.75));
          d.DisplayVerticalSize = vertical;
          const TPreparedDisplayExt p = PrepareDisplayExtension(d);
          bits->PreparedExtLength = p.Length;
          std::memcpy(bits->PreparedExt, p.Bytes.data(), p.Bytes.size());
          bits->InsertDisplayExt = true;
          preparedSet = true;
        }
        if (!codes.AtEnd && codes.NextCode == kExtensionStartCode &&
            codes.PeekExtensionId() == kSequenceExtensionId) {
          Mpeg2Video = true;
          codes.ReadValueByte();
          TM2VHeaderBytes e;
          uint8_t x[2];
          core::WriteBE16(x, static_cast<uint16_t>(bits->PeekBits(16)));
          x[1] = static_cast<uint8_t>((x[1] & 0xF7) | (Options_.SequenceProgressiveMode == 1 ? 0x08 : 0));
          codes.TakeAhead(e, 2, patch(x));
          codes.ReadTo(nullptr);
          if (writing && Options_.PanScanMode == 2 && !codes.AtEnd) bits->MarkDisplayExtEdit(0);
        }
        while (!codes.AtEnd && (codes.NextCode == kExtensionStartCode || codes.NextCode == kUserDataStartCode)) {
          const bool display = codes.NextCode == kExtensionStartCode &&
                               codes.PeekExtensionId() == kSequenceDisplayExtensionId;
          codes.ReadValueByte();
          if (display && (Options_.PanScanMode == 1 || Options_.PanScanMode == 3)) {
            TM2VHeaderBytes e;
            const bool colour = (bits->PeekBits(8) & 1) != 0;
            codes.TakeAhead(e, colour ? 4 : 1, nullptr);
            const uint32_t width = Options_.PanScanMode == 1
                                       ? static_cast<uint32_t>(platform::RoundEven(horizontal * 0.75))
                                       : horizontal;
            uint8_t s[4];
            core::WriteBE32(s, (bits->PeekBits(32) & 0x3FFFF) | ((width & 0x3FFF) << 18));
            codes.TakeAhead(e, 4, patch(s));
          }
          codes.ReadTo(nullptr);
        }
        break;
      }
      case kGroupStartCode: {
        ++Gops;
        gopPos = pos;
        framesBeforeGop = Frames;
        if (RecalculateTimeCodes_) {
          const auto f = static_cast<int64_t>(framesBeforeGop);
          const int64_t n = ((f / 2) * 5) / 2;
          const int64_t pictures = n % tcBase;
          const int64_t s = n / tcBase;
          const uint32_t tc = (uint32_t{DropFrame_} << 24) | (static_cast<uint32_t>((s / 3600) % 24) << 19) |
                              (static_cast<uint32_t>((s / 60) % 60) << 13) | (1u << 12) |
                              (static_cast<uint32_t>(s % 60) << 6) | static_cast<uint32_t>(pictures);
          uint8_t b[4];
          core::WriteBE32(b, (tc << 7) | (bits->PeekBits(32) & 0x7F));
          codes.TakeAhead(h, 4, patch(b));
        }
        codes.ReadTo(nullptr);
        passExtensions();
        break;
      }
      case kPictureStartCode: {
        codes.ReadTo(&h);
        const auto bytes = h.Span();
        temporalRef = bytes.size() >= 2 ? (uint32_t{bytes[0]} << 2) | (bytes[1] >> 6) : 0;
        const uint32_t type = bytes.size() >= 2 ? (bytes[1] >> 3) & 7 : 0;
        TPulldownPicture& pic = Pictures.emplace_back();
        pic.SequencePosition = seqPos;
        pic.GopPosition = gopPos;
        pic.OffsetFromSequence = pos - seqPos;
        pic.Gop = Gops;
        pic.TypeCode = static_cast<uint8_t>(type * 4 + 3);
        picStart = pos;
        if (!codes.AtEnd && codes.NextCode == kExtensionStartCode &&
            codes.PeekExtensionId() == kPictureCodingExtensionId) {
          codes.ReadValueByte();
          TM2VHeaderBytes e;
          codes.TakeAhead(e, 3, nullptr);
          uint8_t x[2];
          core::WriteBE16(x, static_cast<uint16_t>(bits->PeekBits(16)));
          const int64_t display = static_cast<int64_t>(framesBeforeGop) + temporalRef;
          const int phase = static_cast<int>(display % 4) + 1;
          const uint8_t threeTwo = Options_.ThreeTwo ? 1 : 0;
          uint8_t r = 0;
          if (!Options_.StripRepeatFirstField) {
            if (phase == 1)
              r = Options_.ForceRepeatFirst && Fields < 3 ? 1 : threeTwo;
            else
              r = phase == 3 ? threeTwo : static_cast<uint8_t>(!threeTwo);
          }
          if (Pulldown_ || Options_.TopFieldFirstMode != 0) {
            const int tff = Options_.TopFieldFirstMode == 1 ? 1 : Options_.TopFieldFirstMode == 2 ? 0 : phase <= 2;
            x[0] = static_cast<uint8_t>((x[0] & 0x7F) | (tff << 7));
          }
          if (Pulldown_) x[0] = static_cast<uint8_t>((x[0] & 0xFD) | (r << 1));
          if (Options_.StripRepeatFirstField) x[0] &= 0xFD;
          const int progressive = Options_.FrameProgressiveMode == 1   ? 1
                                  : Options_.FrameProgressiveMode == 2 ? 0
                                  : Pulldown_                          ? r
                                                                       : -1;
          if (progressive >= 0) {
            x[0] = static_cast<uint8_t>((x[0] & 0xFE) | progressive);
            x[1] = static_cast<uint8_t>((x[1] & 0x7F) | (progressive << 7));
          }
          codes.TakeAhead(e, 2, patch(x));
          pic.TopFieldFirst = static_cast<uint8_t>(x[0] >> 7);
          pic.RepeatFirstField = static_cast<uint8_t>((x[0] >> 1) & 1);
          Fields += r + 2;
          codes.ReadTo(nullptr);
        } else {
          Fields += 2;
        }
        Frames += 1;
        passExtensions();
        while (!codes.AtEnd && codes.NextCode >= kFirstSliceCode && codes.NextCode <= kLastSliceCode) {
          codes.ReadValueByte();
          codes.Next();
        }
        break;
      }
      case kSequenceEndCode:
        ++SequenceEnds;
        if (writing && Options_.RemoveSequenceEnds) bits->MarkSkipRange(-4, 4);
        codes.Next();
        break;
      default:
        codes.Next();
    }
  }
  closePicture(fileSize);
  Log("EOF. Emptying buffer and exiting.");
  const bool copied = bits->Close();
  // A walk cut short by a read error describes part of the source: no ".vif".
  if (bits->ReadFailed()) SourceRead = false;
  if (writing) {
    bool ok = copied && SourceRead && bits->MisplacedEdits() == 0;
    if (Options_.RemoveSequenceEnds && ok) {
      Log("Adding sequence end code to the end of file");
      static constexpr uint8_t kEnd[4] = {0, 0, 1, 0xB7};
      ok = platform::WriteFull(out, kEnd, sizeof kEnd);
    }
    OutputWritten = (::close(out) == 0) && ok;
    if (!OutputWritten) Run_.LogError("The copy of " + Source + " into " + Target + " is not complete.");
  }
}

void TPulldown::WriteVif(const std::string& Target) {
  if (Target.size() < 3) {
    Log("Destination filename not correct.");
    return;
  }
  const std::string name = Target + ".vif";
  Log("Creating: " + name);
  std::vector<uint8_t> vif(kVifRecordSize, 0);
  uint32_t record = 0, gopFields = 0, currentGop = 0;
  uint16_t fieldInGop = 0;
  const auto gopEnds = [&]() {
    if (gopFields > HighestFieldCount) {
      HighestFieldCount = gopFields;
      HighestFieldGop = currentGop;
    }
  };
  for (size_t i = 0; i < Pictures.size(); ++i) {
    const TPulldownPicture& p = Pictures[i];
    if (i == 0 || p.Gop != currentGop) {
      if (i > 0) gopEnds();
      currentGop = p.Gop;
      gopFields = 0;
      fieldInGop = 0;
    }
    const int fields = p.RepeatFirstField ? 3 : 2;
    gopFields += static_cast<uint32_t>(fields);
    for (int k = 1; k <= fields; ++k) {
      uint8_t r[kVifRecordSize] = {};
      core::WriteBE32(r + 0, ++record);
      core::WriteBE32(r + 4, static_cast<uint32_t>(i + 1));
      core::WriteBE32(r + 8, p.Gop);
      core::WriteBE16(r + 12, ++fieldInGop);
      r[14] = static_cast<uint8_t>(k * 16 + p.TypeCode);
      r[15] = static_cast<uint8_t>((p.RepeatFirstField << 7) | (p.TopFieldFirst << 6) | (p.RepeatFirstField << 4) |
                                   kVifFlagAlways);
      core::WriteBE64(r + 16, static_cast<uint64_t>(p.SequencePosition));
      core::WriteBE64(r + 24, static_cast<uint64_t>(p.GopPosition));
      core::WriteBE32(r + 32, static_cast<uint32_t>(p.OffsetFromSequence));
      core::WriteBE32(r + 36, static_cast<uint32_t>(p.Length));
      vif.insert(vif.end(), r, r + kVifRecordSize);
    }
  }
  if (!Pictures.empty()) gopEnds();  // the last GOP counts as well
  Log("  Highest Field Count: " + std::to_string(HighestFieldCount) + " AtGop : " + std::to_string(HighestFieldGop));
  uint8_t* h = vif.data();
  std::memcpy(h, "ScenaristVIF_V4", 15);
  std::memcpy(h + 16, "ENDC", 4);
  h[23] = static_cast<uint8_t>(SequenceEnds);
  std::memcpy(h + 24, "MXPC", 4);
  h[29] = static_cast<uint8_t>(HighestFieldCount);
  core::WriteBE16(h + 30, static_cast<uint16_t>(HighestFieldGop));
  int err = 0;
  VifWritten = platform::ReplaceFileWith(name, vif.data(), vif.size(), &err);
  if (!VifWritten) {
    Log("Could not open vif file for writing!");
    Run_.LogError("Can not create file " + name + platform::ErrorReason(err));
  }
}

bool RunPulldown(core::RunContext& Run, const std::string& FileName) {
  TPulldownOptions o;
  o.NoOutput = true;
  o.SetFrameRate = true;
  o.TargetRate = 1;
  o.DropFrameMode = 1;
  const TPulldown p(Run, FileName, o, FileName + ".m2v");
  return p.SourceRead && p.VifWritten;
}

}  // namespace tess::streams
