// The EVO chain driver: picks the EVO files of a domain, maps their cells with
// the navigation-pack scout, reads every pack through ProcessPack, shows the
// progress and closes the outputs between the files of a chain and, finished,
// at its end. Also the ".VTI" list of an Advanced Content disc and the loose EVO
// demultiplexing over it.
#include "demux/chain_driver.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "core/byte_order.h"
#include "core/files.h"
#include "core/log.h"
#include "core/messages.h"
#include "core/timecode.h"
#include "disc/vob_scout.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/rounding.h"
#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "state/run_state.h"

namespace tess::demux {

namespace {


constexpr uint32_t kChartDoneColour = 32768;

std::string UpperName(const std::string& Path) { return platform::ToUpperAscii(platform::ExtractFileName(Path)); }

// A list entry's name that is no file name in the list's folder.
bool IsBadEntryName(const std::string& Name) {
  if (Name.empty() || Name == "." || Name == "..") return true;
  return std::any_of(Name.begin(), Name.end(), [](char c) {
    return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
}

// Logs "Create directory " and makes the folder; false when it cannot be made.
bool CreateLoggedFolder(core::RunContext& Run, const std::string& Folder) {
  if (core::IsFolder(Folder)) return true;
  const std::string line = std::string(core::msg::CreateDirectory) + Folder;
  Run.InfoForm.AddLog(core::kLogInfo, line);
  if (Run.MainWindow) Run.MainWindow->AddLogText(core::kLogInfo, line);
  std::string why;
  if (core::MakeFolders(Folder, &why)) return true;
  Run.LogError("Can not create folder " + Folder + why);
  return false;
}

// A file of the source that is there but cannot be looked at (What: its name
// and the reason) is named in the log and noted as skipped, with what that cost.
void NoteUnreadable(core::RunContext& Run, const std::string& What, std::string_view Cost) {
  Run.LogError(std::string(core::msg::CanNotOpenFile) + What);
  Run.NoteSkipped(What + "; " + std::string(Cost));
}

std::string SectorsText(int64_t Count) { return std::to_string(Count) + (Count == 1 ? " sector" : " sectors"); }

// A cell of the domain's information file: a title set's title or menu cells,
// the video manager's menu cells, or the cells its first-play chain plays.
struct TCellAt {
  int64_t Sector = -1;  // its first sector, or its last
  uint32_t VobId = 0;
  uint32_t CellId = 0;
};
// The cell that begins first (First) or ends last; none without an
// information file or a cell.
std::optional<TCellAt> CellOf(const TDomainPlan& Plan, bool Titles, bool First) {
  if (!Plan.DomainRecord) return std::nullopt;
  std::optional<TCellAt> found;
  auto take = [&](int64_t FirstSector, int64_t LastSector, uint32_t VobId, uint32_t CellId) {
    const int64_t at = First ? FirstSector : LastSector;
    if (!found || (First ? at < found->Sector : at > found->Sector)) found = TCellAt{at, VobId, CellId};
  };
  if (Plan.FirstPlayDomain) {
    const disc::TPGC* pgc = Plan.FirstPlayPgc;
    const size_t cells = pgc ? std::min(pgc->CellPlayback.size(), pgc->CellPositions.size()) : 0;
    for (size_t i = 0; i < cells; ++i)
      take(pgc->CellPlayback[i].FirstVobuStart, pgc->CellPlayback[i].LastVobuEnd, pgc->CellPositions[i].VobId,
           pgc->CellPositions[i].CellId);
  } else {
    for (const auto& c : (Titles ? Plan.DomainRecord->VTS_C_ADT : Plan.DomainRecord->MenuC_ADT).Entries)
      take(c.FirstSector, c.LastSector, c.VobId, c.CellId);
  }
  return found;
}

// The names of the files Which, as "a", "a or b" or "a, b or c".
std::string NamesOf(const std::vector<std::string>& Files, const std::vector<size_t>& Which, bool Upper) {
  std::string names;
  for (size_t k = 0; k < Which.size(); ++k) {
    names += k == 0 ? "" : k + 1 == Which.size() ? " or " : ", ";
    names += Upper ? UpperName(Files[Which[k]]) : platform::ExtractFileName(Files[Which[k]]);
  }
  return names;
}

// Says what a file lost to damage once it has been read, and notes it as a file
// the run could only partly read. Packs counts the sectors read, a short last
// one included; Cut what it lost at its end, when it is cut short.
void ReportFileDamage(core::RunContext& Run, const TIFOData::TFileDamage& Damage, const std::string& File,
                      int64_t Packs, const std::string& Start, const std::string& Cut) {
  const std::string name = platform::ExtractFileName(File);
  if (const int64_t more = Damage.NotMpegPacks - TIFOData::kShownNotMpegPacks; more > 0)
    Run.LogError("MPEG is not correct in " + std::to_string(more) + (more == 1 ? " more pack of " : " more packs of ") +
                 UpperName(File) + (more == 1 ? "; it was skipped." : "; they were skipped."));
  std::string lost;
  auto add = [&lost](const std::string& What) { lost += (lost.empty() ? "" : ", ") + What; };
  // An empty file lost all it had; one with packs is said to be cut short.
  if (!Start.empty() && Packs > 0) add(Start);
  if (!Cut.empty() && Packs > 0) add("cut short, " + Cut);
  if (Packs == 0) {
    add("the file holds no pack");
  } else if (Damage.NotMpegPacks == Packs) {
    add(Packs == 1 ? "its one pack is not an MPEG pack" : "none of its " + std::to_string(Packs) + " packs is an MPEG pack");
  } else {
    if (Damage.NotMpegPacks > 0)
      add(std::to_string(Damage.NotMpegPacks) + " of its " + std::to_string(Packs) +
          (Damage.NotMpegPacks == 1 ? " packs is not an MPEG pack" : " packs are not MPEG packs"));
    if (Damage.DroppedPackets > 0)
      add(std::to_string(Damage.DroppedPackets) +
          (Damage.DroppedPackets == 1 ? " damaged packet was dropped" : " damaged packets were dropped"));
    if (Damage.ShortLastPack > 0)
      add("its last pack holds only " + std::to_string(Damage.ShortLastPack) + " bytes");
  }
  if (!lost.empty()) Run.NoteSkipped(name + ": " + lost);
}

}  // namespace

// ---- one chain ----

bool TIFOData::DemuxEvoChain(int32_t /*Mode*/) {
  PackNumber = 0;
  CurrentVideoEntry = nullptr;
  StopFlag = 0;
  Cells.PgcVobId = 0;
  Cells.PgcCellId = 0;
  Cells.Cell.ChangePending = false;
  Outputs.ResetSubpictureUnits();
  Cells.NavPackCount = 0;
  Outputs.PendingCuts.clear();
  Cells.VobList.clear();
  Outputs.Pairs.clear();
  Cells.Highlights.clear();

  if (!Plan.IsTitleSet) {
    auto hasCells = [](const disc::TPGC* Pgc) { return Pgc && Pgc->CellCount > 0 && !Pgc->CellPositions.empty(); };
    bool anyCell = false;
    if (Plan.MenuUnits)
      for (const auto& unit : Plan.MenuUnits->Units)
        for (const auto& e : unit.PGCs)
          if (hasCells(e.PGC.get())) anyCell = true;
    // The first play's own chain describes its file too.
    if (Plan.FirstPlayDomain && hasCells(Plan.FirstPlayPgc)) anyCell = true;
    if (!anyCell && Plan.FirstPlayDomain) {
      // A first play that plays no cell has nothing to demultiplex: the disc is sound.
      if (!EvoFileName.empty())
        Env.Run.Log(core::kLogInfo, "No program chain plays a cell of " + UpperName(EvoFileName) +
                                        "; there is nothing to demultiplex in it.");
      return true;
    }
    if (!anyCell) {
      // The file is there but no menu cell describes it (its table may have
      // been damaged and skipped): its streams are not read, and the log says so.
      if (!EvoFileName.empty()) {
        Env.Run.LogError("No menu cell describes " + UpperName(EvoFileName) + "; it is not demultiplexed.");
        Env.Run.NoteSkipped(platform::ExtractFileName(EvoFileName) + ": no menu cell describes it; it was not read");
      }
      return true;
    }
  }
  if (Outputs.CleanOutputFirst) core::CleanProjectFolder(Outputs.OutputBase, Env.Run.Sources);

  Scout = disc::TVobScaut::Create(EvoFileName);
  // A read error is noted in the run by the stream that met it: what could be
  // read is demultiplexed, and the run fails once it has done the rest.
  const disc::TScanEnd scanned = Scout->Scan(Env.Run, Env.Disc, Env.Scan, Env.Run.StatusProgress);
  disc::RegisterVobScout(Env.Reg, Plan.DomainNumberValue(), Scout,
                         IsTitleDomain() ? disc::kDomainTitles : disc::kDomainMenus);
  bool ok = true;
  // A file missing in the middle of the chain ends the chain before it; what
  // comes before it is read, and the run says what it had to leave.
  // One that is there but cannot be looked at is named with its reason where
  // the chain reaches it.
  if (!Scout->MissingFile.empty() && platform::LookUpError(Scout->MissingFile) == 0)
    Env.Run.NoteSkipped(platform::ExtractFileName(Scout->MissingFile) +
                        ": missing from its chain; the files after it were not read");
  // A title chain may go on in a later file than the scan shows; any other
  // chain ends with its one file.
  const bool titleChain = FollowChain && !Plan.LooseEvo && IsTitleDomain();
  PlaceLostSectors(scanned == disc::TScanEnd::Finished && Scout->MissingFile.empty(), titleChain);
  LostAtStart.clear();
  if (scanned != disc::TScanEnd::Stopped && AbsentFirstFile.empty()) CheckChainStart();
  // A loose EVO file's outputs are named after it before the first navigation
  // pack names a cell, and whether one comes at all.
  if (Plan.LooseEvo) Outputs.NamePart = BuildNamePart(0, 0);

  platform::ProgressBar* bar = ProgressBar ? ProgressBar : &Env.Run.StatusProgress;
  while (!EvoFileName.empty() && StopFlag == 0) {
    const std::string shortName = platform::ExtractFileName(EvoFileName);
    Env.Run.InfoForm.AddLog(core::kLogInfo, std::string(core::msg::OpenFile) + EvoFileName);
    Env.Run.StatusBar1.SetText(0, std::string(core::msg::OpenEVOFile) + UpperName(EvoFileName));
    std::string size;
    core::FormatFileSize(EvoFileName, size);
    Env.Run.StatusBar1.SetText(3, size);
    if (Env.Run.MainWindow) {
      Env.Run.MainWindow->AddLogText(core::kLogInfo, std::string(core::msg::OpenEVOFile) + UpperName(EvoFileName));
      Env.Run.MainWindow->LogCountSummary(shortName);
    }
    try {
      InputStream = core::TVobFileStream::Create(Env.Run, EvoFileName, core::TVobFileStream::kModeRead, false);
    } catch (const core::EVOBException& e) {
      // A file that cannot be opened is skipped as one that cannot be read:
      // the chain goes on in its next file, and the run with the rest.
      Env.Run.LogError(std::string(e.what()) + " " + EvoFileName + e.Reason);
      Env.Run.NoteSkipped(shortName + e.Reason + "; it was not read");
      InputStream.reset();
    }
    if (InputStream) {
      Damage = {};
      const int64_t packs = ReadPacks(*bar);
      if (!InputStream->ReadFailed && StopFlag == 0 && !Env.Run.Aborted()) {
        const auto start = LostAtStart.find(EvoFileName);
        const auto lost = LostAtEnd.find(EvoFileName);
        std::string cut;
        // A loss that cannot be placed in one file is said of them all.
        if (lost != LostAtEnd.end() && lost->second.Named == shortName)
          cut = lost->second.What;
        else if (lost != LostAtEnd.end())
          Env.Run.NoteSkipped(lost->second.Named + ": cut short, " + lost->second.What);
        const std::string lostStart = start == LostAtStart.end() ? std::string() : start->second;
        ReportFileDamage(Env.Run, Damage, EvoFileName, packs, lostStart, cut);
      }
      Cells.SavedNavRecord = Cells.NavRecord;
    }
    const bool stopped = StopFlag != 0 || Env.Run.Aborted();

    // The chain ends here unless a title chain goes on in its next file; a
    // stopped chain ends here too, so that its last cell is finished.
    std::string next, unreadable;
    if (IsTitleDomain() && !stopped) next = core::NextEvoFileName(EvoFileName, &unreadable);
    if (!FollowChain) next.clear();
    if (FollowChain && next.empty() && !unreadable.empty())
      NoteUnreadable(Env.Run, unreadable, "its chain ends before it");
    if (next.empty()) ProcessPack(true);
    // A listed file that continues a numbered chain has no outputs of its own.
    if (EvoList && !next.empty())
      Env.Run.Log(core::kLogInfo, platform::ExtractFileName(next) + " continues " +
                                      platform::ExtractFileName(Plan.DomainFileName) + ": its streams are appended to " +
                                      platform::ExtractFileName(Plan.DomainFileName) + "'s outputs");

    if (InputStream) {
      InputStream->Close();
      InputStream.reset();
      if (!stopped && Env.Run.MainWindow) Env.Run.MainWindow->HighlightChartItem(shortName, kChartDoneColour);
    }
    bar->SetPosition(0);
    if (Env.Run.MainWindow) {
      ++Env.Run.MainWindow->FinishedEvoFiles;
      Env.Run.MainWindow->UpdateProgress(core::kPhaseDemux);
    }
    if (EvoList) MarkEvoFileDone(*EvoList, EvoFileName);

    EvoFileName = next;
    EvoBaseName = EvoFileName;
    // Between two files of a chain the outputs are closed and kept for the
    // chain's end; the next file appends to them.
    ok &= CloseOutputs(next.empty() ? TCloseMode::Finish : TCloseMode::KeepUnfinished);
    if (stopped) break;
  }
  if (!Outputs.StreamTable.Streams.empty() || Outputs.StreamTable.PendingCount() > 0 ||
      !Outputs.IndexFiles.empty() || !Outputs.NamedOutputs.empty())
    ok &= CloseOutputs(TCloseMode::Finish);
  Env.Run.Abort = static_cast<uint8_t>(Env.Run.Abort | StopFlag);
  if (titleChain && scanned == disc::TScanEnd::Finished && Scout->MissingFile.empty() && !Env.Run.Aborted())
    CheckChainEnd();
  return ok && !Outputs.OutputFailed;
}

int64_t TIFOData::ReadPacks(platform::ProgressBar& Bar) {
  const int64_t sectors = InputStream->GetSectorCount();
  Bar.SetRange(0, sectors);
  Bar.SetPosition(0);
  int64_t position = 0;
  int64_t shownPercent = -1;
  TTimeCode shownTime{0xFF, 0, 0, 0};
  // The bar, the labels and the message pump are served every few packs: a
  // stop still takes effect within microseconds, and the packs go by without
  // the window's work.
  constexpr int64_t kPacksPerRefresh = 16;
  for (;;) {
    const int32_t last = ProcessPack(false);
    ++PackNumber;
    if (last == 0) break;
    ++position;
    if (position % kPacksPerRefresh != 0) continue;
    Bar.SetPosition(position);
    const int64_t percent = sectors > 0 ? platform::RoundEven(static_cast<double>(position) / sectors * 100) : 0;
    if (Env.Run.MainWindow) {
      if (percent != shownPercent) Env.Run.MainWindow->CurProcent = std::to_string(percent) + " %";
      if (!(Cells.CellTime == shownTime)) {
        Env.Run.MainWindow->CellIdValue = core::TimeCodeToText(Cells.CellTime);
        Env.Run.MainWindow->VobIdValue =
            core::TimeCodeToText(core::AddTimecodes(Env.Disc.FrameRate, Cells.CellStartTime, Cells.CellTime));
        shownTime = Cells.CellTime;
      }
    }
    shownPercent = percent;
    Env.Run.ProcessMessages();
    if (StopFlag || Env.Run.Aborted()) break;
  }
  Bar.SetPosition(position);
  return position;
}

void TIFOData::PlaceLostSectors(bool Whole, bool TitleChain) {
  LostAtEnd.clear();
  const auto& spans = Scout->Spans;
  const auto& files = Scout->ScannedFiles;
  if (spans.empty()) return;
  const std::optional<TCellAt> cell = CellOf(Plan, IsTitleDomain(), false);
  const std::string domain = platform::ExtractFileName(Plan.DomainFileName);
  // The sectors lost before each file that its first navigation pack shows.
  std::vector<int64_t> shown(spans.size() + 1, 0);
  for (const auto& l : Scout->Losses) shown[std::min(l.ShownBy, spans.size())] += l.Sectors;
  // Where a file begins by the chain's numbering, the sectors lost before it counted.
  std::vector<int64_t> firstBlock(spans.size(), 0);
  int64_t lost = 0;
  for (size_t i = 0; i < spans.size(); ++i) {
    lost += shown[i];
    firstBlock[i] = Scout->FirstBlock.value_or(0) + spans[i].FirstSector + lost;
  }
  std::vector<bool> stray(spans.size(), false);
  // A later file of a title chain that begins past every cell (one left from
  // another disc) is read as the chain goes, but its packs tell nothing of the
  // files before it.
  for (size_t i = 1; TitleChain && cell && Scout->FirstBlock && i < spans.size(); ++i) {
    const int64_t at = firstBlock[i] - shown[i];
    stray[i] = at > cell->Sector;
    if (stray[i])
      Env.Run.LogError(UpperName(files[i]) + " begins at block " + std::to_string(at) +
                       ", past the last cell of " + domain + " (block " + std::to_string(cell->Sector) +
                       "): it lies past the title set's cells, and is read as the next file of its chain.");
  }
  // Said of the files Which, one of which lost What at its end; by the last
  // of them that the run reads.
  auto note = [&](const std::vector<size_t>& Which, const std::string& What, std::string Why) {
    const auto read = std::find_if(Which.rbegin(), Which.rend(), [&](size_t i) { return spans[i].Opened; });
    if (read == Which.rend()) return;
    LostAtEnd[files[*read]] = {NamesOf(files, Which, false), What};
    if (Which.size() > 1)
      Why += "; " + NamesOf(files, {Which.begin() + 1, Which.end()}, true) + (Which.size() > 2 ? " hold" : " holds") +
             " no navigation pack, so which of them lost it cannot be told";
    // An empty file lost all it had, and its line says so.
    const bool empty = Which.size() == 1 && spans[Which[0]].Sectors == 0;
    Env.Run.LogError("EVO file " + NamesOf(files, Which, true) + (empty ? " is empty: " : " is cut short, ") + What +
                     Why + ".");
  };
  for (const auto& l : Scout->Losses) {
    if (l.ShownBy < spans.size() && !stray[l.ShownBy]) {
      const bool before = l.Files == std::vector<size_t>{l.ShownBy - 1};
      const std::string next = before ? "the next file" : UpperName(files[l.ShownBy]);
      note(l.Files,
           l.GapShown ? SectorsText(l.Sectors) + " missing at its end"
                      : "its last VOBU goes on " + SectorsText(l.Sectors) + " past its end",
           l.GapShown ? ", as the block numbers of " + next + " show" : "");
    }
  }
  // Where a title chain's files end, a later file may be missing as well:
  // that is said once the chain is read.
  if (TitleChain || !Whole) return;
  const disc::TVobScaut::TChainLoss* atEnd = Scout->LossAtEnd();
  const int64_t overrun = atEnd ? atEnd->Sectors : 0;
  const int64_t end = firstBlock.back() + spans.back().Sectors;
  if (cell && cell->Sector + 1 - end > overrun) {
    const std::vector<size_t> which = Scout->EndCandidates();
    note(which, SectorsText(cell->Sector + 1 - end) + " missing at its end",
         ": the cells of " + domain + " go on to block " + std::to_string(cell->Sector) + ", but " +
             (which.size() == 1 ? "it ends" : "they end") + " at block " + std::to_string(end - 1));
  } else if (atEnd) {
    note(atEnd->Files, "its last VOBU goes on " + SectorsText(overrun) + " past its end", "");
  }
}

void TIFOData::CheckChainStart() {
  const auto& spans = Scout->Spans;
  // An empty first file lost all it had, and says so as it is read.
  if (!Scout->FirstBlock || spans.empty() || spans.front().Sectors == 0) return;
  const std::optional<TCellAt> cell = CellOf(Plan, IsTitleDomain(), true);
  if (!cell || *Scout->FirstBlock <= cell->Sector) return;
  const std::string& path = Scout->ScannedFiles.front();
  LostAtStart[path] = SectorsText(*Scout->FirstBlock - cell->Sector) + " missing at its start, where VOB " +
                      std::to_string(cell->VobId) + " cell " + std::to_string(cell->CellId) + " begins";
  Env.Run.LogError("EVO file " + UpperName(path) + " lost its start: by its navigation packs it begins at block " +
                   std::to_string(*Scout->FirstBlock) + ", but the cells of " +
                   platform::ExtractFileName(Plan.DomainFileName) + " begin at block " + std::to_string(cell->Sector) +
                   ".");
}

void TIFOData::CheckChainEnd() {
  const auto& spans = Scout->Spans;
  const std::vector<size_t> which = Scout->EndCandidates();
  if (which.empty() || !spans.back().Opened) return;
  // A chain read from a later number, without a navigation pack, cannot be
  // placed among its cells.
  if (!AbsentFirstFile.empty() && !Scout->FirstBlock) return;
  const std::string& path = Scout->ScannedFiles.back();
  const std::string file = platform::ExtractFileName(path);
  const std::string domain = platform::ExtractFileName(Plan.DomainFileName);
  const std::optional<TCellAt> cell = CellOf(Plan, true, false);
  const int64_t end = Scout->EndBlock().value_or(Scout->SectorCounter);
  const int64_t shortfall = cell ? cell->Sector + 1 - end : 0;
  const disc::TVobScaut::TChainLoss* atEnd = Scout->LossAtEnd();
  const int64_t overrun = atEnd ? atEnd->Sectors : 0;
  if (shortfall <= 0 && overrun <= 0) return;
  const bool one = which.size() == 1;
  const std::string lost = shortfall >= overrun
                               ? "The cells of " + domain + " go on to block " + std::to_string(cell->Sector)
                               : "The last VOBU of the chain goes on " + SectorsText(overrun);
  // An empty or unread file lost all it had: it alone is named, as it is read.
  if (one && spans[which[0]].Sectors == 0) {
    if (spans[which[0]].Opened)
      Env.Run.LogError(lost + ", but " + platform::ExtractFileName(Scout->ScannedFiles[which[0]]) + " is empty.");
    return;
  }
  const std::string named = NamesOf(Scout->ScannedFiles, which, false);
  // The packs cannot tell a missing next file from a last file that lost its
  // end, unless the file ends inside a pack, or an earlier one lost it.
  const std::string after = platform::ExtractFileName(core::ChainFileAfter(path));
  const bool cut =
      after.empty() || (one && (which[0] + 1 < spans.size() || spans[which[0]].Bytes % kPackSize != 0));
  const std::string blame = cut ? named + " is cut short" : after + " is missing, or " + named + " is cut short";
  const std::string skipped = cut ? named + ": cut short" : after + ": missing, or " + named + " is cut short";
  if (shortfall >= overrun) {
    Env.Run.LogError(lost + ", but the EVO files end at block " + std::to_string(end - 1) + " with " + file + ": " +
                     blame + ".");
    Env.Run.NoteSkipped(skipped + "; the EVO files end " + SectorsText(shortfall) + " before the last cell does; VOB " +
                        std::to_string(cell->VobId) + " cell " + std::to_string(cell->CellId) +
                        " and what comes before it there are cut short");
  } else {
    Env.Run.LogError("The last VOBU of " + (one ? named : "the chain") + " goes on " + SectorsText(overrun) +
                     " past its end: " + blame + ".");
    Env.Run.NoteSkipped(skipped + "; its last VOBU goes on " + SectorsText(overrun) + " past the end of " +
                        (one ? named : file));
  }
}

bool TIFOData::DemuxMenus(bool FirstPlay) {
  if (Plan.DomainFileName.size() < 7) return true;
  EvoBaseName = Plan.DomainFileName.substr(0, Plan.DomainFileName.size() - 7);
  const bool vmg = EvoBaseName.size() >= 3 && EvoBaseName.compare(EvoBaseName.size() - 3, 3, "000") == 0;
  Plan.FirstPlayDomain = 0;
  if (vmg) {
    EvoBaseName += FirstPlay ? "m01.evo" : "m02.evo";
    Plan.FirstPlayDomain = FirstPlay ? 1 : 0;
  } else {
    EvoBaseName += "m01.evo";
  }
  int err = 0;
  EvoFileName = platform::ExistingRegularFile(EvoBaseName, &err);
  if (err != 0)
    NoteUnreadable(Env.Run, platform::ExtractFileName(EvoBaseName) + platform::ErrorReason(err), "it was not read");
  if (EvoFileName.empty()) {
    // A title set whose information file places menu objects has a menu file;
    // the video manager has its menu file when it has menu cells, and its
    // first-play file when its first-play chain plays a cell.
    if (err == 0 && Plan.DomainRecord &&
        (vmg ? CellOf(Plan, false, false).has_value()
             : disc::VTSIField32(*Plan.DomainRecord, disc::vtsi::MenuEvoStart) != 0))
      NoteMissingFile(EvoBaseName);
    return true;
  }
  EvoBaseName = EvoFileName;
  FollowChain = 0;
  if (Plan.FirstPlayList) {
    if (!CreateLoggedFolder(Env.Run, Outputs.OutputBase + "VMG") ||
        !CreateLoggedFolder(Env.Run, Outputs.OutputBase + "VMG/Menu"))
      return false;
  } else {
    Plan.VtsNumber = Plan.DomainNumberValue();
    const std::string folder = Outputs.OutputBase + "VTS_" + Plan.DomainNumber();
    if (!CreateLoggedFolder(Env.Run, folder) || !CreateLoggedFolder(Env.Run, folder + "/Menu")) return false;
  }
  return DemuxEvoChain(1);
}

bool TIFOData::DemuxTitles() {
  if (Plan.DomainFileName.size() < 7) return true;
  EvoBaseName = Plan.DomainFileName.substr(0, Plan.DomainFileName.size() - 7) + "t01.evo";
  int err = 0;
  EvoFileName = platform::ExistingRegularFile(EvoBaseName, &err);
  std::string absent;  // the first number of a chain that starts at a later one
  if (EvoFileName.empty()) {
    EvoFileName = core::NextEvoFileName(EvoBaseName);
    if (err != 0) {
      // A first file that is there but cannot be looked at holds the start of
      // the chain's first VOBs: without it their outputs are cut short.
      NoteUnreadable(Env.Run, platform::ExtractFileName(EvoBaseName) + platform::ErrorReason(err),
                     EvoFileName.empty() ? "the titles were not read"
                                         : "its chain was read from " + platform::ExtractFileName(EvoFileName) +
                                               " on, so the VOBs that begin in it are cut short");
    } else if (!EvoFileName.empty()) {
      absent = EvoBaseName;
    }
  }
  EvoBaseName = EvoFileName;
  FollowChain = 1;
  Plan.VtsNumber = Plan.DomainNumberValue();
  const std::string folder = Outputs.OutputBase + "VTS_" + Plan.DomainNumber();
  if (!CreateLoggedFolder(Env.Run, folder)) return false;
  // Every title output of the title set goes to one folder; it is made before
  // the first output is opened whether or not the title search table lists a
  // title of the set.
  if (!CreateLoggedFolder(Env.Run, folder + "/Titles/")) return false;
  if (EvoFileName.empty()) {
    if (err == 0 && Plan.DomainRecord && disc::VTSIField32(*Plan.DomainRecord, disc::vtsi::TitleEvoStart) != 0)
      NoteMissingFile(Plan.DomainFileName.substr(0, Plan.DomainFileName.size() - 7) + "t01.evo");
    return true;
  }
  AbsentFirstFile = absent;
  const bool ok = DemuxEvoChain(1);
  if (!absent.empty() && !Env.Run.Aborted()) CheckLaterChainStart(absent);
  return ok;
}

void TIFOData::CheckLaterChainStart(const std::string& Absent) {
  if (!Scout) return;
  const std::string first = platform::ExtractFileName(Absent), from = platform::ExtractFileName(Scout->FileName);
  // The files present begin at the block their first navigation pack gives.
  // A title set's cells that begin before it lay in the first file, and their
  // VOBs are cut short without it; without cells, a chain's own first block is
  // 0. A chain whose numbers merely start later begins where its cells do.
  // Files without a navigation pack cannot show that: the first one is lost.
  const int64_t start = Scout->FirstBlock.value_or(0);
  bool lost = start > 0 || !Scout->FirstBlock;
  if (Scout->FirstBlock && Plan.DomainRecord && !Plan.DomainRecord->VTS_C_ADT.Entries.empty()) {
    const auto& cells = Plan.DomainRecord->VTS_C_ADT.Entries;
    lost = std::any_of(cells.begin(), cells.end(), [start](const disc::TCellAddress& C) { return C.FirstSector < start; });
  }
  if (!lost) {
    Env.Run.Log(core::kLogInfo, "The title chain starts at " + from + " (there is no " + first +
                                    "); its cells begin in it, so nothing is missing.");
    return;
  }
  Env.Run.LogError(std::string(core::msg::File) + first + std::string(core::msg::DoesNotExist));
  Env.Run.NoteSkipped(first + ": missing; its chain was read from " + from +
                      " on, so the VOBs that begin in it are cut short");
}

void TIFOData::NoteMissingFile(const std::string& Name) {
  const std::string name = platform::ExtractFileName(Name);
  Env.Run.LogError(std::string(core::msg::File) + name + std::string(core::msg::DoesNotExist));
  Env.Run.NoteSkipped(name + ": missing; the information file says the " +
                      (Plan.IsTitleSet ? "title set" : "video manager") + " has it");
}

// ---- the loose list ----

bool LoadEvoFileList(core::RunContext& Run, TEvoFileList& List, const std::string& FileName) {
  const std::string path = platform::ExistingRegularFile(FileName);
  if (path.empty()) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    Run.LogError(std::string(core::msg::CanNotOpenFile) + path + platform::OpenFailureReason(path, err));
    return false;
  }
  const uint64_t size = static_cast<uint64_t>(core::GetFileSizeByName(path));
  auto bad = [&](const std::string& Why) {
    ::close(fd);
    Run.LogError(std::string(core::msg::InvalidFileFormat) + path + ": " + Why);
    return false;
  };
  auto readAt = [&](uint64_t Pos, void* Out, size_t Count) {
    return Pos <= size && Count <= size - Pos && platform::PReadFull(fd, Out, Count, static_cast<int64_t>(Pos)) == Count;
  };
  uint8_t word[4];
  if (!readAt(kVtiListSectorOffset, word, 4)) return bad("the file ends before its list sector");
  const uint64_t listStart = static_cast<uint64_t>(core::ReadBE32(word)) * 2048;
  if (!readAt(listStart, word, 4)) return bad("the list sector lies past the end of the file");
  const uint64_t count = core::ReadBE32(word);
  const uint64_t records = listStart + (count + 2) * 4;
  if (records > size || count > (size - records) / kVtiRecordSize)
    return bad("its " + std::to_string(count) + " entries do not fit the file");

  TEvoFileList list;
  const std::string folder = platform::ExtractFilePath(path);
  std::vector<uint8_t> record(kVtiRecordSize);
  for (uint64_t i = 0; i < count; ++i) {
    if (!readAt(records + i * kVtiRecordSize, record.data(), record.size())) return bad("an entry cannot be read");
    // The name ends at its first zero byte, and at the latest with its record.
    const auto* first = reinterpret_cast<const char*>(record.data() + kVtiNameOffset);
    const auto* last = reinterpret_cast<const char*>(record.data() + kVtiRecordSize);
    std::string name(first, std::find(first, last, '\0'));
    if (IsBadEntryName(name)) {
      for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
      Run.LogError("Entry " + std::to_string(i + 1) + " of " + platform::ExtractFileName(path) + " names no file: \"" +
                   name + "\"; it is skipped.");
      list.push_back({name, 0, 1});
      continue;
    }
    list.push_back({folder + name, 0, 0});
  }
  ::close(fd);
  List = std::move(list);
  return true;
}

void MarkEvoFileDone(TEvoFileList& List, const std::string& Name) {
  for (auto& e : List)
    if (platform::EqualsIgnoreCase(e.Name, Name) ||
        platform::EqualsIgnoreCase(platform::ResolveInputPath(e.Name), Name))
      e.Done = 1;
}

bool DemuxEvoFileList(const TDemuxEnv& Env, const core::DemuxSettings& Settings, TEvoFileList& List) {
  bool ok = true;
  const std::string& folder = Env.Output.Folder;
  for (size_t i = 1; i <= List.size(); ++i) {
    TEvoListEntry& entry = List[i - 1];
    if (!Env.State.VTSListForm.DemuxMarked(i) || entry.Done) continue;
    if (entry.BadName) {
      Env.Run.NoteSkipped("list entry " + std::to_string(i) + " \"" + entry.Name + "\": it names no file");
      continue;
    }
    int err = 0;
    const std::string file = platform::ExistingRegularFile(entry.Name, &err);
    if (err != 0) {
      NoteUnreadable(Env.Run, entry.Name + platform::ErrorReason(err), "it was not read");
      continue;
    }
    if (file.empty()) {
      Env.Run.LogError(std::string(core::msg::File) + entry.Name + std::string(core::msg::DoesNotExist));
      Env.Run.NoteSkipped(platform::ExtractFileName(entry.Name) + ": listed, but it does not exist");
      continue;
    }
    if (Env.Run.Aborted()) break;
    try {
      TIFOData ctx(Env, Settings, static_cast<int32_t>(i) - 1, disc::kDomainTitles);
      ctx.Plan.DomainFileName = ctx.EvoFileName = ctx.EvoBaseName = file;
      ctx.Plan.VtsNumber = static_cast<int32_t>(i);
      ctx.Plan.IsTitleSet = 1;
      ctx.Plan.FirstPlayList.reset();
      ctx.SetProgressBar(Env.Run.MainWindow ? &Env.Run.MainWindow->CurrentProgress : &Env.Run.StatusProgress);
      if (!CreateLoggedFolder(Env.Run, folder)) return false;
      ctx.Outputs.OutputBase = platform::IncludeTrailingSlash(folder);
      ctx.Outputs.SupToImages = 0;
      ctx.Outputs.PcmToWav = 1;
      ctx.FollowChain = 1;
      ctx.EvoList = &List;
      ok &= ctx.DemuxEvoChain(1);
    } catch (const std::exception& e) {
      Env.Run.LogError(std::string(core::msg::ErrorInFile) + file + ": " + e.what());
      ok = false;
    }
  }
  return ok;
}

}  // namespace tess::demux
