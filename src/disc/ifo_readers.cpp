#include "disc/ifo_readers.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "core/byte_order.h"
#include "core/messages.h"
#include "disc/attribute_decode.h"
#include "disc/attribute_texts.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/ui_models.h"

namespace tess::disc {

namespace {

std::string Num(uint64_t v) { return std::to_string(v); }
std::string SNum(int64_t v) { return std::to_string(v); }

// End (exclusive) of a table from its end byte, never past the file.
uint64_t TableEnd(const TIFOImage& Img, uint64_t Pos, uint32_t EndByte) {
  return std::min<uint64_t>(Pos + EndByte + 1, Img.Size());
}

// The first Need bytes of a table at Pos lie inside both the file and the table
// as its end byte gives it.
bool FitsTable(const TIFOImage& Img, uint64_t Pos, uint64_t Need, uint32_t EndByte) {
  return Need <= uint64_t{EndByte} + 1 && Img.Fits(Pos, Need);
}

bool HeaderFits(const TTableReader& R, uint64_t Pos, uint64_t Len, std::string_view Name) {
  if (R.Image.Fits(Pos, Len)) return true;
  return R.Bad(Name, "the table at sector " + Num(Pos / kSectorSize) + " lies outside the file; table skipped");
}

// The head most tables open with: a 16-bit entry count, 16 reserved bits and the
// table's last byte. False, with a report, when the head lies outside the file
// or Count entries of EntrySize behind it do not fit in the table.
struct TCountedHead {
  uint16_t Count = 0;
  uint16_t Reserved = 0;
  uint32_t EndByte = 0;
};
bool ReadCountedHead(const TTableReader& R, uint64_t Pos, uint64_t EntrySize, std::string_view Name,
                     std::string_view Entries, TCountedHead& H) {
  constexpr uint64_t kHeadSize = 8;
  if (!HeaderFits(R, Pos, kHeadSize, Name)) return false;
  H.Count = R.Image.BE16(Pos);
  H.Reserved = R.Image.BE16(Pos + 2);
  H.EndByte = R.Image.BE32(Pos + 4);
  if (FitsTable(R.Image, Pos, kHeadSize + uint64_t{H.Count} * EntrySize, H.EndByte)) return true;
  return R.Bad(Name, Num(H.Count) + " " + std::string(Entries) + " do not fit in the table; table skipped");
}

// How many Size-byte entries from Pos fit in the file.
uint64_t EntriesInFile(const TIFOImage& Img, uint64_t Pos, uint64_t Size) {
  return Pos < Img.Size() ? (Img.Size() - Pos) / Size : 0;
}

// An entry count computed from an end byte: signed, never below 0, and bounded
// by what the file holds (a shortened file is reported).
uint64_t CountFromEndByte(const TTableReader& R, std::string_view Name, int64_t Computed, uint64_t EntriesPos,
                          uint64_t EntrySize) {
  if (Computed <= 0) return 0;
  const uint64_t avail = EntriesInFile(R.Image, EntriesPos, EntrySize);
  if (static_cast<uint64_t>(Computed) <= avail) return static_cast<uint64_t>(Computed);
  R.Bad(Name, "the end byte gives " + SNum(Computed) + " entries but the file holds " + Num(avail) +
                  "; only those are read");
  return avail;
}

// Reads a table whose start sector is at Offset of a management table, when it
// is non-zero. A bad table has its start sector cleared, so that it reads as
// absent everywhere.
template <size_t N, class Reader>
void ReadTableAt(std::array<uint8_t, N>& Mat, size_t Offset, Reader&& Read) {
  const uint32_t sector = core::ReadBE32(&Mat[Offset]);
  if (sector == 0) return;
  if (!Read(uint64_t{sector} * kSectorSize)) core::WriteBE32(&Mat[Offset], 0);
}

std::string PlainName(const std::string& FileName) { return platform::ExtractFileName(FileName); }

void LogMissing(core::RunContext& Run, const std::string& FileName) {
  Run.Log(core::kLogWarning, std::string(core::msg::File) + PlainName(FileName) + std::string(core::msg::DoesNotExist),
           platform::kColourRed);
}

// Opens the image of a reader's file; false (logged) when there is none.
bool OpenImage(core::RunContext& Run, const std::string& FileName, TIFOImage& Img) {
  const std::string path = platform::ResolveInputPath(FileName);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec) && platform::LookUpError(path) == 0) {
    LogMissing(Run, FileName);
    return false;
  }
  if (int err = 0; !Img.Load(path, &err)) {
    Run.Log(core::kLogWarning,
            std::string(core::msg::CanNotOpenFile) + PlainName(FileName) + platform::OpenFailureReason(path, err),
            platform::kColourRed);
    return false;
  }
  return true;
}

}  // namespace

// ---- identification ----

bool IsVideoManagerId(std::string_view Id) { return Id == "DVDVIDEO-VMG" || Id == "HVDVD-VMG100"; }

int32_t DetectIFOKind(DiscModel& Disc, const std::string& FileName, int* Err) {
  char id[12] = {};
  int readErr = 0, openErr = 0;
  // An identifier cut short by a read error identifies nothing.
  if (platform::ReadFileHead(platform::ResolveInputPath(FileName), id, sizeof id, &readErr, &openErr) != sizeof id)
    std::fill(std::begin(id), std::end(id), '\0');
  if (Err) *Err = readErr != 0 ? readErr : openErr;
  const std::string_view s(id, sizeof id);
  int32_t kind = ifoUnknown;
  uint8_t hd = 0;
  if (IsVideoManagerId(s)) {
    kind = ifoVMG;
    hd = s == "HVDVD-VMG100";
  } else if (s == "DVDVIDEO-VTS") {
    kind = ifoVTS;
  } else if (s == "STANDARD-VTS") {
    kind = ifoVTS;
    hd = 1;
  }
  Disc.HDDisc = hd;
  return kind;
}

// ---- table readers ----

bool ReadTitleSearchTable(const TTableReader& R, uint64_t Pos, TTitleSearchTable& T) {
  constexpr std::string_view name = "TT_SRPT";
  T = {};
  const TIFOImage& img = R.Image;
  TCountedHead head;
  if (!ReadCountedHead(R, Pos, kTitleSearchEntrySize, name, "titles", head)) return false;
  T.TitleCount = head.Count;
  T.Reserved = head.Reserved;
  T.EndByte = head.EndByte;
  T.Entries.resize(head.Count);
  uint64_t at = Pos + 8;
  for (auto& e : T.Entries) {
    e.TitleType = img.U8(at);
    e.AngleCount = img.U8(at + 1);
    e.Field2 = img.BE16(at + 2);
    e.Field4 = img.BE16(at + 4);
    e.Bytes6 = {img.U8(at + 6), img.U8(at + 7)};
    e.TitleSetNumber = img.BE16(at + 8);
    e.TitleNumber = img.BE16(at + 10);
    e.StartSector = img.BE32(at + 12);
    at += kTitleSearchEntrySize;
  }
  return true;
}

bool ReadLanguageUnitTable(const TTableReader& R, uint64_t Pos, TLanguageUnitTable& T, std::string_view Name) {
  T = {};
  const TIFOImage& img = R.Image;
  TCountedHead head;
  if (!ReadCountedHead(R, Pos, kLanguageUnitEntrySize, Name, "language units", head)) return false;
  T.UnitCount = head.Count;
  T.Reserved = head.Reserved;
  T.EndByte = head.EndByte;
  const uint64_t tableEnd = TableEnd(img, Pos, head.EndByte);
  T.Units.resize(head.Count);
  for (size_t i = 0; i < T.Units.size(); ++i) {
    TLanguageUnit& u = T.Units[i];
    const uint64_t at = Pos + 8 + kLanguageUnitEntrySize * i;
    u.LanguageCode = {static_cast<char>(img.U8(at)), static_cast<char>(img.U8(at + 1))};
    u.CodeExtension = img.U8(at + 2);
    u.MenuExistence = img.U8(at + 3);
    u.StartByte = img.BE32(at + 4);
    const std::string where = std::string(Name) + " language unit " + Num(i + 1);
    const uint64_t unitPos = Pos + u.StartByte;
    if (!Within(unitPos, 8, tableEnd)) {
      R.Bad(where, "its start byte " + Num(u.StartByte) + " lies outside the table; unit skipped");
      continue;
    }
    const uint16_t pgcs = img.BE16(unitPos);
    u.Reserved = img.BE16(unitPos + 2);
    u.EndByte = img.BE32(unitPos + 4);
    const uint64_t unitEnd = std::min(unitPos + u.EndByte + 1, tableEnd);
    if (!Within(unitPos, 8 + uint64_t{pgcs} * kMenuPGCEntrySize, unitEnd)) {
      R.Bad(where, Num(pgcs) + " program chains do not fit in the unit; unit skipped");
      continue;
    }
    // Units may share their bytes; each entry also holds a chain, read or not.
    if (!R.Charge(uint64_t{pgcs} * (kMenuPGCEntrySize + kPGCGeneralSize), where)) continue;
    u.PGCCount = pgcs;
    u.PGCs.resize(pgcs);
    for (size_t j = 0; j < u.PGCs.size(); ++j) {
      TMenuPGCEntry& e = u.PGCs[j];
      const uint64_t ep = unitPos + 8 + kMenuPGCEntrySize * j;
      e.Category = img.U8(ep);
      img.Read(ep + 1, e.Bytes.data(), e.Bytes.size());
      e.StartByte = img.BE32(ep + 8);
      e.PGC = std::make_unique<TPGC>();
      ReadPGC(R, unitPos + e.StartByte, unitEnd, *e.PGC, where + " program chain " + Num(j + 1));
    }
  }
  return true;
}

bool ReadParentalHeader(const TTableReader& R, uint64_t Pos, TParentalHeader& T) {
  T = {};
  if (!HeaderFits(R, Pos, 8, "PTL_MAIT")) return false;
  T.CountryCount = R.Image.BE16(Pos);
  T.TitleSetCount = R.Image.BE16(Pos + 2);
  T.EndByte = R.Image.BE32(Pos + 4);
  return true;
}

bool ReadVTSAttributeTable(const TTableReader& R, uint64_t Pos, TVTSAttributeTable& T) {
  constexpr std::string_view name = "VTS_ATRT";
  T = {};
  const TIFOImage& img = R.Image;
  if (!HeaderFits(R, Pos, 12, name)) return false;
  uint32_t count = img.BE16(Pos);
  // Title set n lands in record n; the VMG holds record 0.
  constexpr uint32_t kMaxTitleSets = kMaxIFOFiles - 1;
  if (count > kMaxTitleSets) {
    R.Bad(name, "title-set count " + Num(count) + " is more than " + Num(kMaxTitleSets) +
                    "; the title sets past " + Num(kMaxTitleSets) + " are ignored");
    count = kMaxTitleSets;
  }
  T.TitleSetCount = static_cast<uint16_t>(count);
  T.Reserved = img.BE16(Pos + 2);
  T.EndByte = img.BE32(Pos + 4);
  T.FirstStart = img.BE32(Pos + 8);
  const uint64_t tableEnd = TableEnd(img, Pos, T.EndByte);
  // The count is kept even when entries are bad: it is what finds the title-set
  // files. Entries that cannot be read stay zero.
  T.Entries.resize(count);
  uint64_t at = Pos + T.FirstStart;
  for (size_t i = 0; i < T.Entries.size(); ++i) {
    if (!Within(at, kVTSAttributeEntrySize, tableEnd)) {
      R.Bad(name, "attribute entry " + Num(i + 1) + " lies outside the table; it and those after it are left empty");
      break;
    }
    TVTSAttributeEntry& e = T.Entries[i];
    e.EndByte = img.BE32(at);
    e.Category = img.BE32(at + 4);
    img.Read(at + 8, e.Attributes.data(), e.Attributes.size());
    // The attribute words in the form every reader gives them: first stored
    // byte low (VideoAttrWordAt).
    e.MenuVideoAttr = static_cast<uint16_t>(img.U8(at + 8) | (img.U8(at + 9) << 8));
    e.TitleVideoAttr = static_cast<uint16_t>(img.U8(at + 264) | (img.U8(at + 265) << 8));
    at += uint64_t{e.EndByte} + 1;
  }
  return true;
}

bool ReadTextDataHeader(const TTableReader& R, uint64_t Pos, TTextDataHeader& T) {
  constexpr std::string_view name = "TXTDT_MG";
  T = {};
  const TIFOImage& img = R.Image;
  if (!HeaderFits(R, Pos, 20, name)) return false;
  const uint8_t units = img.U8(Pos + 15);
  const uint32_t end = img.BE32(Pos + 16);
  if (!FitsTable(img, Pos, 20 + uint64_t{units} * 8, end))
    return R.Bad(name, Num(units) + " language units do not fit in the table; table skipped");
  img.Read(Pos, T.Header.data(), T.Header.size());
  T.EndByte = end;
  T.UnitCount = units;
  T.Units.resize(units);
  uint64_t at = Pos + 20;
  for (auto& u : T.Units) {
    u.Bytes = {img.U8(at), img.U8(at + 1)};
    u.Field = img.BE16(at + 2);
    u.StartByte = img.BE32(at + 4);
    at += 8;
  }
  return true;
}

bool ReadCellAddressTable(const TTableReader& R, uint64_t Pos, TCellAddressTable& T, std::string_view Name,
                          TCellTableKind Kind) {
  T = {};
  const TIFOImage& img = R.Image;
  if (!HeaderFits(R, Pos, 8, Name)) return false;
  T.VobCount = img.BE16(Pos);
  T.Reserved = img.BE16(Pos + 2);
  T.EndByte = img.BE32(Pos + 4);
  if (Kind == TCellTableKind::TitleSetMenus && (T.EndByte == 0 || T.VobCount == 0)) return true;
  const uint64_t n =
      CountFromEndByte(R, Name, (static_cast<int64_t>(T.EndByte) - 7) / 12, Pos + 8, kCellAddressSize);
  T.Entries.resize(n);
  uint64_t at = Pos + 8;
  for (auto& e : T.Entries) {
    e.VobId = img.BE16(at);
    if (Kind == TCellTableKind::Titles) {
      e.CellId = img.BE16(at + 2);
    } else {
      e.CellId = img.U8(at + 2);
      e.Reserved = img.U8(at + 3);
    }
    e.FirstSector = img.BE32(at + 4);
    e.LastSector = img.BE32(at + 8);
    at += kCellAddressSize;
  }
  return true;
}

bool ReadVobuAddressMap(const TTableReader& R, uint64_t Pos, TVobuAddressMap& T, std::string_view Name) {
  T = {};
  const TIFOImage& img = R.Image;
  if (!HeaderFits(R, Pos, 4, Name)) return false;
  T.EndByte = img.BE32(Pos);
  const uint64_t n = CountFromEndByte(R, Name, (static_cast<int64_t>(T.EndByte) - 3) / 4, Pos + 4, 4);
  T.Sectors.resize(n);
  for (size_t i = 0; i < n; ++i) T.Sectors[i] = img.BE32(Pos + 4 + 4 * i);
  return true;
}

bool ReadPartOfTitleTable(const TTableReader& R, uint64_t Pos, TPartOfTitleTable& T) {
  constexpr std::string_view name = "VTS_PTT_SRPT";
  T = {};
  const TIFOImage& img = R.Image;
  if (!HeaderFits(R, Pos, 12, name)) return false;
  const uint16_t titles = img.BE16(Pos);
  const uint32_t end = img.BE32(Pos + 4);
  const uint64_t header = 8 + uint64_t{titles} * 4;
  if (!FitsTable(img, Pos, header, end))
    return R.Bad(name, Num(titles) + " titles do not fit in the table; table skipped");
  std::vector<uint32_t> starts(titles);
  for (size_t k = 0; k < starts.size(); ++k) starts[k] = img.BE32(Pos + 8 + 4 * k);
  if (titles > 0) {
    const uint32_t first = starts[0];
    if (first < header || first > uint64_t{end} + 1)
      return R.Bad(name, "title 1's parts start at byte " + Num(first) + ", outside the table; table skipped");
    // Each title's first part, counted from title 1's: a title that starts before
    // title 1 or past the table's parts is not trusted.
    const int64_t declared = std::max<int64_t>((static_cast<int64_t>(end) - first + 1) / 4, 0);
    std::vector<int32_t> firstIndex(titles);
    for (size_t k = 0; k < starts.size(); ++k) {
      const int64_t idx = (static_cast<int64_t>(starts[k]) - first) / 4;
      if (starts[k] < first || idx > declared)
        return R.Bad(name, "title " + Num(k + 1) + "'s parts start at byte " + Num(starts[k]) +
                               ", outside the table; table skipped");
      firstIndex[k] = static_cast<int32_t>(idx);
    }
    uint64_t n = CountFromEndByte(R, name, declared, Pos + first, 4);
    if (n > 0xFFFF) {
      R.Bad(name, Num(n) + " parts of titles are more than 65535; the rest are ignored");
      n = 0xFFFF;
    }
    T.EntryCount = static_cast<uint16_t>(n);
    T.Entries.resize(n);
    for (size_t i = 0; i < n; ++i) {
      T.Entries[i].PGCNumber = img.BE16(Pos + first + 4 * i);
      T.Entries[i].ProgramNumber = img.BE16(Pos + first + 4 * i + 2);
    }
    // A shortened file leaves titles without parts; their index stays at the end.
    for (auto& idx : firstIndex) idx = std::min<int32_t>(idx, T.EntryCount);
    T.TitleFirstIndex = std::move(firstIndex);
  }
  T.TitleCount = titles;
  T.Reserved = img.BE16(Pos + 2);
  T.EndByte = end;
  T.TitleStartBytes = std::move(starts);
  return true;
}

bool ReadPGCTable(const TTableReader& R, uint64_t Pos, TPGCTable& T) {
  constexpr std::string_view name = "VTS_PGCIT";
  T = {};
  const TIFOImage& img = R.Image;
  TCountedHead head;
  if (!ReadCountedHead(R, Pos, kTitlePGCEntrySize, name, "program chains", head)) return false;
  T.PGCCount = head.Count;
  T.Reserved = head.Reserved;
  T.EndByte = head.EndByte;
  const uint64_t tableEnd = TableEnd(img, Pos, head.EndByte);
  T.PGCs.resize(head.Count);
  for (size_t j = 0; j < T.PGCs.size(); ++j) {
    TTitlePGCEntry& e = T.PGCs[j];
    const uint64_t at = Pos + 8 + kTitlePGCEntrySize * j;
    e.Category = img.U8(at);
    e.Byte1 = img.U8(at + 1);
    e.Field2 = img.BE16(at + 2);
    img.Read(at + 4, e.Bytes4.data(), e.Bytes4.size());
    e.StartByte = img.BE32(at + 8);
    e.PGC = std::make_unique<TPGC>();
    ReadPGC(R, Pos + e.StartByte, tableEnd, *e.PGC, std::string(name) + " program chain " + Num(j + 1));
  }
  return true;
}

bool ReadTimeMapTable(const TTableReader& R, uint64_t Pos, TTimeMapTable& T) {
  constexpr std::string_view name = "VTS_TMAPTI";
  T = {};
  const TIFOImage& img = R.Image;
  TCountedHead head;
  if (!ReadCountedHead(R, Pos, kTimeMapPointerSize, name, "time maps", head)) return false;
  T.MapCount = head.Count;
  T.Reserved = head.Reserved;
  T.EndByte = head.EndByte;
  const uint64_t tableEnd = TableEnd(img, Pos, head.EndByte);
  T.Maps.resize(head.Count);
  for (size_t i = 0; i < T.Maps.size(); ++i) {
    TTimeMap& m = T.Maps[i];
    m.StartByte = img.BE32(Pos + 8 + kTimeMapPointerSize * i);
    const std::string where = std::string(name) + " time map " + Num(i + 1);
    const uint64_t mp = Pos + m.StartByte;
    if (!Within(mp, 4, tableEnd)) {
      R.Bad(where, "its start byte " + Num(m.StartByte) + " lies outside the table; map skipped");
      continue;
    }
    m.TimeUnit = img.U8(mp);
    m.Reserved = img.U8(mp + 1);
    const uint16_t entries = img.BE16(mp + 2);
    if (!Within(mp + 4, uint64_t{entries} * 4, tableEnd)) {
      R.Bad(where, Num(entries) + " entries do not fit in the table; map skipped");
      continue;
    }
    if (!R.Charge(uint64_t{entries} * 4, where)) continue;  // maps may share their bytes
    m.EntryCount = entries;
    m.Entries.resize(entries);
    for (size_t k = 0; k < m.Entries.size(); ++k) m.Entries[k] = img.BE32(mp + 4 + 4 * k);
  }
  return true;
}

// ---- the management readers ----

void ReadVMGI(core::RunContext& Run, DiscModel& Disc, TIFOFile& Record, const std::string& FileName) {
  TIFOImage img;
  if (!OpenImage(Run, FileName, img)) return;
  ReadVMGI(Run, Disc, Record, img);
}

void ReadVMGI(core::RunContext& Run, DiscModel& Disc, TIFOFile& Record, const TIFOImage& img) {
  const TTableReader r{Run, img, &Disc.DecodedThisLoad};
  r.Whole();
  img.Read(0, Record.VMGI_MAT.data(), Record.VMGI_MAT.size());

  // An offset of 0, or one whose chain does not fit in the file, means there is
  // no first-play chain; the management table itself is never read as one.
  Record.FirstPlayPGC.reset();
  if (const uint32_t fp = VMGIField32(Record, vmgi::FirstPlayPGC); fp != 0) {
    auto pgc = std::make_unique<TPGC>();
    if (ReadPGC(r, fp, img.Size(), *pgc, "first-play program chain")) Record.FirstPlayPGC = std::move(pgc);
  }

  auto& mat = Record.VMGI_MAT;
  ReadTableAt(mat, vmgi::TT_SRPT, [&](uint64_t p) { return ReadTitleSearchTable(r, p, Record.TT_SRPT); });
  ReadTableAt(mat, vmgi::MenuPGCI_UT,
              [&](uint64_t p) { return ReadLanguageUnitTable(r, p, Record.MenuPGCI_UT, "VMGM_PGCI_UT"); });
  ReadTableAt(mat, vmgi::PTL_MAIT, [&](uint64_t p) { return ReadParentalHeader(r, p, Record.PTL_MAIT); });
  ReadTableAt(mat, vmgi::VTS_ATRT, [&](uint64_t p) { return ReadVTSAttributeTable(r, p, Record.VTS_ATRT); });
  ReadTableAt(mat, vmgi::TXTDT_MG, [&](uint64_t p) { return ReadTextDataHeader(r, p, Record.TXTDT_MG); });
  ReadTableAt(mat, vmgi::MenuC_ADT,
              [&](uint64_t p) {
                return ReadCellAddressTable(r, p, Record.MenuC_ADT, "VMGM_C_ADT", TCellTableKind::VmgMenus);
              });
  ReadTableAt(mat, vmgi::MenuVOBU_ADMAP,
              [&](uint64_t p) { return ReadVobuAddressMap(r, p, Record.MenuVOBU_ADMAP, "VMGM_VOBU_ADMAP"); });
  Record.DamagedTables = r.Problems;
}

namespace {

bool LoadWholeFile(core::RunContext& Run, const std::string& FileName, TIFOImage& Img) {
  int err = 0;
  if (!Img.Load(FileName, &err)) {
    if (err == ENOENT)
      LogMissing(Run, FileName);
    else
      Run.Log(core::kLogWarning,
              std::string(core::msg::CanNotOpenFile) + PlainName(FileName) + platform::OpenFailureReason(FileName, err),
              platform::kColourRed);
    return false;
  }
  return TTableReader{Run, Img}.Whole();
}

}  // namespace

bool LoadWholeInformationFile(core::RunContext& Run, const std::string& FileName, TIFOImage& Img) {
  if (!LoadWholeFile(Run, FileName, Img)) return false;
  uint8_t head[8];
  Img.Read(0, head, sizeof head);
  return std::memcmp(head, "DVDVIDEO", 8) == 0 || std::memcmp(head, "STANDARD", 8) == 0;
}

bool LoadWholeVideoManagerFile(core::RunContext& Run, const std::string& FileName, TIFOImage& Img) {
  if (!LoadWholeFile(Run, FileName, Img)) return false;
  uint8_t head[12];
  Img.Read(0, head, sizeof head);
  return IsVideoManagerId(std::string_view(reinterpret_cast<const char*>(head), sizeof head));
}

void ReadVTSI(core::RunContext& Run, DiscModel& Disc, TIFOFile& Record, const std::string& FileName,
              platform::GridModel& InfoGrid) {
  TIFOImage img;
  if (!OpenImage(Run, FileName, img)) {
    for (size_t off = vtsi::PTT_SRPT; off <= vtsi::VTS_VOBU_ADMAP; off += 4) core::WriteBE32(&Record.VTSI_MAT[off], 0);
    return;
  }
  ReadVTSI(Run, Disc, Record, img, InfoGrid);
}

void ReadVTSI(core::RunContext& Run, DiscModel& Disc, TIFOFile& Record, const TIFOImage& Image,
              platform::GridModel& InfoGrid) {
  auto& mat = Record.VTSI_MAT;
  const TTableReader r{Run, Image, &Disc.DecodedThisLoad};
  r.Whole();
  Image.Read(0, mat.data(), mat.size());
  const std::string_view id(reinterpret_cast<const char*>(mat.data()), 12);
  if (id != "DVDVIDEO-VTS" && id != "STANDARD-VTS") {
    mat.fill(0);
    r.Bad("VTSI_MAT", "the identifier is not that of a title set; no table read");
  }

  ReadTableAt(mat, vtsi::PTT_SRPT, [&](uint64_t p) { return ReadPartOfTitleTable(r, p, Record.T_VTS_PTT_SRPT); });
  ReadTableAt(mat, vtsi::VTS_PGCIT, [&](uint64_t p) { return ReadPGCTable(r, p, Record.VTS_PGCIT); });
  ReadTableAt(mat, vtsi::MenuPGCI_UT,
              [&](uint64_t p) { return ReadLanguageUnitTable(r, p, Record.MenuPGCI_UT, "VTSM_PGCI_UT"); });
  ReadTableAt(mat, vtsi::VTS_TMAPTI, [&](uint64_t p) { return ReadTimeMapTable(r, p, Record.VTS_TMAPTI); });
  ReadTableAt(mat, vtsi::MenuC_ADT,
              [&](uint64_t p) {
                return ReadCellAddressTable(r, p, Record.MenuC_ADT, "VTSM_C_ADT", TCellTableKind::TitleSetMenus);
              });
  ReadTableAt(mat, vtsi::MenuVOBU_ADMAP,
              [&](uint64_t p) { return ReadVobuAddressMap(r, p, Record.MenuVOBU_ADMAP, "VTSM_VOBU_ADMAP"); });
  ReadTableAt(mat, vtsi::VTS_C_ADT,
              [&](uint64_t p) {
                return ReadCellAddressTable(r, p, Record.VTS_C_ADT, "VTS_C_ADT", TCellTableKind::Titles);
              });
  ReadTableAt(mat, vtsi::VTS_VOBU_ADMAP,
              [&](uint64_t p) { return ReadVobuAddressMap(r, p, Record.VTS_VOBU_ADMAP, "VTS_VOBU_ADMAP"); });
  Record.DamagedTables = r.Problems;

  ShowVTSOverview(InfoGrid, Record);
}

// ---- release ----

void ReleasePGC(std::unique_ptr<TPGC>& PGC) { PGC.reset(); }

void ZeroIFORecord(TIFOFile& R) {
  for (auto& block : R.AudioCellTable) block.fill(TAudioCellEntry{});
  R.FileName.clear();
  R.Kind = ifoUnknown;
  R.Ordinal = 0;
  R.TitleSetNumber = 0;
  R.DamagedTables = 0;
  R.InformationCorrupted = false;
  R.MenuPGCI_UT = {};
  R.MenuC_ADT = {};
  R.MenuVOBU_ADMAP = {};
  R.VMGI_MAT.fill(0);
  R.FirstPlayPGC.reset();
  R.TT_SRPT = {};
  R.PTL_MAIT = {};
  R.VTS_ATRT = {};
  R.TXTDT_MG = {};
  R.VTSI_MAT.fill(0);
  R.T_VTS_PTT_SRPT = {};
  R.VTS_PGCIT = {};
  R.VTS_TMAPTI = {};
  R.VTS_C_ADT = {};
  R.VTS_VOBU_ADMAP = {};
}

// The tables own their bodies, so releasing a record is zeroing it; the two
// kinds are kept apart because the shell dispatches on the kind.
void ReleaseVMGRecord(TIFOFile& Record) { ZeroIFORecord(Record); }
void ReleaseVTSRecord(TIFOFile& Record) { ZeroIFORecord(Record); }

void FreeAllTitleSets(DiscModel& Disc) {
  Disc.UncountedTitleSets.clear();
  const int32_t used = std::clamp<int32_t>(Disc.TitleSetCount, 0, static_cast<int32_t>(Disc.IFOFiles.size()));
  for (int32_t i = used - 1; i >= 0; --i) {
    TIFOFile& f = Disc.IFOFiles[i];
    if (f.Kind == ifoVMG)
      ReleaseVMGRecord(f);
    else if (f.Kind == ifoVTS)
      ReleaseVTSRecord(f);
    else
      // A record of no kind holds no tables but may keep a name and numbers
      // from a failed load; the next load must not see them.
      ZeroIFORecord(f);
  }
}


void FreeStreamArrays(RunRegistries& Reg) {
  Reg.StringPool.Clear();
  // The data strings are handles into the pool: they go with it.
  Reg.DataStrings.Clear();
  Reg.VideoStreams.clear();
  Reg.AudioStreams.clear();
  Reg.SubPictureItems.clear();
}


void ClearObjectTables(DiscModel& Disc) {
  for (auto& p : Disc.ObjectTables.Objects) p.reset();
  for (auto& p : Disc.ObjectTables.SmallObjects) p.reset();
}

void FreeObjectTables(DiscModel& Disc) { ClearObjectTables(Disc); }

// ---- the title-set overview ----

namespace {

std::string Hex(uint64_t v, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s(static_cast<size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, v >>= 4) s[static_cast<size_t>(i)] = kDigits[v & 0xF];
  return s;
}

std::string HexBytes(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += Hex(p[i], 2);
  }
  return s;
}

std::string TimeText(const TTimeCode& t) { return core::TimeCodeToText(t); }

// A video attribute word (two bytes as stored) as a short description.
std::string VideoText(const uint8_t* Stored) {
  std::array<uint8_t, 12> d{};
  DecodeVideoAttr(VideoAttrWordAt(Stored, 0), d);
  static constexpr int kWidths[4] = {720, 704, 352, 352};
  const bool pal = d[1] != 0;
  const int height = d[9] == 3 ? (pal ? 288 : 240) : (pal ? 576 : 480);
  std::string s = d[0] == 0 ? "MPEG-1" : d[0] == 1 ? "MPEG-2" : "Coding " + std::to_string(d[0]);
  s += pal ? ", PAL" : ", NTSC";
  s += d[2] == 3 ? ", 16:9" : d[2] == 0 ? ", 4:3" : ", aspect " + std::to_string(d[2]);
  s += ", " + std::to_string(kWidths[d[9]]) + "x" + std::to_string(height);
  if (d[10]) s += ", letterboxed";
  return s;
}

std::string ChainText(const TPGC& P) {
  return "Programs: " + std::to_string(P.ProgramCount) + "  Cells: " + std::to_string(P.CellCount) +
         "  Time: " + TimeText(P.PlaybackTime);
}

void AddCells(platform::GridModel& Grid, const TPGC& P) {
  for (size_t k = 0; k < P.CellPlayback.size(); ++k) {
    const TCellPlayback& c = P.CellPlayback[k];
    const TCellPosition& pos = P.CellPositions[k];
    platform::AddInfoGridRow(Grid, "      Cell " + std::to_string(k + 1),
                        std::string(core::msg::VOBID) + std::to_string(pos.VobId) + "  " +
                            std::string(core::msg::CELLID) + std::to_string(pos.CellId) + "  Sectors: " +
                            std::to_string(c.FirstVobuStart) + " - " + std::to_string(c.LastVobuEnd) +
                            "  Time: " + TimeText(c.PlaybackTime),
                        HexBytes(c.Category.data(), c.Category.size()));
  }
}

}  // namespace

void ShowVTSOverview(platform::GridModel& Grid, const TIFOFile& R) {
  Grid.Clear();
  const auto& mat = R.VTSI_MAT;
  platform::AddInfoGridRow(Grid, "VTS Overview:", PlainName(R.FileName), "");
  platform::AddInfoGridRow(Grid, "  Menu video attributes:", VideoText(&mat[vtsi::MenuVideoAttr]),
                      HexBytes(&mat[vtsi::MenuVideoAttr], 2));
  platform::AddInfoGridRow(Grid, "  Title video attributes:", VideoText(&mat[vtsi::TitleVideoAttr]),
                      HexBytes(&mat[vtsi::TitleVideoAttr], 2));
  platform::AddInfoGridRow(Grid, "  Title audio streams:", std::to_string(mat[vtsi::TitleAudioCount]), "");

  platform::AddInfoGridRow(Grid, "  Menu language units:", std::to_string(R.MenuPGCI_UT.Units.size()), "");
  for (size_t i = 0; i < R.MenuPGCI_UT.Units.size(); ++i) {
    const TLanguageUnit& u = R.MenuPGCI_UT.Units[i];
    std::string code;
    for (char ch : u.LanguageCode) code += (ch >= 0x20 && ch < 0x7F) ? ch : '?';
    platform::AddInfoGridRow(Grid, "    Language unit " + std::to_string(i + 1),
                        code + "  PGCs: " + std::to_string(u.PGCs.size()), Hex(u.MenuExistence, 2));
    for (size_t j = 0; j < u.PGCs.size(); ++j) {
      platform::AddInfoGridRow(Grid, "      Menu PGC " + std::to_string(j + 1), ChainText(*u.PGCs[j].PGC),
                          Hex(u.PGCs[j].Category, 2));
    }
  }

  platform::AddInfoGridRow(Grid, "  Title PGCs:", std::to_string(R.VTS_PGCIT.PGCs.size()), "");
  for (size_t j = 0; j < R.VTS_PGCIT.PGCs.size(); ++j) {
    const TTitlePGCEntry& e = R.VTS_PGCIT.PGCs[j];
    std::string title = "Title " + std::to_string(e.Category & 0x7F) + ((e.Category & 0x80) ? " (entry)  " : "  ");
    platform::AddInfoGridRow(Grid, "    PGC " + std::to_string(j + 1), title + ChainText(*e.PGC), Hex(e.Category, 2));
    AddCells(Grid, *e.PGC);
  }
  // The grid is full: its last row says so instead of showing one more cell.
  if (Grid.Truncated && Grid.NextRow > 0)
    Grid.SetCell(0, Grid.NextRow - 1, "  (only the first " + std::to_string(Grid.MaxRows) + " rows are shown)");
}

}  // namespace tess::disc
