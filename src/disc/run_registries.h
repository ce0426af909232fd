#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "disc/highlights.h"
#include "disc/name_list.h"
#include "disc/registries.h"
#include "disc/script_model.h"
#include "disc/string_pool.h"
#include "disc/subpic_streams.h"
#include "disc/vob_scout.h"

namespace tess::disc {

// What the runs collect about the loaded disc: the registries of the streams
// they write, the authoring-script model, the palettes met, the text pools and
// the scouts. Loading a disc drops the previous disc's scouts and stream table
// and lists the new one's palettes; a run empties the registries, the tracks and
// the scouts at its start. Disc code that registers, looks up or pools takes
// this next to the read-only disc model.
struct RunRegistries {
  RunRegistries() = default;
  RunRegistries(const RunRegistries&) = delete;
  RunRegistries& operator=(const RunRegistries&) = delete;

  // ---- the stream registries ----
  // Deques: registrations and new tracks hand out references that must stay
  // valid while the tables grow (appending to a deque moves no element).
  std::deque<TVideoStreamEntry> VideoStreams;
  std::deque<TAudioStreamEntry> AudioStreams;
  std::deque<TSubPictureItem> SubPictureItems;
  TSubPictureItem SpareSubPicture;
  // The picture size the registrations found last (GetPictureSize).
  int32_t PictureWidth = 0;
  int32_t PictureHeight = 0;
  // The subpicture stream table of the program chain (or title set) whose
  // video was registered last; the registrations and the output names read it.
  TSubPicInfoForm SubPicInfoForm;

  // ---- the authoring-script model ----
  TScriptData ScriptData;
  std::deque<TVideoTrack> ScriptTracks;
  TPalettes Palettes;
  TAngleBlockLists AngleLists;  // per-domain angle blocks of the title set built last

  // ---- pools and lists ----
  TStringPool StringPool;
  TDataStrings DataStrings;     // the run's pooled texts
  // The subpicture unit's title-name lists, 1 .. TitleSetCount (0 unused).
  std::vector<TNameList> TitleNameLists;
  std::vector<std::string> DatFiles;  // ".dat" index files written in the run

  // ---- the scouts of the chains demultiplexed ----
  TVobScoutRegistry Scouts;
};

}  // namespace tess::disc
