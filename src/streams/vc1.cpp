#include "streams/vc1.h"

#include <memory>

#include "core/bit_stream.h"
#include "core/run_context.h"
#include "platform/rounding.h"
#include "streams/m2v_stream.h"
#include "streams/unit_count.h"

namespace tess::streams {

namespace {

constexpr uint32_t kSequenceHeaderSuffix = 0x0F;
constexpr uint32_t kFrameSuffix = 0x0D;
constexpr uint32_t kCustomAspect = 15;
// The header's fields fit in these bytes.
constexpr size_t kHeaderBytes = 24;
// Frame rates by FRAMERATENR (values from 8 on are taken as 25).
constexpr double kFrameRates[8] = {0, 24, 25, 30, 50, 60, 48, 72};
constexpr uint32_t kRate1001 = 2;  // FRAMERATEDR: the rate over 1.001

}  // namespace

bool TVC1SequenceHeader::Decode(const uint8_t* Data, size_t Size) {
  *this = {};
  core::TBitStream in(Data, static_cast<int32_t>(Size));
  int64_t used = 0;
  const auto u = [&](int n) {
    used += n;
    return in.ReadBits(n);
  };
  PROFILE = u(2);
  LEVEL = u(3);
  COLORDIFF_FORMAT = u(2);
  FRMRTQ_POSTPROC = u(3);
  BITRTQ_POSTPROC = u(5);
  POSTPROCFLAG = u(1);
  MAX_CODED_WIDTH = u(12) * 2 + 2;
  MAX_CODED_HEIGHT = u(12) * 2 + 2;
  PULLDOWN = u(1);
  INTERLACE = u(1);
  TFCNTRFLAG = u(1);
  FINTERPFLAG = u(1);
  RESERVED = u(1);
  PSF = u(1);
  if ((DISPLAY_EXT = u(1))) {
    DISP_HORIZ_SIZE = u(14) + 1;
    DISP_VERT_SIZE = u(14) + 1;
    if ((ASPECT_RATIO_FLAG = u(1))) {
      ASPECT_RATIO = u(4);
      if (ASPECT_RATIO == kCustomAspect) {
        ASPECT_HORIZ_SIZE = u(8);
        ASPECT_VERT_SIZE = u(8);
      }
    }
    if ((FRAMERATE_FLAG = u(1))) {
      if ((FRAMERATEIND = u(1))) {
        FRAMERATEEXP = u(16);
      } else {
        FRAMERATENR = u(8);
        FRAMERATEDR = u(4);
      }
    }
    if ((COLOR_FORMAT_FLAG = u(1))) {
      COLOR_PRIM = u(8);
      TRANSFER_CHAR = u(8);
      MATRIX_COEF = u(8);
    }
  }
  HRD_PARAM_FLAG = u(1);
  return used <= static_cast<int64_t>(Size) * 8;
}

double TVC1SequenceHeader::FrameRate() const {
  // The explicit form counts frames in 32nds of a second.
  if (FRAMERATEIND) return platform::RoundEven((FRAMERATEEXP + 1) / 32.0 * 100) / 100.0;
  double rate = FRAMERATENR >= 8 ? 25 : kFrameRates[FRAMERATENR];
  if (FRAMERATEDR == kRate1001) rate = platform::RoundEven(rate * 1000 / 1001 * 100) / 100.0;
  return rate;
}

std::string TVC1SequenceHeader::AspectText(uint32_t DisplayWidth) const {
  switch (ASPECT_RATIO) {
    case 1: return DisplayWidth == 1280 || DisplayWidth == 1920 ? "16:9" : "4:3";
    case 2: case 3: case 10: case 11: return "4:3";
    case 4: case 5: return DisplayWidth == 704 || DisplayWidth == 720 ? "16:9" : "4:3";
    case 6: case 7: return DisplayWidth == 480 ? "16:9" : "4:3";
    case 8: case 9: case 12: case 13: return "16:9";
    default: return "";
  }
}

TVC1Stream::TVC1Stream(core::RunContext& Run, const std::string& FileName, const uint8_t* AbortFlag,
                       platform::ProgressBar* ProgressBar)
    : Run_(Run), FileName_(FileName), AbortFlag_(AbortFlag), ProgressBar_(ProgressBar) {}

bool TVC1Stream::Analyze() {
  FrameCount = DisplayWidth = DisplayHeight = 0;
  FrameRate = 0;
  AspectText.clear();
  bool found = false;
  try {
    core::TFileBitStream bits(FileName_, kM2VReadBufferSize, &Run_);
    while (!found && bits.FindSyncWord(1, 24) && !bits.Eof) {
      if (bits.ReadBits(8) != kSequenceHeaderSuffix) continue;
      uint8_t bytes[kHeaderBytes] = {};
      size_t n = 0;
      while (n < kHeaderBytes && !bits.Eof) bytes[n++] = static_cast<uint8_t>(bits.ReadBits(8));
      found = Header.Decode(bytes, n);
    }
    bits.Close();
  } catch (const core::EParserFileException&) {
    return false;
  }
  if (!found) {
    Run_.Log(core::kLogWarning, "No VC-1 sequence header found in " + FileName_ + ".");
    return false;
  }
  DisplayWidth = Header.DISPLAY_EXT ? Header.DISP_HORIZ_SIZE : Header.MAX_CODED_WIDTH;
  DisplayHeight = Header.DISPLAY_EXT ? Header.DISP_VERT_SIZE : Header.MAX_CODED_HEIGHT;
  FrameRate = Header.FrameRate();
  AspectText = Header.AspectText(DisplayWidth);
  return ForEachStartCode(Run_, FileName_, AbortFlag_, ProgressBar_, [&](int Next, int) {
    if (Next == static_cast<int>(kFrameSuffix)) ++FrameCount;
  });
}

}  // namespace tess::streams
