// Navigation-pack handling and cell changes.
#include "demux/demux_context.h"

namespace tess::demux {

void TIFOData::ProcessPciPack(const uint8_t* /*Data*/, int32_t /*Length*/) {}

void TIFOData::ProcessNavPack(const uint8_t* /*Data*/, int32_t /*Length*/) {}

void TIFOData::FinishCell(uint8_t /*Sid*/, uint8_t /*Sub*/) {}

}  // namespace tess::demux
