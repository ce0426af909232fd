#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/bit_stream.h"

// Start code by start code through an MPEG video stream: the walk of the
// analyser and of the flag rewriter share it.
namespace tess::streams {

// The bytes of one header as the source holds them.
struct TM2VHeaderBytes {
  static constexpr size_t kKept = 512;
  std::array<uint8_t, kKept> Data{};
  size_t Count = 0;
  void Push(uint8_t b) {
    if (Count < Data.size()) Data[Count++] = b;
  }
  std::span<const uint8_t> Span() const { return {Data.data(), Count}; }
};

class TM2VStartCodeReader {
 public:
  void Attach(core::TFileBitStream* Bits) {
    Bits_ = Bits;
    AtEnd = false;
    NextCode = 0;
    StartCodePos = 0;
  }
  core::TFileBitStream& Bits() { return *Bits_; }

  // Moves behind the next start-code prefix and peeks its value; false (and
  // AtEnd) when the file ends first. A prefix in the last bytes, with no value
  // after it, starts nothing.
  bool Next();
  // Reads a header's bytes up to the next start-code prefix (kept in Header
  // when given), leaving the reader as Next does.
  void ReadTo(TM2VHeaderBytes* Header);
  // Takes up to Count bytes of a header into Header, each first replaced in
  // the source by Replacement's (when given and different); stops before a
  // start-code prefix, so a header cut short keeps the next start code whole.
  // Header gets the bytes as the source had them. Returns the bytes taken.
  size_t TakeAhead(TM2VHeaderBytes& Header, size_t Count, const uint8_t* Replacement);
  uint32_t ReadValueByte() { return Bits_->ReadBits(8); }
  // The identifier of the extension whose start code is next.
  uint32_t PeekExtensionId() const { return Bits_->PeekBits(12) & 0xF; }

  bool AtEnd = false;
  uint32_t NextCode = 0;     // the value byte of the start code ahead
  int64_t StartCodePos = 0;  // the position of its first 0x00

 private:
  core::TFileBitStream* Bits_ = nullptr;
};

}  // namespace tess::streams
