#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tess::state {

// The title-set list dialog's three marks, indexed from 1 (0 unused): for a disc
// n is the title-set number + 1 (1..100), for a loose EVO list the 1-based
// position, as many as the list has.
struct TVTSListForm {
  static constexpr size_t kTitleSetRows = 100;
  std::vector<uint8_t> DemuxMark = std::vector<uint8_t>(kTitleSetRows + 1);
  std::vector<uint8_t> AudioCorrectionMark = std::vector<uint8_t>(kTitleSetRows + 1);
  std::vector<uint8_t> MainModeMark = std::vector<uint8_t>(kTitleSetRows + 1);

  // One row of the dialog; rows without check boxes keep their Main-mode mark.
  struct Row {
    int32_t N = 0;
    bool HasBoxes = false;
    bool Demux = true;
    bool AudioCorrection = true;
    bool MainMode = false;
  };
  // The dialog's OK. The marks grow to the highest row given.
  void ApplyOK(const std::vector<Row>& Rows);
  // The demultiplex mark of n. An n past the marks (a title set numbered 100 or
  // 101) has no row in which it could have been left out, so it counts as
  // marked.
  bool DemuxMarked(size_t N) const { return N >= DemuxMark.size() || DemuxMark[N] != 0; }
};

}  // namespace tess::state
