#pragma once
#include <array>
#include <cstdint>
#include <vector>

namespace tess::app {

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
};

}  // namespace tess::app
