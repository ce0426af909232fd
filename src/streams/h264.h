#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace tess::core {
struct RunContext;
}
namespace tess::platform {
struct ProgressBar;
}

namespace tess::streams {

// Hypothetical reference decoder parameters of a VUI.
struct TH264Hrd {
  static constexpr uint32_t kMaxCpb = 32;
  uint32_t CpbCntMinus1 = 0;
  uint32_t BitRateScale = 0;
  uint32_t CpbSizeScale = 0;
  std::array<uint32_t, kMaxCpb> BitRateValueMinus1{};
  std::array<uint32_t, kMaxCpb> CpbSizeValueMinus1{};
  std::array<uint8_t, kMaxCpb> CbrFlag{};
  uint32_t InitialCpbRemovalDelayLengthMinus1 = 0;
  uint32_t CpbRemovalDelayLengthMinus1 = 0;
  uint32_t DpbOutputDelayLengthMinus1 = 0;
  uint32_t TimeOffsetLength = 0;
};

// A sequence parameter set, decoded from its payload with the
// emulation-prevention bytes removed (the NAL header byte first).
struct TH264Sps {
  uint32_t ForbiddenZeroBit = 0, NalRefIdc = 0, NalUnitType = 0;
  uint32_t ProfileIdc = 0;
  std::array<uint8_t, 4> ConstraintSetFlags{};
  uint32_t ReservedZero4Bits = 0;
  uint32_t LevelIdc = 0;
  uint32_t SeqParameterSetId = 0;
  uint32_t ChromaFormatIdc = 1;
  uint32_t ResidualColourTransformFlag = 0;  // separate_colour_plane_flag
  uint32_t BitDepthLumaMinus8 = 0, BitDepthChromaMinus8 = 0;
  uint32_t QpprimeYZeroTransformBypassFlag = 0;
  uint32_t SeqScalingMatrixPresentFlag = 0;
  uint32_t Log2MaxFrameNumMinus4 = 0;
  uint32_t PicOrderCntType = 0;
  uint32_t Log2MaxPicOrderCntLsbMinus4 = 0;
  uint32_t NumRefFrames = 0;
  uint32_t GapsInFrameNumValueAllowedFlag = 0;
  uint32_t PicWidthInMbsMinus1 = 0;
  uint32_t PicHeightInMapUnitsMinus1 = 0;
  uint32_t FrameMbsOnlyFlag = 1;
  uint32_t MbAdaptiveFrameFieldFlag = 0;
  uint32_t Direct8x8InferenceFlag = 0;
  uint32_t FrameCroppingFlag = 0;
  uint32_t FrameCropLeftOffset = 0, FrameCropRightOffset = 0, FrameCropTopOffset = 0, FrameCropBottomOffset = 0;
  uint32_t VuiParametersPresentFlag = 0;
  // VUI
  uint32_t AspectRatioInfoPresentFlag = 0, AspectRatioIdc = 0, SarWidth = 0, SarHeight = 0;
  uint32_t OverscanInfoPresentFlag = 0, OverscanAppropriateFlag = 0;
  uint32_t VideoSignalTypePresentFlag = 0, VideoFormat = 0, VideoFullRangeFlag = 0;
  uint32_t ColourDescriptionPresentFlag = 0, ColourPrimaries = 0, TransferCharacteristics = 0,
           MatrixCoefficients = 0;
  uint32_t ChromaLocInfoPresentFlag = 0, ChromaSampleLocTypeTopField = 0, ChromaSampleLocTypeBottomField = 0;
  uint32_t TimingInfoPresentFlag = 0, NumUnitsInTick = 0, TimeScale = 0, FixedFrameRateFlag = 0;
  uint32_t NalHrdParametersPresentFlag = 0, VclHrdParametersPresentFlag = 0, LowDelayHrdFlag = 0;
  TH264Hrd Hrd;  // the last one read
  uint32_t PicStructPresentFlag = 0, BitstreamRestrictionFlag = 0;
  uint32_t MotionVectorsOverPicBoundariesFlag = 0, MaxBytesPerPicDenom = 0, MaxBitsPerMbDenom = 0;
  uint32_t Log2MaxMvLengthHorizontal = 0, Log2MaxMvLengthVertical = 0, NumReorderFrames = 0,
           MaxDecFrameBuffering = 0;

  // False when the payload ends before the fields it announces, or a count in
  // it is out of range.
  bool Decode(const std::string& Rbsp);
  // The picture size after cropping; heights are frame heights also for
  // streams coded in fields.
  int32_t Width() const;
  int32_t Height() const;
  // time_scale / num_units_in_tick / 2 rounded; 0 without timing.
  int32_t RateCode() const;
};

// Describes an H.264 elementary stream (".264"): its sequence parameter set
// and the number of pictures.
class TM4VStream {
 public:
  TM4VStream(core::RunContext& Run, const std::string& FileName, const uint8_t* AbortFlag,
             platform::ProgressBar* ProgressBar);
  // Reads the first sequence parameter set and counts the pictures (by access
  // unit delimiters, or by first slices where the stream has none). False
  // when the file cannot be read or holds no parameter set.
  bool Scan();

  TH264Sps Sps;
  uint32_t AccessUnitDelimiters = 0;
  uint32_t FirstSlices = 0;
  uint32_t PictureCount = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  double FrameRate = 0;
  std::string AspectText;

 private:
  bool ReadSps();
  core::RunContext& Run_;
  std::string FileName_;
  const uint8_t* AbortFlag_;
  platform::ProgressBar* ProgressBar_;
};

}  // namespace tess::streams
