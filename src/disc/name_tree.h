#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "disc/ifo_model.h"
#include "disc/script_model.h"

namespace tess::core {
struct RunContext;
}
namespace tess::platform {
struct TreeModel;
}

// Readable names for every item of the loaded information files: title sets,
// language units, titles, program chains, programs, cells, menu buttons, and the
// tracks and scenes into which the cells of each domain are grouped for the
// authoring script. Every name is unique within its information file: a name
// met again is numbered (name_1, name_2, ...), so the same disc always gives the
// same names. The navigation-command texts name their targets with them.
namespace tess::disc {

struct DiscModel;
struct RunRegistries;
struct TIFOFile;

struct TSceneInfo {
  TScriptName Name;
  uint32_t VobId = 0;
  uint32_t CellId = 0;
  uint8_t Domain = 0;  // kDomainMenus or kDomainTitles
};

struct TButtonTree {
  TScriptName Name;
};

struct TCellTree {
  std::vector<TButtonTree> Buttons;
  TScriptName Name;
  int32_t CellNumber = 0;  // the cell's number in its chain (from 1)
};

struct TProgramTree {
  std::vector<TCellTree> Cells;
  TScriptName Name;
};

struct TPGCTree {
  std::vector<TProgramTree> Programs;
  TScriptName Name;
  // The chain's number in its table (from 1): within its language unit for
  // menus, in the title set's chain table for titles. Commands address chains
  // by it, whatever title the chain is listed under.
  int32_t TableNumber = 0;
};

struct TLuTree {
  std::vector<TPGCTree> PGCs;
  TScriptName Name;
};

struct TTitleTree {
  std::vector<TPGCTree> PGCs;
  TScriptName Name;
};

struct TTrackTree {
  std::vector<TSceneInfo> Scenes;
  TScriptName Name;
};

struct TIFOTree {
  std::vector<TLuTree> LanguageUnits;
  std::vector<TTitleTree> Titles;
  TScriptName Root;
  std::vector<TTrackTree> Tracks;
};

// The names of one information file.
class TIFONameTree {
 public:
  TIFONameTree(const TIFOFile& Record, int32_t IFOIndex);

  // Builds every name from the record's tables (and from the disc's title
  // table, the run's scouts and highlight items), in a fixed order.
  void BuildNames(const DiscModel& Disc, RunRegistries& Reg, const TIFOFile& Record);

  int32_t NameUseCount(const std::string& Name) const;
  // Registers one more use of Name; the number is the one the name was given.
  void AddNameUse(const std::string& Name, int32_t Number);

  // The first scene with these values; an empty one (empty name, number 0) when none.
  TSceneInfo FindSceneInfo(uint32_t VobId, uint32_t CellId, uint8_t Domain) const;
  // The track that holds that scene, or none.
  const TTrackTree* FindSceneTrack(uint32_t VobId, uint32_t CellId, uint8_t Domain) const;

  // The program or cell that Info addresses: for menus the language unit
  // (Info.LanguageUnit, from 0) and its chain Info.PgcNumber; for titles the
  // chain of that number in the title set's chain table. A program when
  // ProgramNumber > 0 (or WantProgram with program 0: the program holding cell
  // CellNumber), else the chain's CellNumber-th cell. Null when there is none.
  const TScriptName* FindNamedItem(const TScriptInfo& Info, bool WantProgram) const;
  // The chain Number (from 1) of a menu language unit (from 0), or of the title
  // set's chain table when LanguageUnit < 0; null when none.
  const TPGCTree* FindChain(int32_t LanguageUnit, int32_t Number) const;

  const std::string& FileName() const { return fileName_; }
  int32_t IFOIndex() const { return ifoIndex_; }
  // The number that names of a title set carry (its title-set number); 0 for a VMG.
  int32_t SetNumber() const { return setNumber_; }
  bool IsVmg() const { return isVmg_; }
  const TIFOTree& Tree() const { return tree_; }

 private:
  struct TCellRef {
    uint32_t VobId = 0;
    uint32_t CellId = 0;
  };
  // Where a scene sits: its track and its place in the track.
  struct TSceneRef {
    size_t Track = 0;
    size_t Scene = 0;
  };
  using TSceneKey = std::tuple<uint32_t, uint32_t, uint8_t>;  // VOB id, cell id, domain
  const TSceneRef* FindScene(uint32_t VobId, uint32_t CellId, uint8_t Domain) const;
  TScriptName Unique(std::string Name);  // numbered by its earlier uses, then registered
  void BuildTracks(const DiscModel& Disc, RunRegistries& Reg, const TIFOFile& Record, uint8_t Domain);
  void BuildTitles(const DiscModel& Disc, RunRegistries& Reg, const TIFOFile& Record);
  void BuildLanguageUnits(RunRegistries& Reg, const TIFOFile& Record);
  void BuildPrograms(RunRegistries& Reg, const TPGC* Pgc, uint8_t Domain, TPGCTree& Chain);
  void BuildButtons(RunRegistries& Reg, const TCellRef& Cell, uint8_t Domain, TCellTree& Node);
  // Angle VOBs are named by their number of cells ("x"), others by the cell ("c").
  std::string TrackName(uint8_t Domain, uint32_t VobId, bool Angle, uint32_t Number) const;

  std::string fileName_;
  int32_t ifoIndex_ = 0;
  int32_t scoutNumber_ = 0;
  int32_t setNumber_ = 0;
  bool isVmg_ = false;
  // How often each name was given so far.
  std::unordered_map<std::string, int32_t> nameUses_;
  TIFOTree tree_;
  // The first scene of each key: every cell of every chain looks its scene up,
  // and a file can hold as many scenes as it has cells.
  std::map<TSceneKey, TSceneRef> sceneIndex_;
};

// The names of every loaded information file, in the order of the disc's
// information-file array (index 0 first).
class TDVDNameTree {
 public:
  // Drops the old names and builds one tree per loaded record, in order; the
  // run's scouts tell angle VOBs apart, its script tracks name the buttons.
  void SetIFOs(const DiscModel& Disc, RunRegistries& Reg);
  void Release() { trees_.clear(); }

  // The information-file view: per file its root, language units and titles,
  // their chains, programs, cells and buttons. Once the run has registered
  // streams, each file is noted in the information log.
  void FillIFOTreeView(core::RunContext& Run, const RunRegistries& Reg, platform::TreeModel& View) const;
  // The track view: per file its root, tracks and their scenes.
  void FillCellTreeView(core::RunContext& Run, const RunRegistries& Reg, platform::TreeModel& View) const;

  // The tree of the information file at IFOIndex; null when there is none.
  const TIFONameTree* TreeOf(int32_t IFOIndex) const;
  size_t Count() const { return trees_.size(); }

 private:
  std::vector<std::unique_ptr<TIFONameTree>> trees_;
};

// The names of the loaded disc's items, and what a navigation command's text is
// asked in: the shell sets the current file, language unit and menu-name prefix
// before it asks, and NavCommandToText leaves the name of the command's target.
struct ItemNames {
  TDVDNameTree NameTree;
  std::string JumpTarget;
  int32_t CurIFOIndex = 0;
  int32_t CurLanguageUnit = 0;  // from 0
  int32_t CurTitleNumber = 0;
  std::string MenuNamePrefix;
};

// The cell that Info addresses by its name; else "m" or "t" + the file's number
// in two digits + "_cell_" + the cell number.
std::string CellNameOf(const TDVDNameTree& Names, const TScriptInfo& Info);
// The program that Info addresses by its name; else "Unknown name", and the
// failure is logged.
std::string ProgramNameOf(core::RunContext& Run, const TDVDNameTree& Names, const TScriptInfo& Info);

}  // namespace tess::disc
