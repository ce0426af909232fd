#include "state/vts_list.h"

#include <algorithm>
#include <cstddef>

namespace tess::state {

void TVTSListForm::ApplyOK(const std::vector<Row>& Rows) {
  size_t size = DemuxMark.size();
  for (const Row& r : Rows)
    if (r.N >= 1) size = std::max(size, static_cast<size_t>(r.N) + 1);
  for (auto* marks : {&DemuxMark, &AudioCorrectionMark, &MainModeMark}) marks->resize(size);
  for (std::size_t n = 1; n < size; ++n) {
    DemuxMark[n] = 1;
    AudioCorrectionMark[n] = 1;
  }
  for (const Row& r : Rows) {
    if (r.N < 1 || !r.HasBoxes) continue;
    DemuxMark[r.N] = r.Demux ? 1 : 0;
    AudioCorrectionMark[r.N] = r.AudioCorrection ? 1 : 0;
    MainModeMark[r.N] = r.MainMode ? 1 : 0;
  }
}

}  // namespace tess::state
