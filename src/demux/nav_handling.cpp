// Navigation-pack handling: the presentation-control packet becomes the
// context's navigation record; the data-search packet says which VOB and cell
// the following packs belong to, and a new cell finishes the previous one,
// splits the outputs where the naming asks for it and keeps the cell times.
#include <algorithm>

#include "core/byte_order.h"
#include "core/files.h"
#include "core/messages.h"
#include "core/timecode.h"
#include "demux/audio_sync.h"
#include "demux/demux_context.h"
#include "disc/attribute_texts.h"
#include "disc/cell_lookups.h"
#include "disc/highlights.h"
#include "disc/palette.h"
#include "disc/vob_scout.h"
#include "platform/paths.h"
#include "platform/rounding.h"
#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "state/run_state.h"

namespace tess::demux {

namespace {

// PCI data offsets (after the substream byte).
constexpr int32_t kPciUopControl = 8;
constexpr int32_t kPciVobuStart = 12;
constexpr int32_t kPciVobuEnd = 16;
constexpr int32_t kPciCellElapsed = 24;
constexpr int32_t kPciHighlight = 96;
constexpr int32_t kPciButtonMode = 110;
constexpr int32_t kPciColours = 118;
constexpr int32_t kPciButtons = 142;
constexpr int32_t kPciDecodedBytes = kPciButtons + static_cast<int32_t>(kNavButtonRecords * kNavButtonRecordSize);
// DSI data offsets.
constexpr int32_t kDsiCellElapsed = 28;

constexpr uint16_t kHighlightNew = 1;
constexpr uint8_t kDisplayWide = 4;
constexpr uint8_t kDisplayLetterboxPanScan = 3;

using core::TicksToMs;

// A colour set of a highlight: per half (selection, action) four colour numbers
// plus 1 and four contrasts in percent.
std::array<uint32_t, 16> DecodeColourSet(const uint8_t* B) {
  std::array<uint32_t, 16> out{};
  for (int half = 0; half < 2; ++half) {
    const uint8_t* h = B + 4 * half;
    const uint8_t colours[4] = {static_cast<uint8_t>(h[0] >> 4), static_cast<uint8_t>(h[0] & 15),
                                static_cast<uint8_t>(h[1] >> 4), static_cast<uint8_t>(h[1] & 15)};
    const uint8_t contrasts[4] = {static_cast<uint8_t>(h[2] >> 4), static_cast<uint8_t>(h[2] & 15),
                                  static_cast<uint8_t>(h[3] >> 4), static_cast<uint8_t>(h[3] & 15)};
    for (int k = 0; k < 4; ++k) {
      out[static_cast<size_t>(8 * half + k)] = colours[k] + 1u;
      out[static_cast<size_t>(8 * half + 4 + k)] =
          static_cast<uint32_t>(platform::RoundEven(contrasts[k] * 20.0 / 3.0));
    }
  }
  return out;
}

disc::TButtonRect ButtonRect(const uint8_t* B) {
  disc::TButtonRect r;
  r.XStart = (B[0] & 63) * 16 + B[1] / 16;
  r.YStart = (B[3] & 63) * 16 + B[4] / 16;
  r.XEnd = (B[1] & 3) * 256 + B[2];
  r.YEnd = (B[4] & 3) * 256 + B[5];
  return r;
}

}  // namespace

// ---- the lists ----

void TIFOData::AddAngleCell(uint32_t Vob, uint32_t Angle) {
  for (const auto& a : AngleCells)
    if (a.AngleNumber == Angle) return;
  AngleCells.push_back({Vob, Angle});
}

bool TIFOData::HasAngleCell(uint32_t Vob, uint32_t Angle) const {
  for (const auto& a : AngleCells)
    if (a.VobId == Vob && a.AngleNumber == Angle) return true;
  return false;
}

void TIFOData::AddVobOnce(uint32_t Vob) {
  if (!HasVob(Vob)) VobList.push_back(Vob);
}

bool TIFOData::HasVob(uint32_t Vob) const { return std::find(VobList.begin(), VobList.end(), Vob) != VobList.end(); }

namespace {
uint64_t StreamVobKey(uint8_t Sid, uint8_t Sub, uint32_t Vob) {
  return static_cast<uint64_t>(Sid) << 40 | static_cast<uint64_t>(Sub) << 32 | Vob;
}
}  // namespace

void TIFOData::AddStreamVobPair(uint8_t Sid, uint8_t Sub, uint32_t Vob) { Pairs.insert(StreamVobKey(Sid, Sub, Vob)); }

bool TIFOData::HasStreamVobPair(uint8_t Sid, uint8_t Sub, uint32_t Vob) const {
  return Pairs.contains(StreamVobKey(Sid, Sub, Vob));
}

bool TIFOData::HasPendingCut(uint8_t Sid, uint8_t Sub) const {
  const uint16_t key = static_cast<uint16_t>(Sid << 8 | Sub);
  return std::find(PendingCuts.begin(), PendingCuts.end(), key) != PendingCuts.end();
}

void TIFOData::SetPendingCut(uint8_t Sid, uint8_t Sub, bool On) {
  const uint16_t key = static_cast<uint16_t>(Sid << 8 | Sub);
  const auto it = std::find(PendingCuts.begin(), PendingCuts.end(), key);
  if (On && it == PendingCuts.end()) PendingCuts.push_back(key);
  if (!On && it != PendingCuts.end()) PendingCuts.erase(it);
}

void TIFOData::AddCellTime(uint32_t Vob, uint32_t CellIdArg, uint8_t Seamless, TTimeCode Start) {
  for (const auto& c : CellTimes)
    if (c.CellId == CellIdArg && c.VobId == Vob) return;
  TCellTimeItem item;
  item.StartTime = Start;
  item.CellId = CellIdArg;
  item.VobId = Vob;
  item.Seamless = Seamless;
  item.NavValue = NavRecord.UopControl;
  CellTimes.push_back(item);
}

bool TIFOData::CutsAudioAtVobStart() const {
  const core::DemuxSettings& settings = Settings;
  if (IsTitleDomain()) return settings.Titles == core::TitleMode::Pts || ByCell;
  return settings.Menus == core::TitleMode::Pts;
}

// ---- presentation control ----

TNavRecord DecodePciRecord(const uint8_t* Data, int32_t Length) {
  // A packet too short for the record leaves the fields it lacks at zero.
  uint8_t pci[kPciDecodedBytes] = {};
  std::copy_n(Data, std::clamp(Length, 0, kPciDecodedBytes), pci);
  TNavRecord r;
  r.BlockNumber = core::ReadBE32(pci);
  r.UopControl = core::ReadBE32(pci + kPciUopControl);
  r.VobuStart = core::ReadBE32(pci + kPciVobuStart);
  r.VobuEnd = core::ReadBE32(pci + kPciVobuEnd);
  r.CellElapsed = disc::BcdPlaybackTimeToTimecode(pci + kPciCellElapsed);
  const uint8_t* hl = pci + kPciHighlight;
  r.HighlightStatus = core::ReadBE16(hl);
  r.HighlightStart = core::ReadBE32(hl + 2);
  r.HighlightEnd = core::ReadBE32(hl + 6);
  const uint8_t* mode = pci + kPciButtonMode;
  r.ButtonGroups = (mode[0] >> 4) & 3;
  r.DisplayType1 = mode[0] & 0x0F;
  r.DisplayType2 = mode[1] >> 4;
  r.ButtonOffset = mode[2];
  r.ButtonCount = mode[3];
  r.SelectableButtons = mode[4];
  r.ForcedSelect = mode[6];
  r.ForcedActivate = mode[7];
  std::copy_n(pci + kPciColours, r.Colours.size(), r.Colours.begin());
  std::copy_n(pci + kPciButtons, r.Buttons.size(), r.Buttons.begin());
  return r;
}

void TIFOData::DecodeNavRecord(const uint8_t* Data, int32_t Length) {
  NavRecord = DecodePciRecord(Data, Length);
  for (auto& c : CellTimes) {
    if (c.VobId != VobId || c.CellId != CellId) continue;
    if (++c.Count < 3) c.NavValue = SavedNavRecord.UopControl;
    break;
  }
}

void TIFOData::ShowCellElapsedTime(TTimeCode Time) {
  Env.Run.StatusBar1.SetText(
      1, std::string(core::msg::CellElapsedTime) + core::TimecodeWithRateText(Env.Disc.FrameRate, Time));
}

void TIFOData::ProcessPciPack(const uint8_t* Data, int32_t Length) {
  if (PgcVobId == 0 && PgcCellId == 0) {
    Cell.FirstVideoSeen = false;
    Cell.CellFirstVideoMs = 0;
    Delays.SubpictureMs = 0;
    CellTimes.clear();
    Cell.PreviousCellStart = Cell.CurrentCellStart = 0;
  }
  SavedNavRecord = NavRecord;
  DecodeNavRecord(Data, Length);
  Cell.VobuStart = NavRecord.VobuStart;
  Cell.VobuEnd = NavRecord.VobuEnd;
  if (AngleNumber < 2) ShowCellElapsedTime(NavRecord.CellElapsed);
}

// ---- data search: the cell in hand ----

void TIFOData::BeginCell() {
  if (VobId == PgcVobId && CellNamingNow == CellNaming && !Cell.ChangePending) return;
  ChangeCell();
  Cell.PreviousCellStart = Cell.CurrentCellStart = 0;
  Cell.CellFirstVideoMs = Scout ? Scout->CellStartMs(VobId, 1) : 0;
}

void TIFOData::ChangeCell() {
  ResetSubpictureUnits();
  InsertLastCellToTrackFolder();
  CellTimes.clear();
  Cell.FirstVideoSeen = false;
  disc::TPaletteColours colours{};
  disc::PaletteYCrCbToRGB(Env.Disc, CurrentPgc.Pgc, colours);
  int32_t index = disc::FindPalette(Env.Reg.Palettes, colours);
  if (index >= 0)
    ++Env.Reg.Palettes.Items[static_cast<size_t>(index)].UseCount;
  else
    index = disc::AddPalette(Env.Reg.Palettes, colours);
  Cell.PaletteIndex = index;
  StreamTable.MarkAllNew();
  Cell.CellFirstVideoMs = Scout ? Scout->CellStartMs(VobId, CellId) : 0;
}

void TIFOData::RefreshNamePart() {
  // Every navigation pack names its cell; the name changes only with the cell.
  if (namedValid_ && namedVob_ == VobId && namedCell_ == CellId) return;
  NamePart = BuildNamePart(VobId, CellId);
  namedVob_ = VobId;
  namedCell_ = CellId;
  namedValid_ = true;
}

void TIFOData::ProcessNavPack(const uint8_t* Data, int32_t Length) {
  const bool titles = IsTitleDomain();  // of the context, before the lookup below
  PreviousPgc = CurrentPgc;
  FindPgcOfCell(VobId, CellId, CurrentPgc);

  // Angle: the chain says whether the cell lies in an angle block; the scout
  // says which angle its VOB is.
  AngleCopy = AngleNumber;
  const int32_t a = disc::CellAngleNumber(VobId, CurrentPgc.Pgc, CurrentPgc.PgcKind);
  AngleNumber = (a == -1 || a > 0) ? static_cast<int32_t>(Scout ? Scout->VobAngleNumber(VobId) : 0) : 0;

  Cell.SavedInterleavedCellCount = Cell.InterleavedCellCount;
  Cell.InterleavedCellCount = 0;
  Cell.ChangePending = false;
  if (AngleNumber <= 0) {
    Cell.InterleavedCellCount = Scout ? Scout->InterleavedCellCount(VobId) : 0;
    if (Cell.InterleavedCellCount > 0) {
      AddVobOnce(VobId);
      CellNamingNow = 1;
      CountVobCell(VobId, 1);
      if (VobCellCounter(VobId, 1) == 1 || Cell.SavedInterleavedCellCount == 0) Cell.ChangePending = true;
    }
  } else {
    CountVobCell(VobId, static_cast<uint32_t>(AngleNumber));
    AddAngleCell(VobId, static_cast<uint32_t>(AngleNumber));
    CellNamingNow = 1;
    if (PgcCellId == 0 || AngleCopy == 0 || (AngleCopy > 0 && VobCellCounter(VobId, 1) == 1))
      Cell.ChangePending = true;
  }

  const bool sameCell = VobId == PgcVobId && CellId == PgcCellId;
  if ((sameCell || AngleNumber != 0) && !Cell.ChangePending) {
    CellNamingNow = (titles && ByCell) ? 0 : 1;
    RefreshNamePart();
  } else {
    Cell.CellChanged = true;
    if (CutsAudioAtVobStart() && CellId == 1) {
      VobStartMs = PgcVobId == 0 ? 0 : TicksToMs(NavRecord.VobuStart);
      PendingCuts.clear();
      AudioRouter->OnVobStart(*this);
    }
    CellNaming = CellNamingNow;
    CellNamingNow = (titles && ByCell) ? 0 : 1;
    if ((titles ? Settings.Titles : Settings.Menus) == core::TitleMode::None) CellNamingNow = 0;
    if (!titles || CellNamingNow == 0) ResetSubpictureUnits();

    const bool vobChanged = VobId != PgcVobId;
    if (CellNamingNow == 1) {
      BeginCell();
      if (vobChanged || CellNamingNow != CellNaming) CellStartTime = {};
      Cell.CurrentCellStart = CellId >= 2 ? NavRecord.VobuStart : 0;
      const int64_t diff = static_cast<int64_t>(Cell.CurrentCellStart) - Cell.PreviousCellStart;
      if (diff > 0)
        CellStartTime = core::AddTimecodes(Env.Disc.FrameRate, CellStartTime,
                                           core::MillisecondsToTimecode(core::TicksToMs(diff), Env.Disc.FrameRate));
      const uint8_t seamless = AngleNumber > 0 ? (Scout ? Scout->VobAngleFlag(VobId) : 0)
                                               : (disc::IsCellSeamless(VobId, CellId, CurrentPgc.Pgc, false) ? 1 : 0);
      AddCellTime(VobId, CellId, seamless, CellStartTime);
      Cell.PreviousCellStart = CellId != 1 ? Cell.CurrentCellStart : NavRecord.VobuStart;
    } else {
      if (vobChanged) CellStartTime = {};
      ChangeCell();
    }
    RefreshNamePart();
    PgcVobId = static_cast<uint16_t>(VobId);
    PgcCellId = CellId;
    Env.Run.InfoForm.AddLog(core::kLogInfo, std::string(core::msg::FoundVobID) + std::to_string(PgcVobId) +
                                                "  CellID: " + std::to_string(PgcCellId));
  }

  uint8_t elapsed[4] = {};
  if (Length >= kDsiCellElapsed + 4) std::copy_n(Data + kDsiCellElapsed, 4, elapsed);
  CellTime = disc::BcdPlaybackTimeToTimecode(elapsed);
  if (NavRecord.HighlightStatus == kHighlightNew) BuildHighlights(NavRecord, DomainIndex, CellId, VobId);
}

// ---- highlights ----

bool StartsHighlight(const TNavRecord& Record) { return Record.HighlightStatus == kHighlightNew; }

disc::THighlightPlayItem HighlightItemOf(const disc::DiscModel& Disc, const TNavRecord& R) {
  disc::THighlightPlayItem item;
  disc::InitHighlightPlayItem(Disc, item);
  if (R.DisplayType1 == kDisplayWide && R.DisplayType2 == kDisplayLetterboxPanScan) {
    item.DisplayFlag1 = 2;
    item.DisplayFlag2 = 0;
    item.Marked = 1;
  }
  for (size_t k = 0; k < 3; ++k) item.ColourTables[k] = DecodeColourSet(R.Colours.data() + 8 * k);
  item.SelectableButtons = R.SelectableButtons;
  item.ForcedSelect = R.ForcedSelect;
  item.ForcedActivate = R.ForcedActivate;
  // The record holds 36 button records, shared by the groups: 36 buttons for one
  // group, 18 for two, 12 for three. A larger count reads past it and is cut.
  const size_t groups = std::max<size_t>(R.ButtonGroups, 1);
  const size_t perGroup = groups == 1 ? 36 : groups == 2 ? 18 : 12;
  const size_t count = std::min<size_t>(R.ButtonCount, perGroup);
  auto record = [&](size_t I) { return R.Buttons.data() + (I - 1) * kNavButtonRecordSize; };
  for (size_t i = 1; i <= count; ++i) {
    const uint8_t* b = record(i);
    disc::THighlightButton button;
    button.Number = static_cast<uint32_t>(i);
    button.ColourSet = b[0] >> 6;
    button.AutoAction = b[3] >> 6;
    button.Rects[0] = ButtonRect(b);
    button.Up = b[6];
    button.Down = b[7];
    button.Left = b[8];
    button.Right = b[9];
    std::copy_n(b + 10, 8, button.Command.begin());
    if (groups == 2) {
      button.Rects[1] = ButtonRect(record(i + 18));
      button.Rects[2] = button.Rects[0];
    } else if (groups == 3) {
      button.Rects[1] = ButtonRect(record(i + 12));
      button.Rects[2] = ButtonRect(record(i + 24));
    } else {
      button.Rects[1] = button.Rects[2] = button.Rects[0];
    }
    item.Buttons.push_back(button);
  }
  item.StartTime = R.HighlightStart;
  item.EndTime = R.HighlightEnd;
  return item;
}

void TIFOData::BuildHighlights(const TNavRecord& R, int32_t Domain, uint32_t CellIdArg, uint32_t Vob) {
  const core::DemuxSettings& settings = Settings;
  if (!StartsHighlight(R) || settings.Subpictures == core::SupMode::FilesOnly) return;
  const THighlightKey key{CellIdArg, Vob, R.HighlightStart, R.HighlightEnd};
  if (std::find(Highlights.begin(), Highlights.end(), key) != Highlights.end()) {
    if (settings.SameHLShowLog)
      Env.Run.InfoForm.AddLogColored(
          core::kLogInfo, std::string(core::msg::CurrentHighlightWasAlreadyAddedAndNow) + std::to_string(PackNumber),
          settings.SameHighlightColour);
    return;
  }
  disc::THighlightPlayItem item = HighlightItemOf(Env.Disc, R);
  item.IFOIndex = Domain;
  item.VobId = Vob;
  item.CellId = CellIdArg;
  item.SourceNumber = NavPackCount;
  const std::string file = OutputBase + NamePart + ".hlt2";
  core::MakeFolders(platform::ExtractFilePath(file));
  FirstTouch(file);
  if (!disc::WriteTrackRecordFile(file, item, true)) {
    Env.Run.LogError(std::string(core::msg::CanNotOpenFile) + file);
    OutputFailed = true;
    return;
  }
  Highlights.push_back(key);
}

// ---- per timed packet ----

void TIFOData::FinishCell(uint8_t Sid, uint8_t Sub) {
  if (IsVideoStream(Sid, Sub) && !Cell.FirstVideoSeen) {
    Cell.CellFirstVideoMs = LastPtsMs;
    Cell.FirstVideoSeen = true;
    Cell.NavPackTimeMs = Cell.InterleavedCellCount > 0 && Scout ? Scout->CellStartMs(VobId, 1)
                                                                 : TicksToMs(NavRecord.VobuStart);
  }
  if (LastPtsMs == 0) return;
  if (IsSubpictureStream(Sid, Sub)) {
    if ((Cell.InterleavedCellCount > 0 || AngleNumber > 0) && ByCell && Scout)
      Cell.NavPackTimeMs = Scout->CellStartMs(VobId, CellId);
    Delays.SubpictureMs = AudioDelay(false);
    ++Cell.SubpicPtsCount;
    Env.Run.StatusBar1.SetText(2, std::string(core::msg::SubPicPTSCounter) + std::to_string(Cell.SubpicPtsCount) + "/" +
                                      std::to_string(Env.State.SubpicUnitCount));
    return;
  }
  if (IsAc3Stream(Sid, Sub))
    Delays.Ac3Ms = AudioDelay(true);
  else if (IsDtsStream(Sid, Sub))
    Delays.DtsMs = AudioDelay(true);
  else if (IsLpcmStream(Sid, Sub))
    Delays.LpcmMs = AudioDelay(true);
  else if (IsMpegAudioStream(Sid, Sub))
    Delays.MpaMs = AudioDelay(true);
}

}  // namespace tess::demux
