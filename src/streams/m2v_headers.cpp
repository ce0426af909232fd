#include "streams/m2v_headers.h"

#include <cstring>

#include "core/bit_stream.h"

namespace tess::streams {

namespace {

// A bit reader over a header's bytes that knows whether it ran past them.
class THeaderBits {
 public:
  explicit THeaderBits(std::span<const uint8_t> Bytes)
      : bits_(Bytes.data(), static_cast<int32_t>(Bytes.size())), totalBits_(static_cast<int64_t>(Bytes.size()) * 8) {}
  uint32_t Read(int N) {
    used_ += N;
    return bits_.ReadBits(N);
  }
  bool Overrun() const { return used_ > totalBits_; }
  int64_t BitsLeft() const { return totalBits_ - used_; }

 private:
  core::TBitStream bits_;
  int64_t totalBits_;
  int64_t used_ = 0;
};

void ReadMatrix(THeaderBits& In, std::array<uint8_t, 64>& Matrix) {
  for (uint8_t& m : Matrix) m = static_cast<uint8_t>(In.Read(8));
}

}  // namespace

bool TM2VSequenceHeader::Decode(std::span<const uint8_t> Bytes) {
  THeaderBits in(Bytes);
  HorizontalSize = in.Read(12);
  VerticalSize = in.Read(12);
  AspectRatioInformation = in.Read(4);
  FrameRateCode = in.Read(4);
  BitRateValue = in.Read(18);
  MarkerBit = in.Read(1);
  VbvBufferSizeValue = in.Read(10);
  ConstrainedParametersFlag = in.Read(1);
  LoadIntraQuantiserMatrix = in.Read(1);
  IntraQuantiserMatrix.fill(0);
  NonIntraQuantiserMatrix.fill(0);
  if (LoadIntraQuantiserMatrix) ReadMatrix(in, IntraQuantiserMatrix);
  LoadNonIntraQuantiserMatrix = in.Read(1);
  if (LoadNonIntraQuantiserMatrix) ReadMatrix(in, NonIntraQuantiserMatrix);
  return !in.Overrun();
}

void TM2VSequenceHeader::StoreWithMatrices(uint8_t* Out) const {
  Store(Out);
  const size_t n = RecordSize();
  std::memcpy(Out + n, IntraQuantiserMatrix.data(), 64);
  std::memcpy(Out + n + 64, NonIntraQuantiserMatrix.data(), 64);
}

void TM2VSequenceHeader::LoadWithMatrices(const uint8_t* In) {
  Load(In);
  const size_t n = RecordSize();
  std::memcpy(IntraQuantiserMatrix.data(), In + n, 64);
  std::memcpy(NonIntraQuantiserMatrix.data(), In + n + 64, 64);
}

bool TM2VSequenceExtension::Decode(std::span<const uint8_t> Bytes) {
  THeaderBits in(Bytes);
  Identifier = in.Read(4);
  ProfileAndLevelIndication = in.Read(8);
  ProgressiveSequence = in.Read(1);
  ChromaFormat = in.Read(2);
  HorizontalSizeExtension = in.Read(2);
  VerticalSizeExtension = in.Read(2);
  BitRateExtension = in.Read(12);
  MarkerBit = in.Read(1);
  VbvBufferSizeExtension = in.Read(8);
  LowDelay = in.Read(1);
  FrameRateExtensionN = in.Read(2);
  FrameRateExtensionD = in.Read(5);
  return !in.Overrun() && Identifier == kSequenceExtensionId;
}

bool TM2VSequenceDisplayExtension::Decode(std::span<const uint8_t> Bytes) {
  THeaderBits in(Bytes);
  Identifier = in.Read(4);
  VideoFormat = in.Read(3);
  ColourDescription = in.Read(1);
  ColourPrimaries = TransferCharacteristics = MatrixCoefficients = 0;
  if (ColourDescription) {
    ColourPrimaries = in.Read(8);
    TransferCharacteristics = in.Read(8);
    MatrixCoefficients = in.Read(8);
  }
  DisplayHorizontalSize = in.Read(14);
  MarkerBit = in.Read(1);
  DisplayVerticalSize = in.Read(14);
  return !in.Overrun() && Identifier == kSequenceDisplayExtensionId;
}

bool TM2VSequenceScalableExtension::Decode(std::span<const uint8_t> Bytes) {
  *this = {};
  THeaderBits in(Bytes);
  Identifier = in.Read(4);
  ScalableMode = in.Read(2);
  LayerId = in.Read(4);
  if (ScalableMode == kSpatialScalability) {
    LowerLayerPredictionHorizontalSize = in.Read(14);
    MarkerBit = in.Read(1);
    LowerLayerPredictionVerticalSize = in.Read(14);
    HorizontalSubsamplingFactorM = in.Read(5);
    HorizontalSubsamplingFactorN = in.Read(5);
    VerticalSubsamplingFactorM = in.Read(5);
    VerticalSubsamplingFactorN = in.Read(5);
  }
  if (ScalableMode == kTemporalScalability) {
    PictureMuxEnable = in.Read(1);
    if (PictureMuxEnable) MuxToProgressiveSequence = in.Read(1);
    PictureMuxOrder = in.Read(3);
    PictureMuxFactor = in.Read(3);
  }
  return !in.Overrun() && Identifier == kSequenceScalableExtensionId;
}

bool TM2VQuantMatrixExtension::Decode(std::span<const uint8_t> Bytes) {
  THeaderBits in(Bytes);
  Identifier = in.Read(4);
  uint32_t* flags[] = {&LoadIntraQuantiserMatrix, &LoadNonIntraQuantiserMatrix, &LoadChromaIntraQuantiserMatrix,
                       &LoadChromaNonIntraQuantiserMatrix};
  for (uint32_t* flag : flags) {
    *flag = in.Read(1);
    if (*flag)
      for (int i = 0; i < 64; ++i) in.Read(8);
  }
  return !in.Overrun() && Identifier == kQuantMatrixExtensionId;
}

bool TM2VPictureDisplayExtension::Decode(std::span<const uint8_t> Bytes, int Count) {
  THeaderBits in(Bytes);
  Identifier = in.Read(4);
  Offsets = {};
  for (int i = 0; i < Count && i < kMaxOffsets; ++i) {
    Offsets[i].Horizontal = in.Read(16);
    Offsets[i].Marker1 = in.Read(1);
    Offsets[i].Vertical = in.Read(16);
    Offsets[i].Marker2 = in.Read(1);
  }
  return !in.Overrun() && Identifier == kPictureDisplayExtensionId;
}

bool TM2VPictureSpatialScalableExtension::Decode(std::span<const uint8_t> Bytes) {
  THeaderBits in(Bytes);
  Identifier = in.Read(4);
  LowerLayerTemporalReference = in.Read(10);
  MarkerBit1 = in.Read(1);
  LowerLayerHorizontalOffset = in.Read(15);
  MarkerBit2 = in.Read(1);
  LowerLayerVerticalOffset = in.Read(15);
  SpatialTemporalWeightCodeTableIndex = in.Read(2);
  LowerLayerProgressiveFrame = in.Read(1);
  LowerLayerDeinterlacedFieldSelect = in.Read(1);
  return !in.Overrun() && Identifier == kPictureSpatialScalableExtensionId;
}

bool TM2VPictureTemporalScalableExtension::Decode(std::span<const uint8_t> Bytes) {
  THeaderBits in(Bytes);
  Identifier = in.Read(4);
  ReferenceSelectCode = in.Read(2);
  ForwardTemporalReference = in.Read(10);
  MarkerBit = in.Read(1);
  BackwardTemporalReference = in.Read(10);
  return !in.Overrun() && Identifier == kPictureTemporalScalableExtensionId;
}

bool TM2VGopHeader::Decode(std::span<const uint8_t> Bytes) {
  THeaderBits in(Bytes);
  DropFrameFlag = in.Read(1);
  Hours = in.Read(5);
  Minutes = in.Read(6);
  MarkerBit = in.Read(1);
  Seconds = in.Read(6);
  Pictures = in.Read(6);
  ClosedGop = in.Read(1);
  BrokenLink = in.Read(1);
  return !in.Overrun();
}

bool TM2VPictureHeader::Decode(std::span<const uint8_t> Bytes) {
  THeaderBits in(Bytes);
  TemporalReference = in.Read(10);
  PictureCodingType = in.Read(3);
  VbvDelay = in.Read(16);
  FullPelForwardVector = ForwardFCode = FullPelBackwardVector = BackwardFCode = 0;
  if (PictureCodingType == kPPicture || PictureCodingType == kBPicture) {
    FullPelForwardVector = in.Read(1);
    ForwardFCode = in.Read(3);
  }
  if (PictureCodingType == kBPicture) {
    FullPelBackwardVector = in.Read(1);
    BackwardFCode = in.Read(3);
  }
  const bool complete = !in.Overrun();
  ExtraInformationPicture = 0;
  // The extra information loop runs to a 0 bit; bits past the header read as
  // 0, so it ends with the bytes.
  while ((ExtraBitPicture = in.Read(1)) != 0 && in.BitsLeft() >= 8) ExtraInformationPicture = in.Read(8);
  return complete;
}

bool TM2VPictureCodingExtension::Decode(std::span<const uint8_t> Bytes) {
  THeaderBits in(Bytes);
  Identifier = in.Read(4);
  FCodes = 0;
  for (int i = 0; i < 4; ++i) FCodes |= in.Read(4) << (8 * i);
  IntraDcPrecision = in.Read(2);
  PictureStructure = in.Read(2);
  TopFieldFirst = in.Read(1);
  FramePredFrameDct = in.Read(1);
  ConcealmentMotionVectors = in.Read(1);
  QScaleType = in.Read(1);
  IntraVlcFormat = in.Read(1);
  AlternateScan = in.Read(1);
  RepeatFirstField = in.Read(1);
  Chroma420Type = in.Read(1);
  ProgressiveFrame = in.Read(1);
  CompositeDisplayFlag = in.Read(1);
  VAxis = FieldSequence = SubCarrier = BurstAmplitude = SubCarrierPhase = 0;
  if (CompositeDisplayFlag) {
    VAxis = in.Read(1);
    FieldSequence = in.Read(3);
    SubCarrier = in.Read(1);
    BurstAmplitude = in.Read(7);
    SubCarrierPhase = in.Read(8);
  }
  return !in.Overrun() && Identifier == kPictureCodingExtensionId;
}

bool TM2VSliceHeader::Decode(uint32_t StartCode, std::span<const uint8_t> Bytes, const TContext& Context) {
  *this = {};
  THeaderBits in(Bytes);
  SliceVerticalPosition = StartCode;
  if (Context.VerticalSize > kSliceExtensionHeight) SliceVerticalPositionExtension = in.Read(3);
  Row = (SliceVerticalPositionExtension << 7) + SliceVerticalPosition - 1;
  if (Context.DataPartitioned) PriorityBreakpoint = in.Read(7);
  QuantiserScaleCode = in.Read(5);
  const bool complete = !in.Overrun();
  if (in.Read(1)) {
    IntraSliceFlag = 1;
    IntraSlice = in.Read(1);
    ReservedBits = in.Read(7);
    while ((ExtraBitSlice = in.Read(1)) != 0 && in.BitsLeft() >= 8) ExtraInformationSlice = in.Read(8);
  }
  return complete;
}

// ---------------------------------------------------------------- tables

namespace {

struct TFrameRate {
  const char* Name;
  double Value;
  int32_t Whole;
};
constexpr TFrameRate kFrameRates[16] = {
    {"Forbidden", -1, -1}, {"23.98", 23.98, 24}, {"24", 24, 24},        {"25", 25, 25},
    {"29.97", 29.97, 30},  {"30", 30, 30},       {"50", 50, 50},        {"59.94", 59.94, 60},
    {"60", 60, 60},        {"Reserved", 0, 0},   {"Reserved", 0, 0},    {"Reserved", 0, 0},
    {"Reserved", 0, 0},    {"Reserved", 0, 0},   {"Reserved", 0, 0},    {"Reserved", 0, 0},
};

}  // namespace

std::string FrameRateName(uint32_t FrameRateCode) { return kFrameRates[FrameRateCode & 15].Name; }
double FrameRateValue(uint32_t FrameRateCode) { return kFrameRates[FrameRateCode & 15].Value; }
int32_t IntegerFrameRate(uint32_t FrameRateCode) { return kFrameRates[FrameRateCode & 15].Whole; }
bool IsValidFrameRateCode(uint32_t FrameRateCode) { return FrameRateCode >= 1 && FrameRateCode <= 8; }
bool IsKnownAspectCode(uint32_t AspectCode) { return (AspectCode >= 1 && AspectCode <= 8) || AspectCode == 12; }

std::string StreamIdName(uint32_t Code) {
  if (Code == 0xBC) return "Program Stream Map";
  if (Code == 0xBD) return "Private Stream 1";
  if (Code == 0xBE) return "Padding Stream";
  if (Code == 0xBF) return "Private Stream 2";
  if (Code >= 0xC0 && Code <= 0xDF) return "Audio Stream";
  if (Code >= 0xE0 && Code <= 0xEF) return "Video Stream";
  if (Code == 0xF0) return "ECM Stream";
  if (Code == 0xF1) return "EMM Stream";
  if (Code == 0xF2) return "DSMCC Stream";
  if (Code == 0xF3) return "ISO 13522 Stream";
  if (Code >= 0xF4 && Code <= 0xF8) return std::string("Rec. H.222.1 type ") + static_cast<char>('A' + (Code - 0xF4));
  if (Code == 0xF9) return "Ancillary Stream";
  if (Code == 0xFF) return "Program Stream";
  return "Reserved Sata Stream";
}

// ---------------------------------------------------------------- index

void TM2VIndex::Add(uint32_t Tag, const uint8_t* Payload, size_t Size) {
  TEntry e;
  e.Tag = Tag;
  e.Number = Entries_.size();
  e.Offset = Bytes_.size();
  e.Size = static_cast<uint32_t>(Size);
  if (Size > 0) Bytes_.insert(Bytes_.end(), Payload, Payload + Size);
  Entries_.push_back(e);
}

}  // namespace tess::streams
