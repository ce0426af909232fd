#include "disc/ifo_model.h"

#include "core/byte_order.h"

namespace tess::disc {

uint32_t VMGIField32(const TIFOFile& F, size_t Offset) {
  return Offset + 4 <= F.VMGI_MAT.size() ? core::ReadBE32(&F.VMGI_MAT[Offset]) : 0;
}
uint16_t VMGIField16(const TIFOFile& F, size_t Offset) {
  return Offset + 2 <= F.VMGI_MAT.size() ? core::ReadBE16(&F.VMGI_MAT[Offset]) : 0;
}
uint32_t VTSIField32(const TIFOFile& F, size_t Offset) {
  return Offset + 4 <= F.VTSI_MAT.size() ? core::ReadBE32(&F.VTSI_MAT[Offset]) : 0;
}
uint16_t VTSIField16(const TIFOFile& F, size_t Offset) {
  return Offset + 2 <= F.VTSI_MAT.size() ? core::ReadBE16(&F.VTSI_MAT[Offset]) : 0;
}

}  // namespace tess::disc
