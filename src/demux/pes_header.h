#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// The header of one PES packet of a media stream, decoded from the packet's
// bytes alone: what the demultiplexer needs of it (the time stamp, the stream id
// extension, where the payload starts) and nothing of the walk through the pack
// or of the writers.
namespace tess::demux {

// Why a packet's header cannot be taken. The demultiplexer drops such a packet
// with a log line that says which.
enum class TPesHeaderFault : uint8_t {
  None,
  NotWhole,            // the bytes hold no start code prefix, or less than the length field counts
  CutShort,            // the packet length leaves no room for the flags and the header length
  DoesNotFit,          // the header length runs past the packet
  NoRoomForTimeStamp,  // the flags announce a time stamp the header length does not hold
  FieldsOverrun,       // the flags announce more fields than the header length holds
};

struct PesHeader {
  // Offsets from the packet's start code.
  static constexpr size_t kLengthFieldEnd = 6;  // start code and packet length
  static constexpr size_t kFixedSize = 9;       // ... marker, flags and header length too

  uint8_t StreamId = 0;
  uint16_t PacketLength = 0;      // bytes after the length field
  uint8_t Flags = 0;              // the flags byte: PTS_DTS_flags, ESCR, ES rate, ... extension
  uint8_t PtsDtsFlags = 0;        // its two top bits
  uint8_t HeaderDataLength = 0;   // optional fields and stuffing that follow the fixed part
  std::optional<uint64_t> Pts;    // 90 kHz, all 33 bits; PTS_DTS_flags 2 or 3
  // The first byte of the extension-2 data (stream 0xFD: the stream id
  // extension, which names the substream).
  std::optional<uint8_t> StreamIdExtension;
  // The extension's pack header field flag, which a program stream may not set.
  bool PackHeaderField = false;

  // The packet's bytes from its start code on.
  size_t PacketSize() const { return kLengthFieldEnd + PacketLength; }
  // Where the payload starts: after every byte the header length counts.
  size_t PayloadOffset() const { return kFixedSize + HeaderDataLength; }

  // Decodes the header of the packet that starts Packet (its start code first;
  // bytes past the packet are not looked at). Nothing when the header does not
  // hold; Fault, when given, then says why.
  static std::optional<PesHeader> Decode(std::span<const uint8_t> Packet, TPesHeaderFault* Fault = nullptr);
};

// How a drop line says the fault ("PES header of stream 224 " + this).
const char* PesHeaderFaultText(TPesHeaderFault Fault);

}  // namespace tess::demux
