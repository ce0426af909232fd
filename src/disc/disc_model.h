#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "disc/ifo_model.h"

namespace tess::disc {

using RGBTriple = std::array<uint8_t, 3>;

// The loaded disc: its information files and what loading derives from them.
// The loader (and the shell, for a list of EVO files) fills it; after that a run
// only reads it. What a run collects goes into the run's registries
// (run_registries.h), the items' names into ItemNames (name_tree.h).
struct DiscModel {
  DiscModel() = default;
  DiscModel(const DiscModel&) = delete;
  DiscModel& operator=(const DiscModel&) = delete;

  int32_t TitleSetCount = 0;  // information files loaded, the VMG included
  std::vector<TIFOFile> IFOFiles = std::vector<TIFOFile>(kMaxIFOFiles);
  double FrameRate = 30;      // 25, 29.97 or 30
  uint8_t HDDisc = 0;
  uint8_t LooseEvo = 0;       // the source is a list of EVO files
  std::array<RGBTriple, 16> DefaultPalette{};
  TObjectTables ObjectTables;
  uint64_t DecodedThisLoad = 0;  // what the readers decoded from the files of the current load
  // Title sets First..Last that the disc shows past the count of the video
  // manager's title-set table: not loaded. Why names the table's file, its count
  // and what shows them.
  struct TUncountedTitleSets {
    int32_t First = 0;
    int32_t Last = 0;
    std::string Why;
  };
  std::vector<TUncountedTitleSets> UncountedTitleSets;
};

// Records from 1 on are title sets; record 0 is the video manager, or a title
// set loaded on its own.
inline int32_t FirstTitleSetIndex(const DiscModel& Disc) {
  return Disc.TitleSetCount > 0 && Disc.IFOFiles[0].Kind == ifoVTS ? 0 : 1;
}

// Record Index holds a title set, not the video manager.
inline bool IsTitleSetIndex(const DiscModel& Disc, int32_t Index) {
  return Index >= 0 && Index >= FirstTitleSetIndex(Disc);
}

// The record of title set Number (from its file name); -1 when none is loaded.
inline int32_t IndexOfTitleSet(const DiscModel& Disc, int32_t Number) {
  for (int32_t i = FirstTitleSetIndex(Disc); i < Disc.TitleSetCount; ++i)
    if (Disc.IFOFiles[static_cast<size_t>(i)].TitleSetNumber == Number) return i;
  return -1;
}

}  // namespace tess::disc
