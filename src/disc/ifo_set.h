#pragma once
#include <cstdint>
#include <string>

#include "disc/disc_model.h"

namespace tess::core {
struct RunContext;
}
namespace tess::platform {
struct GridModel;
}

namespace tess::disc {

struct RunRegistries;

// Loads a disc's information files into the disc model: the file at Path
// (a VMG or a single title set; a folder stands for its "hv000i01.IFO") and,
// for a VMG, every title set its VTS_ATRT counts, each from its ".IFO" or, when
// that fails the information-file test, from its ".BUP". An HD DVD video
// manager whose VTS_ATRT leaves out a title set that the rest of the disc shows
// is replaced by its other copy when that one counts them all; the title sets
// still left out are in Disc.UncountedTitleSets. Record n holds title
// set n; a title set whose two copies both fail stays a record of kind 0 (so the
// numbering holds) and is not loaded. Returns the number of title sets read.
// The registries drop what they held of the previous disc (its scouts and
// subpicture stream table) and get the palettes of the new one's chains; each
// title set's overview goes into InfoGrid. The items' names are the caller's
// to build (TDVDNameTree::SetIFOs).
int32_t LoadIFOSet(core::RunContext& Run, DiscModel& Disc, RunRegistries& Reg, const std::string& Path,
                   platform::GridModel& InfoGrid);

// The other copy of an information file (its ".BUP" for an ".IFO", its ".IFO"
// for a ".BUP"), found whatever its case; empty for another name.
std::string OtherInformationCopy(const std::string& Path);
// The file at Path identifies as a video manager (the disc model is not told).
bool IsVideoManagerFile(const std::string& Path);

// "title set 2 was not read: " (or "title sets 3 to 9 were") and why.
std::string UncountedTitleSetsText(const DiscModel::TUncountedTitleSets& Sets);

// The set's own file names: "hv" + the number in three digits + "i01" + Ext.
std::string TitleSetFileName(int32_t Number, const std::string& Ext);
// The title-set number in a title set's own file name ("hv" nnn "i01"), 0 when
// the name does not carry one.
int32_t TitleSetNumberOfName(const std::string& Path);

}  // namespace tess::disc
