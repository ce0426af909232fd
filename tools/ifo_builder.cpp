#include "ifo_builder.h"

#include <algorithm>
#include <fstream>
#include <set>

#include "core/byte_order.h"
#include "disc/ifo_model.h"

namespace tess::tools {

namespace {

constexpr uint32_t kSector = 2048;
constexpr uint32_t kFarOffset = 0x7FFFFFF0;  // past the end of every file the builder writes
constexpr uint16_t kFarChainOffset = 0xFFF0;
constexpr uint32_t kFarSectors = 100000;

// A growing file image with big-endian field writers.
class Buf {
 public:
  std::vector<uint8_t> b;
  uint64_t Size() const { return b.size(); }
  uint64_t Grow(uint64_t n) {
    const uint64_t p = b.size();
    b.resize(p + n, 0);
    return p;
  }
  void AlignSector() { b.resize((b.size() + kSector - 1) / kSector * kSector, 0); }
  uint32_t Sector() const { return static_cast<uint32_t>(b.size() / kSector); }
  void Put8(uint64_t p, uint8_t v) { b[p] = v; }
  void Put16(uint64_t p, uint16_t v) { core::WriteBE16(&b[p], v); }
  void Put32(uint64_t p, uint32_t v) { core::WriteBE32(&b[p], v); }
  void Put64(uint64_t p, uint64_t v) { core::WriteBE64(&b[p], v); }
  void PutBytes(uint64_t p, const uint8_t* s, size_t n) { std::copy_n(s, n, b.begin() + static_cast<ptrdiff_t>(p)); }
  uint64_t Append(const std::vector<uint8_t>& v) {
    const uint64_t p = Grow(v.size());
    if (!v.empty()) PutBytes(p, v.data(), v.size());
    return p;
  }
};

bool HasFault(const IfoBuildOptions& O, int TitleSet, IfoTable Table, IfoFaultKind Kind) {
  return std::any_of(O.Faults.begin(), O.Faults.end(), [&](const IfoFault& f) {
    return f.TitleSet == TitleSet && f.Table == Table && f.Kind == Kind;
  });
}

int RoundRate(double Rate) { return Rate < 27.5 ? 25 : 30; }
uint8_t Bcd(int v) { return static_cast<uint8_t>(((v / 10) << 4) | (v % 10)); }

// Sizes of the angle blocks the cells belong to (0 outside a block), found the
// way LayoutDomain finds them.
std::vector<int> AngleBlockSizes(const DomainSpec& D) {
  std::vector<int> out(D.Cells.size(), 0);
  size_t i = 0;
  while (i < D.Cells.size()) {
    if (D.Cells[i].Angle == 0) {
      ++i;
      continue;
    }
    size_t end = i + 1;
    while (end < D.Cells.size() && D.Cells[end].Angle == D.Cells[end - 1].Angle + 1) ++end;
    for (size_t c = i; c < end; ++c) out[c] = static_cast<int>(end - i);
    i = end;
  }
  return out;
}

// The chain's cells that exist in the domain.
std::vector<int> ChainCells(const ProgramChainSpec& P, const DomainSpec& D) {
  std::vector<int> out;
  for (int c : P.Cells)
    if (c >= 0 && c < static_cast<int>(D.Cells.size())) out.push_back(c);
  return out;
}

// Entry cell (1-based) of each program: as given, or one per cell that starts
// a stretch of time (a cell outside a block, or angle 1 of a block).
std::vector<uint8_t> ProgramEntries(const ProgramChainSpec& P, const DomainSpec& D) {
  if (!P.ProgramEntries.empty()) return P.ProgramEntries;
  std::vector<uint8_t> out;
  const auto cells = ChainCells(P, D);
  for (size_t k = 0; k < cells.size(); ++k)
    if (D.Cells[cells[k]].Angle <= 1) out.push_back(static_cast<uint8_t>(k + 1));
  return out;
}

int64_t ChainFrames(const ProgramChainSpec& P, const DomainSpec& D, const DomainLayout& L, double Rate) {
  int64_t frames = 0;
  for (int c : ChainCells(P, D))
    if (D.Cells[c].Angle <= 1) frames += CellFrames(L.Cells[c], Rate);
  return frames;
}

std::array<uint8_t, 4> CellCategory(const CellSpec& C, int BlockSize) {
  std::array<uint8_t, 4> cat{};
  uint8_t b0 = C.Seamless ? 0x08 : 0;
  if (BlockSize > 0) {
    const uint8_t mode = C.Angle == 1 ? 1 : (C.Angle >= BlockSize ? 3 : 2);
    b0 |= static_cast<uint8_t>(mode << 6) | 0x10 /* angle block */ | 0x04 /* interleaved */;
    if (C.AngleSeamless) b0 |= 0x01;
  }
  cat[0] = b0;
  cat[2] = C.StillTime;
  return cat;
}

// One program chain: 240 bytes of general information, then the command table,
// the program map, the cell playback and the cell position tables.
std::vector<uint8_t> BuildPGC(const ProgramChainSpec& P, const DomainSpec& D, const DomainLayout& L, double Rate,
                              bool FarCellTable, PGCSummary& S) {
  Buf c;
  c.Grow(disc::kPGCGeneralSize);
  const auto cells = ChainCells(P, D);
  const auto programs = ProgramEntries(P, D);
  const auto blocks = AngleBlockSizes(D);

  S.Category = P.Category;
  S.ProgramCount = static_cast<uint16_t>(programs.size());
  S.CellCount = static_cast<uint16_t>(cells.size());
  const int64_t frames = ChainFrames(P, D, L, Rate);
  S.PlaybackTimeBcd = BcdPlaybackTime(frames, Rate);
  S.PlaybackTime = FramesToPlainTime(frames, Rate);
  S.ProgramMap = programs;
  S.PreCommands = P.PreCommands;
  S.PostCommands = P.PostCommands;
  S.CellCommands = P.CellCommands;
  S.Palette = P.Palette;
  S.AudioControl = P.AudioControl;
  S.SubpicControl = P.SubpicControl;
  S.NextPGC = P.NextPGC;
  S.PrevPGC = P.PrevPGC;
  S.GoUpPGC = P.GoUpPGC;

  c.Put16(0, S.ProgramCount);
  c.Put16(2, S.CellCount);
  c.PutBytes(4, S.PlaybackTimeBcd.data(), 4);
  c.Put32(8, 0);  // no prohibited user operations
  for (size_t i = 0; i < 8; ++i) c.Put16(12 + 2 * i, P.AudioControl[i]);
  for (size_t i = 0; i < 32; ++i) c.Put32(28 + 4 * i, P.SubpicControl[i]);
  c.Put16(156, P.NextPGC);
  c.Put16(158, P.PrevPGC);
  c.Put16(160, P.GoUpPGC);
  for (size_t i = 0; i < 16; ++i) c.PutBytes(176 + 4 * i, P.Palette[i].data(), 4);

  const size_t commands = P.PreCommands.size() + P.PostCommands.size() + P.CellCommands.size();
  if (commands > 0) {
    const uint64_t t = c.Grow(8 + 8 * commands);
    c.Put16(168, static_cast<uint16_t>(t));
    c.Put16(t, static_cast<uint16_t>(P.PreCommands.size()));
    c.Put16(t + 2, static_cast<uint16_t>(P.PostCommands.size()));
    c.Put16(t + 4, static_cast<uint16_t>(P.CellCommands.size()));
    c.Put16(t + 6, static_cast<uint16_t>(8 + 8 * commands - 1));
    uint64_t at = t + 8;
    for (const auto* list : {&P.PreCommands, &P.PostCommands, &P.CellCommands})
      for (const auto& cmd : *list) {
        c.PutBytes(at, cmd.data(), cmd.size());
        at += 8;
      }
  }
  if (!programs.empty()) {
    const uint64_t t = c.Grow((programs.size() + 1) & ~size_t{1});
    c.Put16(170, static_cast<uint16_t>(t));
    c.PutBytes(t, programs.data(), programs.size());
  }
  if (!cells.empty()) {
    const uint64_t play = c.Grow(disc::kCellPlaybackSize * cells.size());
    const uint64_t posn = c.Grow(disc::kCellPositionSize * cells.size());
    c.Put16(172, FarCellTable ? kFarChainOffset : static_cast<uint16_t>(play));
    c.Put16(174, static_cast<uint16_t>(posn));
    for (size_t k = 0; k < cells.size(); ++k) {
      const int ci = cells[k];
      const CellSpec& spec = D.Cells[ci];
      const CellLayout& cl = L.Cells[ci];
      CellSummary cs;
      cs.Category = CellCategory(spec, blocks[ci]);
      const int64_t cf = CellFrames(cl, Rate);
      cs.PlaybackTimeBcd = BcdPlaybackTime(cf, Rate);
      cs.PlaybackTime = FramesToPlainTime(cf, Rate);
      if (!cl.Vobus.empty()) {
        const VobuLayout& first = L.Vobus[cl.Vobus.front()];
        const VobuLayout& last = L.Vobus[cl.Vobus.back()];
        cs.FirstVobuStart = first.Sector;
        cs.FirstIlvuEnd = blocks[ci] > 0 ? first.LastSector() : 0;
        cs.LastVobuStart = last.Sector;
        cs.LastVobuEnd = last.LastSector();
      }
      cs.VobId = spec.VobId;
      cs.CellId = spec.CellId;
      const uint64_t e = play + disc::kCellPlaybackSize * k;
      c.PutBytes(e, cs.Category.data(), 4);
      c.PutBytes(e + 4, cs.PlaybackTimeBcd.data(), 4);
      c.Put32(e + 8, cs.FirstVobuStart);
      c.Put32(e + 12, cs.FirstIlvuEnd);
      c.Put32(e + 16, cs.LastVobuStart);
      c.Put32(e + 20, cs.LastVobuEnd);
      const uint64_t p = posn + disc::kCellPositionSize * k;
      c.Put16(p, cs.VobId);
      c.Put8(p + 3, cs.CellId);
      S.Cells.push_back(cs);
    }
  }
  return c.b;
}

// ---- tables shared by both kinds ----

uint8_t MenuExistence(const DomainSpec& D, bool Vmg) {
  uint8_t flags = 0;
  for (const auto& p : D.PGCs) {
    if (!(p.Category & 0x80)) continue;
    const int type = p.Category & 0x0F;
    if (Vmg && type == 2) flags |= 0x80;
    if (!Vmg && type >= 3 && type <= 7) flags |= static_cast<uint8_t>(0x80 >> (type - 3));
  }
  return flags;
}

void WriteLanguageUnits(Buf& F, const DomainSpec& D, const DomainLayout& L, std::array<char, 2> Lang, bool Vmg,
                        double Rate, bool FarUnit, bool FarChainTable, IfoFileSummary& S) {
  const uint64_t t = F.Grow(16);
  const uint64_t u = F.Grow(8 + disc::kMenuPGCEntrySize * D.PGCs.size());
  LanguageUnitSummary lu;
  lu.Code = Lang;
  lu.MenuExistence = MenuExistence(D, Vmg);
  for (size_t j = 0; j < D.PGCs.size(); ++j) {
    PGCSummary ps;
    const auto bytes = BuildPGC(D.PGCs[j], D, L, Rate, FarChainTable && j == 0, ps);
    const uint64_t pos = F.Append(bytes);
    ps.FilePos = pos;
    const uint64_t e = u + 8 + disc::kMenuPGCEntrySize * j;
    F.Put8(e, D.PGCs[j].Category);
    F.Put32(e + 8, static_cast<uint32_t>(pos - u));
    lu.PGCs.push_back(std::move(ps));
  }
  F.Put16(u, static_cast<uint16_t>(D.PGCs.size()));
  F.Put32(u + 4, static_cast<uint32_t>(F.Size() - u - 1));
  F.Put16(t, 1);
  F.Put32(t + 4, static_cast<uint32_t>(F.Size() - t - 1));
  F.Put8(t + 8, static_cast<uint8_t>(Lang[0]));
  F.Put8(t + 9, static_cast<uint8_t>(Lang[1]));
  F.Put8(t + 11, lu.MenuExistence);
  F.Put32(t + 12, FarUnit ? kFarOffset : static_cast<uint32_t>(u - t));
  S.MenuUnits.push_back(std::move(lu));
}

std::vector<CellAddressSummary> CellAddresses(const DomainSpec& D, const DomainLayout& L) {
  std::vector<CellAddressSummary> out;
  for (size_t i = 0; i < D.Cells.size(); ++i)
    for (const CellRun& r : L.Cells[i].Runs) out.push_back({D.Cells[i].VobId, D.Cells[i].CellId, r.FirstSector, r.LastSector});
  std::stable_sort(out.begin(), out.end(),
                   [](const CellAddressSummary& a, const CellAddressSummary& b) { return a.FirstSector < b.FirstSector; });
  return out;
}

// The title table holds each cell id as a 16-bit word; the menu tables hold it
// in the entry's third byte.
void WriteCellAddresses(Buf& F, const DomainSpec& D, const std::vector<CellAddressSummary>& Entries, bool TitleCells,
                        bool FarEnd) {
  std::set<uint16_t> vobs;
  for (const auto& c : D.Cells) vobs.insert(c.VobId);
  const uint64_t t = F.Grow(8 + disc::kCellAddressSize * Entries.size());
  F.Put16(t, static_cast<uint16_t>(vobs.size()));
  F.Put32(t + 4, FarEnd ? kFarOffset : static_cast<uint32_t>(8 + disc::kCellAddressSize * Entries.size() - 1));
  for (size_t i = 0; i < Entries.size(); ++i) {
    const uint64_t e = t + 8 + disc::kCellAddressSize * i;
    F.Put16(e, Entries[i].VobId);
    if (TitleCells)
      F.Put16(e + 2, Entries[i].CellId);
    else
      F.Put8(e + 2, static_cast<uint8_t>(Entries[i].CellId));
    F.Put32(e + 4, Entries[i].FirstSector);
    F.Put32(e + 8, Entries[i].LastSector);
  }
}

std::vector<uint32_t> VobuSectors(const DomainLayout& L) {
  std::vector<uint32_t> out;
  for (const auto& v : L.Vobus) out.push_back(v.Sector);
  return out;
}

void WriteVobuMap(Buf& F, const std::vector<uint32_t>& Sectors, bool FarEnd) {
  const uint64_t t = F.Grow(4 + 4 * Sectors.size());
  F.Put32(t, FarEnd ? kFarOffset : static_cast<uint32_t>(4 + 4 * Sectors.size() - 1));
  for (size_t i = 0; i < Sectors.size(); ++i) F.Put32(t + 4 + 4 * i, Sectors[i]);
}

// Places a table at the next sector and records its sector.
template <class Write>
uint32_t PlaceTable(Buf& F, IfoTable Table, IfoFileSummary& S, Write&& W) {
  F.AlignSector();
  const uint32_t sector = F.Sector();
  W();
  S.StartSectors[Table] = sector;
  return sector;
}

// ---- titles ----

int TitleCount(const DomainSpec& Titles) {
  int n = 0;
  for (const auto& p : Titles.PGCs)
    if (p.Category & 0x80) n = std::max(n, p.Category & 0x7F);
  return n;
}

// Parts of every title: each program of each chain of the title, in table order.
std::vector<std::vector<PartSummary>> TitleParts(const DomainSpec& Titles) {
  std::vector<std::vector<PartSummary>> parts(static_cast<size_t>(TitleCount(Titles)));
  for (size_t j = 0; j < Titles.PGCs.size(); ++j) {
    const int t = Titles.PGCs[j].Category & 0x7F;
    if (t < 1 || t > static_cast<int>(parts.size())) continue;
    const auto programs = ProgramEntries(Titles.PGCs[j], Titles);
    for (size_t p = 0; p < programs.size(); ++p)
      parts[t - 1].push_back({static_cast<uint16_t>(j + 1), static_cast<uint16_t>(p + 1)});
  }
  return parts;
}

// One entry per whole second of the chain: the sector of the VOBU playing then.
TimeMapSummary TimeMapOf(const ProgramChainSpec& P, const DomainSpec& D, const DomainLayout& L) {
  TimeMapSummary m;
  m.TimeUnit = 1;
  std::vector<uint32_t> vobuSectors;  // in play order, each VobuTicks long
  for (int c : ChainCells(P, D))
    if (D.Cells[c].Angle <= 1)
      for (int v : L.Cells[c].Vobus) vobuSectors.push_back(L.Vobus[v].Sector);
  const uint64_t total = uint64_t{D.VobuTicks} * vobuSectors.size();
  if (D.VobuTicks == 0) return m;
  for (uint64_t t = kTicksPerSecond; t < total; t += kTicksPerSecond) m.Entries.push_back(vobuSectors[t / D.VobuTicks]);
  return m;
}

uint8_t MaxAngles(const ProgramChainSpec& P, const DomainSpec& D) {
  const auto blocks = AngleBlockSizes(D);
  int n = 1;
  for (int c : ChainCells(P, D)) n = std::max(n, blocks[c]);
  return static_cast<uint8_t>(n);
}

void PutStoredAttr(Buf& F, uint64_t Pos, uint16_t Attr) {
  F.Put8(Pos, static_cast<uint8_t>(Attr & 0xFF));
  F.Put8(Pos + 1, static_cast<uint8_t>(Attr >> 8));
}

void WriteDamaged(const std::string& Path, std::vector<uint8_t> Bytes, IfoDamage Damage, uint64_t TruncateTo,
                  bool& Written) {
  Written = false;
  if (Damage == IfoDamage::Missing) return;
  if (Damage == IfoDamage::BadIdentifier) {
    static constexpr char kBad[] = "CORRUPTED-ID";
    for (size_t i = 0; i < 12 && i < Bytes.size(); ++i) Bytes[i] = static_cast<uint8_t>(kBad[i]);
  } else if (Damage == IfoDamage::Truncated) {
    Bytes.resize(std::min<uint64_t>(Bytes.size(), TruncateTo ? TruncateTo : kSector + 100));
  }
  std::ofstream out(Path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
  Written = static_cast<bool>(out);
}

void ApplyStartSectorFaults(Buf& F, int TitleSet, const IfoBuildOptions& O, IfoFileSummary& S,
                            const std::vector<std::pair<IfoTable, size_t>>& Fields) {
  for (const auto& [table, offset] : Fields) {
    if (!HasFault(O, TitleSet, table, IfoFaultKind::StartSector)) continue;
    F.Put32(offset, F.Sector() + kFarSectors);
  }
  for (const auto& f : O.Faults)
    if (f.TitleSet == TitleSet) S.Faults.push_back(f);
}

}  // namespace

core::TTimeCode FramesToPlainTime(int64_t Frames, double FrameRate) {
  const int fps = RoundRate(FrameRate);
  if (Frames < 0) Frames = 0;
  const int64_t secs = Frames / fps;
  core::TTimeCode tc;
  tc.Frames = static_cast<uint8_t>(Frames % fps);
  tc.Seconds = static_cast<uint8_t>(secs % 60);
  tc.Minutes = static_cast<uint8_t>((secs / 60) % 60);
  tc.Hours = static_cast<uint8_t>(std::min<int64_t>(secs / 3600, 99));
  return tc;
}

std::array<uint8_t, 4> BcdPlaybackTime(int64_t Frames, double FrameRate) {
  const core::TTimeCode tc = FramesToPlainTime(Frames, FrameRate);
  const uint8_t rateFlag = RoundRate(FrameRate) == 25 ? 0x40 : 0xC0;
  return {Bcd(tc.Hours), Bcd(tc.Minutes), Bcd(tc.Seconds), static_cast<uint8_t>(Bcd(tc.Frames) | rateFlag)};
}

std::vector<uint8_t> BuildVtsBytes(const DiscSpec& Spec, int N, const IfoBuildOptions& O, IfoFileSummary& S) {
  const TitleSetSpec& ts = Spec.TitleSets.at(static_cast<size_t>(N - 1));
  S = IfoFileSummary{};
  S.TitleSetNumber = N;
  S.IfoName = DiscFileName(N, "i01.IFO");
  S.BupName = DiscFileName(N, "i01.BUP");
  S.MenuLayout = LayoutDomain(ts.Menu, DiscFileName(N, "m"), 1);
  S.TitleLayout = LayoutDomain(ts.Titles, DiscFileName(N, "t"), 1);
  const DomainLayout& ml = S.MenuLayout;
  const DomainLayout& tl = S.TitleLayout;
  const double rate = Spec.FrameRate;

  Buf f;
  f.Grow(disc::kVTSIMatSize);
  uint32_t ptt = 0, pgcit = 0, pgciut = 0, tmap = 0, mcadt = 0, mvobu = 0, cadt = 0, vobu = 0;

  if (TitleCount(ts.Titles) > 0) {
    ptt = PlaceTable(f, IfoTable::PTT_SRPT, S, [&] {
      S.Parts = TitleParts(ts.Titles);
      size_t entries = 0;
      for (const auto& p : S.Parts) entries += p.size();
      const uint64_t t = f.Grow(8 + 4 * S.Parts.size() + 4 * entries);
      f.Put16(t, static_cast<uint16_t>(S.Parts.size()));
      f.Put32(t + 4, static_cast<uint32_t>(f.Size() - t - 1));
      uint64_t start = 8 + 4 * S.Parts.size();
      for (size_t k = 0; k < S.Parts.size(); ++k) {
        const bool far = k == 0 && HasFault(O, N, IfoTable::PTT_SRPT, IfoFaultKind::InnerOffset);
        f.Put32(t + 8 + 4 * k, far ? kFarOffset : static_cast<uint32_t>(start));
        for (const auto& part : S.Parts[k]) {
          f.Put16(t + start, part.PGCNumber);
          f.Put16(t + start + 2, part.ProgramNumber);
          start += 4;
        }
      }
    });
  }
  if (!ts.Titles.PGCs.empty()) {
    pgcit = PlaceTable(f, IfoTable::VTS_PGCIT, S, [&] {
      const auto& pgcs = ts.Titles.PGCs;
      const uint64_t t = f.Grow(8 + disc::kTitlePGCEntrySize * pgcs.size());
      for (size_t j = 0; j < pgcs.size(); ++j) {
        PGCSummary ps;
        const bool farTable = j == 0 && HasFault(O, N, IfoTable::VTS_PGCIT, IfoFaultKind::ChainTable);
        const uint64_t pos = f.Append(BuildPGC(pgcs[j], ts.Titles, tl, rate, farTable, ps));
        ps.FilePos = pos;
        const uint64_t e = t + 8 + disc::kTitlePGCEntrySize * j;
        f.Put8(e, pgcs[j].Category);
        const bool far = j == 0 && HasFault(O, N, IfoTable::VTS_PGCIT, IfoFaultKind::InnerOffset);
        f.Put32(e + 8, far ? kFarOffset : static_cast<uint32_t>(pos - t));
        S.TitlePGCs.push_back(std::move(ps));
      }
      f.Put16(t, static_cast<uint16_t>(pgcs.size()));
      f.Put32(t + 4, static_cast<uint32_t>(f.Size() - t - 1));
    });
  }
  if (!ts.Menu.PGCs.empty()) {
    pgciut = PlaceTable(f, IfoTable::MenuPGCI_UT, S, [&] {
      WriteLanguageUnits(f, ts.Menu, ml, ts.MenuLanguage, false, rate,
                         HasFault(O, N, IfoTable::MenuPGCI_UT, IfoFaultKind::InnerOffset),
                         HasFault(O, N, IfoTable::MenuPGCI_UT, IfoFaultKind::ChainTable), S);
    });
  }
  if (!ts.Titles.PGCs.empty()) {
    tmap = PlaceTable(f, IfoTable::VTS_TMAPTI, S, [&] {
      const auto& pgcs = ts.Titles.PGCs;
      const uint64_t t = f.Grow(8 + 4 * pgcs.size());
      for (size_t j = 0; j < pgcs.size(); ++j) {
        TimeMapSummary m = TimeMapOf(pgcs[j], ts.Titles, tl);
        const uint64_t mp = f.Grow(4 + 4 * m.Entries.size());
        const bool far = j == 0 && HasFault(O, N, IfoTable::VTS_TMAPTI, IfoFaultKind::InnerOffset);
        f.Put32(t + 8 + 4 * j, far ? kFarOffset : static_cast<uint32_t>(mp - t));
        f.Put8(mp, m.TimeUnit);
        f.Put16(mp + 2, static_cast<uint16_t>(m.Entries.size()));
        for (size_t k = 0; k < m.Entries.size(); ++k) f.Put32(mp + 4 + 4 * k, m.Entries[k]);
        S.TimeMaps.push_back(std::move(m));
      }
      f.Put16(t, static_cast<uint16_t>(pgcs.size()));
      f.Put32(t + 4, static_cast<uint32_t>(f.Size() - t - 1));
    });
  }
  if (!ts.Menu.Cells.empty()) {
    S.MenuCells = CellAddresses(ts.Menu, ml);
    S.MenuVobus = VobuSectors(ml);
    mcadt = PlaceTable(f, IfoTable::MenuC_ADT, S, [&] {
      WriteCellAddresses(f, ts.Menu, S.MenuCells, false, HasFault(O, N, IfoTable::MenuC_ADT, IfoFaultKind::InnerOffset));
    });
    mvobu = PlaceTable(f, IfoTable::MenuVOBU_ADMAP, S, [&] {
      WriteVobuMap(f, S.MenuVobus, HasFault(O, N, IfoTable::MenuVOBU_ADMAP, IfoFaultKind::InnerOffset));
    });
  }
  if (!ts.Titles.Cells.empty()) {
    S.TitleCells = CellAddresses(ts.Titles, tl);
    S.TitleVobus = VobuSectors(tl);
    cadt = PlaceTable(f, IfoTable::VTS_C_ADT, S, [&] {
      WriteCellAddresses(f, ts.Titles, S.TitleCells, true, HasFault(O, N, IfoTable::VTS_C_ADT, IfoFaultKind::InnerOffset));
    });
    vobu = PlaceTable(f, IfoTable::VTS_VOBU_ADMAP, S, [&] {
      WriteVobuMap(f, S.TitleVobus, HasFault(O, N, IfoTable::VTS_VOBU_ADMAP, IfoFaultKind::InnerOffset));
    });
  }
  f.AlignSector();
  const uint32_t ifoSectors = f.Sector();

  // The management table.
  const char* id = Spec.HD ? "STANDARD-VTS" : "DVDVIDEO-VTS";
  f.PutBytes(0, reinterpret_cast<const uint8_t*>(id), 12);
  f.Put32(disc::vtsi::LastSectorOfSet, 2 * ifoSectors + ml.TotalSectors + tl.TotalSectors - 1);
  f.Put32(disc::vtsi::LastSectorOfIFO, ifoSectors - 1);
  f.Put16(32, 0x0011);  // version
  f.Put32(disc::vtsi::Category, 0);
  f.Put32(disc::vtsi::EndByte, static_cast<uint32_t>(disc::kVTSIMatSize - 1));
  f.Put32(disc::vtsi::MenuEvoStart, ml.TotalSectors ? ifoSectors : 0);
  f.Put32(disc::vtsi::TitleEvoStart, ifoSectors + ml.TotalSectors);
  const std::vector<std::pair<IfoTable, size_t>> fields = {
      {IfoTable::PTT_SRPT, disc::vtsi::PTT_SRPT},         {IfoTable::VTS_PGCIT, disc::vtsi::VTS_PGCIT},
      {IfoTable::MenuPGCI_UT, disc::vtsi::MenuPGCI_UT},   {IfoTable::VTS_TMAPTI, disc::vtsi::VTS_TMAPTI},
      {IfoTable::MenuC_ADT, disc::vtsi::MenuC_ADT},       {IfoTable::MenuVOBU_ADMAP, disc::vtsi::MenuVOBU_ADMAP},
      {IfoTable::VTS_C_ADT, disc::vtsi::VTS_C_ADT},       {IfoTable::VTS_VOBU_ADMAP, disc::vtsi::VTS_VOBU_ADMAP}};
  const uint32_t sectors[] = {ptt, pgcit, pgciut, tmap, mcadt, mvobu, cadt, vobu};
  for (size_t i = 0; i < fields.size(); ++i) f.Put32(fields[i].second, sectors[i]);

  PutStoredAttr(f, disc::vtsi::MenuVideoAttr, ts.MenuVideoAttr);
  const size_t menuSubs = std::min<size_t>(ts.MenuSubpicAttrs.size(), (512 - 342) / 6);
  f.Put16(340, static_cast<uint16_t>(menuSubs));
  for (size_t i = 0; i < menuSubs; ++i) f.PutBytes(342 + 6 * i, ts.MenuSubpicAttrs[i].data(), 6);
  PutStoredAttr(f, disc::vtsi::TitleVideoAttr, ts.TitleVideoAttr);
  const size_t audios = std::min<size_t>(ts.TitleAudioAttrs.size(), 8);
  f.Put16(514, static_cast<uint16_t>(audios));
  for (size_t i = 0; i < audios; ++i) f.PutBytes(disc::vtsi::TitleAudioAttr + 8 * i, ts.TitleAudioAttrs[i].data(), 8);
  const size_t subs = std::min<size_t>(ts.TitleSubpicAttrs.size(), 32);
  f.Put16(596, static_cast<uint16_t>(subs));
  for (size_t i = 0; i < subs; ++i) f.PutBytes(598 + 6 * i, ts.TitleSubpicAttrs[i].data(), 6);

  ApplyStartSectorFaults(f, N, O, S, fields);
  S.FileSize = f.Size();
  return f.b;
}

std::vector<uint8_t> BuildVmgBytes(const DiscSpec& Spec, const std::vector<std::vector<uint8_t>>& TitleSetBytes,
                                   const IfoBuildOptions& O, IfoFileSummary& S) {
  S = IfoFileSummary{};
  S.TitleSetNumber = 0;
  S.IfoName = DiscFileName(0, "i01.IFO");
  S.BupName = DiscFileName(0, "i01.BUP");
  S.TitleLayout = LayoutDomain(Spec.FirstPlay, DiscFileName(0, "m"), 1);
  S.MenuLayout = LayoutDomain(Spec.VmgMenu, DiscFileName(0, "m"), 2);
  const DomainLayout& fl = S.TitleLayout;
  const DomainLayout& ml = S.MenuLayout;
  const double rate = Spec.FrameRate;
  const size_t sets = Spec.TitleSets.size();

  // The VMG's size does not depend on the sectors it names, so a first pass
  // without the title start sectors gives the size that places the title sets.
  std::vector<uint32_t> vtsStart(sets, 0);
  auto build = [&](bool final) {
    S.StartSectors.clear();
    S.Titles.clear();
    S.MenuUnits.clear();
    Buf f;
    f.Grow(1024);
    uint64_t fpEnd = disc::kVMGIMatSize;
    S.HasFirstPlay = !O.NoFirstPlay;
    if (S.HasFirstPlay) {
      const ProgramChainSpec none{};
      const ProgramChainSpec& fp = Spec.FirstPlay.PGCs.empty() ? none : Spec.FirstPlay.PGCs[0];
      S.FirstPlay = PGCSummary{};
      const bool farTable = HasFault(O, 0, IfoTable::FirstPlayPGC, IfoFaultKind::ChainTable) ||
                            HasFault(O, 0, IfoTable::FirstPlayPGC, IfoFaultKind::InnerOffset);
      const uint64_t pos = f.Append(BuildPGC(fp, Spec.FirstPlay, fl, rate, farTable, S.FirstPlay));
      S.FirstPlay.FilePos = pos;
      fpEnd = f.Size();
      const bool far = HasFault(O, 0, IfoTable::FirstPlayPGC, IfoFaultKind::StartSector);
      f.Put32(disc::vmgi::FirstPlayPGC, far ? kFarOffset : static_cast<uint32_t>(pos));
    }
    uint32_t tt = 0, pgciut = 0, ptl = 0, atrt = 0, txt = 0, mcadt = 0, mvobu = 0;

    for (size_t n = 1; n <= sets; ++n) {
      const DomainSpec& titles = Spec.TitleSets[n - 1].Titles;
      const auto parts = TitleParts(titles);
      for (const auto& p : titles.PGCs) {
        if (!(p.Category & 0x80)) continue;
        const int t = p.Category & 0x7F;
        TitleSearchSummary e;
        e.AngleCount = MaxAngles(p, titles);
        e.Parts = static_cast<uint16_t>(t >= 1 && t <= static_cast<int>(parts.size()) ? parts[t - 1].size() : 0);
        e.TitleSet = static_cast<uint16_t>(n);
        e.TitleNumber = static_cast<uint16_t>(t);
        e.StartSector = vtsStart[n - 1];
        S.Titles.push_back(e);
      }
    }
    if (!S.Titles.empty()) {
      tt = PlaceTable(f, IfoTable::TT_SRPT, S, [&] {
        const uint64_t t = f.Grow(8 + disc::kTitleSearchEntrySize * S.Titles.size());
        const bool far = HasFault(O, 0, IfoTable::TT_SRPT, IfoFaultKind::InnerOffset);
        f.Put16(t, far ? 0xFFFF : static_cast<uint16_t>(S.Titles.size()));
        f.Put32(t + 4, static_cast<uint32_t>(f.Size() - t - 1));
        for (size_t i = 0; i < S.Titles.size(); ++i) {
          const auto& e = S.Titles[i];
          const uint64_t p = t + 8 + disc::kTitleSearchEntrySize * i;
          f.Put8(p, e.TitleType);
          f.Put8(p + 1, e.AngleCount);
          f.Put16(p + 2, e.Parts);
          f.Put16(p + 8, e.TitleSet);
          f.Put16(p + 10, e.TitleNumber);
          f.Put32(p + 12, e.StartSector);
        }
      });
    }
    if (!Spec.VmgMenu.PGCs.empty()) {
      pgciut = PlaceTable(f, IfoTable::MenuPGCI_UT, S, [&] {
        WriteLanguageUnits(f, Spec.VmgMenu, ml, Spec.MenuLanguage, true, rate,
                           HasFault(O, 0, IfoTable::MenuPGCI_UT, IfoFaultKind::InnerOffset),
                           HasFault(O, 0, IfoTable::MenuPGCI_UT, IfoFaultKind::ChainTable), S);
      });
    }
    ptl = PlaceTable(f, IfoTable::PTL_MAIT, S, [&] {
      const uint64_t t = f.Grow(16);
      f.Put16(t, 1);
      f.Put16(t + 2, static_cast<uint16_t>(sets));
      f.Put32(t + 4, 15);
      f.Put8(t + 8, 'U');
      f.Put8(t + 9, 'S');
    });
    S.TitleSetCount = O.TitleSetCountOverride ? O.TitleSetCountOverride : static_cast<uint16_t>(sets);
    atrt = PlaceTable(f, IfoTable::VTS_ATRT, S, [&] {
      const uint64_t t = f.Grow(8 + 4 * sets);
      f.Put16(t, S.TitleSetCount);
      for (size_t n = 0; n < sets; ++n) {
        const uint64_t e = f.Grow(disc::kVTSAttributeEntrySize);
        const bool far = n == 0 && HasFault(O, 0, IfoTable::VTS_ATRT, IfoFaultKind::InnerOffset);
        f.Put32(t + 8 + 4 * n, far ? kFarOffset : static_cast<uint32_t>(e - t));
        f.Put32(e, static_cast<uint32_t>(disc::kVTSAttributeEntrySize - 1));
        const std::vector<uint8_t>& vts = TitleSetBytes.at(n);
        f.PutBytes(e + 4, vts.data() + disc::vtsi::Category, 4);
        // The entry's attribute area is a copy of the title set's from byte 256.
        f.PutBytes(e + 8, vts.data() + disc::vtsi::MenuVideoAttr, disc::kVTSAttributeEntrySize - 8);
      }
      f.Put32(t + 4, static_cast<uint32_t>(f.Size() - t - 1));
    });
    if (O.WriteTextData) {
      txt = PlaceTable(f, IfoTable::TXTDT_MG, S, [&] {
        const uint64_t t = f.Grow(28);
        static constexpr char kId[] = "TEXTDATA    ";
        f.PutBytes(t, reinterpret_cast<const uint8_t*>(kId), 12);
        f.Put8(t + 15, HasFault(O, 0, IfoTable::TXTDT_MG, IfoFaultKind::InnerOffset) ? 255 : 1);
        f.Put32(t + 16, 27);
        f.Put8(t + 20, static_cast<uint8_t>(Spec.MenuLanguage[0]));
        f.Put8(t + 21, static_cast<uint8_t>(Spec.MenuLanguage[1]));
        f.Put32(t + 24, 28);
      });
    }
    if (!Spec.VmgMenu.Cells.empty()) {
      S.MenuCells = CellAddresses(Spec.VmgMenu, ml);
      S.MenuVobus = VobuSectors(ml);
      mcadt = PlaceTable(f, IfoTable::MenuC_ADT, S, [&] {
        WriteCellAddresses(f, Spec.VmgMenu, S.MenuCells, false,
                           HasFault(O, 0, IfoTable::MenuC_ADT, IfoFaultKind::InnerOffset));
      });
      mvobu = PlaceTable(f, IfoTable::MenuVOBU_ADMAP, S, [&] {
        WriteVobuMap(f, S.MenuVobus, HasFault(O, 0, IfoTable::MenuVOBU_ADMAP, IfoFaultKind::InnerOffset));
      });
    }
    f.AlignSector();
    const uint32_t ifoSectors = f.Sector();
    const uint32_t menuSectors = fl.TotalSectors + ml.TotalSectors;

    const char* id = Spec.HD ? "HVDVD-VMG100" : "DVDVIDEO-VMG";
    f.PutBytes(0, reinterpret_cast<const uint8_t*>(id), 12);
    f.Put32(disc::vmgi::LastSectorOfSet, 2 * ifoSectors + menuSectors - 1);
    f.Put32(disc::vmgi::LastSectorOfIFO, ifoSectors - 1);
    f.Put16(32, 0x0011);
    f.Put16(38, 1);  // volumes
    f.Put16(40, 1);  // this volume
    f.Put16(disc::vmgi::TitleSetCount, static_cast<uint16_t>(sets));
    f.Put64(96, 0x0123456789ABCDEFull);
    f.Put32(disc::vmgi::EndByte, static_cast<uint32_t>(fpEnd - 1));
    f.Put32(disc::vmgi::MenuEvoStart, menuSectors ? ifoSectors : 0);
    const std::vector<std::pair<IfoTable, size_t>> fields = {
        {IfoTable::TT_SRPT, disc::vmgi::TT_SRPT},     {IfoTable::MenuPGCI_UT, disc::vmgi::MenuPGCI_UT},
        {IfoTable::PTL_MAIT, disc::vmgi::PTL_MAIT},   {IfoTable::VTS_ATRT, disc::vmgi::VTS_ATRT},
        {IfoTable::TXTDT_MG, disc::vmgi::TXTDT_MG},   {IfoTable::MenuC_ADT, disc::vmgi::MenuC_ADT},
        {IfoTable::MenuVOBU_ADMAP, disc::vmgi::MenuVOBU_ADMAP}};
    const uint32_t sectors[] = {tt, pgciut, ptl, atrt, txt, mcadt, mvobu};
    for (size_t i = 0; i < fields.size(); ++i) f.Put32(fields[i].second, sectors[i]);
    PutStoredAttr(f, 256, Spec.VmgMenuVideoAttr);
    if (final) {
      ApplyStartSectorFaults(f, 0, O, S, fields);
      // PTL_MAIT has no inner offset to spoil: its inner fault is its start sector.
      if (HasFault(O, 0, IfoTable::PTL_MAIT, IfoFaultKind::InnerOffset))
        f.Put32(disc::vmgi::PTL_MAIT, f.Sector() + kFarSectors);
    }
    // Title set n starts after the VMG set and the title sets before it.
    uint32_t next = 2 * ifoSectors + menuSectors;
    for (size_t n = 0; n < sets; ++n) {
      vtsStart[n] = next;
      next += core::ReadBE32(TitleSetBytes.at(n).data() + disc::vtsi::LastSectorOfSet) + 1;
    }
    S.FileSize = f.Size();
    return f.b;
  };
  build(false);
  return build(true);
}

IfoSetSummary WriteIfoSet(const std::string& Folder, const DiscSpec& Spec, const IfoBuildOptions& O) {
  IfoSetSummary out;
  std::vector<std::vector<uint8_t>> vts;
  for (size_t n = 1; n <= Spec.TitleSets.size(); ++n) {
    IfoFileSummary s;
    vts.push_back(BuildVtsBytes(Spec, static_cast<int>(n), O, s));
    out.TitleSets.push_back(std::move(s));
  }
  const std::vector<uint8_t> vmg = BuildVmgBytes(Spec, vts, O, out.Vmg);

  const std::string dir = Folder.empty() || Folder.back() == '/' ? Folder : Folder + "/";
  auto write = [&](IfoFileSummary& s, const std::vector<uint8_t>& bytes) {
    const auto it = O.Damage.find(s.TitleSetNumber);
    if (it != O.Damage.end()) s.Damage = it->second;
    WriteDamaged(dir + s.IfoName, bytes, s.Damage.Ifo, s.Damage.TruncateTo, s.IfoWritten);
    WriteDamaged(dir + s.BupName, bytes, s.Damage.Bup, s.Damage.TruncateTo, s.BupWritten);
  };
  write(out.Vmg, vmg);
  for (size_t n = 0; n < vts.size(); ++n) write(out.TitleSets[n], vts[n]);
  return out;
}

}  // namespace tess::tools
