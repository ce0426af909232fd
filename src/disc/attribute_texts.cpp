#include "disc/attribute_texts.h"

#include <algorithm>
#include <utility>

#include "core/run_context.h"
#include "disc/disc_model.h"
#include "core/messages.h"
#include "disc/script_model.h"
#include "platform/ui_models.h"

namespace tess::disc {

namespace {

const TIFOFile* IfoAt(const DiscModel& Disc, int32_t Index) {
  if (Index < 0 || static_cast<size_t>(Index) >= Disc.IFOFiles.size()) return nullptr;
  return &Disc.IFOFiles[static_cast<size_t>(Index)];
}

// The four bytes of a subpicture control word in disc order (mode 1 first).
std::array<uint8_t, 4> ControlBytes(uint32_t Word) {
  return {static_cast<uint8_t>(Word >> 24), static_cast<uint8_t>(Word >> 16), static_cast<uint8_t>(Word >> 8),
          static_cast<uint8_t>(Word)};
}

template <typename F>
void ForEachMenuChain(const TIFOFile& File, F&& Visit) {
  for (const TLanguageUnit& unit : File.MenuPGCI_UT.Units)
    for (const TMenuPGCEntry& e : unit.PGCs)
      if (e.PGC) Visit(*e.PGC);
}

template <typename F>
void ForEachTitleChain(const TIFOFile& File, F&& Visit) {
  for (const TTitlePGCEntry& e : File.VTS_PGCIT.PGCs)
    if (e.PGC) Visit(*e.PGC);
}

// The language code word (first character in the low byte) of bytes 2..3 of an
// attribute entry at Offset of a table of Size bytes; 0 when it lies outside.
uint16_t AttrLanguageWord(const uint8_t* Table, size_t Size, size_t Offset) {
  if (Offset + 4 > Size) return 0;
  return static_cast<uint16_t>(Table[Offset + 2] | (Table[Offset + 3] << 8));
}

}  // namespace

std::string SubpicAttributeLanguage(const DiscModel& Disc, int32_t TitleSetIndex, bool Titles, int32_t StreamIndex) {
  const TIFOFile* f = IfoAt(Disc, TitleSetIndex);
  if (!f || StreamIndex < 1 || StreamIndex > 32) return "Not Specified";
  const bool titleSet = IsTitleSetIndex(Disc, TitleSetIndex);
  const size_t base = Titles && titleSet ? kTitleSubpicAttrOffset : kMenuSubpicAttrOffset;
  const size_t offset = base + kSubpicAttrSize * static_cast<size_t>(StreamIndex - 1);
  const uint16_t code = titleSet ? AttrLanguageWord(f->VTSI_MAT.data(), f->VTSI_MAT.size(), offset)
                                 : AttrLanguageWord(f->VMGI_MAT.data(), f->VMGI_MAT.size(), offset);
  return LanguageNameFromWord(code, false);
}

uint16_t VideoAttrWordAt(const uint8_t* Table, size_t Offset) {
  return static_cast<uint16_t>(Table[Offset] | (Table[Offset + 1] << 8));
}

int32_t DisplayClassOfAttr(uint16_t Attr) {
  const bool bit1 = (Attr & 0x02) != 0;
  const bool bit0 = (Attr & 0x01) != 0;
  if (bit1 && !bit0) return 1;
  if (bit1 && bit0) return 2;
  if (!bit1 && bit0) return 3;
  return 4;
}

// A title set given alone sits at record 0 and reads as a title set there.
int32_t VTSTitleDisplayMode(const DiscModel& Disc, int32_t TitleSetIndex) {
  if (!IsTitleSetIndex(Disc, TitleSetIndex)) return VTSMenuDisplayMode(Disc, 0);
  const TIFOFile* f = IfoAt(Disc, TitleSetIndex);
  if (!f) return DisplayClassOfAttr(0);
  return DisplayClassOfAttr(VideoAttrWordAt(f->VTSI_MAT.data(), vtsi::TitleVideoAttr));
}

int32_t VTSMenuDisplayMode(const DiscModel& Disc, int32_t TitleSetIndex) {
  if (!IsTitleSetIndex(Disc, TitleSetIndex)) {
    const TIFOFile* vmg = IfoAt(Disc, 0);
    return DisplayClassOfAttr(vmg ? VideoAttrWordAt(vmg->VMGI_MAT.data(), vmgi::MenuVideoAttr) : 0);
  }
  const TIFOFile* f = IfoAt(Disc, TitleSetIndex);
  if (!f) return DisplayClassOfAttr(0);
  return DisplayClassOfAttr(VideoAttrWordAt(f->VTSI_MAT.data(), vtsi::MenuVideoAttr));
}

namespace {

// Combinations of display class and mode that no stream can have.
bool ImpossibleClassMode(int32_t Class, int32_t Mode) {
  return (Class == 1 && (Mode == 1 || Mode == 4)) || (Class == 2 && Mode != 1) ||
         ((Class == 3 || Class == 4) && Mode == 1);
}

// The decoding number of stream index StreamIndex in Mode from its control
// bytes, by the mapping steps that do not depend on the display class; -1 when
// the stream has none there. Class 4 with mode 4 refuses a stream whose wide and
// letterbox bytes agree (CheckPanScanPair).
int32_t MapControlBytes(const std::array<uint8_t, 4>& b, int32_t StreamIndex, int32_t Mode, bool CheckPanScanPair) {
  const int32_t v = (Mode >= 1 && Mode <= 4) ? (b[static_cast<size_t>(Mode - 1)] & 63) : 63;
  if (b[0] != 0 && StreamIndex == 1) return v;
  if (CheckPanScanPair && b[1] == b[2]) return -1;
  if (v != 0) return v;
  if (b[0] != 0 && (b[0] & 63) == 0 && b[1] == 0 && b[2] == 0 && b[3] == 0) return 0;
  return -1;
}

}  // namespace

int32_t SubpicStreamNumberOf(core::RunContext& Run, int32_t StreamIndex, const TPGC* Pgc, int32_t Class,
                             int32_t Mode) {
  // Decided before the chain is read: such pairs are no reading error.
  if (ImpossibleClassMode(Class, Mode)) return -1;
  if (!Pgc) {
    if (Run.ShowErrorMsg) {
      if (Run.Prompt)
        Run.Prompt->Inform("Debug Error #12-2003", core::msg::Error);
      else
        Run.Log(core::kLogWarning, "Debug Error #12-2003", platform::kColourRed);
    }
    return -1;
  }
  if (StreamIndex < 1 || StreamIndex > 32) return -1;
  const auto b = ControlBytes(Pgc->SubpicControl[static_cast<size_t>(StreamIndex - 1)]);
  return MapControlBytes(b, StreamIndex, Mode, Class == 4 && Mode == 4);
}

int32_t AudioStreamNumberOf(int32_t StreamIndex, const TPGC* Pgc) {
  if (!Pgc || StreamIndex < 1 || StreamIndex > 8) return -1;
  const uint16_t word = Pgc->AudioControl[static_cast<size_t>(StreamIndex - 1)];
  if (word == 0) return -1;
  return (word >> 8) & 7;
}

int32_t TitleAudioStreamNumber(const DiscModel& Disc, int32_t StreamIndex, int32_t TitleSetIndex) {
  const TIFOFile* f = IfoAt(Disc, TitleSetIndex);
  if (!f) return -1;
  int32_t result = -1;
  ForEachTitleChain(*f, [&](const TPGC& pgc) {
    if (result < 0) result = AudioStreamNumberOf(StreamIndex, &pgc);
  });
  return result;
}

int32_t MenuAudioStreamNumber(const DiscModel& Disc, int32_t StreamIndex, int32_t TitleSetIndex) {
  const TIFOFile* f = IfoAt(Disc, TitleSetIndex);
  if (!f) return -1;
  int32_t result = -1;
  ForEachMenuChain(*f, [&](const TPGC& pgc) {
    if (result < 0) result = AudioStreamNumberOf(StreamIndex, &pgc);
  });
  return result;
}

int32_t ChapterOfProgram(const DiscModel& Disc, int32_t TitleSetIndex, int32_t ChainNumber, int32_t ProgramNumber,
                         int32_t TitleNumber) {
  if (TitleSetIndex == 0) return 0;
  const TIFOFile* f = IfoAt(Disc, TitleSetIndex);
  if (!f) return 0;
  const TPartOfTitleTable& ptt = f->T_VTS_PTT_SRPT;
  if (TitleNumber < 1 || static_cast<size_t>(TitleNumber) > ptt.TitleFirstIndex.size()) return 0;
  for (size_t i = 0; i < ptt.Entries.size(); ++i) {
    if (ptt.Entries[i].PGCNumber == ChainNumber && ptt.Entries[i].ProgramNumber == ProgramNumber)
      return static_cast<int32_t>(i + 1) - ptt.TitleFirstIndex[static_cast<size_t>(TitleNumber - 1)];
  }
  return 0;
}

int32_t ChainNumberInTitle(const DiscModel& Disc, int32_t TitleSetIndex, int32_t TitleNumber, int32_t ChainIndex) {
  const TIFOFile* f = IfoAt(Disc, TitleSetIndex);
  if (!f || ChainIndex < 0) return 0;
  const auto& chains = f->VTS_PGCIT.PGCs;
  const size_t last = std::min(chains.size(), static_cast<size_t>(ChainIndex) + 1);
  int32_t n = 0;
  for (size_t i = 0; i < last; ++i)
    if ((chains[i].Category & 127) == TitleNumber) ++n;
  return n;
}

void SubpicStreamIdsText(core::RunContext& Run, const DiscModel& Disc, int32_t StreamIndex, int32_t TitleSetIndex, std::string& Text) {
  Text.clear();
  const TIFOFile* f = IfoAt(Disc, TitleSetIndex);
  if (!f) return;
  const int32_t cls = VTSTitleDisplayMode(Disc, TitleSetIndex);
  std::vector<int32_t> seen;
  ForEachTitleChain(*f, [&](const TPGC& pgc) {
    for (int32_t mode = 1; mode <= 4; ++mode) {
      const int32_t n = SubpicStreamNumberOf(Run, StreamIndex, &pgc, cls, mode);
      if (n < 0 || std::find(seen.begin(), seen.end(), n) != seen.end()) continue;
      seen.push_back(n);
      if (!Text.empty()) Text += ", ";
      Text += "0x" + IntToHexLower(static_cast<uint64_t>(0x20 + n), 2);
    }
  });
}

std::string SubpicStreamLanguageText(core::RunContext& Run, const DiscModel& Disc, int32_t TitleSetIndex, const TPGC* Pgc, int32_t SubpicId) {
  const TIFOFile* f = IfoAt(Disc, TitleSetIndex);
  if (!f || !Pgc) return "Not Specified";
  const int32_t cls = VTSMenuDisplayMode(Disc, TitleSetIndex);
  for (int32_t k = 1; k <= 32; ++k)
    for (int32_t mode = 1; mode <= 4; ++mode)
      if (SubpicStreamNumberOf(Run, k, Pgc, cls, mode) == SubpicId - 0x20)
        return SubpicAttributeLanguage(Disc, TitleSetIndex, false, k);
  return "Not Specified";
}

uint32_t SubpicModeMask(int32_t SubpicId, const TPGC* Pgc) {
  if (!Pgc) return 0;
  uint32_t mask = 0;
  for (int32_t k = 1; k <= static_cast<int32_t>(Pgc->SubpicControl.size()) && k <= 32; ++k) {
    const auto b = ControlBytes(Pgc->SubpicControl[static_cast<size_t>(k - 1)]);
    for (int32_t mode = 1; mode <= 4; ++mode)
      if (MapControlBytes(b, k, mode, false) == SubpicId - 0x20) mask |= 1u << (8 * (4 - mode));
  }
  return mask;
}

int32_t CellAngleNumber(uint32_t EvoId, const TPGC* Pgc, int32_t Kind) {
  if (Kind != 2 || !Pgc) return -1;
  const size_t n = std::min(Pgc->CellPlayback.size(), Pgc->CellPositions.size());
  // The position of a cell inside its angle block: a block starts with mode 1
  // and continues with modes 2 (inner) and 3 (last); mode 0 lies outside.
  int32_t position = 0;
  for (size_t i = 0; i < n; ++i) {
    const int mode = Pgc->CellPlayback[i].Category[0] >> 6;
    if (mode == 0)
      position = 0;
    else if (mode == 1)
      position = 1;
    else
      ++position;
    if (Pgc->CellPositions[i].VobId == EvoId) return position;
  }
  return -1;
}

std::vector<TTimeCode> EvoCellPlaybackTimes(const DiscModel& Disc, int32_t TitleSetIndex, int32_t Kind,
                                            uint32_t EvoId) {
  std::vector<TTimeCode> times;
  const TIFOFile* f = IfoAt(Disc, TitleSetIndex);
  if (!f) return times;
  std::vector<std::pair<uint32_t, uint32_t>> counted;
  auto visit = [&](const TPGC& pgc) {
    const size_t n = std::min(pgc.CellPlayback.size(), pgc.CellPositions.size());
    for (size_t i = 0; i < n; ++i) {
      const TCellPosition& pos = pgc.CellPositions[i];
      if (pos.VobId != EvoId) continue;
      const std::pair<uint32_t, uint32_t> key{pos.VobId, pos.CellId};
      if (std::find(counted.begin(), counted.end(), key) != counted.end()) continue;
      counted.push_back(key);
      times.push_back(pgc.CellPlayback[i].PlaybackTime);
    }
  };
  if (Kind == kDomainMenus)
    ForEachMenuChain(*f, visit);
  else if (Kind == kDomainTitles)
    ForEachTitleChain(*f, visit);
  return times;
}

void TitleAudioLanguageName(const DiscModel& Disc, int32_t TitleSetIndex, int32_t AudioIndex, std::string& Text) {
  Text = "Not Specified";
  const TIFOFile* f = IfoAt(Disc, TitleSetIndex);
  if (!f || !IsTitleSetIndex(Disc, TitleSetIndex) || AudioIndex < 1 || AudioIndex > 8) return;
  // Streams are counted 1..8 here, as the other stream lookups of a title set
  // count them.
  const size_t offset = vtsi::TitleAudioAttr + kAudioAttrSize * static_cast<size_t>(AudioIndex);
  if (offset + kAudioAttrSize > f->VTSI_MAT.size()) return;
  Text = LanguageNameFromWord(AttrLanguageWord(f->VTSI_MAT.data(), f->VTSI_MAT.size(), offset), false);
}

int32_t TitleNumberOfChain(const DiscModel& Disc, int32_t ChainNumber, int32_t TitleSetIndex) {
  if (Disc.LooseEvo) return TitleSetIndex;
  const TIFOFile* f = IfoAt(Disc, TitleSetIndex);
  const TIFOFile* vmg = IfoAt(Disc, 0);
  if (!f || !vmg || ChainNumber < 1 || static_cast<size_t>(ChainNumber) > f->VTS_PGCIT.PGCs.size()) return -1;
  const int32_t title = f->VTS_PGCIT.PGCs[static_cast<size_t>(ChainNumber - 1)].Category & 127;
  const auto& entries = vmg->TT_SRPT.Entries;
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].TitleSetNumber == TitleSetIndex && entries[i].TitleNumber == title)
      return static_cast<int32_t>(i + 1);
  return -1;
}

std::string AudioCodingModeText(int32_t Code) {
  static constexpr const char* kTexts[9] = {"Dolby  AC3", "MPEG1     ", "MPEG1  DRC", "MPEG2     ", "Linear PCM",
                                            "LPCM      ", "DTS       ", "SDDS      ", "Other     "};
  return Code >= 0 && Code <= 8 ? kTexts[Code] : std::string();
}

std::string AudioCodeExtensionText(int32_t Code) {
  switch (Code) {
    case 0: return "Not specified";
    case 1: return "Normal captions";
    case 2: return "Audio for visually impaired";
    case 3: return "Director's comments 1";
    case 4: return "Director's comments 2";
    default: return std::to_string(Code);
  }
}

std::string SubpicCodeExtensionText(uint8_t Code) {
  switch (Code & 15) {
    case 0: return "Not specified";
    case 1: return "Caption with normal size character";
    case 2: return "Caption with bigger size character";
    case 3: return "Caption for children";
    case 5: return "Closed Caption with normal size character";
    case 6: return "Closed Caption with bigger size character";
    case 7: return "Closed Caption for children";
    case 9: return "Forced Caption";
    case 13: return "Director's comments with normal size character";
    case 14: return "Director's comments with bigger size character";
    case 15: return "Director's comments for children)";
    default: return "reserved";
  }
}

std::string VideoResolutionText(int32_t TVSystem, int32_t Resolution) {
  static constexpr const char* kNtsc[4] = {"720x480 (NTSC)", "704x480 (NTSC)", "352x480 (NTSC)", "352x240 (NTSC)"};
  static constexpr const char* kPal[4] = {"720x576 (PAL)", "704x576 (PAL)", "352x576 (PAL)", "352x288 (PAL)"};
  if (Resolution < 0 || Resolution > 3) return {};
  if (TVSystem == 0) return kNtsc[Resolution];
  if (TVSystem == 1) return kPal[Resolution];
  return {};
}

void SubpicAttributesReport(platform::GridModel& Grid, const uint8_t* Attr, int32_t StreamNumber) {
  std::string bytes;
  for (size_t i = 0; i < kSubpicAttrSize; ++i) {
    if (i) bytes += "  ";
    bytes += std::to_string(Attr[i]);
  }
  platform::AddInfoGridRow(Grid, "Sub-pic_" + std::to_string(StreamNumber) + ": Sub-picture stream attributes", bytes, "");
  platform::AddInfoGridRow(Grid, "  Sub-picture attribute details:", "", "");
  platform::AddInfoGridRow(Grid, "    Language type:", (Attr[0] & 3) == 1 ? "1" : "Unspecified", "");
  platform::AddInfoGridRow(Grid, "    Coding mode:", Attr[0] < 32 ? "2 bit rle" : "Unspecified", "");
  platform::AddInfoGridRow(Grid, "    Language:",
                      LanguageNameFromWord(static_cast<uint16_t>(Attr[2] | (Attr[3] << 8)), false), "");
  platform::AddInfoGridRow(Grid, "    Language extension:", "[" + IntToHexLower(Attr[4], 2) + "]", "");
  platform::AddInfoGridRow(Grid, "    Code extension (Sub-picture caption)", SubpicCodeExtensionText(Attr[5]), "");
}

TTimeCode EvoPlayingTime(const DiscModel& Disc, int32_t TitleSetIndex, int32_t Kind, uint32_t EvoId) {
  TTimeCode sum;
  for (const TTimeCode& t : EvoCellPlaybackTimes(Disc, TitleSetIndex, Kind, EvoId)) 
    sum = core::AddTimecodes(Disc.FrameRate, sum, t);
  return sum;
}

}  // namespace tess::disc
