// Navigation-pack handling: the presentation-control packet becomes the cell
// tracker's navigation record; the data-search packet says which VOB and cell
// the following packs belong to, and a new cell finishes the previous one,
// splits the outputs where the naming asks for it and keeps the cell times.
// Also the cell tracker's own lists.
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
#include "platform/file_io.h"
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

// More VOB ids or indexes than these cannot be told apart by the stream table
// anyway; the counters stop growing there.
constexpr uint32_t kMaxCountedVobId = 65535;
constexpr uint32_t kMaxCountedIndex = 9;

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

void TCellTracker::AddVobId(uint32_t Vob) {
  if (Vob == 0 || std::find(VobIdList.begin(), VobIdList.end(), Vob) != VobIdList.end()) return;
  VobIdList.push_back(Vob);
}

void TCellTracker::AddAngleCell(uint32_t Vob, uint32_t Angle) {
  for (const auto& a : AngleCells)
    if (a.AngleNumber == Angle) return;
  AngleCells.push_back({Vob, Angle});
}

bool TCellTracker::HasAngleCell(uint32_t Vob, uint32_t Angle) const {
  for (const auto& a : AngleCells)
    if (a.VobId == Vob && a.AngleNumber == Angle) return true;
  return false;
}

void TCellTracker::AddVobOnce(uint32_t Vob) {
  if (!HasVob(Vob)) VobList.push_back(Vob);
}

bool TCellTracker::HasVob(uint32_t Vob) const {
  return std::find(VobList.begin(), VobList.end(), Vob) != VobList.end();
}

void TCellTracker::AddCellTime(uint32_t Vob, uint32_t CellIdArg, uint8_t Seamless, TTimeCode Start) {
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

void TCellTracker::CountVobCell(uint32_t Vob, uint32_t Index) {
  if (Vob > kMaxCountedVobId || Index > kMaxCountedIndex) return;
  if (VobCellCounters.size() <= Vob) VobCellCounters.resize(Vob + 1);
  auto& counters = VobCellCounters[Vob];
  if (counters.size() <= Index) counters.resize(Index + 1, 0);
  ++counters[Index];
}

uint32_t TCellTracker::VobCellCounter(uint32_t Vob, uint32_t Index) const {
  if (Vob >= VobCellCounters.size() || Index >= VobCellCounters[Vob].size()) return 0;
  return VobCellCounters[Vob][Index];
}

bool TIFOData::CutsAudioAtVobStart() const {
  const core::DemuxSettings& settings = Settings;
  if (IsTitleDomain()) return settings.Titles == core::TitleMode::Pts || Plan.ByCell;
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

void TCellTracker::DecodeNavRecord(const uint8_t* Data, int32_t Length) {
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
  if (Cells.PgcVobId == 0 && Cells.PgcCellId == 0) {
    Cells.Cell.FirstVideoSeen = false;
    Cells.Cell.CellFirstVideoMs = 0;
    Cells.Delays.SubpictureMs = 0;
    Cells.CellTimes.clear();
    Cells.Cell.PreviousCellStart = Cells.Cell.CurrentCellStart = 0;
  }
  Cells.SavedNavRecord = Cells.NavRecord;
  Cells.DecodeNavRecord(Data, Length);
  Cells.Cell.VobuStart = Cells.NavRecord.VobuStart;
  Cells.Cell.VobuEnd = Cells.NavRecord.VobuEnd;
  if (Cells.AngleNumber < 2) ShowCellElapsedTime(Cells.NavRecord.CellElapsed);
}

// ---- data search: the cell in hand ----

void TIFOData::BeginCell() {
  if (Cells.VobId == Cells.PgcVobId && Cells.CellNamingNow == Cells.CellNaming && !Cells.Cell.ChangePending) return;
  ChangeCell();
  Cells.Cell.PreviousCellStart = Cells.Cell.CurrentCellStart = 0;
  Cells.Cell.CellFirstVideoMs = Scout ? Scout->CellStartMs(Cells.VobId, 1) : 0;
}

void TIFOData::ChangeCell() {
  Outputs.ResetSubpictureUnits();
  InsertLastCellToTrackFolder();
  Cells.CellTimes.clear();
  Cells.Cell.FirstVideoSeen = false;
  disc::TPaletteColours colours{};
  disc::PaletteYCrCbToRGB(Env.Disc, Cells.CurrentPgc.Pgc, colours);
  int32_t index = disc::FindPalette(Env.Reg.Palettes, colours);
  if (index >= 0)
    ++Env.Reg.Palettes.Items[static_cast<size_t>(index)].UseCount;
  else
    index = disc::AddPalette(Env.Reg.Palettes, colours);
  Cells.Cell.PaletteIndex = index;
  Outputs.StreamTable.MarkAllNew();
  Cells.Cell.CellFirstVideoMs = Scout ? Scout->CellStartMs(Cells.VobId, Cells.CellId) : 0;
}

void TIFOData::RefreshNamePart() {
  if (Outputs.NamedFor(Cells.VobId, Cells.CellId)) return;
  Outputs.SetNamePart(BuildNamePart(Cells.VobId, Cells.CellId), Cells.VobId, Cells.CellId);
}

void TIFOData::ProcessNavPack(const uint8_t* Data, int32_t Length) {
  const bool titles = IsTitleDomain();  // of the context, before the lookup below
  Cells.PreviousPgc = Cells.CurrentPgc;
  FindPgcOfCell(Cells.VobId, Cells.CellId, Cells.CurrentPgc);

  // Angle: the chain says whether the cell lies in an angle block; the scout
  // says which angle its VOB is.
  Cells.AngleCopy = Cells.AngleNumber;
  const int32_t a = disc::CellAngleNumber(Cells.VobId, Cells.CurrentPgc.Pgc, Cells.CurrentPgc.PgcKind);
  Cells.AngleNumber =
      (a == -1 || a > 0) ? static_cast<int32_t>(Scout ? Scout->VobAngleNumber(Cells.VobId) : 0) : 0;

  Cells.Cell.SavedInterleavedCellCount = Cells.Cell.InterleavedCellCount;
  Cells.Cell.InterleavedCellCount = 0;
  Cells.Cell.ChangePending = false;
  if (Cells.AngleNumber <= 0) {
    Cells.Cell.InterleavedCellCount = Scout ? Scout->InterleavedCellCount(Cells.VobId) : 0;
    if (Cells.Cell.InterleavedCellCount > 0) {
      Cells.AddVobOnce(Cells.VobId);
      Cells.CellNamingNow = 1;
      Cells.CountVobCell(Cells.VobId, 1);
      if (Cells.VobCellCounter(Cells.VobId, 1) == 1 || Cells.Cell.SavedInterleavedCellCount == 0)
        Cells.Cell.ChangePending = true;
    }
  } else {
    Cells.CountVobCell(Cells.VobId, static_cast<uint32_t>(Cells.AngleNumber));
    Cells.AddAngleCell(Cells.VobId, static_cast<uint32_t>(Cells.AngleNumber));
    Cells.CellNamingNow = 1;
    if (Cells.PgcCellId == 0 || Cells.AngleCopy == 0 ||
        (Cells.AngleCopy > 0 && Cells.VobCellCounter(Cells.VobId, 1) == 1))
      Cells.Cell.ChangePending = true;
  }

  const bool sameCell = Cells.VobId == Cells.PgcVobId && Cells.CellId == Cells.PgcCellId;
  if ((sameCell || Cells.AngleNumber != 0) && !Cells.Cell.ChangePending) {
    Cells.CellNamingNow = (titles && Plan.ByCell) ? 0 : 1;
    RefreshNamePart();
  } else {
    Cells.Cell.CellChanged = true;
    if (CutsAudioAtVobStart() && Cells.CellId == 1) {
      Cells.VobStartMs = Cells.PgcVobId == 0 ? 0 : TicksToMs(Cells.NavRecord.VobuStart);
      Outputs.PendingCuts.clear();
      AudioRouter->OnVobStart(*this);
    }
    Cells.CellNaming = Cells.CellNamingNow;
    Cells.CellNamingNow = (titles && Plan.ByCell) ? 0 : 1;
    if ((titles ? Settings.Titles : Settings.Menus) == core::TitleMode::None) Cells.CellNamingNow = 0;
    if (!titles || Cells.CellNamingNow == 0) Outputs.ResetSubpictureUnits();

    const bool vobChanged = Cells.VobId != Cells.PgcVobId;
    if (Cells.CellNamingNow == 1) {
      BeginCell();
      if (vobChanged || Cells.CellNamingNow != Cells.CellNaming) Cells.CellStartTime = {};
      Cells.Cell.CurrentCellStart = Cells.CellId >= 2 ? Cells.NavRecord.VobuStart : 0;
      const int64_t diff = static_cast<int64_t>(Cells.Cell.CurrentCellStart) - Cells.Cell.PreviousCellStart;
      if (diff > 0)
        Cells.CellStartTime =
            core::AddTimecodes(Env.Disc.FrameRate, Cells.CellStartTime,
                               core::MillisecondsToTimecode(core::TicksToMs(diff), Env.Disc.FrameRate));
      const uint8_t seamless =
          Cells.AngleNumber > 0
              ? (Scout ? Scout->VobAngleFlag(Cells.VobId) : 0)
              : (disc::IsCellSeamless(Cells.VobId, Cells.CellId, Cells.CurrentPgc.Pgc, false) ? 1 : 0);
      Cells.AddCellTime(Cells.VobId, Cells.CellId, seamless, Cells.CellStartTime);
      Cells.Cell.PreviousCellStart = Cells.CellId != 1 ? Cells.Cell.CurrentCellStart : Cells.NavRecord.VobuStart;
    } else {
      if (vobChanged) Cells.CellStartTime = {};
      ChangeCell();
    }
    RefreshNamePart();
    Cells.PgcVobId = static_cast<uint16_t>(Cells.VobId);
    Cells.PgcCellId = Cells.CellId;
    Env.Run.InfoForm.AddLog(core::kLogInfo, std::string(core::msg::FoundVobID) + std::to_string(Cells.PgcVobId) +
                                                "  CellID: " + std::to_string(Cells.PgcCellId));
  }

  uint8_t elapsed[4] = {};
  if (Length >= kDsiCellElapsed + 4) std::copy_n(Data + kDsiCellElapsed, 4, elapsed);
  Cells.CellTime = disc::BcdPlaybackTimeToTimecode(elapsed);
  if (Cells.NavRecord.HighlightStatus == kHighlightNew)
    BuildHighlights(Cells.NavRecord, Plan.DomainIndex, Cells.CellId, Cells.VobId);
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
  if (!StartsHighlight(R) || settings.Subpictures == core::SupMode::FilesOnly || Env.Run.WriteStopped) return;
  const THighlightKey key{CellIdArg, Vob, R.HighlightStart, R.HighlightEnd};
  if (std::find(Cells.Highlights.begin(), Cells.Highlights.end(), key) != Cells.Highlights.end()) {
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
  item.SourceNumber = Cells.NavPackCount;
  const std::string file = Outputs.OutputBase + Outputs.NamePart + ".hlt2";
  if (Env.Run.WritesOverSource(file)) {
    Outputs.OutputFailed = true;
    return;
  }
  std::string noFolder;
  core::MakeFolders(platform::ExtractFilePath(file), &noFolder);
  TOutputSet::FirstTouch(Env.State, file);
  Outputs.AddNamedOutput(file);
  if (int err = 0; !disc::WriteTrackRecordFile(file, item, true, &err)) {
    // The file would miss this highlight, and every later one would fail alike:
    // the run stops as at any failed write.
    Env.Run.LogError(std::string(core::msg::CanNotOpenFile) + file +
                     (noFolder.empty() ? platform::OpenFailureReason(file, err)
                                       : ": can not create its folder" + noFolder));
    Env.Run.StopForFailedWrite(file);
    Outputs.OutputFailed = true;
    return;
  }
  Cells.Highlights.push_back(key);
}

// ---- per timed packet ----

void TIFOData::FinishCell(uint8_t Sid, uint8_t Sub) {
  if (IsVideoStream(Sid, Sub) && !Cells.Cell.FirstVideoSeen) {
    Cells.Cell.CellFirstVideoMs = LastPtsMs;
    Cells.Cell.FirstVideoSeen = true;
    Cells.Cell.NavPackTimeMs = Cells.Cell.InterleavedCellCount > 0 && Scout ? Scout->CellStartMs(Cells.VobId, 1)
                                                                             : TicksToMs(Cells.NavRecord.VobuStart);
  }
  if (LastPtsMs == 0) return;
  if (IsSubpictureStream(Sid, Sub)) {
    if ((Cells.Cell.InterleavedCellCount > 0 || Cells.AngleNumber > 0) && Plan.ByCell && Scout)
      Cells.Cell.NavPackTimeMs = Scout->CellStartMs(Cells.VobId, Cells.CellId);
    Cells.Delays.SubpictureMs = AudioDelay(false);
    ++Cells.Cell.SubpicPtsCount;
    Env.Run.StatusBar1.SetText(2, std::string(core::msg::SubPicPTSCounter) + std::to_string(Cells.Cell.SubpicPtsCount) +
                                      "/" + std::to_string(Env.State.SubpicUnitCount));
    return;
  }
  if (IsAc3Stream(Sid, Sub))
    Cells.Delays.Ac3Ms = AudioDelay(true);
  else if (IsDtsStream(Sid, Sub))
    Cells.Delays.DtsMs = AudioDelay(true);
  else if (IsLpcmStream(Sid, Sub))
    Cells.Delays.LpcmMs = AudioDelay(true);
  else if (IsMpegAudioStream(Sid, Sub))
    Cells.Delays.MpaMs = AudioDelay(true);
}

}  // namespace tess::demux
