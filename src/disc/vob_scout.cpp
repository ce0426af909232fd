#include "disc/vob_scout.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <unordered_set>

#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "core/byte_order.h"
#include "core/files.h"
#include "core/messages.h"
#include "core/number_text.h"
#include "disc/highlights.h"
#include "platform/file_io.h"
#include "platform/paths.h"

namespace tess::disc {

namespace {

// A chain longer than this is taken for a naming loop, not a disc.
constexpr size_t kMaxChainFiles = 999;

using platform::IsAsciiDigit;

int64_t PacksOfFile(const std::string& Path) {
  return (core::GetFileSizeByName(Path) + kNavPackSize - 1) / kNavPackSize;
}

// The HD name of a disc file: "hv" + three digits + a domain letter + two digits.
bool IsHdEvoStem(const std::string& Base) {
  if (Base.size() != 8) return false;
  return (Base[0] == 'h' || Base[0] == 'H') && (Base[1] == 'v' || Base[1] == 'V') && IsAsciiDigit(Base[2]) &&
         IsAsciiDigit(Base[3]) && IsAsciiDigit(Base[4]) && std::isalpha(static_cast<unsigned char>(Base[5])) &&
         IsAsciiDigit(Base[6]) && IsAsciiDigit(Base[7]);
}

// The existing files of the chain that starts at First, in order.
std::vector<std::string> ChainFiles(const DiscModel& Disc, const std::string& First) {
  std::vector<std::string> files;
  std::set<std::string> seen;
  std::string name = First;
  while (!name.empty() && files.size() < kMaxChainFiles) {
    const std::string path = platform::ExistingRegularFile(name);
    if (path.empty()) break;
    if (!seen.insert(path).second) break;
    files.push_back(path);
    // A loose file's chain goes on whatever its name, as the run reads it.
    if (Disc.LooseEvo == 0 && IsMenuEvoFileName(path)) break;
    name = core::NextEvoFileName(path);
  }
  return files;
}

std::string FileSizeText(int64_t Size) {
  std::string text(core::msg::FileSize);
  if (Size / 1024 > 1024)
    text += std::to_string(Size / 1048576) + " Mb";
  else
    text += std::to_string(Size / 1024) + " Kb";
  return text;
}

uint64_t PairKey(uint32_t VobId, uint32_t CellId) { return (static_cast<uint64_t>(VobId) << 32) | CellId; }

}  // namespace

// ---- the navigation pack ----

bool IsNavigationPack(const uint8_t* Pack) {
  return core::ReadBE32(Pack + kPciStartCodeOffset) == kPrivateStream2Code && Pack[kPciSubstreamOffset] == 0x00 &&
         core::ReadBE32(Pack + kDsiStartCodeOffset) == kPrivateStream2Code && Pack[kDsiSubstreamOffset] == 0x01;
}

bool ReadNavigationPack(const uint8_t* Pack, TNavPackInfo& Info) {
  Info = TNavPackInfo{};
  if (!IsNavigationPack(Pack)) return false;
  // The first byte of the end-address field is not part of the address.
  Info.VobuEndAddress = core::ReadBE32(Pack + kDsiVobuEndOffset) & 0x00FFFFFF;
  Info.BlockNumber = core::ReadBE32(Pack + kDsiBlockNumberOffset);
  Info.VobId = core::ReadBE16(Pack + kDsiVobIdOffset);
  Info.CellId = Pack[kDsiCellIdOffset];
  for (size_t i = 0; i < 4; ++i) Info.StartTime[i] = Pack[kPciStartTimeOffset + i];
  for (size_t k = 0; k < kAngleSlots; ++k) {
    Info.NonSeamlessAngles[k] = core::ReadBE32(Pack + kPciNonSeamlessOffset + 4 * k);
    Info.SeamlessAngles[k].Address = core::ReadBE32(Pack + kDsiSeamlessOffset + 6 * k);
    Info.SeamlessAngles[k].Size = core::ReadBE16(Pack + kDsiSeamlessOffset + 6 * k + 4);
  }
  return true;
}

// ---- small lists ----

void CellsListAdd(TCellsList& List, uint32_t Value) { List.push_back(Value); }
bool CellsListContains(const TCellsList& List, uint32_t Value) {
  return std::find(List.begin(), List.end(), Value) != List.end();
}
bool CellsListNotContains(const TCellsList& List, uint32_t Value) { return !CellsListContains(List, Value); }

bool CellRangeFree(const TCellDistances& Cells, int32_t CellIndex, uint32_t VobId) {
  for (const TCellDistance& r : Cells) {
    if (r.VobId != VobId) continue;
    if (CellIndex < 0 || r.CellId > static_cast<uint32_t>(CellIndex)) return false;
  }
  return true;
}

bool IsMenuEvoFileName(const std::string& FileName) {
  const std::string file = platform::ExtractFileName(FileName);
  if (file.size() < 5) return false;
  const std::string base = file.substr(0, file.size() - 4);
  if (IsHdEvoStem(base)) return base[5] == 'm' || base[5] == 'M';
  // Other namings mark the menu file by a 0 as its last digit.
  return base.back() == '0';
}

// ---- the scout ----

TVobScaut::TVobScaut(std::string Name) : FileName(std::move(Name)) {}

void TVobScaut::Release() {
  Occurrences.clear();
  AngleCells.clear();
  angleIndex_.clear();
  CurrentCells.clear();
  Cells.clear();
  ScannedFiles.clear();
  Spans.clear();
  Losses.clear();
  mapEnded_ = false;
  angleCounters_.clear();
  occurrenceIndex_.clear();
  havePair_ = false;
}

TScanEnd TVobScaut::Scan(core::RunContext& Run, const DiscModel& Disc, const ScanSettings& Settings,
                         platform::ProgressBar& Bar) {
  settings_ = Settings;
  Release();
  ReadError = false;
  MissingFile.clear();
  SectorCounter = 0;
  FirstBlock.reset();
  blockShift_ = 0;
  loose_ = Disc.LooseEvo != 0;
  const uint32_t normal = settings_.InfoColour;
  Run.Log(core::kLogInfo, core::msg::StartingEVOFilesScanning, normal);

  const std::vector<std::string> chain = ChainFiles(Disc, FileName);
  int64_t total = 0;
  for (const std::string& f : chain) total += PacksOfFile(f);
  Bar.SetRange(0, total);
  Bar.SetPosition(0);

  TScanEnd end = TScanEnd::Finished;
  for (size_t i = 0; i < chain.size() && end == TScanEnd::Finished; ++i) {
    if (Run.Aborted()) {
      end = TScanEnd::Stopped;
      break;
    }
    end = ScanFile(Run, Bar, chain[i], i + 1 < chain.size());
  }
  // A file missing in the middle of a chain hides every file after it.
  if (end == TScanEnd::Finished && !chain.empty() && Disc.LooseEvo == 0 && !IsMenuEvoFileName(chain.back())) {
    const std::string missing = core::MissingChainFile(chain.back());
    if (!missing.empty()) {
      ReadError = true;
      MissingFile = missing;
      Run.LogError("File " + platform::ExtractFileName(missing) +
                   " of the chain is missing or unreadable; the files after it are not read");
      end = TScanEnd::ReadError;
    }
  }

  // The chain's last VOBU lost its end when the files after its navigation
  // pack end before it does.
  if (end == TScanEnd::Finished && !Spans.empty()) {
    const size_t shown = LastShowingNavigation(Spans.size() - 1);
    const int64_t reach = Spans[shown].VobuReach;
    if (Spans[shown].ShowsNavigation() && reach + 1 > SectorCounter)
      AddLoss(shown, Spans.size(), reach + 1 - SectorCounter, SectorCounter, 0);
  }

  // A stopped scan keeps what it read, in the same shape, but says nothing more.
  PrepareMap(Run, end != TScanEnd::Stopped);
  if (end == TScanEnd::Finished) Run.Log(core::kLogInfo, core::msg::FinishEVOFilesScanning, normal);
  return end;
}

void TVobScaut::ReportReadError(core::RunContext& Run, const std::string& Shown, std::string_view Why) {
  ReadError = true;
  std::string line(core::msg::ReadErrorWhileScanningEVOFile);
  line += Shown;
  line += ". ";
  line += core::msg::FileWasNotScannedSuccessfully;
  // The texts end in a full stop; the reason follows in brackets.
  if (Why.starts_with(": ")) line += " (" + std::string(Why.substr(2)) + ")";
  Run.Log(core::kLogWarning, line, platform::kColourRed);
}

TScanEnd TVobScaut::ScanFile(core::RunContext& Run, platform::ProgressBar& Bar, const std::string& Path, bool HasNext) {
  CurrentFile = Path;
  ScannedFiles.push_back(Path);
  Spans.push_back({SectorCounter});
  navInFile_ = false;
  const std::string shown = platform::ToUpperAscii(platform::ExtractFileName(Path));
  const std::string scanning = std::string(core::msg::ScanningEVOFile) + shown;
  Run.Log(core::kLogInfo, scanning, settings_.InfoColour);

  std::unique_ptr<core::TVobFileStream> stream;
  try {
    stream = core::TVobFileStream::Create(Run, Path, core::TVobFileStream::kModeRead, false);
  } catch (const core::EVOBException& e) {
    // A file that cannot be opened holds nothing for the map, as an empty one;
    // the chain goes on in the files after it, and the run names it.
    ReportReadError(Run, shown, e.Reason);
    Spans.back().Opened = false;
    return TScanEnd::Finished;
  }
  Spans.back().Bytes = stream->FileSize;
  if (ReadFunction) stream->ReadFunction = ReadFunction;
  if (Run.MainWindow) {
    platform::StatusPanels& status = Run.MainWindow->StatusBox;
    status.SetText(0, scanning);
    status.SetText(1, "");
    status.SetText(2, "");
    status.SetText(3, FileSizeText(stream->FileSize));
  }

  // A file cut inside a pack is said once, whichever way it is scanned; the
  // missing bytes of its last pack read as zero.
  if (const int64_t tail = stream->FileSize % kNavPackSize; tail != 0)
    Run.LogError("EVO file " + shown + " is truncated: its last pack at byte " +
                 std::to_string(stream->FileSize - tail) + " holds " + std::to_string(tail) + " of " +
                 std::to_string(kNavPackSize) + " bytes");

  const bool fast = !settings_.FullScan;
  const int64_t filePacks = (stream->FileSize + kNavPackSize - 1) / kNavPackSize;
  const int64_t fileFirst = SectorCounter;
  Spans.back().Sectors = filePacks;
  int64_t jump = 0;          // sectors the last jump skipped
  int64_t noJumpBefore = 0;  // after a failed jump the packs up to its landing are read one by one
  bool jumpsOff = false;     // an end address ran past the file: the rest is read pack by pack

  for (;;) {
    if (Run.Aborted()) {
      CloseRun(SectorCounter - 1);
      stream->Close();
      return TScanEnd::Stopped;
    }
    const int64_t got = stream->Read(pack_.data(), kNavPackSize);
    if (stream->ReadFailed) {
      CloseRun(SectorCounter - 1);
      stream->Close();
      ReportReadError(Run, shown, platform::ErrorReason(stream->ReadErrno));
      return TScanEnd::ReadError;
    }
    if (got <= 0) {
      CloseRun(SectorCounter - 1);
      break;
    }
    if (got < kNavPackSize) {
      // A short last pack: what is missing reads as zero, and the position stays
      // on the sector grid.
      std::fill(pack_.begin() + got, pack_.end(), uint8_t{0});
      stream->Skip(kNavPackSize - got);
    }

    TNavPackInfo nav;
    if (ReadNavigationPack(pack_.data(), nav) && nav.VobuEndAddress != 0) {
      const int64_t sector = SectorCounter;
      if (!FirstBlock)
        FirstBlock = int64_t{nav.BlockNumber} - sector;
      else if (!navInFile_ && !JoinEarlierFiles(nav.BlockNumber, sector) && loose_)
        mapEnded_ = true;
      navInFile_ = true;
      Spans.back().VobuReach = std::max(Spans.back().VobuReach, sector + int64_t{nav.VobuEndAddress});
      jump = 0;
      if (fast && !jumpsOff && sector >= noJumpBefore) {
        const int64_t end = nav.VobuEndAddress;
        if (sector - fileFirst + end >= filePacks) {
          jumpsOff = true;
          ReportEndPastFile(Run, sector, shown, HasNext);
        } else {
          stream->Skip(end * kNavPackSize);
          SectorCounter += end;
          jump = end;
        }
      }
      if (!mapEnded_) OnNavigationPack(nav, sector);
    } else if (jump > 0) {
      // The end address led to a pack that is not a navigation pack: back to the
      // pack after the navigation pack, and on one by one.
      stream->Skip(-(jump + 1) * kNavPackSize);
      SectorCounter -= jump + 1;
      noJumpBefore = SectorCounter + jump + 2;
      jump = 0;
    }

    ++SectorCounter;
    Bar.SetPosition(SectorCounter);
    Run.ProcessMessages();
  }
  stream->Close();
  return TScanEnd::Finished;
}

void TVobScaut::ReportEndPastFile(core::RunContext& Run, int64_t Sector, const std::string& Shown, bool HasNext) {
  const std::string line = "VOBU end address of the navigation pack at sector " + std::to_string(Sector) +
                           " lies past the end of EVO file: " + Shown + ". The rest of the file is read pack by pack.";
  // In a chain a VOBU may go on in the next file; a last file that ends inside
  // one is cut short.
  if (HasNext)
    Run.Log(core::kLogInfo, line, settings_.InfoColour);
  else
    Run.Log(core::kLogWarning, line, platform::kColourRed);
}

bool TVobScaut::JoinEarlierFiles(uint32_t Block, int64_t Sector) {
  const size_t here = Spans.size() - 1;
  // The files between the two, if any, show no navigation pack.
  const size_t before = LastShowingNavigation(here - 1);
  // Packs the block numbers place between the files that none of them holds.
  const int64_t gap = int64_t{Block} - Sector - *FirstBlock - blockShift_;
  // A VOBU that went on in the files after its own ends right before this
  // navigation pack; one that did not lost its end with one of them.
  const int64_t reach = Spans[before].VobuReach;
  const int64_t overrun = std::max<int64_t>(0, reach + 1 - Spans[here].FirstSector);
  if (overrun == 0 || Sector != reach + 1) {
    if (gap > 0)
      AddLoss(before, here, gap, Sector, gap);
    else if (overrun > 0)
      AddLoss(before, here, overrun, Sector, 0);  // numbered anew: the VOBU alone tells what is missing
  }
  blockShift_ += gap;
  return gap >= 0;
}

void TVobScaut::AddLoss(size_t First, size_t ShownBy, int64_t Sectors, int64_t Sector, int64_t Gap) {
  Losses.push_back({PlaceLoss(First, ShownBy, Sector, Gap), ShownBy, Sectors, Gap > 0});
}

std::vector<size_t> TVobScaut::PlaceLoss(size_t First, size_t ShownBy, int64_t Sector, int64_t Gap) const {
  // Were the loss at the end of file c, the packs of the files up to c lie in
  // the VOBU of First, which holds the last navigation pack before them; those
  // after it up to ShownBy's first navigation pack lie either in that VOBU as
  // well, which then ends right before it, or in a VOBU whose navigation pack
  // was lost, after the end of First's. All in the chain's count, which the
  // block numbers pass by Gap after the loss.
  const int64_t reach = Spans[First].VobuReach, next = Sector + Gap;
  std::vector<size_t> fit, all;
  for (size_t c = First; c < ShownBy; ++c) {
    all.push_back(c);
    const int64_t after = c + 1 < Spans.size() ? Spans[c + 1].FirstSector : SectorCounter;
    bool fits = after <= reach + 1;
    if (fits && Gap > 0 && after + Gap != next)
      fits = after + Gap <= reach ? reach + 1 == next : after + Gap >= reach + 2;
    if (fits) fit.push_back(c);
  }
  std::vector<size_t> files = fit.empty() ? all : fit;
  // One cut inside a pack, empty or unread surely lost its end.
  std::vector<size_t> cut;
  for (const size_t c : files)
    if (Spans[c].Sectors == 0 || Spans[c].Bytes % kNavPackSize != 0) cut.push_back(c);
  return cut.size() == 1 ? cut : files;
}

size_t TVobScaut::LastShowingNavigation(size_t From) const {
  while (From > 0 && !Spans[From].ShowsNavigation()) --From;
  return From;
}

std::vector<size_t> TVobScaut::EndCandidates() const {
  if (Spans.empty()) return {};
  return PlaceLoss(LastShowingNavigation(Spans.size() - 1), Spans.size(), SectorCounter, 0);
}

const TVobScaut::TChainLoss* TVobScaut::LossAtEnd() const {
  const auto end =
      std::find_if(Losses.begin(), Losses.end(), [&](const TChainLoss& l) { return l.ShownBy >= Spans.size(); });
  return end == Losses.end() ? nullptr : &*end;
}

std::optional<int64_t> TVobScaut::EndBlock() const {
  if (!FirstBlock) return std::nullopt;
  int64_t lost = 0;
  for (const TChainLoss& l : Losses)
    if (l.ShownBy < Spans.size()) lost += l.Sectors;
  return *FirstBlock + SectorCounter + lost;
}

void TVobScaut::OnNavigationPack(const TNavPackInfo& Nav, int64_t Sector) {
  const uint32_t vob = Nav.VobId;
  const uint32_t cell = Nav.CellId;
  if (havePair_ && vob == prevVob_ && cell == prevCell_) return;
  if (havePair_) CloseRun(Sector - 1);

  TCellDistance run;
  run.VobId = vob;
  run.CellId = cell;
  run.FirstSector = havePair_ ? static_cast<uint32_t>(Sector) : 0;
  run.LastSector = run.FirstSector;
  run.Length = 1;
  run.StartTime = Nav.StartTime;

  const uint64_t key = PairKey(vob, cell);
  const auto found = occurrenceIndex_.find(key);
  if (found == occurrenceIndex_.end()) {
    occurrenceIndex_.emplace(key, Occurrences.size());
    Occurrences.push_back({vob, cell, 1, 0});
    const size_t n = Occurrences.size();
    if (n >= 2 && Occurrences[n - 2].VobId > vob) Occurrences[n - 2].Interleaved = Occurrences[n - 1].Interleaved = 1;
  } else {
    ++Occurrences[found->second].RunCount;
  }

  const uint32_t angle = Nav.HasAngleData() ? AngleCellStep(Nav, vob) : 0;
  if (angle > 0 && angle <= kAngleSlots) ++angleCounters_[vob][angle];
  Cells.push_back(run);

  havePair_ = true;
  prevVob_ = vob;
  prevCell_ = cell;
}

void TVobScaut::AddAngleCell(uint32_t Key, uint32_t AngleNumber, uint8_t Seamless) {
  // The first entry of a key is the one every lookup answers with.
  angleIndex_.try_emplace(Key, AngleCells.size());
  AngleCells.push_back({Key, AngleNumber, Seamless});
}

uint32_t TVobScaut::AngleCellStep(const TNavPackInfo& Nav, uint32_t VobId) {
  if (const TAngleCellEntry* e = FindAngleCell(VobId)) return e->AngleNumber;
  // The angles of a block are taken to lie in consecutive EVO ids from the one
  // where the block was first met.
  uint32_t answer = 0;
  std::array<uint32_t, kAngleSlots> seen{};
  size_t seenCount = 0;
  auto isNew = [&](uint32_t Address) {
    if (std::find(seen.begin(), seen.begin() + static_cast<std::ptrdiff_t>(seenCount), Address) !=
        seen.begin() + static_cast<std::ptrdiff_t>(seenCount))
      return false;
    seen[seenCount++] = Address;
    return true;
  };
  for (uint32_t k = 1; k <= kAngleSlots; ++k) {
    const TSeamlessAngle& a = Nav.SeamlessAngles[k - 1];
    if (a.Size == 0) break;
    if (!isNew(a.Address)) continue;
    AddAngleCell(VobId + k - 1, k, 1);
    answer = k;
  }
  seenCount = 0;
  for (uint32_t k = 1; k <= kAngleSlots; ++k) {
    const uint32_t address = Nav.NonSeamlessAngles[k - 1];
    if (address == 0) break;
    if (!isNew(address)) continue;
    AddAngleCell(VobId + k - 1, k, 0);
    answer = k;
  }
  return answer;
}

void TVobScaut::CloseRun(int64_t LastSector) {
  if (Cells.empty() || mapEnded_) return;
  TCellDistance& r = Cells.back();
  r.LastSector = static_cast<uint32_t>(std::max<int64_t>(LastSector, r.FirstSector));
  r.Length = r.LastSector - r.FirstSector + 1;
}

const TAngleCellEntry* TVobScaut::FindAngleCell(uint32_t VobId) const {
  const auto it = angleIndex_.find(VobId);
  return it == angleIndex_.end() ? nullptr : &AngleCells[it->second];
}

void TVobScaut::PrepareMap(core::RunContext& Run, bool Report) {
  const uint32_t normal = settings_.InfoColour;
  if (Report) Run.Log(core::kLogInfo, core::msg::PrepareEVOMap, normal);

  // One run per (EVO id, cell id): the first. (A run's angle follows from its
  // EVO id, so it tells no two runs of a pair apart.)
  std::unordered_set<uint64_t> seen;
  std::erase_if(Cells, [&seen](const TCellDistance& r) { return !seen.insert(PairKey(r.VobId, r.CellId)).second; });
  for (TCellDistance& r : Cells) {
    const TAngleCellEntry* e = FindAngleCell(r.VobId);
    r.AngleNumber = e ? e->AngleNumber : 0;
    r.AngleSeamless = e ? e->Seamless : 0;
  }
  std::unordered_set<uint32_t> repeated;
  for (const TCellOccurrence& o : Occurrences)
    if (o.RunCount > 1) repeated.insert(o.VobId);
  for (TCellOccurrence& o : Occurrences)
    if (repeated.count(o.VobId)) o.Interleaved = 1;

  if (Report) {
    std::unordered_set<uint32_t> interleavedVobs;
    for (const TCellOccurrence& o : Occurrences)
      if (o.Interleaved) interleavedVobs.insert(o.VobId);
    for (const TCellDistance& r : Cells) {
      uint32_t interleaving = InterleavingOf(r.VobId, r.CellId);
      if (interleaving == 0 && interleavedVobs.count(r.VobId)) interleaving = 1;
      const std::string line = "VobID: " + core::IntToStrZeroPad(r.VobId, 3) +
                               ",  CellID: " + core::IntToStrZeroPad(r.CellId, 3) +
                               ",  Interleaving: " + std::to_string(interleaving) +
                               ",  Angle: " + core::IntToStrZeroPad(r.AngleNumber, 1) +
                               ",  LBA: " + core::IntToStrZeroPad(r.FirstSector, 6) +
                               ",  Angle Seamless: " + core::IntToStrZeroPad(r.AngleSeamless, 1);
      const bool marked = r.AngleNumber > 0 || interleaving > 0;
      Run.Log(core::kLogInfo, line, marked ? settings_.InterleavingColour : normal);
    }
  }

  // The scene angle type chosen in the options overrides what the packs say.
  const SceneAngleType type = settings_.AngleType;
  if (type == SceneAngleType::Seamless || type == SceneAngleType::NonSeamless)
    for (TAngleCellEntry& e : AngleCells) e.Seamless = type == SceneAngleType::Seamless ? 1 : 0;
}

// ---- queries ----

TCellsList TVobScaut::CollectVobCells(uint32_t VobId) const {
  TCellsList cells;
  for (const TCellDistance& r : Cells)
    if (r.VobId == VobId && CellsListNotContains(cells, r.CellId)) CellsListAdd(cells, r.CellId);
  return cells;
}

int32_t TVobScaut::GetVobCells(uint32_t VobId) {
  CurrentCells = CollectVobCells(VobId);
  return static_cast<int32_t>(CurrentCells.size());
}

uint32_t TVobScaut::VobAngleNumber(uint32_t VobId) const {
  const TAngleCellEntry* e = FindAngleCell(VobId);
  return e ? e->AngleNumber : 0;
}

uint8_t TVobScaut::VobAngleFlag(uint32_t VobId) const {
  const TAngleCellEntry* e = FindAngleCell(VobId);
  return e ? e->Seamless : 0;
}

const TCellOccurrence* TVobScaut::FindOccurrence(uint32_t VobId, uint32_t CellId) const {
  const auto found = occurrenceIndex_.find(PairKey(VobId, CellId));
  return found == occurrenceIndex_.end() ? nullptr : &Occurrences[found->second];
}

uint32_t TVobScaut::InterleavingOf(uint32_t VobId, uint32_t CellId) const {
  const TCellOccurrence* o = FindOccurrence(VobId, CellId);
  return o && o->Interleaved && o->RunCount > 1 ? o->RunCount : 0;
}

uint32_t TVobScaut::InterleavedCellCount(uint32_t VobId) const {
  uint32_t sum = 0;
  for (const TCellOccurrence& o : Occurrences)
    if (o.VobId == VobId && o.Interleaved && o.RunCount > 1) sum += o.RunCount;
  return sum;
}

bool TVobScaut::IsVobInterleaved(uint32_t VobId) const {
  return std::any_of(Occurrences.begin(), Occurrences.end(),
                     [VobId](const TCellOccurrence& o) { return o.VobId == VobId && o.Interleaved; });
}

const TCellDistance* TVobScaut::FirstRun(uint32_t VobId, uint32_t CellId) const {
  for (const TCellDistance& r : Cells)
    if (r.VobId == VobId && r.CellId == CellId) return &r;
  return nullptr;
}

double TVobScaut::CellStartMs(uint32_t VobId, uint32_t CellId) const {
  const TCellDistance* r = FirstRun(VobId, CellId);
  return r ? core::TicksToMilliseconds(r->StartTime.data()) : 0.0;
}

core::TTimeCode TVobScaut::CellStartTimecode(const DiscModel& Disc, uint32_t VobId, uint32_t CellId) const {
  if (!FirstRun(VobId, CellId)) return {};
  return core::MillisecondsToTimecode(CellStartMs(VobId, CellId), Disc.FrameRate);
}

core::TTimeCode TVobScaut::TimeBetweenCells(const DiscModel& Disc, uint32_t VobId, uint32_t CellId) const {
  const core::TTimeCode next = CellStartTimecode(Disc, VobId, CellId + 1);
  if (next.IsZero()) return {};
  return core::TimecodeDifference(Disc.FrameRate, next, CellStartTimecode(Disc, VobId, CellId));
}

bool TVobScaut::IsAngleVobEx(const DiscModel& Disc, RunRegistries& Reg, int32_t Number, int32_t Kind, uint32_t VobId) {
  const int32_t domain = Kind == kDomainTitles ? kDomainTitles : kDomainMenus;
  if (domain == 2)
    BuildTitleAngleList(Disc, Reg, Number);
  else
    BuildMenuAngleList(Disc, Reg, Number);
  const auto scouted = static_cast<int64_t>(CollectVobCells(VobId).size());
  if (scouted > GetVobAngleCount(Reg, domain, VobId)) return true;
  if (FindAngleCell(VobId)) return true;
  return IsAngleVob(Reg, domain, VobId);
}

uint32_t TVobScaut::AngleCount(uint32_t VobId, uint32_t Angle) const {
  const auto found = angleCounters_.find(VobId);
  if (found == angleCounters_.end() || Angle > kAngleSlots) return 0;
  return found->second[Angle];
}

void TVobScaut::FillTree(platform::TreeModel& Tree, int32_t Parent) const {
  std::set<uint32_t> vobs;
  for (const TCellDistance& r : Cells)
    if (r.VobId >= 1 && r.VobId <= 65535) vobs.insert(r.VobId);
  for (const uint32_t vob : vobs) {
    const int32_t node = Tree.Add(Parent, "VobID: " + std::to_string(vob), 5);
    for (const uint32_t cell : CollectVobCells(vob)) Tree.Add(node, "CellID: " + std::to_string(cell), 6);
  }
}

// ---- the registry ----

void TVobScoutRegistry::Register(int32_t Number, std::shared_ptr<TVobScaut> Scout, int32_t Kind) {
  if (Number < 0 || Number >= kMaxTitleSets) return;
  if (Pairs.size() <= static_cast<size_t>(Number)) Pairs.resize(static_cast<size_t>(Number) + 1);
  TPair& p = Pairs[static_cast<size_t>(Number)];
  (Kind == kDomainTitles ? p.Titles : p.Menu) = std::move(Scout);
}

TVobScaut* TVobScoutRegistry::Get(int32_t Number, int32_t Kind) const {
  if (Number < 0 || static_cast<size_t>(Number) >= Pairs.size()) return nullptr;
  const TPair& p = Pairs[static_cast<size_t>(Number)];
  return (Kind == kDomainTitles ? p.Titles : p.Menu).get();
}

bool TVobScoutRegistry::Has(int32_t Number, int32_t Kind) const { return Get(Number, Kind) != nullptr; }

void RegisterVobScout(RunRegistries& Reg, int32_t Number, std::shared_ptr<TVobScaut> Scout, int32_t Kind) {
  Reg.Scouts.Register(Number, std::move(Scout), Kind);
}

bool HasVobScout(const RunRegistries& Reg, int32_t Number, int32_t Kind) { return Reg.Scouts.Has(Number, Kind); }

void FreeVobScouts(RunRegistries& Reg) {
  for (TVobScoutRegistry::TPair& p : Reg.Scouts.Pairs) {
    if (p.Menu) p.Menu->Release();
    if (p.Titles) p.Titles->Release();
  }
  Reg.Scouts.Clear();
}

bool IsScoutAngleVob(const DiscModel& Disc, RunRegistries& Reg, int32_t Number, int32_t Kind, uint32_t VobId) {
  TVobScaut* scout = Reg.Scouts.Get(Number, Kind);
  return scout && scout->IsAngleVobEx(Disc, Reg, Number, Kind, VobId);
}

// ---- the scout tree ----

namespace {

// Where the EVO files of an information file lie. HD discs name them after the
// domain ("hv001i01.ifo": menus "hv001m01.evo", titles from "hv001t01.evo", and
// the VMG's first play "hv000m01.evo" and menus "hv000m02.evo"); other namings
// keep the information file's name.
struct TDomainFiles {
  std::vector<std::string> Menus;
  std::string Titles;
};

TDomainFiles DomainFilesOf(const std::string& IfoName, bool IsVmg) {
  TDomainFiles files;
  const std::string name = platform::ExtractFileName(IfoName);
  const std::string stem7 = IfoName.size() >= 7 ? IfoName.substr(0, IfoName.size() - 7) : std::string();
  const bool hd = name.size() == 12 && IsHdEvoStem(name.substr(0, 8)) && (name[5] == 'i' || name[5] == 'I');
  if (hd) {
    files.Menus.push_back(stem7 + "m01.evo");
    if (IsVmg) files.Menus.push_back(stem7 + "m02.evo");
    if (!IsVmg) {
      files.Titles = stem7 + "t01.evo";
      if (platform::ExistingRegularFile(files.Titles).empty()) files.Titles = core::NextEvoFileName(files.Titles);
    }
    return files;
  }
  if (IfoName.size() >= 3) files.Menus.push_back(IfoName.substr(0, IfoName.size() - 3) + "evo");
  if (IfoName.size() >= 5) files.Titles = IfoName.substr(0, IfoName.size() - 5) + "1.evo";
  return files;
}

void ScanIntoTree(core::RunContext& Run, const DiscModel& Disc, const ScanSettings& Settings, platform::TreeModel& Tree,
                  const std::string& EvoName, int32_t Parent) {
  if (EvoName.empty() || Run.Aborted()) return;
  TVobScaut scout(EvoName);
  scout.Scan(Run, Disc, Settings, Run.StatusProgress);
  scout.FillTree(Tree, Parent);
}

}  // namespace

void BuildVobTree(core::RunContext& Run, const DiscModel& Disc, const ScanSettings& Settings,
                  platform::TreeModel& Tree) {
  Tree.Clear();
  if (Disc.TitleSetCount < 1 || Disc.IFOFiles.empty()) return;
  const int32_t vmg = Tree.Add(-1, "VMG");
  for (const std::string& evo : DomainFilesOf(Disc.IFOFiles[0].FileName, true).Menus)
    ScanIntoTree(Run, Disc, Settings, Tree, evo, vmg);
  const int32_t last = std::min<int32_t>(Disc.TitleSetCount, static_cast<int32_t>(Disc.IFOFiles.size()));
  for (int32_t n = 1; n < last && !Run.Aborted(); ++n) {
    const TDomainFiles files = DomainFilesOf(Disc.IFOFiles[static_cast<size_t>(n)].FileName, false);
    const int32_t node = Tree.Add(-1, "VTS_" + core::IntToStrZeroPad(n, 3), 4);
    const int32_t menu = Tree.Add(node, "Menu", 2);
    for (const std::string& evo : files.Menus) ScanIntoTree(Run, Disc, Settings, Tree, evo, menu);
    const int32_t titles = Tree.Add(node, "Titles", 2);
    ScanIntoTree(Run, Disc, Settings, Tree, files.Titles, titles);
  }
}

}  // namespace tess::disc
