// PES headers on their own: the input as one packet, and every packet of each
// 2048-byte pack of it that starts with a pack header, walked as the
// demultiplexer walks them. Whatever a header says, what it yields stays inside
// its packet.
#include <algorithm>
#include <cstdlib>
#include <span>

#include "core/byte_order.h"
#include "demux/pes_header.h"

namespace {

void Check(std::span<const uint8_t> Packet) {
  using tess::demux::PesHeader;
  tess::demux::TPesHeaderFault fault{};
  const auto h = PesHeader::Decode(Packet, &fault);
  if (h.has_value() != (fault == tess::demux::TPesHeaderFault::None)) std::abort();
  if (!h) return;
  if (h->PacketSize() > Packet.size() || h->PayloadOffset() > h->PacketSize()) std::abort();
  if (h->Pts && (*h->Pts >> 33) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::span<const uint8_t> input(Data, Size);
  Check(input);
  constexpr size_t kPack = 2048, kPackHeader = 14;
  for (size_t pack = 0; pack + kPackHeader <= Size; pack += kPack) {
    if (tess::core::ReadBE32(Data + pack) != 0x000001BA) continue;
    const size_t end = std::min(Size, pack + kPack);
    for (size_t at = pack + kPackHeader + (Data[pack + 13] & 7); at + 6 <= end;
         at += 6 + tess::core::ReadBE16(Data + at + 4))
      Check(input.subspan(at, end - at));
  }
  return 0;
}
