#pragma once
#include <cstdint>
#include <string>

namespace tess::core {
struct RunContext;
}
namespace tess::platform {
struct GridModel;
}

namespace tess::disc {

struct DiscModel;
struct RunRegistries;

// Loads a disc's information files into the disc model: the file at Path
// (a VMG or a single title set; a folder stands for its "hv000i01.IFO") and,
// for a VMG, every title set its VTS_ATRT counts, each from its ".IFO" or, when
// that fails the information-file test, from its ".BUP". Record n holds title
// set n; a title set whose two copies both fail stays a record of kind 0 (so the
// numbering holds) and is not loaded. Returns the number of title sets read.
// The registries drop what they held of the previous disc (its scouts and
// subpicture stream table) and get the palettes of the new one's chains; each
// title set's overview goes into InfoGrid. The items' names are the caller's
// to build (TDVDNameTree::SetIFOs).
int32_t LoadIFOSet(core::RunContext& Run, DiscModel& Disc, RunRegistries& Reg, const std::string& Path,
                   platform::GridModel& InfoGrid);

// The set's own file names: "hv" + the number in three digits + "i01" + Ext.
std::string TitleSetFileName(int32_t Number, const std::string& Ext);
// The title-set number in a title set's own file name ("hv" nnn "i01"), 0 when
// the name does not carry one.
int32_t TitleSetNumberOfName(const std::string& Path);

}  // namespace tess::disc
