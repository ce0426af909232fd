#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tess::state {

// The title-set list dialog's three marks, indexed 1..100 (0 unused): for a disc
// n is the title-set number + 1, for a loose EVO list the 1-based position.
struct TVTSListForm {
  std::array<uint8_t, 101> DemuxMark{};
  std::array<uint8_t, 101> AudioCorrectionMark{};
  std::array<uint8_t, 101> MainModeMark{};

  // One row of the dialog; rows without check boxes keep their Main-mode mark.
  struct Row {
    int32_t N = 0;
    bool HasBoxes = false;
    bool Demux = true;
    bool AudioCorrection = true;
    bool MainMode = false;
  };
  // The dialog's OK.
  void ApplyOK(const std::vector<Row>& Rows);
  // The demultiplex mark of n. An n past the marks (a loose list longer than the
  // dialog, or a title set numbered 100 or 101) has no row in which it could
  // have been left out, so it counts as marked.
  bool DemuxMarked(size_t N) const { return N >= DemuxMark.size() || DemuxMark[N] != 0; }
};

}  // namespace tess::state
