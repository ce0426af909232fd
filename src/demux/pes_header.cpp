#include "demux/pes_header.h"

#include "core/byte_order.h"
#include "core/timecode.h"

namespace tess::demux {

namespace {

// Flags byte.
constexpr uint8_t kEscrFlag = 0x20;
constexpr uint8_t kEsRateFlag = 0x10;
constexpr uint8_t kTrickModeFlag = 0x08;
constexpr uint8_t kCopyInfoFlag = 0x04;
constexpr uint8_t kCrcFlag = 0x02;
constexpr uint8_t kExtensionFlag = 0x01;
// Extension flag byte.
constexpr uint8_t kPrivateDataFlag = 0x80;
constexpr uint8_t kPackHeaderFieldFlag = 0x40;
constexpr uint8_t kSequenceCounterFlag = 0x20;
constexpr uint8_t kPStdBufferFlag = 0x10;
constexpr uint8_t kExtension2Flag = 0x01;

constexpr uint8_t kPtsOnly = 2;
constexpr uint8_t kPtsAndDts = 3;
constexpr size_t kTimeStampSize = 5;

// The optional fields, taken one after the other from what the header length
// holds.
class TFieldCursor {
 public:
  TFieldCursor(const uint8_t* Fields, size_t Length) : fields_(Fields), length_(Length) {}
  // The next Count bytes, or nothing when they pass the header length.
  const uint8_t* Take(size_t Count) {
    if (Count > length_ - used_) return nullptr;
    const uint8_t* at = fields_ + used_;
    used_ += Count;
    return at;
  }

 private:
  const uint8_t* fields_;
  size_t length_;
  size_t used_ = 0;
};

std::optional<PesHeader> Fail(TPesHeaderFault Why, TPesHeaderFault* Fault) {
  if (Fault) *Fault = Why;
  return std::nullopt;
}

}  // namespace

std::optional<PesHeader> PesHeader::Decode(std::span<const uint8_t> Packet, TPesHeaderFault* Fault) {
  if (Fault) *Fault = TPesHeaderFault::None;
  if (Packet.size() < kLengthFieldEnd || Packet[0] != 0 || Packet[1] != 0 || Packet[2] != 1)
    return Fail(TPesHeaderFault::NotWhole, Fault);
  PesHeader h;
  h.StreamId = Packet[3];
  h.PacketLength = core::ReadBE16(Packet.data() + 4);
  if (h.PacketSize() > Packet.size()) return Fail(TPesHeaderFault::NotWhole, Fault);
  if (h.PacketSize() < kFixedSize) return Fail(TPesHeaderFault::CutShort, Fault);
  h.Flags = Packet[7];
  h.HeaderDataLength = Packet[8];
  if (h.PayloadOffset() > h.PacketSize()) return Fail(TPesHeaderFault::DoesNotFit, Fault);
  h.PtsDtsFlags = h.Flags >> 6;

  TFieldCursor fields(Packet.data() + kFixedSize, h.HeaderDataLength);
  if (h.PtsDtsFlags >= kPtsOnly) {
    const uint8_t* pts = fields.Take(kTimeStampSize);
    if (!pts) return Fail(TPesHeaderFault::NoRoomForTimeStamp, Fault);
    h.Pts = core::PtsToTicks(pts);
  }
  bool fit = true;
  if (h.PtsDtsFlags == kPtsAndDts) fit &= fields.Take(kTimeStampSize) != nullptr;
  if (h.Flags & kEscrFlag) fit &= fields.Take(6) != nullptr;
  if (h.Flags & kEsRateFlag) fit &= fields.Take(3) != nullptr;
  if (h.Flags & kTrickModeFlag) fit &= fields.Take(1) != nullptr;
  if (h.Flags & kCopyInfoFlag) fit &= fields.Take(1) != nullptr;
  if (h.Flags & kCrcFlag) fit &= fields.Take(2) != nullptr;
  if (fit && (h.Flags & kExtensionFlag)) {
    const uint8_t* ext = fields.Take(1);
    fit = ext != nullptr;
    const uint8_t flags = ext ? *ext : 0;
    if (flags & kPrivateDataFlag) fit &= fields.Take(16) != nullptr;
    h.PackHeaderField = (flags & kPackHeaderFieldFlag) != 0;  // no field of its own is read
    if (flags & kSequenceCounterFlag) fit &= fields.Take(2) != nullptr;
    if (flags & kPStdBufferFlag) fit &= fields.Take(2) != nullptr;
    if (fit && (flags & kExtension2Flag)) {
      const uint8_t* length = fields.Take(1);
      const size_t count = length ? *length & 0x7F : 0;
      const uint8_t* data = length ? fields.Take(count) : nullptr;
      fit = data != nullptr;
      if (data && count >= 1) h.StreamIdExtension = data[0];
    }
  }
  if (!fit) return Fail(TPesHeaderFault::FieldsOverrun, Fault);
  return h;
}

const char* PesHeaderFaultText(TPesHeaderFault Fault) {
  switch (Fault) {
    case TPesHeaderFault::None: return "holds";
    case TPesHeaderFault::NotWhole: return "is not whole";
    case TPesHeaderFault::CutShort: return "is cut short";
    case TPesHeaderFault::DoesNotFit: return "does not fit its packet";
    case TPesHeaderFault::NoRoomForTimeStamp: return "holds no room for its time stamp";
    case TPesHeaderFault::FieldsOverrun: return "announces more fields than its length holds";
  }
  return "is not whole";
}

}  // namespace tess::demux
