#pragma once
#include <cstdint>
#include <string>
#include <unordered_set>

#include "state/vts_list.h"

namespace tess::state {

// What a run keeps of its own beside the disc and the registries: the title-set
// list's marks it runs with, the outputs it has started and its counters. The
// shell sets the marks and empties the rest at the start of every run; the
// demultiplexer reads the marks and fills the rest.
struct RunState {
  TVTSListForm VTSListForm;
  int64_t AC3PayloadCount = 0;
  int32_t SubpicUnitCount = 0;
  int32_t SlideShowNumber = 0;
  // The output files this run has started, by full name: opened again (by the
  // next file of a chain, or by another loose EVO file of the same name) they
  // are appended to; only a file left by an earlier run is started afresh.
  std::unordered_set<std::string> StartedOutputs;
};

}  // namespace tess::state
