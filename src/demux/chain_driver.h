#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "demux/demux_context.h"

// The EVO chain driver's loose list: the EVO files of an Advanced Content title
// information file (".VTI"), or the loose EVO files picked as a source.
namespace tess::demux {

struct TEvoListEntry {
  std::string Name;  // the EVO file, resolved against the list file's folder
  uint8_t Done = 0;  // set once the file has been demultiplexed
  // The entry's name is no file name (empty, a path, a control character):
  // Name holds it as it can be shown, and the entry is skipped.
  uint8_t BadName = 0;
};
using TEvoFileList = std::vector<TEvoListEntry>;

// The ".VTI" layout.
constexpr uint64_t kVtiListSectorOffset = 188;
constexpr uint64_t kVtiRecordSize = 320;
constexpr uint64_t kVtiNameOffset = 2;

// Reads the EVO list of a ".VTI" file into List. False (List left as it was)
// when the file does not exist; false with a log line when its list sector,
// count or records do not fit the file. An entry whose name is no file name
// keeps its place, marked, with a log line that names it.
bool LoadEvoFileList(core::RunContext& Run, TEvoFileList& List, const std::string& FileName);
// Marks every entry whose name equals Name without regard to case.
void MarkEvoFileDone(TEvoFileList& List, const std::string& Name);
// Demultiplexes the entries marked in the title-set list that exist and are not
// done yet, one context each; an entry with a bad name or a missing file is
// noted as skipped and the list goes on. False when one of them failed. Loose
// EVO files play at 30 frames per second: the disc model says so before.
bool DemuxEvoFileList(const TDemuxEnv& Env, const core::DemuxSettings& Settings, TEvoFileList& List);

}  // namespace tess::demux
