#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/byte_order.h"
#include "core/timecode.h"

// The headers of an MPEG-1/2 video elementary stream as small value types. Each
// decodes from the bytes that follow its start-code value (for extensions, from
// the byte that holds the extension identifier) and says whether the bytes held
// the whole fixed part. Every field is kept as one 32-bit number, in stream
// order; Store and Load write and read those numbers little-endian, which is the
// form of the index payloads and of the ".vnf" cache records.
namespace tess::streams {

// Start-code values.
inline constexpr uint32_t kPictureStartCode = 0x00;
inline constexpr uint32_t kFirstSliceCode = 0x01;
inline constexpr uint32_t kLastSliceCode = 0xAF;
inline constexpr uint32_t kUserDataStartCode = 0xB2;
inline constexpr uint32_t kSequenceHeaderCode = 0xB3;
inline constexpr uint32_t kExtensionStartCode = 0xB5;
inline constexpr uint32_t kSequenceEndCode = 0xB7;
inline constexpr uint32_t kGroupStartCode = 0xB8;
inline constexpr uint32_t kFirstSystemCode = 0xB9;  // program-stream ids and the rest

// Extension identifiers (the four bits after 0xB5).
inline constexpr uint32_t kSequenceExtensionId = 1;
inline constexpr uint32_t kSequenceDisplayExtensionId = 2;
inline constexpr uint32_t kQuantMatrixExtensionId = 3;
inline constexpr uint32_t kSequenceScalableExtensionId = 5;
inline constexpr uint32_t kPictureDisplayExtensionId = 7;
inline constexpr uint32_t kPictureCodingExtensionId = 8;
inline constexpr uint32_t kPictureSpatialScalableExtensionId = 9;
inline constexpr uint32_t kPictureTemporalScalableExtensionId = 10;

// picture_coding_type and picture_structure values.
inline constexpr uint32_t kIPicture = 1;
inline constexpr uint32_t kPPicture = 2;
inline constexpr uint32_t kBPicture = 3;
inline constexpr uint32_t kFramePicture = 3;
// scalable_mode values that change what other headers carry.
inline constexpr uint32_t kDataPartitioning = 0;
inline constexpr uint32_t kSpatialScalability = 1;
inline constexpr uint32_t kTemporalScalability = 3;
// Above this vertical size a slice carries three more bits of its row.
inline constexpr uint32_t kSliceExtensionHeight = 2800;

// Walks a record's fields for Store and Load, in order.
class TFieldWriter {
 public:
  explicit TFieldWriter(uint8_t* Out) : p_(Out) {}
  void operator()(uint32_t v) {
    core::WriteLE32(p_, v);
    p_ += 4;
  }
  void operator()(uint64_t v) {
    core::WriteLE64(p_, v);
    p_ += 8;
  }

 private:
  uint8_t* p_;
};

class TFieldReader {
 public:
  explicit TFieldReader(const uint8_t* In) : p_(In) {}
  void operator()(uint32_t& v) {
    v = core::ReadLE32(p_);
    p_ += 4;
  }
  void operator()(uint64_t& v) {
    v = core::ReadLE64(p_);
    p_ += 8;
  }

 private:
  const uint8_t* p_;
};

// Counts the bytes a record's fields take.
class TFieldSizer {
 public:
  void operator()(uint32_t) { Size += 4; }
  void operator()(uint64_t) { Size += 8; }
  size_t Size = 0;
};

// Store, Load and the record size of a record type that lists its fields in
// a static Fields(Self, Visitor).
template <class Derived>
struct TM2VRecord {
  void Store(uint8_t* Out) const {
    TFieldWriter w(Out);
    Derived::Fields(static_cast<const Derived&>(*this), w);
  }
  void Load(const uint8_t* In) {
    TFieldReader r(In);
    Derived::Fields(static_cast<Derived&>(*this), r);
  }
  static size_t RecordSize() {
    TFieldSizer s;
    const Derived d{};
    Derived::Fields(d, s);
    return s.Size;
  }
};

struct TM2VSequenceHeader : TM2VRecord<TM2VSequenceHeader> {
  uint32_t StartCode = kSequenceHeaderCode;
  uint32_t HorizontalSize = 0;
  uint32_t VerticalSize = 0;
  uint32_t AspectRatioInformation = 0;
  uint32_t FrameRateCode = 0;
  uint32_t BitRateValue = 0;
  uint32_t MarkerBit = 0;
  uint32_t VbvBufferSizeValue = 0;
  uint32_t ConstrainedParametersFlag = 0;
  uint32_t LoadIntraQuantiserMatrix = 0;
  uint32_t LoadNonIntraQuantiserMatrix = 0;
  uint64_t Number = 0;  // sequence headers met so far in the scan, 1 for the first
  std::array<uint8_t, 64> IntraQuantiserMatrix{};
  std::array<uint8_t, 64> NonIntraQuantiserMatrix{};

  static constexpr size_t kIndexSize = 52 + 128;  // the record and both matrices
  bool Decode(std::span<const uint8_t> Bytes);
  template <class S, class V>
  static void Fields(S& s, V& v) {
    v(s.StartCode), v(s.HorizontalSize), v(s.VerticalSize), v(s.AspectRatioInformation), v(s.FrameRateCode);
    v(s.BitRateValue), v(s.MarkerBit), v(s.VbvBufferSizeValue), v(s.ConstrainedParametersFlag);
    v(s.LoadIntraQuantiserMatrix), v(s.LoadNonIntraQuantiserMatrix), v(s.Number);
  }
  // The record followed by both matrices.
  void StoreWithMatrices(uint8_t* Out) const;
  void LoadWithMatrices(const uint8_t* In);
};

struct TM2VSequenceExtension : TM2VRecord<TM2VSequenceExtension> {
  uint32_t StartCode = kExtensionStartCode;
  uint32_t Identifier = 0;
  uint32_t ProfileAndLevelIndication = 0;
  uint32_t ProgressiveSequence = 0;
  uint32_t ChromaFormat = 0;
  uint32_t HorizontalSizeExtension = 0;
  uint32_t VerticalSizeExtension = 0;
  uint32_t BitRateExtension = 0;
  uint32_t MarkerBit = 0;
  uint32_t VbvBufferSizeExtension = 0;
  uint32_t LowDelay = 0;
  uint32_t FrameRateExtensionN = 0;
  uint32_t FrameRateExtensionD = 0;

  bool Decode(std::span<const uint8_t> Bytes);
  template <class S, class V>
  static void Fields(S& s, V& v) {
    v(s.StartCode), v(s.Identifier), v(s.ProfileAndLevelIndication), v(s.ProgressiveSequence), v(s.ChromaFormat);
    v(s.HorizontalSizeExtension), v(s.VerticalSizeExtension), v(s.BitRateExtension), v(s.MarkerBit);
    v(s.VbvBufferSizeExtension), v(s.LowDelay), v(s.FrameRateExtensionN), v(s.FrameRateExtensionD);
  }
};

struct TM2VSequenceDisplayExtension : TM2VRecord<TM2VSequenceDisplayExtension> {
  uint32_t Identifier = 0;
  uint32_t VideoFormat = 0;
  uint32_t ColourDescription = 0;
  uint32_t ColourPrimaries = 0;
  uint32_t TransferCharacteristics = 0;
  uint32_t MatrixCoefficients = 0;
  uint32_t DisplayHorizontalSize = 0;
  uint32_t MarkerBit = 0;
  uint32_t DisplayVerticalSize = 0;

  bool Decode(std::span<const uint8_t> Bytes);
  template <class S, class V>
  static void Fields(S& s, V& v) {
    v(s.Identifier), v(s.VideoFormat), v(s.ColourDescription), v(s.ColourPrimaries), v(s.TransferCharacteristics);
    v(s.MatrixCoefficients), v(s.DisplayHorizontalSize), v(s.MarkerBit), v(s.DisplayVerticalSize);
  }
};

struct TM2VSequenceScalableExtension : TM2VRecord<TM2VSequenceScalableExtension> {
  uint32_t Identifier = 0;
  uint32_t ScalableMode = 0;
  uint32_t LayerId = 0;
  uint32_t LowerLayerPredictionHorizontalSize = 0;
  uint32_t MarkerBit = 0;
  uint32_t LowerLayerPredictionVerticalSize = 0;
  uint32_t HorizontalSubsamplingFactorM = 0;
  uint32_t HorizontalSubsamplingFactorN = 0;
  uint32_t VerticalSubsamplingFactorM = 0;
  uint32_t VerticalSubsamplingFactorN = 0;
  uint32_t PictureMuxEnable = 0;
  uint32_t MuxToProgressiveSequence = 0;
  uint32_t PictureMuxOrder = 0;
  uint32_t PictureMuxFactor = 0;

  bool Decode(std::span<const uint8_t> Bytes);
  template <class S, class V>
  static void Fields(S& s, V& v) {
    v(s.Identifier), v(s.ScalableMode), v(s.LayerId), v(s.LowerLayerPredictionHorizontalSize), v(s.MarkerBit);
    v(s.LowerLayerPredictionVerticalSize), v(s.HorizontalSubsamplingFactorM), v(s.HorizontalSubsamplingFactorN);
    v(s.VerticalSubsamplingFactorM), v(s.VerticalSubsamplingFactorN), v(s.PictureMuxEnable);
    v(s.MuxToProgressiveSequence), v(s.PictureMuxOrder), v(s.PictureMuxFactor);
  }
};

struct TM2VQuantMatrixExtension : TM2VRecord<TM2VQuantMatrixExtension> {
  uint32_t Identifier = 0;
  uint32_t LoadIntraQuantiserMatrix = 0;
  uint32_t LoadNonIntraQuantiserMatrix = 0;
  uint32_t LoadChromaIntraQuantiserMatrix = 0;
  uint32_t LoadChromaNonIntraQuantiserMatrix = 0;

  bool Decode(std::span<const uint8_t> Bytes);
  template <class S, class V>
  static void Fields(S& s, V& v) {
    v(s.Identifier), v(s.LoadIntraQuantiserMatrix), v(s.LoadNonIntraQuantiserMatrix);
    v(s.LoadChromaIntraQuantiserMatrix), v(s.LoadChromaNonIntraQuantiserMatrix);
  }
};

struct TM2VPictureDisplayExtension : TM2VRecord<TM2VPictureDisplayExtension> {
  static constexpr int kMaxOffsets = 3;
  uint32_t Identifier = 0;
  struct TOffset {
    uint32_t Horizontal = 0, Marker1 = 0, Vertical = 0, Marker2 = 0;
  };
  std::array<TOffset, kMaxOffsets> Offsets{};

  // Count: the frame-centre offsets the picture carries (1 to 3).
  bool Decode(std::span<const uint8_t> Bytes, int Count);
  template <class S, class V>
  static void Fields(S& s, V& v) {
    v(s.Identifier);
    for (auto& o : s.Offsets) v(o.Horizontal), v(o.Marker1), v(o.Vertical), v(o.Marker2);
  }
};

struct TM2VPictureSpatialScalableExtension : TM2VRecord<TM2VPictureSpatialScalableExtension> {
  uint32_t Identifier = 0;
  uint32_t LowerLayerTemporalReference = 0;
  uint32_t MarkerBit1 = 0;
  uint32_t LowerLayerHorizontalOffset = 0;
  uint32_t MarkerBit2 = 0;
  uint32_t LowerLayerVerticalOffset = 0;
  uint32_t SpatialTemporalWeightCodeTableIndex = 0;
  uint32_t LowerLayerProgressiveFrame = 0;
  uint32_t LowerLayerDeinterlacedFieldSelect = 0;

  bool Decode(std::span<const uint8_t> Bytes);
  template <class S, class V>
  static void Fields(S& s, V& v) {
    v(s.Identifier), v(s.LowerLayerTemporalReference), v(s.MarkerBit1), v(s.LowerLayerHorizontalOffset);
    v(s.MarkerBit2), v(s.LowerLayerVerticalOffset), v(s.SpatialTemporalWeightCodeTableIndex);
    v(s.LowerLayerProgressiveFrame), v(s.LowerLayerDeinterlacedFieldSelect);
  }
};

struct TM2VPictureTemporalScalableExtension : TM2VRecord<TM2VPictureTemporalScalableExtension> {
  uint32_t Identifier = 0;
  uint32_t ReferenceSelectCode = 0;
  uint32_t ForwardTemporalReference = 0;
  uint32_t MarkerBit = 0;
  uint32_t BackwardTemporalReference = 0;

  bool Decode(std::span<const uint8_t> Bytes);
  template <class S, class V>
  static void Fields(S& s, V& v) {
    v(s.Identifier), v(s.ReferenceSelectCode), v(s.ForwardTemporalReference), v(s.MarkerBit);
    v(s.BackwardTemporalReference);
  }
};

struct TM2VGopHeader : TM2VRecord<TM2VGopHeader> {
  uint32_t StartCode = kGroupStartCode;
  uint32_t DropFrameFlag = 0;
  uint32_t Hours = 0;
  uint32_t Minutes = 0;
  uint32_t MarkerBit = 0;
  uint32_t Seconds = 0;
  uint32_t Pictures = 0;
  uint32_t ClosedGop = 0;
  uint32_t BrokenLink = 0;
  uint32_t Number = 0;  // GOPs met so far in the scan, 1 for the first

  bool Decode(std::span<const uint8_t> Bytes);
  core::TTimeCode Time() const {
    return {static_cast<uint8_t>(Hours), static_cast<uint8_t>(Minutes), static_cast<uint8_t>(Seconds),
            static_cast<uint8_t>(Pictures)};
  }
  template <class S, class V>
  static void Fields(S& s, V& v) {
    v(s.StartCode), v(s.DropFrameFlag), v(s.Hours), v(s.Minutes), v(s.MarkerBit), v(s.Seconds), v(s.Pictures);
    v(s.ClosedGop), v(s.BrokenLink), v(s.Number);
  }
};

struct TM2VPictureHeader : TM2VRecord<TM2VPictureHeader> {
  uint32_t StartCode = kPictureStartCode;
  uint32_t TemporalReference = 0;
  uint32_t PictureCodingType = 0;
  uint32_t VbvDelay = 0;
  uint32_t FullPelForwardVector = 0;
  uint32_t ForwardFCode = 0;
  uint32_t FullPelBackwardVector = 0;
  uint32_t BackwardFCode = 0;
  uint32_t ExtraBitPicture = 0;
  uint32_t ExtraInformationPicture = 0;
  uint32_t DisplayIndex = 0;  // the GOP's first display number + temporal_reference
  // I pictures: the start of their sequence header; others: their own start.
  uint64_t Position = 0;

  bool Decode(std::span<const uint8_t> Bytes);
  template <class S, class V>
  static void Fields(S& s, V& v) {
    v(s.StartCode), v(s.TemporalReference), v(s.PictureCodingType), v(s.VbvDelay), v(s.FullPelForwardVector);
    v(s.ForwardFCode), v(s.FullPelBackwardVector), v(s.BackwardFCode), v(s.ExtraBitPicture);
    v(s.ExtraInformationPicture), v(s.DisplayIndex), v(s.Position);
  }
};

struct TM2VPictureCodingExtension : TM2VRecord<TM2VPictureCodingExtension> {
  uint32_t StartCode = kExtensionStartCode;
  uint32_t Identifier = 0;
  uint32_t FCodes = 0;  // f_code[0][0], [0][1], [1][0], [1][1], one byte each from the low end
  uint32_t IntraDcPrecision = 0;
  uint32_t PictureStructure = 0;
  uint32_t TopFieldFirst = 0;
  uint32_t FramePredFrameDct = 0;
  uint32_t ConcealmentMotionVectors = 0;
  uint32_t QScaleType = 0;
  uint32_t IntraVlcFormat = 0;
  uint32_t AlternateScan = 0;
  uint32_t RepeatFirstField = 0;
  uint32_t Chroma420Type = 0;
  uint32_t ProgressiveFrame = 0;
  uint32_t CompositeDisplayFlag = 0;
  uint32_t VAxis = 0;
  uint32_t FieldSequence = 0;
  uint32_t SubCarrier = 0;
  uint32_t BurstAmplitude = 0;
  uint32_t SubCarrierPhase = 0;

  bool Decode(std::span<const uint8_t> Bytes);
  template <class S, class V>
  static void Fields(S& s, V& v) {
    v(s.StartCode), v(s.Identifier), v(s.FCodes), v(s.IntraDcPrecision), v(s.PictureStructure), v(s.TopFieldFirst);
    v(s.FramePredFrameDct), v(s.ConcealmentMotionVectors), v(s.QScaleType), v(s.IntraVlcFormat);
    v(s.AlternateScan), v(s.RepeatFirstField), v(s.Chroma420Type), v(s.ProgressiveFrame);
    v(s.CompositeDisplayFlag), v(s.VAxis), v(s.FieldSequence), v(s.SubCarrier), v(s.BurstAmplitude);
    v(s.SubCarrierPhase);
  }
};

struct TM2VSliceHeader : TM2VRecord<TM2VSliceHeader> {
  uint32_t SliceVerticalPosition = 0;  // the start-code value
  uint32_t SliceVerticalPositionExtension = 0;
  uint32_t Row = 0;
  uint32_t PriorityBreakpoint = 0;
  uint32_t QuantiserScaleCode = 0;
  uint32_t IntraSliceFlag = 0;
  uint32_t IntraSlice = 0;
  uint32_t ReservedBits = 0;
  uint32_t ExtraBitSlice = 0;
  uint32_t ExtraInformationSlice = 0;

  // What other headers decide about a slice's layout.
  struct TContext {
    uint32_t VerticalSize = 0;
    bool DataPartitioned = false;  // a sequence scalable extension in data partitioning mode
  };
  bool Decode(uint32_t StartCode, std::span<const uint8_t> Bytes, const TContext& Context);
  template <class S, class V>
  static void Fields(S& s, V& v) {
    v(s.SliceVerticalPosition), v(s.SliceVerticalPositionExtension), v(s.Row), v(s.PriorityBreakpoint);
    v(s.QuantiserScaleCode), v(s.IntraSliceFlag), v(s.IntraSlice), v(s.ReservedBits), v(s.ExtraBitSlice);
    v(s.ExtraInformationSlice);
  }
};

// Frame rates by frame_rate_code: the names shown in information texts and the
// rates for arithmetic (-1 for the forbidden code 0, 0 for reserved codes).
std::string FrameRateName(uint32_t FrameRateCode);
double FrameRateValue(uint32_t FrameRateCode);
// A code that names a real rate (1 to 8).
bool IsValidFrameRateCode(uint32_t FrameRateCode);
// The rate rounded to whole frames: 24, 25, 30, 50 or 60; -1 for code 0 and 0
// for the reserved codes.
int32_t IntegerFrameRate(uint32_t FrameRateCode);
// Aspect codes the analyser keeps: 1 to 8 and 12.
bool IsKnownAspectCode(uint32_t AspectCode);

// The name of a start code from 0xBC to 0xFF as a program-stream id.
std::string StreamIdName(uint32_t Code);

// The entries of a scan's index: the tag says which record the payload copies.
enum TM2VIndexTag : uint32_t {
  kTagSlice = 0,
  kTagSameSequenceHeader = 14,     // cache only: equal to the first sequence header
  kTagSameSequenceExtension = 15,  // cache only: equal to the first sequence extension
  kTagUserData = 178,
  kTagSequenceHeader = 179,
  kTagSequenceEnd = 183,
  kTagGop = 184,
  kTagSequenceExtension = 194,
  kTagSequenceDisplayExtension = 195,
  kTagSequenceScalableExtension = 196,
  kTagQuantMatrixExtension = 197,
  kTagPictureDisplayExtension = 198,
  kTagPictureSpatialScalableExtension = 199,
  kTagPictureTemporalScalableExtension = 200,
  kTagPictureCodingExtension = 201,
  kTagPicture = 203,
  kTagEndOfScan = 209,
};

// The index: entries in the order met, payloads packed in one block.
class TM2VIndex {
 public:
  struct TEntry {
    uint32_t Tag = 0;
    uint64_t Number = 0;  // the entry's own position, from 0
    uint64_t Offset = 0;  // of the payload in the block
    uint32_t Size = 0;
  };

  void Clear() {
    Entries_.clear();
    Bytes_.clear();
  }
  void Add(uint32_t Tag, const uint8_t* Payload, size_t Size);
  size_t Count() const { return Entries_.size(); }
  const TEntry& operator[](size_t i) const { return Entries_[i]; }
  std::span<const uint8_t> Payload(size_t i) const {
    return {Bytes_.data() + Entries_[i].Offset, Entries_[i].Size};
  }
  std::span<uint8_t> MutablePayload(size_t i) { return {Bytes_.data() + Entries_[i].Offset, Entries_[i].Size}; }

 private:
  std::vector<TEntry> Entries_;
  std::vector<uint8_t> Bytes_;
};

}  // namespace tess::streams
