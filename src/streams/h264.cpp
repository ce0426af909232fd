#include "streams/h264.h"

#include <cmath>
#include <memory>

#include "core/bit_stream.h"
#include "core/run_context.h"
#include "platform/rounding.h"
#include "streams/m2v_stream.h"
#include "streams/unit_count.h"

namespace tess::streams {

namespace {

constexpr uint32_t kNalSps = 7;
constexpr uint32_t kNalAccessUnitDelimiter = 9;
constexpr uint32_t kNalSlice = 1;
constexpr uint32_t kNalIdrSlice = 5;
constexpr uint32_t kExtendedSar = 255;
// A parameter set is a few dozen bytes; anything longer is not one.
constexpr size_t kMaxSpsBytes = 4096;

// Bits of a unit's payload, with Exp-Golomb codes, that knows whether it ran
// past the payload or met a code too long to be one.
class TRbspBits {
 public:
  explicit TRbspBits(const std::string& Rbsp)
      : bits_(reinterpret_cast<const uint8_t*>(Rbsp.data()), static_cast<int32_t>(Rbsp.size())),
        total_(static_cast<int64_t>(Rbsp.size()) * 8) {}
  uint32_t U(int N) {
    used_ += N;
    return bits_.ReadBits(N);
  }
  uint32_t Ue() {
    int zeros = 0;
    while (U(1) == 0) {
      if (++zeros > 31 || Bad()) {
        bad_ = true;
        return 0;
      }
    }
    return zeros == 0 ? 0 : static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + U(zeros));
  }
  int32_t Se() {
    const uint32_t k = Ue();
    return (k & 1) ? static_cast<int32_t>((k + 1) / 2) : -static_cast<int32_t>(k / 2);
  }
  bool Bad() const { return bad_ || used_ > total_; }
  void Fail() { bad_ = true; }

 private:
  core::TBitStream bits_;
  int64_t total_;
  int64_t used_ = 0;
  bool bad_ = false;
};

void SkipScalingList(TRbspBits& In, int Size) {
  int last = 8, next = 8;
  for (int j = 0; j < Size && !In.Bad(); ++j) {
    if (next != 0) next = (last + In.Se() + 256) % 256;
    last = next == 0 ? last : next;
  }
}

bool HasChromaFormat(uint32_t Profile) {
  switch (Profile) {
    case 100: case 110: case 122: case 144: case 244: case 44: case 83: case 86: case 118: case 128: case 138:
    case 139: case 134: case 135:
      return true;
    default:
      return false;
  }
}

void ReadHrd(TRbspBits& In, TH264Hrd& H) {
  H.CpbCntMinus1 = In.Ue();
  if (H.CpbCntMinus1 >= TH264Hrd::kMaxCpb) return In.Fail();
  H.BitRateScale = In.U(4);
  H.CpbSizeScale = In.U(4);
  for (uint32_t i = 0; i <= H.CpbCntMinus1; ++i) {
    H.BitRateValueMinus1[i] = In.Ue();
    H.CpbSizeValueMinus1[i] = In.Ue();
    H.CbrFlag[i] = static_cast<uint8_t>(In.U(1));
  }
  H.InitialCpbRemovalDelayLengthMinus1 = In.U(5);
  H.CpbRemovalDelayLengthMinus1 = In.U(5);
  H.DpbOutputDelayLengthMinus1 = In.U(5);
  H.TimeOffsetLength = In.U(5);
}

void ReadVui(TRbspBits& In, TH264Sps& S) {
  if ((S.AspectRatioInfoPresentFlag = In.U(1))) {
    S.AspectRatioIdc = In.U(8);
    if (S.AspectRatioIdc == kExtendedSar) {
      S.SarWidth = In.U(16);
      S.SarHeight = In.U(16);
    }
  }
  if ((S.OverscanInfoPresentFlag = In.U(1))) S.OverscanAppropriateFlag = In.U(1);
  if ((S.VideoSignalTypePresentFlag = In.U(1))) {
    S.VideoFormat = In.U(3);
    S.VideoFullRangeFlag = In.U(1);
    if ((S.ColourDescriptionPresentFlag = In.U(1))) {
      S.ColourPrimaries = In.U(8);
      S.TransferCharacteristics = In.U(8);
      S.MatrixCoefficients = In.U(8);
    }
  }
  if ((S.ChromaLocInfoPresentFlag = In.U(1))) {
    S.ChromaSampleLocTypeTopField = In.Ue();
    S.ChromaSampleLocTypeBottomField = In.Ue();
  }
  if ((S.TimingInfoPresentFlag = In.U(1))) {
    S.NumUnitsInTick = In.U(32);
    S.TimeScale = In.U(32);
    S.FixedFrameRateFlag = In.U(1);
  }
  if ((S.NalHrdParametersPresentFlag = In.U(1))) ReadHrd(In, S.Hrd);
  if ((S.VclHrdParametersPresentFlag = In.U(1))) ReadHrd(In, S.Hrd);
  if (S.NalHrdParametersPresentFlag || S.VclHrdParametersPresentFlag) S.LowDelayHrdFlag = In.U(1);
  S.PicStructPresentFlag = In.U(1);
  if ((S.BitstreamRestrictionFlag = In.U(1))) {
    S.MotionVectorsOverPicBoundariesFlag = In.U(1);
    S.MaxBytesPerPicDenom = In.Ue();
    S.MaxBitsPerMbDenom = In.Ue();
    S.Log2MaxMvLengthHorizontal = In.Ue();
    S.Log2MaxMvLengthVertical = In.Ue();
    S.NumReorderFrames = In.Ue();
    S.MaxDecFrameBuffering = In.Ue();
  }
}

// Known formats: macroblock width - 1, height code (map units - 1, doubled
// plus one for field coding), rate code and aspect_ratio_idc give the size,
// the exact rate and the display aspect.
struct TFormat {
  uint32_t WidthMbs, HeightCode, Rate, AspectIdc;
  int32_t Width, Height;
  double FrameRate;
  const char* Aspect;
};
constexpr TFormat kFormats[] = {
    {119, 67, 30, 1, 1920, 1080, 29.97, "16:9"}, {89, 67, 30, 255, 1440, 1080, 29.97, "16:9"},
    {79, 67, 30, 255, 1280, 1080, 29.97, "16:9"}, {79, 44, 60, 1, 1280, 720, 59.94, "16:9"},
    {59, 67, 30, 255, 960, 1080, 29.97, "16:9"}, {44, 29, 60, 5, 720, 480, 59.94, "16:9"},
    {44, 29, 30, 5, 720, 480, 29.97, "16:9"},    {44, 29, 30, 3, 720, 480, 29.97, "4:3"},
    {43, 29, 60, 5, 704, 480, 59.94, "16:9"},    {43, 29, 30, 5, 704, 480, 29.97, "16:9"},
    {43, 29, 30, 3, 704, 480, 29.97, "4:3"},     {33, 29, 30, 13, 544, 480, 29.97, "16:9"},
    {33, 29, 30, 5, 544, 480, 29.97, "4:3"},     {29, 29, 30, 7, 480, 480, 29.97, "16:9"},
    {29, 29, 30, 11, 480, 480, 29.97, "4:3"},    {21, 29, 30, 9, 352, 480, 29.97, "16:9"},
    {21, 29, 30, 7, 352, 480, 29.97, "4:3"},     {21, 14, 30, 5, 352, 240, 29.97, "16:9"},
    {21, 14, 30, 3, 352, 240, 29.97, "4:3"},     {119, 67, 25, 1, 1920, 1080, 25, "16:9"},
    {89, 67, 25, 255, 1440, 1080, 25, "16:9"},   {79, 67, 25, 255, 1280, 1080, 25, "16:9"},
    {79, 44, 50, 1, 1280, 720, 50, "16:9"},      {59, 67, 25, 255, 960, 1080, 25, "16:9"},
    {44, 35, 50, 4, 720, 576, 50, "16:9"},       {44, 35, 25, 4, 720, 576, 25, "16:9"},
    {44, 35, 25, 2, 720, 576, 25, "4:3"},        {43, 35, 50, 4, 704, 576, 50, "16:9"},
    {43, 35, 25, 4, 704, 576, 25, "16:9"},       {43, 35, 25, 2, 704, 576, 25, "4:3"},
    {33, 35, 25, 12, 544, 576, 25, "16:9"},      {33, 35, 25, 4, 544, 576, 25, "4:3"},
    {29, 35, 25, 6, 480, 576, 25, "16:9"},       {29, 35, 25, 10, 480, 576, 25, "4:3"},
    {21, 35, 25, 8, 352, 576, 25, "16:9"},       {21, 35, 25, 6, 352, 576, 25, "4:3"},
    {21, 17, 25, 4, 352, 288, 25, "16:9"},       {21, 17, 25, 2, 352, 288, 25, "4:3"},
};

}  // namespace

bool TH264Sps::Decode(const std::string& Rbsp) {
  *this = {};
  TRbspBits in(Rbsp);
  ForbiddenZeroBit = in.U(1);
  NalRefIdc = in.U(2);
  NalUnitType = in.U(5);
  ProfileIdc = in.U(8);
  for (uint8_t& f : ConstraintSetFlags) f = static_cast<uint8_t>(in.U(1));
  ReservedZero4Bits = in.U(4);
  LevelIdc = in.U(8);
  SeqParameterSetId = in.Ue();
  if (HasChromaFormat(ProfileIdc)) {
    ChromaFormatIdc = in.Ue();
    if (ChromaFormatIdc == 3) ResidualColourTransformFlag = in.U(1);
    BitDepthLumaMinus8 = in.Ue();
    BitDepthChromaMinus8 = in.Ue();
    QpprimeYZeroTransformBypassFlag = in.U(1);
    if ((SeqScalingMatrixPresentFlag = in.U(1))) {
      const int lists = ChromaFormatIdc == 3 ? 12 : 8;
      for (int i = 0; i < lists && !in.Bad(); ++i)
        if (in.U(1)) SkipScalingList(in, i < 6 ? 16 : 64);
    }
  }
  Log2MaxFrameNumMinus4 = in.Ue();
  PicOrderCntType = in.Ue();
  if (PicOrderCntType == 0) {
    Log2MaxPicOrderCntLsbMinus4 = in.Ue();
  } else if (PicOrderCntType == 1) {
    in.U(1);  // delta_pic_order_always_zero_flag
    in.Se();  // offset_for_non_ref_pic
    in.Se();  // offset_for_top_to_bottom_field
    const uint32_t cycle = in.Ue();
    if (cycle > 255) return false;
    for (uint32_t i = 0; i < cycle && !in.Bad(); ++i) in.Se();
  }
  NumRefFrames = in.Ue();
  GapsInFrameNumValueAllowedFlag = in.U(1);
  PicWidthInMbsMinus1 = in.Ue();
  PicHeightInMapUnitsMinus1 = in.Ue();
  if (!(FrameMbsOnlyFlag = in.U(1))) MbAdaptiveFrameFieldFlag = in.U(1);
  Direct8x8InferenceFlag = in.U(1);
  if ((FrameCroppingFlag = in.U(1))) {
    FrameCropLeftOffset = in.Ue();
    FrameCropRightOffset = in.Ue();
    FrameCropTopOffset = in.Ue();
    FrameCropBottomOffset = in.Ue();
  }
  if (in.Bad() || NalUnitType != kNalSps) return false;
  const TH264Sps beforeVui = *this;
  if ((VuiParametersPresentFlag = in.U(1))) ReadVui(in, *this);
  // A VUI cut short or out of range keeps the picture size, not its own fields.
  if (in.Bad()) *this = beforeVui;
  return true;
}

int32_t TH264Sps::Width() const {
  const bool subsampledX = ChromaFormatIdc == 1 || ChromaFormatIdc == 2;
  const int64_t cropUnit = subsampledX && !ResidualColourTransformFlag ? 2 : 1;
  const int64_t w = (int64_t{PicWidthInMbsMinus1} + 1) * 16 -
                    cropUnit * (int64_t{FrameCropLeftOffset} + FrameCropRightOffset);
  return static_cast<int32_t>(std::max<int64_t>(w, 0));
}

int32_t TH264Sps::Height() const {
  const int64_t fieldFactor = 2 - FrameMbsOnlyFlag;
  const int64_t cropUnit = (ChromaFormatIdc == 1 && !ResidualColourTransformFlag ? 2 : 1) * fieldFactor;
  const int64_t h = (int64_t{PicHeightInMapUnitsMinus1} + 1) * 16 * fieldFactor -
                    cropUnit * (int64_t{FrameCropTopOffset} + FrameCropBottomOffset);
  return static_cast<int32_t>(std::max<int64_t>(h, 0));
}

int32_t TH264Sps::RateCode() const {
  if (!TimingInfoPresentFlag || NumUnitsInTick == 0) return 0;
  return static_cast<int32_t>(platform::RoundEven(static_cast<double>(TimeScale) / NumUnitsInTick / 2));
}

TM4VStream::TM4VStream(core::RunContext& Run, const std::string& FileName, const uint8_t* AbortFlag,
                       platform::ProgressBar* ProgressBar)
    : Run_(Run), FileName_(FileName), AbortFlag_(AbortFlag), ProgressBar_(ProgressBar) {}

bool TM4VStream::ReadSps() {
  std::unique_ptr<core::TFileBitStream> bits;
  try {
    bits = std::make_unique<core::TFileBitStream>(FileName_, kM2VReadBufferSize, &Run_);
  } catch (const core::EParserFileException&) {
    return false;
  }
  // The first sequence parameter set, wherever it stands (behind an access
  // unit delimiter or not).
  while (bits->FindSyncWord(1, 24) && !bits->Eof) {
    if ((bits->PeekBits(8) & 0x1F) != kNalSps) continue;
    std::string unit;
    uint32_t window = 0xFFFFFF;
    while (!bits->Eof && unit.size() < kMaxSpsBytes) {
      const auto b = static_cast<uint8_t>(bits->ReadBits(8));
      window = ((window << 8) | b) & 0xFFFFFF;
      unit += static_cast<char>(b);
      // The next unit's prefix, or zero bytes before it, end this one.
      if (window == 1 || window == 0) {
        unit.resize(unit.size() - 3);
        break;
      }
    }
    std::string rbsp;
    RemoveEmulationPrevention(reinterpret_cast<const uint8_t*>(unit.data()), unit.size(), rbsp);
    const bool ok = Sps.Decode(rbsp);
    bits->Close();
    return ok;
  }
  bits->Close();
  return false;
}

bool TM4VStream::Scan() {
  PictureCount = AccessUnitDelimiters = FirstSlices = 0;
  Width = Height = 0;
  FrameRate = 0;
  AspectText.clear();
  if (!ReadSps()) {
    Run_.Log(core::kLogWarning, "No sequence parameter set found in " + FileName_ + ".");
    return false;
  }
  const bool counted = ForEachStartCode(Run_, FileName_, AbortFlag_, ProgressBar_, [&](int Next, int AfterNext) {
    if (Next < 0) return;
    const uint32_t type = static_cast<uint32_t>(Next) & 0x1F;
    if (type == kNalAccessUnitDelimiter) ++AccessUnitDelimiters;
    // first_mb_in_slice 0 (a single 1 bit) opens a picture.
    if ((type == kNalSlice || type == kNalIdrSlice) && AfterNext >= 0 && (AfterNext & 0x80)) ++FirstSlices;
  });
  PictureCount = AccessUnitDelimiters > 0 ? AccessUnitDelimiters : FirstSlices;

  Width = Sps.Width();
  Height = Sps.Height();
  const int32_t rate = Sps.RateCode();
  // Two decimals, as the known formats give it (29.97, 23.98).
  if (rate > 0)
    FrameRate = platform::RoundEven(static_cast<double>(Sps.TimeScale) / Sps.NumUnitsInTick / 2 * 100) / 100.0;
  const uint32_t heightCode =
      Sps.FrameMbsOnlyFlag ? Sps.PicHeightInMapUnitsMinus1 : Sps.PicHeightInMapUnitsMinus1 * 2 + 1;
  for (const TFormat& f : kFormats) {
    if (f.WidthMbs == Sps.PicWidthInMbsMinus1 && f.HeightCode == heightCode && f.Rate == static_cast<uint32_t>(rate) &&
        f.AspectIdc == Sps.AspectRatioIdc) {
      Width = f.Width;
      Height = f.Height;
      FrameRate = f.FrameRate;
      AspectText = f.Aspect;
      break;
    }
  }
  return counted;
}

}  // namespace tess::streams
