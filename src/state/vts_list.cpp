#include "state/vts_list.h"

#include <cstddef>

namespace tess::state {

void TVTSListForm::ApplyOK(const std::vector<Row>& Rows) {
  for (std::size_t n = 1; n < DemuxMark.size(); ++n) {
    DemuxMark[n] = 1;
    AudioCorrectionMark[n] = 1;
  }
  for (const Row& r : Rows) {
    if (r.N < 1 || r.N > 100 || !r.HasBoxes) continue;
    DemuxMark[r.N] = r.Demux ? 1 : 0;
    AudioCorrectionMark[r.N] = r.AudioCorrection ? 1 : 0;
    MainModeMark[r.N] = r.MainMode ? 1 : 0;
  }
}

}  // namespace tess::state
