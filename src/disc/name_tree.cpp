#include "disc/name_tree.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "core/number_text.h"
#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "disc/ifo_set.h"
#include "disc/vob_scout.h"
#include "platform/paths.h"
#include "platform/ui_models.h"

namespace tess::disc {

namespace {

constexpr int32_t kTrackImage = 7;
constexpr int32_t kSceneImage = 8;

using TPairKey = std::pair<uint32_t, uint32_t>;  // (VOB id, cell id)


uint16_t LanguageWord(const TLanguageUnit& Unit) {
  return static_cast<uint16_t>(static_cast<uint8_t>(Unit.LanguageCode[0]) |
                               (static_cast<uint8_t>(Unit.LanguageCode[1]) << 8));
}

// VOBs that the domain's chains play as angle blocks: a VOB with a cell other
// than its first listed one that is marked seamless.
std::set<uint32_t> ChainAngleVobs(const TIFOFile& Record, uint8_t Domain) {
  std::map<uint32_t, uint32_t> firstCell;
  std::set<uint32_t> angles;
  auto walk = [&](const TPGC* Pgc) {
    if (!Pgc) return;
    const size_t cells = std::min(Pgc->CellPositions.size(), Pgc->CellPlayback.size());
    for (size_t i = 0; i < cells; ++i) {
      const TCellPosition& pos = Pgc->CellPositions[i];
      const auto [it, isNew] = firstCell.emplace(pos.VobId, pos.CellId);
      if (!isNew && it->second != pos.CellId && Pgc->CellPlayback[i].Seamless()) angles.insert(pos.VobId);
    }
  };
  if (Domain == kDomainMenus) {
    for (const TLanguageUnit& unit : Record.MenuPGCI_UT.Units)
      for (const TMenuPGCEntry& entry : unit.PGCs) walk(entry.PGC.get());
  } else {
    for (const TTitlePGCEntry& entry : Record.VTS_PGCIT.PGCs) walk(entry.PGC.get());
  }
  return angles;
}

// The number of distinct cells of each VOB of the entries.
std::map<uint32_t, uint32_t> DistinctCellsOfVobs(const std::vector<TCellAddress>& Entries) {
  std::set<TPairKey> pairs;
  for (const TCellAddress& e : Entries) pairs.emplace(e.VobId, e.CellId);
  std::map<uint32_t, uint32_t> cells;
  for (const TPairKey& p : pairs) ++cells[p.first];
  return cells;
}

void AddChainNodes(platform::TreeModel& View, int32_t Parent, const std::vector<TPGCTree>& Chains) {
  for (const TPGCTree& chain : Chains) {
    const int32_t c = View.Add(Parent, chain.Name.DisplayName());
    for (const TProgramTree& program : chain.Programs) {
      const int32_t p = View.Add(c, program.Name.DisplayName());
      for (const TCellTree& cell : program.Cells) {
        const int32_t n = View.Add(p, cell.Name.DisplayName());
        for (const TButtonTree& button : cell.Buttons) View.Add(n, button.Name.DisplayName());
      }
    }
  }
}

// The VOB id of the cell a failed program lookup was about, 0 when unknown.
uint32_t VobIdOfItem(const TScriptInfo& Info) {
  const TPGC* pgc = Info.Pgc;
  if (!pgc) return 0;
  int64_t cell = Info.CellNumber;
  if (Info.ProgramNumber >= 1 && static_cast<size_t>(Info.ProgramNumber) <= pgc->ProgramMap.size())
    cell = pgc->ProgramMap[static_cast<size_t>(Info.ProgramNumber) - 1];
  if (cell < 1 || static_cast<size_t>(cell) > pgc->CellPositions.size()) return 0;
  return pgc->CellPositions[static_cast<size_t>(cell) - 1].VobId;
}

}  // namespace

// ---- one information file ----

TIFONameTree::TIFONameTree(const TIFOFile& Record, int32_t IFOIndex)
    : fileName_(Record.FileName),
      ifoIndex_(IFOIndex),
      scoutNumber_(Record.TitleSetNumber),
      isVmg_(Record.Kind == ifoVMG) {
  // A title set loaded on its own sits at index 0; its names carry the number
  // its file name gives, as inside its disc.
  if (!isVmg_) setNumber_ = Record.TitleSetNumber > 0 ? Record.TitleSetNumber : TitleSetNumberOfName(Record.FileName);
  if (!isVmg_ && setNumber_ == 0) setNumber_ = IFOIndex;
}

int32_t TIFONameTree::NameUseCount(const std::string& Name) const {
  const auto found = nameUses_.find(Name);
  return found == nameUses_.end() ? 0 : found->second;
}

// Only the count of uses is kept: the number a use was given is always the
// count before it, so it need not be stored.
void TIFONameTree::AddNameUse(const std::string& Name, int32_t /*Number*/) { ++nameUses_[Name]; }

TScriptName TIFONameTree::Unique(std::string Name) {
  const int32_t number = NameUseCount(Name);
  AddNameUse(Name, number);
  return {std::move(Name), number};
}

void TIFONameTree::BuildNames(const DiscModel& Disc, RunRegistries& Reg, const TIFOFile& Record) {
  tree_ = {};
  nameUses_.clear();
  sceneIndex_.clear();
  tree_.Root = Unique(isVmg_ ? std::string("VMG") : "VTS_" + std::to_string(setNumber_));
  if (!isVmg_) {
    BuildTracks(Disc, Reg, Record, kDomainTitles);
    BuildTitles(Disc, Reg, Record);
  }
  BuildTracks(Disc, Reg, Record, kDomainMenus);
  BuildLanguageUnits(Reg, Record);
}

std::string TIFONameTree::TrackName(uint8_t Domain, uint32_t VobId, bool Angle, uint32_t Number) const {
  std::string name = isVmg_ ? "vmg" : Domain == kDomainMenus ? "m" : "t";
  if (!isVmg_) name += core::IntToStrZeroPad(setNumber_, 2);
  name += "_v" + core::IntToStrZeroPad(VobId, 3);
  name += Angle ? 'x' : 'c';
  return name + core::IntToStrZeroPad(Number, 3) + "-t";
}

void TIFONameTree::BuildTracks(const DiscModel& Disc, RunRegistries& Reg, const TIFOFile& Record, uint8_t Domain) {
  const std::vector<TCellAddress>& entries =
      Domain == kDomainMenus ? Record.MenuC_ADT.Entries : Record.VTS_C_ADT.Entries;
  // The run registers its scouts by title-set number.
  const bool scouted = HasVobScout(Reg, scoutNumber_, Domain);
  std::map<uint32_t, bool> angleVobs;
  if (!scouted)
    for (const uint32_t vob : ChainAngleVobs(Record, Domain)) angleVobs[vob] = true;
  auto isAngleVob = [&](uint32_t VobId) {
    const auto [it, isNew] = angleVobs.emplace(VobId, false);
    if (isNew && scouted) it->second = IsScoutAngleVob(Disc, Reg, scoutNumber_, Domain, VobId);
    return it->second;
  };
  std::map<uint32_t, uint32_t> distinctCells;  // made when the first angle VOB needs it
  std::set<TPairKey> pairs;
  int64_t skip = 0;
  // The skip counter drops after every entry, passed over or not.
  for (size_t i = 0; i < entries.size(); ++i, --skip) {
    const TCellAddress& e = entries[i];
    if (i > 0 && e.VobId == entries[i - 1].VobId && e.CellId == entries[i - 1].CellId) continue;
    if (skip >= 1) continue;
    if (!pairs.emplace(e.VobId, e.CellId).second) continue;
    const bool angle = isAngleVob(e.VobId);
    if (angle && distinctCells.empty()) distinctCells = DistinctCellsOfVobs(entries);
    const std::string name = TrackName(Domain, e.VobId, angle, angle ? distinctCells[e.VobId] : e.CellId);
    if (NameUseCount(name) > 0) continue;
    TTrackTree& track = tree_.Tracks.emplace_back();
    track.Name = Unique(name);
    auto addScene = [&](const TCellAddress& Cell) {
      sceneIndex_.try_emplace({Cell.VobId, Cell.CellId, Domain}, TSceneRef{tree_.Tracks.size() - 1, track.Scenes.size()});
      track.Scenes.push_back({Unique(name + "-s"), Cell.VobId, Cell.CellId, Domain});
    };
    if (!angle) {
      addScene(e);
      continue;
    }
    // Every cell of the angle VOB is a scene of its one track; the entries
    // walked here are not looked at again.
    std::set<TPairKey> own;
    size_t j = i;
    for (; j < entries.size() && entries[j].VobId == e.VobId; ++j)
      if (Domain == kDomainMenus || own.emplace(entries[j].VobId, entries[j].CellId).second) addScene(entries[j]);
    skip = static_cast<int64_t>(j - i);
  }
}

void TIFONameTree::BuildTitles(const DiscModel& Disc, RunRegistries& Reg, const TIFOFile& Record) {
  // Chains by the title their category names (bits 0..6), in table order.
  std::map<int32_t, std::vector<size_t>> chainsOfTitle;
  const auto& chains = Record.VTS_PGCIT.PGCs;
  for (size_t i = 0; i < chains.size(); ++i) chainsOfTitle[chains[i].Category & 0x7F].push_back(i);

  for (int32_t t = 1; t <= Record.T_VTS_PTT_SRPT.TitleCount; ++t) {
    const int32_t n = FindTitleNumber(Disc, setNumber_, t - 1);
    TTitleTree& title = tree_.Titles.emplace_back();
    title.Name = Unique("Title_" + std::to_string(n));
    const auto found = chainsOfTitle.find(t);
    if (found == chainsOfTitle.end()) continue;
    int32_t k = 0;
    for (const size_t i : found->second) {
      TPGCTree& chain = title.PGCs.emplace_back();
      chain.Name = Unique(TitlePgcName(setNumber_, n, ++k));
      chain.TableNumber = static_cast<int32_t>(i + 1);
      BuildPrograms(Reg, chains[i].PGC.get(), kDomainTitles, chain);
    }
  }
}

void TIFONameTree::BuildLanguageUnits(RunRegistries& Reg, const TIFOFile& Record) {
  for (const TLanguageUnit& unit : Record.MenuPGCI_UT.Units) {
    const uint16_t code = LanguageWord(unit);
    TLuTree& lu = tree_.LanguageUnits.emplace_back();
    lu.Name = Unique(code == 0 ? std::string("Not_Specified") : LanguageNameFromWord(code, false));
    const std::string letters = LanguageLetters(code);
    for (size_t k = 1; k <= unit.PGCs.size(); ++k) {
      TPGCTree& chain = lu.PGCs.emplace_back();
      const std::string number = std::to_string(k);
      chain.Name = Unique(isVmg_ ? "VMG_" + letters + "_" + number
                                 : "LU_" + letters + "_V" + std::to_string(setNumber_) + "_" + number);
      chain.TableNumber = static_cast<int32_t>(k);
      BuildPrograms(Reg, unit.PGCs[k - 1].PGC.get(), kDomainMenus, chain);
    }
  }
}

void TIFONameTree::BuildPrograms(RunRegistries& Reg, const TPGC* Pgc, uint8_t Domain, TPGCTree& Chain) {
  if (!Pgc) return;
  const size_t cells = Pgc->CellPositions.size();
  const size_t programs = std::min<size_t>(Pgc->ProgramCount, Pgc->ProgramMap.size());
  auto sceneOf = [&](size_t CellNumber) {
    const TCellPosition& pos = Pgc->CellPositions[CellNumber - 1];
    return FindSceneInfo(pos.VobId, pos.CellId, Domain);
  };
  for (size_t p = 0; p < programs; ++p) {
    // A program runs from its entry cell up to the next program's; entries
    // that point outside the chain's cells give a program without cells.
    const size_t first = Pgc->ProgramMap[p];
    const size_t next = p + 1 < programs ? Pgc->ProgramMap[p + 1] : cells + 1;
    const bool valid = first >= 1 && first <= cells;
    const size_t last = std::min(cells, next >= 1 ? next - 1 : 0);
    TProgramTree& program = Chain.Programs.emplace_back();
    program.Name = Unique((valid ? sceneOf(first).Name.DisplayName() : std::string()) + "-pg");
    if (!valid) continue;
    for (size_t c = first; c <= last; ++c) {
      const TSceneInfo scene = sceneOf(c);
      TCellTree& cell = program.Cells.emplace_back();
      cell.Name = Unique(scene.Name.DisplayName() + "-c");
      cell.CellNumber = static_cast<int32_t>(c);
      const TCellPosition& pos = Pgc->CellPositions[c - 1];
      BuildButtons(Reg, {pos.VobId, pos.CellId}, Domain, cell);
    }
  }
}

void TIFONameTree::BuildButtons(RunRegistries& Reg, const TCellRef& Cell, uint8_t Domain, TCellTree& Node) {
  const std::vector<THighlightPlayItem*> items = FindHighlightItems(Reg, ifoIndex_, Cell.VobId, Cell.CellId, Domain);
  if (items.empty()) return;
  const TSceneInfo scene = FindSceneInfo(Cell.VobId, Cell.CellId, Domain);
  const TTrackTree* track = FindSceneTrack(Cell.VobId, Cell.CellId, Domain);
  for (const THighlightPlayItem* h : items) {
    // A button is named after the subpicture segment that shows it in the
    // cell's script track, else after the cell's scene.
    std::string name;
    for (const TVideoTrack& t : Reg.ScriptTracks) {
      if (!track || t.Name != track->Name.Name) continue;
      for (const TSubPictureStream& s : t.SubPictureStreams)
        for (const TSubPictureSegment& seg : s.Segments)
          if (name.empty() && seg.VobId == h->VobId && seg.CellId == h->CellId && seg.SourceNumber == h->SourceNumber)
            name = seg.Name + "_menu";
    }
    if (name.empty()) name = scene.Name.DisplayName() + "-menu";
    Node.Buttons.push_back({Unique(std::move(name))});
  }
}

const TIFONameTree::TSceneRef* TIFONameTree::FindScene(uint32_t VobId, uint32_t CellId, uint8_t Domain) const {
  const auto found = sceneIndex_.find({VobId, CellId, Domain});
  return found == sceneIndex_.end() ? nullptr : &found->second;
}

TSceneInfo TIFONameTree::FindSceneInfo(uint32_t VobId, uint32_t CellId, uint8_t Domain) const {
  const TSceneRef* at = FindScene(VobId, CellId, Domain);
  return at ? tree_.Tracks[at->Track].Scenes[at->Scene] : TSceneInfo{};
}

const TTrackTree* TIFONameTree::FindSceneTrack(uint32_t VobId, uint32_t CellId, uint8_t Domain) const {
  const TSceneRef* at = FindScene(VobId, CellId, Domain);
  return at ? &tree_.Tracks[at->Track] : nullptr;
}

const TPGCTree* TIFONameTree::FindChain(int32_t LanguageUnit, int32_t Number) const {
  if (LanguageUnit >= 0) {
    if (static_cast<size_t>(LanguageUnit) >= tree_.LanguageUnits.size()) return nullptr;
    for (const TPGCTree& c : tree_.LanguageUnits[static_cast<size_t>(LanguageUnit)].PGCs)
      if (c.TableNumber == Number) return &c;
    return nullptr;
  }
  for (const TTitleTree& t : tree_.Titles)
    for (const TPGCTree& c : t.PGCs)
      if (c.TableNumber == Number) return &c;
  return nullptr;
}

const TScriptName* TIFONameTree::FindNamedItem(const TScriptInfo& Info, bool WantProgram) const {
  const TPGCTree* chain = Info.Domain == kDomainMenus    ? FindChain(Info.LanguageUnit, Info.PgcNumber)
                          : Info.Domain == kDomainTitles ? FindChain(-1, Info.PgcNumber)
                                                         : nullptr;
  if (!chain) return nullptr;
  if (WantProgram && Info.ProgramNumber > 0) {
    const size_t p = static_cast<size_t>(Info.ProgramNumber) - 1;
    return p < chain->Programs.size() ? &chain->Programs[p].Name : nullptr;
  }
  for (const TProgramTree& program : chain->Programs)
    for (const TCellTree& cell : program.Cells)
      if (cell.CellNumber == Info.CellNumber) return WantProgram ? &program.Name : &cell.Name;
  return nullptr;
}

// ---- the disc ----

void TDVDNameTree::SetIFOs(const DiscModel& Disc, RunRegistries& Reg) {
  trees_.clear();
  const int32_t count = std::clamp<int32_t>(Disc.TitleSetCount, 0, static_cast<int32_t>(Disc.IFOFiles.size()));
  for (int32_t i = 0; i < count; ++i) {
    const TIFOFile& record = Disc.IFOFiles[static_cast<size_t>(i)];
    trees_.push_back(std::make_unique<TIFONameTree>(record, i));
    trees_.back()->BuildNames(Disc, Reg, record);
  }
}

const TIFONameTree* TDVDNameTree::TreeOf(int32_t IFOIndex) const {
  if (IFOIndex < 0 || static_cast<size_t>(IFOIndex) >= trees_.size()) return nullptr;
  return trees_[static_cast<size_t>(IFOIndex)].get();
}

void TDVDNameTree::FillIFOTreeView(core::RunContext& Run, const RunRegistries& Reg, platform::TreeModel& View) const {
  View.Clear();
  for (const auto& t : trees_) {
    const TIFOTree& tree = t->Tree();
    const int32_t root = View.Add(-1, tree.Root.DisplayName());
    for (const TLuTree& lu : tree.LanguageUnits) AddChainNodes(View, View.Add(root, lu.Name.DisplayName()), lu.PGCs);
    for (const TTitleTree& title : tree.Titles)
      AddChainNodes(View, View.Add(root, title.Name.DisplayName()), title.PGCs);
    if (!Reg.VideoStreams.empty()) Run.InfoForm.AddLog(core::kLogInfo, "PGCs for file " + t->FileName() + " were parsed.");
    Run.ProcessMessages();
  }
}

void TDVDNameTree::FillCellTreeView(core::RunContext& Run, const RunRegistries& Reg, platform::TreeModel& View) const {
  View.Clear();
  for (const auto& t : trees_) {
    const int32_t root = View.Add(-1, t->Tree().Root.DisplayName());
    for (const TTrackTree& track : t->Tree().Tracks) {
      const int32_t node = View.Add(root, track.Name.DisplayName(), kTrackImage);
      for (const TSceneInfo& s : track.Scenes)
        View.Add(node,
                 s.Name.DisplayName() + "   (VID/CID: " + std::to_string(s.VobId) + "/" + std::to_string(s.CellId) + ")",
                 kSceneImage);
    }
    if (!Reg.VideoStreams.empty())
      Run.InfoForm.AddLog(core::kLogInfo, "Tracks names for file " + t->FileName() + " were formed.");
    Run.ProcessMessages();
  }
}

// ---- lookups by address ----

std::string CellNameOf(const TDVDNameTree& Names, const TScriptInfo& Info) {
  const TIFONameTree* tree = Names.TreeOf(Info.IFOIndex);
  if (const TScriptName* found = tree ? tree->FindNamedItem(Info, false) : nullptr) return found->DisplayName();
  const int32_t number = tree ? tree->SetNumber() : Info.IFOIndex;
  std::string name = Info.Domain == kDomainMenus ? "m" : "t";
  return name + core::IntToStrZeroPad(number, 2) + "_cell_" + std::to_string(Info.CellNumber);
}

std::string ProgramNameOf(core::RunContext& Run, const TDVDNameTree& Names, const TScriptInfo& Info) {
  const TIFONameTree* tree = Names.TreeOf(Info.IFOIndex);
  if (const TScriptName* found = tree ? tree->FindNamedItem(Info, true) : nullptr) return found->DisplayName();
  const std::string line = "Can not find name for item, IFO: " + std::to_string(Info.IFOIndex) +
                           "    VobID: " + std::to_string(VobIdOfItem(Info));
  Run.Log(core::kLogWarning, line, platform::kColourRed);
  Run.InfoForm.AddLog(core::kLogWarning, line);
  return "Unknown name";
}

}  // namespace tess::disc
