#include "streams/m2v_reader.h"

#include <algorithm>

namespace tess::streams {

bool TM2VStartCodeReader::Next() {
  if (AtEnd) return false;
  if (!Bits_->FindSyncWord(1, 24) || Bits_->Eof) {
    AtEnd = true;
    return false;
  }
  StartCodePos = Bits_->BytePosition() - 3;
  NextCode = Bits_->PeekBits(8);
  return true;
}

void TM2VStartCodeReader::ReadTo(TM2VHeaderBytes* Header) {
  core::TFileBitStream& r = *Bits_;
  uint32_t window = 0xFFFFFF;
  size_t taken = 0;
  while (!r.Eof) {
    const auto b = static_cast<uint8_t>(r.ReadBits(8));
    window = ((window << 8) | b) & 0xFFFFFF;
    if (Header) Header->Push(b);
    ++taken;
    if (window != 1) continue;
    // The prefix belongs to the next start code, not to this header.
    if (Header) Header->Count -= std::min<size_t>(Header->Count, std::min<size_t>(taken, 3));
    StartCodePos = r.BytePosition() - 3;
    if (r.Eof) break;
    NextCode = r.PeekBits(8);
    return;
  }
  AtEnd = true;
}

size_t TM2VStartCodeReader::TakeAhead(TM2VHeaderBytes& Header, size_t Count, const uint8_t* Replacement) {
  core::TFileBitStream& r = *Bits_;
  size_t i = 0;
  for (; i < Count && !r.Eof && r.PeekBits(24) != 1; ++i) {
    const auto original = static_cast<uint8_t>(r.PeekBits(8));
    if (Replacement && Replacement[i] != original) r.OverwriteBytes(Replacement + i, 1);
    Header.Push(original);
    r.ReadBits(8);
  }
  return i;
}

}  // namespace tess::streams
