// Output folders and stream file names: every output lies in a folder that tells
// its domain and carries a name that tells the domain number, the VOB and the
// cell (or the number of cells of its VOB); the writers add the stream suffix.
// The names are built from the domain plan and the cell in hand and kept in the
// output set with what they were built for.

#include "core/files.h"
#include "core/number_text.h"
#include "demux/demux_context.h"
#include "disc/highlights.h"
#include "disc/script_model.h"
#include "disc/subpic_streams.h"
#include "disc/vob_scout.h"
#include "platform/paths.h"
#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "state/run_state.h"

namespace tess::demux {

namespace {

std::string Pad3(uint32_t Value) { return core::IntToStrZeroPad(Value, 3); }

// "v" + VOB + "x" + cells when the VOB is named as a whole, else "v" + VOB + "c" + cell.
std::string VobCellStem(uint32_t VobId, uint32_t CellId, int32_t CellCount, bool WholeVob) {
  if (WholeVob && CellCount > 1) return "v" + Pad3(VobId) + "x" + Pad3(static_cast<uint32_t>(CellCount));
  return "v" + Pad3(VobId) + "c" + Pad3(CellId);
}

}  // namespace

// ---- the output set's names ----

void TOutputSet::ResetSubpictureUnits() {
  for (int id = kFirstSubpictureId; id <= kLastSubpictureId; ++id) SubpictureUnitCount[static_cast<size_t>(id)] = 1;
}

void TOutputSet::SetNamePart(std::string Name, uint32_t VobId, uint32_t CellId) {
  NamePart = std::move(Name);
  namedVob_ = VobId;
  namedCell_ = CellId;
  namedValid_ = true;
}

bool TOutputSet::SubpictureNamedFor(uint32_t VobId, uint32_t CellId, uint8_t Sub) const {
  const TSubpicNameKey key{VobId, CellId, SubpictureUnitCount[Sub], Sub, true};
  return key == subpicKey_ && subpicNamePart_ == NamePart;
}

void TOutputSet::NoteSubpictureNamed(uint32_t VobId, uint32_t CellId, uint8_t Sub) {
  subpicKey_ = {VobId, CellId, SubpictureUnitCount[Sub], Sub, true};
  subpicNamePart_ = NamePart;
}

// ---- the names of the cell in hand ----

int32_t TIFOData::VobCellCount(uint32_t Vob) const {
  const int32_t angles = disc::GetVobAngleCount(Env.Reg, IsTitleDomain() ? 2 : 1, Vob);
  const int32_t scouted = Scout ? Scout->GetVobCells(Vob) : 0;
  return std::max(angles, scouted);
}

std::string TIFOData::MenuNameStem(uint32_t Vob, uint32_t Cell) const {
  const std::string prefix = Plan.FirstPlayList ? "vmg_" : "m" + Plan.DomainNumber() + "_";
  return prefix + VobCellStem(Vob, Cell, VobCellCount(Vob), Settings.Menus != core::TitleMode::None);
}

bool TIFOData::TitlesNamedByVob() const {
  // With the Main-mode mark every cell is an output of its own, named after its cell.
  return Settings.Titles != core::TitleMode::None && !Plan.ByCell;
}

std::string TIFOData::TitleNameStem(uint32_t Vob, uint32_t Cell) const {
  return "t" + Plan.DomainNumber() + "_" + VobCellStem(Vob, Cell, VobCellCount(Vob), TitlesNamedByVob());
}

std::string TIFOData::BuildNamePart(uint32_t Vob, uint32_t Cell) {
  if (Plan.LooseEvo) {
    const std::string name = platform::ExtractFileName(Plan.DomainFileName);
    return name.size() > 4 ? name.substr(0, name.size() - 4) : name;
  }
  std::string folder;
  if (!Plan.FirstPlayList) {
    folder = "VTS_" + Plan.DomainNumber();
  } else if (Plan.FirstPlayDomain) {
    folder = "VMG/FirstPGC";
    Env.Run.MakeOutputFolder(Outputs.OutputBase + folder + "/Menu");
  } else {
    folder = "VMG";
  }
  if (IsTitleDomain()) return folder + "/Titles/" + TitleNameStem(Vob, Cell);
  return folder + "/Menu/" + MenuNameStem(Vob, Cell);
}

std::string TIFOData::BuildSubpictureFolder(uint32_t Vob, uint32_t CellIdArg, uint8_t Sid) {
  std::string folder =
      "t" + Plan.DomainNumber() + "_" + VobCellStem(Vob, CellIdArg, VobCellCount(Vob), TitlesNamedByVob()) + "/";
  disc::ShowVTSTitleStreams(Env.Run, Env.Disc, Env.Reg.SubPicInfoForm, Plan.DomainIndex);
  const disc::TSubPicStreamEntry* entry = Env.Reg.SubPicInfoForm.FindById(Sid);
  if (entry) {
    std::string aspect;
    if (entry->Wide) aspect += "W";
    if (entry->Letterbox) aspect += "L";
    if (entry->PanScan) aspect += "P";
    if (aspect.empty()) aspect = "N";
    folder += "_" + core::IntToStrZeroPad(entry->StreamNumber, 2) + "_" + entry->Language + aspect + "/";
  } else {
    folder += "SubStream_" + disc::IntToHexLower(Sid, 2) + "/";
  }
  // The folder for the first packet after a cell change is the requested
  // stream's like any other.
  Cells.Cell.CellChanged = false;
  return folder;
}

bool TIFOData::BuildSubpictureFileName(uint32_t Vob, uint32_t CellIdArg, bool CreateFolder, bool FirstUnit,
                                       uint8_t Sub, uint8_t Sid) {
  if (!IsSubpictureStream(Sid, Sub)) return true;
  const bool titles = IsTitleDomain();
  std::string name = platform::ExtractFilePath(Outputs.OutputBase + Outputs.NamePart);
  if (titles) {
    const uint32_t v = Cells.AngleNumber >= 1 ? Cells.VobId : Vob;
    const uint32_t c = Cells.AngleNumber >= 1 ? Cells.CellId : CellIdArg;
    const std::string folder = BuildSubpictureFolder(v, c, Sub);
    name += folder;
    // The stream's file prefix: its folder less the "/", plus "s".
    Outputs.SubpictureFilePrefix = name.substr(0, name.size() - 1) + "s";
    name += "t" + Plan.DomainNumber() + "_";
  } else {
    name += Plan.FirstPlayList ? "vmg_" : "m" + Plan.DomainNumber() + "_";
  }
  name += "v" + Pad3(Vob) + "c" + Pad3(CellIdArg) + "_" + disc::IntToHexLower(Sub, 2);
  const int width = titles ? 4 : 2;
  const uint32_t count = Outputs.SubpictureUnitCount[Sub];
  if (count != 0 && count != 1)
    name += "_" + core::IntToStrZeroPad(count, width);
  else if (FirstUnit || titles)
    name += "_" + core::IntToStrZeroPad(1, width);
  if (CreateFolder) Env.Run.MakeOutputFolder(platform::ExtractFilePath(name));
  Outputs.SubpictureFileName = std::move(name);
  return true;
}

}  // namespace tess::demux
