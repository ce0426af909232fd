#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "disc/highlights.h"

namespace tess::core {
struct RunContext;
}
namespace tess::disc {
struct DiscModel;
}

// The buttons of a menu domain live in the navigation packs of its EVO file, not
// in the information files. This reads them without taking the file apart, for
// what shows a disc as it is: one highlight for each one a navigation pack
// starts, once per VOB, cell and time span, as the demultiplexer records them.
namespace tess::demux {

// Appends the highlights of EvoFile (a menu domain of information file IFOIndex)
// to Items. False, with a log line, when the file cannot be opened or read; the
// highlights found before a read error stay.
bool ReadMenuHighlights(core::RunContext& Run, const disc::DiscModel& Disc, int32_t IFOIndex,
                        const std::string& EvoFile, std::vector<disc::THighlightPlayItem>& Items);

}  // namespace tess::demux
