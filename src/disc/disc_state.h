#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "disc/highlights.h"
#include "disc/ifo_model.h"
#include "disc/name_list.h"
#include "disc/name_tree.h"
#include "disc/registries.h"
#include "disc/script_model.h"
#include "disc/string_pool.h"
#include "disc/subpic_streams.h"
#include "disc/vob_scout.h"
#include "platform/ui_models.h"

namespace tess::disc {

using RGBTriple = std::array<uint8_t, 3>;

// The loaded disc and everything derived from it during a run: the information
// files, the frame rate and palettes, the registries of the streams written, the
// authoring-script model, the string pool and the scouts. Disc code takes this
// next to the run context; it is plain data owned by the project state.
struct DiscState {
  DiscState() = default;
  static platform::GridModel BoundedGrid() {
    platform::GridModel g;
    g.MaxRows = kMaxGridRows;
    return g;
  }
  DiscState(const DiscState&) = delete;
  DiscState& operator=(const DiscState&) = delete;

  // ---- the parsed disc ----
  int32_t TitleSetCount = 0;  // information files loaded, the VMG included
  std::vector<TIFOFile> IFOFiles = std::vector<TIFOFile>(kMaxIFOFiles);
  double FrameRate = 30;      // 25, 29.97 or 30
  uint8_t HDDisc = 0;
  uint8_t LooseEvo = 0;       // the source is a list of EVO files
  int32_t PictureWidth = 0;
  int32_t PictureHeight = 0;
  std::array<RGBTriple, 16> DefaultPalette{};
  TObjectTables ObjectTables;
  uint64_t DecodedThisLoad = 0;  // what the readers decoded from the files of the current load

  // ---- the views the loader and the scout fill ----
  // The information grid; a crafted file can describe millions of cells, so the
  // rows it takes are bounded.
  static constexpr int32_t kMaxGridRows = 100000;
  platform::GridModel StringGrid1 = BoundedGrid();
  platform::TreeModel TreeView7;    // the scout's tree
  platform::TreeModel TreeView1;    // the information-file browser
  platform::TreeModel TreeView2;
  TSubPicInfoForm SubPicInfoForm;

  // ---- unique item names and what the navigation-command texts need ----
  TDVDNameTree NameTree;
  std::string JumpTarget;
  int32_t CurIFOIndex = 0;
  int32_t CurLanguageUnit = 0;  // from 0
  int32_t CurTitleNumber = 0;
  std::string MenuNamePrefix;

  // ---- registries and the authoring-script model ----
  // Deques: registrations and new tracks hand out references that must stay
  // valid while the tables grow (appending to a deque moves no element).
  std::deque<TVideoStreamEntry> VideoStreams;
  std::deque<TAudioStreamEntry> AudioStreams;
  std::deque<TSubPictureItem> SubPictureItems;
  TSubPictureItem SpareSubPicture;
  TScriptData ScriptData;
  std::deque<TVideoTrack> ScriptTracks;
  TPalettes Palettes;
  TAngleBlockLists AngleLists;  // per-domain angle blocks of the title set built last
  TStringPool StringPool;
  TVobScoutRegistry Scouts;
  TDataStrings DataStrings;     // the run's pooled texts
  // The subpicture unit's title-name lists, 1 .. TitleSetCount (0 unused).
  std::vector<TNameList> TitleNameLists;
  std::vector<std::string> DatFiles;  // ".dat" index files written in the run
};

}  // namespace tess::disc
