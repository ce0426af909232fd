#include "disc/highlights.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <cstring>
#include <limits>
#include <span>
#include <utility>

#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "core/byte_order.h"
#include "disc/script_model.h"
#include "platform/file_io.h"
#include "platform/paths.h"

namespace tess::disc {

namespace {

using core::ReadLE32;
using core::WriteLE32;

void WriteRect(uint8_t* p, const TButtonRect& r) {
  WriteLE32(p + 0, static_cast<uint32_t>(r.XStart));
  WriteLE32(p + 4, static_cast<uint32_t>(r.YStart));
  WriteLE32(p + 8, static_cast<uint32_t>(r.XEnd));
  WriteLE32(p + 12, static_cast<uint32_t>(r.YEnd));
}

TButtonRect ReadRect(const uint8_t* p) {
  return {static_cast<int32_t>(ReadLE32(p)), static_cast<int32_t>(ReadLE32(p + 4)),
          static_cast<int32_t>(ReadLE32(p + 8)), static_cast<int32_t>(ReadLE32(p + 12))};
}

size_t ButtonsWritten(const THighlightPlayItem& Item) {
  return std::min<size_t>(Item.Buttons.size(), std::numeric_limits<uint8_t>::max());
}

const TAngleBlockList* ListOfDomain(const RunRegistries& Reg, int32_t Domain) {
  if (Domain == kDomainMenus) return &Reg.AngleLists.Menus;
  if (Domain == kDomainTitles) return &Reg.AngleLists.Titles;
  return nullptr;
}

const TAngleBlockEntry* FindAngleEntry(const RunRegistries& Reg, int32_t Domain, uint32_t VobId) {
  const TAngleBlockList* list = ListOfDomain(Reg, Domain);
  if (!list) return nullptr;
  for (const TAngleBlockEntry& e : *list)
    if (e.VobId == VobId) return &e;
  return nullptr;
}

// One chain's cells into the angle-block list being built.
void AddChainToAngleList(const TPGC& Pgc, TAngleBlockList& List, std::vector<std::pair<uint32_t, uint32_t>>& Seen) {
  const size_t n = std::min(Pgc.CellPlayback.size(), Pgc.CellPositions.size());
  int32_t position = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t category = Pgc.CellPlayback[i].Category[0];
    const int mode = category >> 6;
    position = mode == 0 ? 0 : mode == 1 ? 1 : position + 1;
    const uint32_t vob = Pgc.CellPositions[i].VobId;
    const uint32_t cell = Pgc.CellPositions[i].CellId;
    const std::pair<uint32_t, uint32_t> key{vob, cell};
    if (std::find(Seen.begin(), Seen.end(), key) != Seen.end()) continue;
    Seen.push_back(key);
    const bool known = std::any_of(List.begin(), List.end(), [vob](const TAngleBlockEntry& e) { return e.VobId == vob; });
    if (!known) {
      TAngleBlockEntry e;
      e.VobId = vob;
      e.BlockPosition = position;
      List.push_back(std::move(e));
    }
    for (TAngleBlockEntry& e : List)
      if (e.VobId == vob) e.Cells.push_back({cell, static_cast<uint8_t>((category >> 3) & 1), position});
  }
}

void FinishAngleList(TAngleBlockList& List) {
  for (TAngleBlockEntry& e : List) {
    const bool anySeamless =
        std::any_of(e.Cells.begin(), e.Cells.end(), [](const TAngleCell& c) { return c.Seamless != 0; });
    e.Seamless = (e.Cells.size() >= 2 && anySeamless) ? 1 : 0;
  }
}

}  // namespace

// ---- items and their bytes ----

void InitHighlightPlayItem(const DiscModel& Disc, THighlightPlayItem& Item) {
  Item = THighlightPlayItem{};
  Item.Rate25 = Disc.FrameRate == 25.0 ? 1 : 0;
  Item.DisplayFlag1 = 0;
  Item.DisplayFlag2 = 2;
  Item.Byte17 = 1;
}

std::array<uint8_t, kHighlightButtonSize> HighlightButtonToBytes(const THighlightButton& B) {
  std::array<uint8_t, kHighlightButtonSize> out{};
  uint8_t* p = out.data();
  WriteLE32(p + 0, B.Number);
  WriteLE32(p + 4, B.ColourSet);
  p[8] = B.AutoAction;
  for (size_t k = 0; k < 3; ++k) WriteRect(p + 9 + 16 * k, B.Rects[k]);
  p[57] = B.Left;
  p[58] = B.Right;
  p[59] = B.Up;
  p[60] = B.Down;
  std::copy(B.Command.begin(), B.Command.end(), p + 61);
  WriteLE32(p + 69, 0);  // name: a text address
  return out;
}

THighlightButton HighlightButtonFromBytes(const uint8_t* p) {
  THighlightButton B;
  B.Number = ReadLE32(p);
  B.ColourSet = ReadLE32(p + 4);
  B.AutoAction = p[8];
  for (size_t k = 0; k < 3; ++k) B.Rects[k] = ReadRect(p + 9 + 16 * k);
  B.Left = p[57];
  B.Right = p[58];
  B.Up = p[59];
  B.Down = p[60];
  std::copy(p + 61, p + 69, B.Command.begin());
  return B;
}

std::array<uint8_t, kHighlightItemSize> HighlightItemToBytes(const THighlightPlayItem& I) {
  std::array<uint8_t, kHighlightItemSize> out{};
  uint8_t* p = out.data();
  p[0] = I.Byte0;
  WriteLE32(p + 1, I.SortKey);
  p[5] = I.Rate25;
  p[6] = I.SegmentByte;
  WriteLE32(p + 7, I.SegmentValue1);
  WriteLE32(p + 11, I.SegmentValue2);
  p[15] = I.DisplayFlag1;
  p[16] = I.DisplayFlag2;
  p[17] = I.Byte17;
  for (size_t t = 0; t < 3; ++t)
    for (size_t k = 0; k < 16; ++k) WriteLE32(p + 18 + 64 * t + 4 * k, I.ColourTables[t][k]);
  p[210] = static_cast<uint8_t>(ButtonsWritten(I));
  WriteLE32(p + 211, 0);  // the button block's address
  WriteLE32(p + 215, static_cast<uint32_t>(I.PictureWidth));
  WriteLE32(p + 219, static_cast<uint32_t>(I.PictureHeight));
  WriteLE32(p + 223, I.Reserved223);
  WriteLE32(p + 227, I.Reserved227);
  WriteLE32(p + 231, I.SelectableButtons);
  WriteLE32(p + 235, I.ForcedSelect);
  WriteLE32(p + 239, I.ForcedActivate);
  WriteLE32(p + 243, static_cast<uint32_t>(I.IFOIndex));
  WriteLE32(p + 247, I.VobId);
  WriteLE32(p + 251, I.CellId);
  WriteLE32(p + 255, 0);  // the segment name's address
  WriteLE32(p + 259, I.StartTime);
  WriteLE32(p + 263, I.EndTime);
  p[267] = I.Matched;
  WriteLE32(p + 268, I.SourceNumber);
  p[272] = I.Marked;
  return out;
}

THighlightPlayItem HighlightItemFromBytes(const uint8_t* p, uint8_t& ButtonCount) {
  THighlightPlayItem I;
  I.Byte0 = p[0];
  I.SortKey = ReadLE32(p + 1);
  I.Rate25 = p[5];
  I.SegmentByte = p[6];
  I.SegmentValue1 = ReadLE32(p + 7);
  I.SegmentValue2 = ReadLE32(p + 11);
  I.DisplayFlag1 = p[15];
  I.DisplayFlag2 = p[16];
  I.Byte17 = p[17];
  for (size_t t = 0; t < 3; ++t)
    for (size_t k = 0; k < 16; ++k) I.ColourTables[t][k] = ReadLE32(p + 18 + 64 * t + 4 * k);
  ButtonCount = p[210];
  I.PictureWidth = static_cast<int32_t>(ReadLE32(p + 215));
  I.PictureHeight = static_cast<int32_t>(ReadLE32(p + 219));
  I.Reserved223 = ReadLE32(p + 223);
  I.Reserved227 = ReadLE32(p + 227);
  I.SelectableButtons = ReadLE32(p + 231);
  I.ForcedSelect = ReadLE32(p + 235);
  I.ForcedActivate = ReadLE32(p + 239);
  I.IFOIndex = static_cast<int32_t>(ReadLE32(p + 243));
  I.VobId = ReadLE32(p + 247);
  I.CellId = ReadLE32(p + 251);
  I.StartTime = ReadLE32(p + 259);
  I.EndTime = ReadLE32(p + 263);
  I.Matched = p[267];
  I.SourceNumber = ReadLE32(p + 268);
  I.Marked = p[272];
  return I;
}

// ---- the ".hlt2" file ----

bool WriteTrackRecordFile(const std::string& FileName, THighlightPlayItem& Item, bool Release, int* Err) {
  std::vector<uint8_t> record;
  const size_t buttons = ButtonsWritten(Item);
  record.reserve(kHighlightItemSize + buttons * kHighlightButtonSize);
  const auto head = HighlightItemToBytes(Item);
  record.insert(record.end(), head.begin(), head.end());
  for (size_t b = 0; b < buttons; ++b) {
    const auto bytes = HighlightButtonToBytes(Item.Buttons[b]);
    record.insert(record.end(), bytes.begin(), bytes.end());
  }

  bool created = false;
  int fd = ::open(FileName.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(FileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    created = fd >= 0;
  }
  int err = fd < 0 ? errno : 0;
  if (Err) *Err = err;
  if (fd < 0) return false;

  bool ok = false;
  struct stat st {};
  if (::fstat(fd, &st) != 0) err = errno;
  if (err == 0) {
    off_t oldSize = st.st_size;
    uint32_t count = 0;
    uint8_t countBytes[4] = {0, 0, 0, 0};
    bool ready = true;
    if (oldSize < 4) {
      // Not a highlight file yet (new or cut short before its count): start it over.
      ready = ::ftruncate(fd, 0) == 0 && platform::PWriteFull(fd, countBytes, 4, 0);
      if (!ready) err = errno;
      oldSize = 4;
    } else {
      ready = platform::PReadFull(fd, countBytes, 4, 0, &err) == 4;
      count = ReadLE32(countBytes);
    }
    if (ready && count == std::numeric_limits<uint32_t>::max()) err = EOVERFLOW;
    if (ready && err == 0 && !platform::PWriteFull(fd, record.data(), record.size(), oldSize)) err = errno;
    if (ready && err == 0) {
      // The count is raised only once the record is complete, so a reader never
      // sees a record that is not there.
      WriteLE32(countBytes, count + 1);
      ok = platform::PWriteFull(fd, countBytes, 4, 0);
      if (!ok) err = errno;
    }
    if (!ok && ::ftruncate(fd, oldSize) != 0) {
      // The partial record stays behind the count; readers stop at the count.
    }
  }
  if (::close(fd) != 0 && ok) {
    err = errno;
    ok = false;
  }
  if (Err) *Err = err;
  if (!ok && created) ::unlink(FileName.c_str());
  if (ok && Release) {
    Item.Buttons.clear();
    Item.Buttons.shrink_to_fit();
  }
  return ok;
}

bool LoadTrackRecordFile(core::RunContext& Run, TVideoTrack& Track, const std::string& FileName) {
  std::error_code ec;
  const std::string shortName = platform::ExtractFileName(FileName);
  if (!std::filesystem::is_regular_file(FileName, ec)) {
    // One that is there but cannot be looked at costs the track its highlights.
    if (const int err = platform::LookUpError(FileName); err != 0) {
      Run.Log(core::kLogWarning, "Can not open file " + FileName + platform::ErrorReason(err), platform::kColourRed);
      Run.NoteSkipped(shortName + platform::ErrorReason(err) + "; its highlights are left out");
    }
    return false;
  }
  std::string data;
  int err = 0;
  bool opened = false;
  if (!platform::ReadWholeFile(FileName, data, &err, &opened)) {
    // The track would lose its highlights without a word: the run fails and
    // names the file, which is kept.
    Run.Log(core::kLogWarning,
            (opened ? "Read error in highlight file " + shortName : "Can not open file " + FileName) + ": " +
                std::strerror(err),
            platform::kColourRed);
    if (opened)
      Run.NoteReadError(FileName);
    else
      Run.NoteSkipped(shortName + ": it could not be opened; its highlights are left out");
    return false;
  }
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  auto truncated = [&](uint64_t count) {
    Run.Log(core::kLogWarning, "Highlight file " + shortName + " is truncated: " + std::to_string(count) + " records expected in " +
                    std::to_string(bytes.size()) + " bytes; the file is kept",
             255);
    return false;
  };
  if (bytes.size() < 4) return truncated(0);
  const uint64_t count = ReadLE32(bytes.data());
  // Every record takes at least its 273 bytes: a count that cannot fit is refused
  // before anything is allocated for it.
  if (count > (bytes.size() - 4) / kHighlightItemSize) return truncated(count);
  std::vector<THighlightPlayItem> items;
  items.reserve(static_cast<size_t>(count));
  size_t pos = 4;
  for (uint64_t i = 0; i < count; ++i) {
    if (bytes.size() - pos < kHighlightItemSize) return truncated(count);
    uint8_t n = 0;
    THighlightPlayItem item = HighlightItemFromBytes(bytes.data() + pos, n);
    pos += kHighlightItemSize;
    if (bytes.size() - pos < static_cast<size_t>(n) * kHighlightButtonSize) return truncated(count);
    item.Buttons.reserve(n);
    for (size_t b = 0; b < n; ++b) {
      item.Buttons.push_back(HighlightButtonFromBytes(bytes.data() + pos));
      pos += kHighlightButtonSize;
    }
    items.push_back(std::move(item));
  }
  if (pos != bytes.size())
    Run.Log(core::kLogWarning, "Highlight file " + shortName + ": " + std::to_string(bytes.size() - pos) +
                    " bytes after the last record are ignored");
  if (Track.HighlightStreams.empty()) Track.HighlightStreams.emplace_back();
  Track.HighlightStreams[0].Items = std::move(items);
  Run.RemoveOwnFile(FileName);
  return true;
}

void MatchHighlightsToSegments(const RunRegistries& Reg, TVideoTrack& Track) {
  if (Track.HighlightStreams.empty()) return;
  for (THighlightPlayItem& h : Track.HighlightStreams[0].Items) {
    const TSubPictureSegment* match = nullptr;
    for (const TSubPictureStream& s : Track.SubPictureStreams) {
      for (const TSubPictureSegment& seg : s.Segments)
        if (seg.VobId == h.VobId && seg.CellId == h.CellId && seg.TimeValue >= h.StartTime &&
            seg.TimeValue <= h.EndTime) {
          match = &seg;
          break;
        }
      if (match) break;
    }
    if (!match) {
      h.Matched = 0;
      for (const TSubPictureStream& s : Track.SubPictureStreams) {
        for (const TSubPictureSegment& seg : s.Segments)
          if (seg.VobId == h.VobId && seg.CellId == h.CellId && seg.SourceNumber == h.SourceNumber) {
            match = &seg;
            break;
          }
        if (match) break;
      }
    }
    if (!match) continue;
    h.SortKey = match->SortKey;
    h.SegmentByte = match->Byte8;
    h.SegmentValue1 = match->Value10;
    h.SegmentValue2 = match->Duration.ToUInt32();
    h.SegmentName = match->Name;
    h.PictureWidth = Reg.PictureWidth;
    h.PictureHeight = Reg.PictureHeight;
    for (THighlightButton& b : h.Buttons) b.Name = match->Name + "_b_";
    h.Matched = 1;
  }
}

uint32_t PoolString(RunRegistries& Reg, std::string_view Text) { return Reg.StringPool.Add(Text); }

// ---- name lists ----

void ClearVTSNameLists(const DiscModel& Disc, RunRegistries& Reg) {
  const size_t want = static_cast<size_t>(std::max(Disc.TitleSetCount, 0)) + 1;
  if (Reg.TitleNameLists.size() < want) Reg.TitleNameLists.resize(want);
  for (TNameList& l : Reg.TitleNameLists) l.Clear();
}

void AddVTSName(const DiscModel& Disc, RunRegistries& Reg, std::string_view Name, int32_t Index) {
  if (Index < 1 || Index > Disc.TitleSetCount) return;
  if (Reg.TitleNameLists.size() <= static_cast<size_t>(Index)) Reg.TitleNameLists.resize(static_cast<size_t>(Index) + 1);
  Reg.TitleNameLists[static_cast<size_t>(Index)].Add(Name);
}

bool VTSNameListsContain(const DiscModel& Disc, const RunRegistries& Reg, std::string_view Name) {
  const size_t last = std::min(Reg.TitleNameLists.size(), static_cast<size_t>(std::max(Disc.TitleSetCount, 0)) + 1);
  for (size_t i = 1; i < last; ++i)
    if (Reg.TitleNameLists[i].Contains(Name)) return true;
  return false;
}

std::string FindVTSName(const DiscModel& Disc, const RunRegistries& Reg, std::string_view Name) {
  const size_t last = std::min(Reg.TitleNameLists.size(), static_cast<size_t>(std::max(Disc.TitleSetCount, 0)) + 1);
  for (size_t i = 1; i < last; ++i) {
    const int k = Reg.TitleNameLists[i].IndexOf(Name);
    if (k >= 0) return Reg.TitleNameLists[i][static_cast<size_t>(k)];
  }
  return {};
}

bool IsListedFileName(const RunRegistries& Reg, std::string_view FileName) {
  // A ".pcm" output matches its ".wav" registration. Other endings count:
  // AC-3 and MPEG audio of one id share their stem ("_c0.ac3", "_c0.mpa"), and
  // cutting the ending off would keep the second one out of the registry.
  auto key = [](std::string_view s) {
    std::string k = platform::ToLowerAscii(s);
    if (k.size() > 4 && k.ends_with(".pcm")) k.replace(k.size() - 3, 3, "wav");
    return k;
  };
  const std::string wanted = key(FileName);
  for (const TAudioStreamEntry& e : Reg.AudioStreams)
    if (key(e.Path) == wanted) return true;
  return false;
}

// ---- palette list ----

int32_t FindPalette(const TPalettes& List, const TPaletteColours& Colours) {
  for (size_t i = 0; i < List.Items.size(); ++i)
    if (List.Items[i].Colours == Colours) return static_cast<int32_t>(i);
  return -1;
}

int32_t AddPalette(TPalettes& List, const TPaletteColours& Colours) {
  List.Items.push_back({Colours, 1});
  return static_cast<int32_t>(List.Items.size()) - 1;
}

int32_t MostUsedPalette(const TPalettes& List) {
  int32_t best = -1;
  for (size_t i = 0; i < List.Items.size(); ++i)
    if (best < 0 || List.Items[i].UseCount > List.Items[static_cast<size_t>(best)].UseCount)
      best = static_cast<int32_t>(i);
  return best;
}

// ---- angle-block lists ----

void BuildMenuAngleList(const DiscModel& Disc, RunRegistries& Reg, int32_t IFOIndex) {
  TAngleBlockList& list = Reg.AngleLists.Menus;
  list.clear();
  if (IFOIndex < 0 || static_cast<size_t>(IFOIndex) >= Disc.IFOFiles.size()) return;
  std::vector<std::pair<uint32_t, uint32_t>> seen;
  for (const TLanguageUnit& unit : Disc.IFOFiles[static_cast<size_t>(IFOIndex)].MenuPGCI_UT.Units)
    for (const TMenuPGCEntry& e : unit.PGCs)
      if (e.PGC) AddChainToAngleList(*e.PGC, list, seen);
  FinishAngleList(list);
}

void BuildTitleAngleList(const DiscModel& Disc, RunRegistries& Reg, int32_t IFOIndex) {
  TAngleBlockList& list = Reg.AngleLists.Titles;
  list.clear();
  if (IFOIndex < 0 || static_cast<size_t>(IFOIndex) >= Disc.IFOFiles.size()) return;
  std::vector<std::pair<uint32_t, uint32_t>> seen;
  for (const TTitlePGCEntry& e : Disc.IFOFiles[static_cast<size_t>(IFOIndex)].VTS_PGCIT.PGCs)
    if (e.PGC) AddChainToAngleList(*e.PGC, list, seen);
  FinishAngleList(list);
}

bool IsAngleVob(const RunRegistries& Reg, int32_t Domain, uint32_t VobId) {
  const TAngleBlockEntry* e = FindAngleEntry(Reg, Domain, VobId);
  return e && e->Seamless != 0;
}

int32_t GetVobAngleCount(const RunRegistries& Reg, int32_t Domain, uint32_t VobId) {
  const TAngleBlockEntry* e = FindAngleEntry(Reg, Domain, VobId);
  return e ? static_cast<int32_t>(e->Cells.size()) : 0;
}

}  // namespace tess::disc
