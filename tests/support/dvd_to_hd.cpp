#include "support/dvd_to_hd.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <utility>

#include "core/byte_order.h"
#include "support/test_support.h"

namespace tess::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using core::ReadBE16;
using core::ReadBE24;
using core::ReadBE32;
using core::WriteBE16;
using core::WriteBE24;
using core::WriteBE32;

constexpr size_t kSector = 2048;

// Fields of the management tables; the video manager's and a title set's lie
// at the same offsets in both forms.
namespace mat {
constexpr size_t kLastSectorOfSet = 12, kLastSectorOfIfo = 28, kFirstPlayChain = 132, kMenuVobs = 192;
constexpr size_t kTitleSearch = 196, kVmgMenuChains = 200, kParental = 204, kTitleSetAttributes = 208,
                 kTextData = 212, kVmgMenuCells = 216, kVmgMenuVobus = 220;
constexpr size_t kTitleVobs = 196, kPartsOfTitles = 200, kTitleChains = 204, kMenuChains = 208, kTimeMaps = 212,
                 kMenuCells = 216, kMenuVobus = 220, kTitleCells = 224, kTitleVobus = 228;
}  // namespace mat

// A program chain's general part: 236 bytes on a DVD, 240 in the HD form,
// which holds the counts in 16 bits and the table offsets before the palette.
namespace pgc {
constexpr size_t kDvdPrograms = 2, kDvdCells = 3, kDvdPalette = 164, kDvdTables = 228;
constexpr size_t kHdSize = 240, kHdPrograms = 0, kHdCells = 2, kHdTables = 168, kHdPalette = 176;
constexpr size_t kSharedFrom = 4, kSharedSize = 160;  // times, user operations, stream controls, links, still, mode
constexpr size_t kPaletteSize = 64;
}  // namespace pgc

// Where the HD navigation pack holds its two packets.
constexpr size_t kHdPciAt = 304, kHdDsiAt = 1287;

// A DVD that is not as dvdauthor writes it ends the conversion with the reason.
struct Malformed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void Need(bool Ok, const std::string& What) {
  if (!Ok) throw Malformed(What);
}

// One file's bytes, read with bounds checks.
class Span {
 public:
  Span(const Bytes& B, std::string Name) : b_(B), name_(std::move(Name)) {}
  const uint8_t* At(size_t Offset, size_t Length) const {
    Need(Offset <= b_.size() && Length <= b_.size() - Offset,
         name_ + ": " + std::to_string(Length) + " bytes at " + std::to_string(Offset) + " lie past its end");
    return b_.data() + Offset;
  }
  uint8_t U8(size_t Offset) const { return *At(Offset, 1); }
  uint16_t U16(size_t Offset) const { return ReadBE16(At(Offset, 2)); }
  uint32_t U32(size_t Offset) const { return ReadBE32(At(Offset, 4)); }
  Bytes Copy(size_t Offset, size_t Length) const {
    const uint8_t* p = At(Offset, Length);
    return Bytes(p, p + Length);
  }
  const std::string& Name() const { return name_; }

 private:
  const Bytes& b_;
  std::string name_;
};

void Append(Bytes& To, const Bytes& From) { To.insert(To.end(), From.begin(), From.end()); }
void AlignTo(Bytes& B, size_t Unit) { B.resize((B.size() + Unit - 1) / Unit * Unit, 0); }

// A table whose layout is the same in both forms, as long as its end byte
// (at EndField) says.
Bytes CopyTable(const Span& Ifo, size_t At, size_t EndField) {
  return Ifo.Copy(At, size_t{Ifo.U32(At + EndField)} + 1);
}

Bytes HdProgramChain(const Span& Ifo, size_t At) {
  const uint8_t programs = Ifo.U8(At + pgc::kDvdPrograms), cells = Ifo.U8(At + pgc::kDvdCells);
  Bytes hd(pgc::kHdSize, 0);
  WriteBE16(&hd[pgc::kHdPrograms], programs);
  WriteBE16(&hd[pgc::kHdCells], cells);
  std::copy_n(Ifo.At(At + pgc::kSharedFrom, pgc::kSharedSize), pgc::kSharedSize, hd.begin() + pgc::kSharedFrom);
  std::copy_n(Ifo.At(At + pgc::kDvdPalette, pgc::kPaletteSize), pgc::kPaletteSize, hd.begin() + pgc::kHdPalette);
  // The command table (three counts, then 8-byte commands), the program map
  // (a byte per program), the cell playback table (24 bytes a cell) and the
  // cell position table (4 bytes a cell) keep their layouts.
  size_t sizes[4] = {0, programs, 24u * cells, 4u * cells};
  if (const uint16_t commands = Ifo.U16(At + pgc::kDvdTables))
    sizes[0] = 8 + 8 * (size_t{Ifo.U16(At + commands)} + Ifo.U16(At + commands + 2) + Ifo.U16(At + commands + 4));
  for (size_t k = 0; k < 4; ++k) {
    const uint16_t from = Ifo.U16(At + pgc::kDvdTables + 2 * k);
    if (from == 0 || sizes[k] == 0) continue;
    AlignTo(hd, 4);
    WriteBE16(&hd[pgc::kHdTables + 2 * k], static_cast<uint16_t>(hd.size()));
    Append(hd, Ifo.Copy(At + from, sizes[k]));
  }
  Need(hd.size() <= 0xFFFF, Ifo.Name() + ": a program chain too large to address");
  return hd;
}

// A chain search table (a title set's chains, or one menu language unit): the
// DVD entry is 8 bytes (category, start byte at 4), the HD entry 12 (start byte
// at 8). Chains that several entries share are written once.
Bytes HdChainTable(const Span& Ifo, size_t At) {
  const uint16_t count = Ifo.U16(At);
  Bytes hd(8 + 12 * size_t{count}, 0);
  WriteBE16(&hd[0], count);
  std::map<uint32_t, uint32_t> placed;
  for (size_t i = 0; i < count; ++i) {
    const size_t entry = At + 8 + 8 * i;
    std::copy_n(Ifo.At(entry, 4), 4, hd.begin() + static_cast<long>(8 + 12 * i));
    auto [chain, fresh] = placed.try_emplace(Ifo.U32(entry + 4), 0);
    if (fresh) {
      AlignTo(hd, 4);
      chain->second = static_cast<uint32_t>(hd.size());
      Append(hd, HdProgramChain(Ifo, At + chain->first));
    }
    WriteBE32(&hd[8 + 12 * i + 8], chain->second);
  }
  WriteBE32(&hd[4], static_cast<uint32_t>(hd.size() - 1));
  return hd;
}

// The menu language units: the unit entries keep their layout, each unit is a
// chain search table.
Bytes HdMenuUnits(const Span& Ifo, size_t At) {
  const uint16_t units = Ifo.U16(At);
  Bytes hd(8 + 8 * size_t{units}, 0);
  WriteBE16(&hd[0], units);
  for (size_t i = 0; i < units; ++i) {
    const size_t entry = At + 8 + 8 * i;
    std::copy_n(Ifo.At(entry, 4), 4, hd.begin() + static_cast<long>(8 + 8 * i));
    AlignTo(hd, 4);
    WriteBE32(&hd[8 + 8 * i + 4], static_cast<uint32_t>(hd.size()));
    Append(hd, HdChainTable(Ifo, At + Ifo.U32(entry + 4)));
  }
  WriteBE32(&hd[4], static_cast<uint32_t>(hd.size() - 1));
  return hd;
}

// Title search entries grow from 12 to 16 bytes: title set and title number
// become 16-bit fields at 8 and 10, the title set's first sector moves to 12.
Bytes HdTitleSearch(const Span& Ifo, size_t At, const std::vector<uint32_t>& TitleSetStarts) {
  const uint16_t count = Ifo.U16(At);
  Bytes hd(8 + 16 * size_t{count}, 0);
  WriteBE16(&hd[0], count);
  WriteBE32(&hd[4], static_cast<uint32_t>(hd.size() - 1));
  for (size_t i = 0; i < count; ++i) {
    const size_t from = At + 8 + 12 * i;
    uint8_t* to = &hd[8 + 16 * i];
    to[0] = Ifo.U8(from);
    to[1] = Ifo.U8(from + 1);
    WriteBE16(to + 2, Ifo.U16(from + 2));
    WriteBE16(to + 4, Ifo.U16(from + 4));
    const uint8_t titleSet = Ifo.U8(from + 6);
    WriteBE16(to + 8, titleSet);
    WriteBE16(to + 10, Ifo.U8(from + 7));
    WriteBE32(to + 12, titleSet >= 1 && titleSet <= TitleSetStarts.size() ? TitleSetStarts[titleSet - 1]
                                                                           : Ifo.U32(from + 8));
  }
  return hd;
}

// Title cell ids take both bytes 2..3 of an HD title cell entry; the DVD keeps
// the id in byte 2.
Bytes HdTitleCells(const Span& Ifo, size_t At) {
  Bytes t = CopyTable(Ifo, At, 4);
  for (size_t e = 8; e + 12 <= t.size(); e += 12) {
    t[e + 3] = t[e + 2];
    t[e + 2] = 0;
  }
  return t;
}

using TableMaker = std::function<Bytes(const Span&, size_t)>;
TableMaker Copied(size_t EndField) {
  return [EndField](const Span& Ifo, size_t At) { return CopyTable(Ifo, At, EndField); };
}

// The information file in the making: the management table in sector 0, every
// table from a sector of its own, in the order given.
Bytes HdIfo(const Span& Ifo, const char* DvdId, const char* HdId,
            const std::vector<std::pair<size_t, TableMaker>>& Tables) {
  Need(std::memcmp(Ifo.At(0, 12), DvdId, 12) == 0, Ifo.Name() + " does not start with " + DvdId);
  Bytes hd = Ifo.Copy(0, kSector);
  std::copy_n(HdId, 12, hd.begin());
  for (const auto& [field, make] : Tables) {
    const uint32_t sector = Ifo.U32(field);
    WriteBE32(&hd[field], 0);
    if (sector == 0) continue;
    const Bytes table = make(Ifo, sector * kSector);
    AlignTo(hd, kSector);
    WriteBE32(&hd[field], static_cast<uint32_t>(hd.size() / kSector));
    Append(hd, table);
  }
  AlignTo(hd, kSector);
  WriteBE32(&hd[mat::kLastSectorOfIfo], static_cast<uint32_t>(hd.size() / kSector - 1));
  return hd;
}

uint32_t SectorsOf(const Bytes& B) { return static_cast<uint32_t>(B.size() / kSector); }

// A set's last sector counts its information file, its VOB files and the backup.
void SetSectors(Bytes& Ifo, uint32_t MenuSectors, uint32_t TitleSectors, bool TitleSet) {
  const uint32_t ifo = SectorsOf(Ifo);
  WriteBE32(&Ifo[mat::kMenuVobs], MenuSectors ? ifo : 0);
  if (TitleSet) WriteBE32(&Ifo[mat::kTitleVobs], ifo + MenuSectors);
  WriteBE32(&Ifo[mat::kLastSectorOfSet], 2 * ifo + MenuSectors + TitleSectors - 1);
}

Bytes HdTitleSetIfo(const Span& Ifo, uint32_t MenuSectors, uint32_t TitleSectors) {
  Bytes hd = HdIfo(Ifo, "DVDVIDEO-VTS", "STANDARD-VTS",
                   {{mat::kPartsOfTitles, Copied(4)},
                    {mat::kTitleChains, HdChainTable},
                    {mat::kMenuChains, HdMenuUnits},
                    {mat::kTimeMaps, Copied(4)},
                    {mat::kMenuCells, Copied(4)},
                    {mat::kMenuVobus, Copied(0)},
                    {mat::kTitleCells, HdTitleCells},
                    {mat::kTitleVobus, Copied(0)}});
  SetSectors(hd, MenuSectors, TitleSectors, true);
  return hd;
}

Bytes HdManagerIfo(const Span& Ifo, uint32_t MenuSectors, const std::vector<uint32_t>& TitleSetStarts) {
  Bytes hd = HdIfo(Ifo, "DVDVIDEO-VMG", "HVDVD-VMG100",
                   {{mat::kTitleSearch, [&](const Span& S, size_t At) { return HdTitleSearch(S, At, TitleSetStarts); }},
                    {mat::kVmgMenuChains, HdMenuUnits},
                    {mat::kParental, Copied(4)},
                    {mat::kTitleSetAttributes, Copied(4)},
                    {mat::kTextData, Copied(16)},
                    {mat::kVmgMenuCells, Copied(4)},
                    {mat::kVmgMenuVobus, Copied(0)}});
  // The first-play chain follows the tables, in a sector of its own.
  if (const uint32_t firstPlay = Ifo.U32(mat::kFirstPlayChain)) {
    if (firstPlay < kSector) std::fill(hd.begin() + firstPlay, hd.begin() + kSector, 0);
    WriteBE32(&hd[mat::kFirstPlayChain], static_cast<uint32_t>(hd.size()));
    Append(hd, HdProgramChain(Ifo, firstPlay));
    AlignTo(hd, kSector);
    WriteBE32(&hd[mat::kLastSectorOfIfo], SectorsOf(hd) - 1);
  }
  SetSectors(hd, MenuSectors, 0, false);
  return hd;
}

struct Packet {
  size_t At, Size;
  uint8_t StreamId;
};

// A packet header: start code, stream id, length of what follows.
void PutPacketHeader(uint8_t* At, uint8_t StreamId, size_t Size) {
  WriteBE24(At, 1);
  At[3] = StreamId;
  WriteBE16(At + 4, static_cast<uint16_t>(Size - 6));
}

void PutNavPacket(uint8_t* At, size_t Size, uint8_t Substream, const Bytes& Data) {
  PutPacketHeader(At, 0xBF, Size);
  At[6] = Substream;
  std::copy_n(Data.begin(), std::min(Data.size(), Size - 7), At + 7);
}

// The PCI and DSI packets move to their HD places; whatever stood before the
// PCI packet (the system header) stays, and a padding packet fills the gap.
void RewriteNavPack(uint8_t* Pack, size_t First, const Packet& Pci, const Packet& Dsi, DvdDomain& D,
                    uint32_t Sector) {
  const Bytes head(Pack + First, Pack + Pci.At), pci(Pack + Pci.At + 7, Pack + Pci.At + Pci.Size),
      dsi(Pack + Dsi.At + 7, Pack + Dsi.At + Dsi.Size);
  Need(dsi.size() >= 28, "a DSI packet too short for its VOB and cell ids");
  D.NavPacks.push_back({Sector, ReadBE16(&dsi[24]), dsi[27]});
  Pack[13] &= 0xF8;  // no stuffing
  std::fill(Pack + 14, Pack + kSector, 0);
  std::copy(head.begin(), head.end(), Pack + 14);
  const size_t padding = 14 + head.size();
  Need(padding + 6 <= kHdPciAt, "a system header too long for an HD navigation pack");
  PutPacketHeader(Pack + padding, 0xBE, kHdPciAt - padding);
  std::fill(Pack + padding + 6, Pack + kHdPciAt, 0xFF);
  PutNavPacket(Pack + kHdPciAt, kHdDsiAt - kHdPciAt, 0, pci);
  PutNavPacket(Pack + kHdDsiAt, kSector - kHdDsiAt, 1, dsi);
}

void ConvertPack(uint8_t* Pack, DvdDomain& D, uint32_t Sector, const std::string& Where) {
  Need(ReadBE32(Pack) == 0x1BA, Where + " is no MPEG-2 pack");
  const size_t first = 14 + (Pack[13] & 7);
  std::vector<Packet> packets;
  for (size_t at = first; at + 6 <= kSector && ReadBE24(Pack + at) == 1;) {
    const size_t size = 6 + size_t{ReadBE16(Pack + at + 4)};
    Need(at + size <= kSector, Where + ": a packet runs past its pack");
    packets.push_back({at, size, Pack[at + 3]});
    at += size;
  }
  const auto nav = std::find_if(packets.begin(), packets.end(), [](const Packet& P) { return P.StreamId == 0xBF; });
  if (nav != packets.end()) {
    Need(nav + 1 != packets.end() && nav[1].StreamId == 0xBF && Pack[nav->At + 6] == 0 && Pack[nav[1].At + 6] == 1,
         Where + ": a navigation pack without its PCI and DSI packets");
    RewriteNavPack(Pack, first, nav[0], nav[1], D, Sector);
    return;
  }
  // AC-3 substreams 0x80..0x87 are 0xC0..0xC7 on an HD disc; the three bytes
  // after the substream id (frame count, first access unit) stay as they are.
  for (const Packet& p : packets) {
    if (p.StreamId != 0xBD) continue;
    const size_t substream = p.At + 9 + Pack[p.At + 8];
    Need(substream < p.At + p.Size, Where + ": a private-stream packet without its substream id");
    if (Pack[substream] >= 0x80 && Pack[substream] <= 0x87) Pack[substream] += 0x40;
  }
}

void ConvertDomain(DvdDomain& D) {
  for (size_t f = 0; f < D.DvdFiles.size(); ++f) {
    Bytes b = ReadFileBytes(D.DvdFiles[f]);
    Need(b.size() % kSector == 0, D.DvdFiles[f] + " is not a whole number of packs");
    for (size_t p = 0; p < b.size(); p += kSector, ++D.Sectors)
      ConvertPack(&b[p], D, D.Sectors, D.DvdFiles[f] + " sector " + std::to_string(p / kSector));
    WriteFileBytes(D.HdFiles[f], b);
  }
}

std::string Number(int N, int Width) {
  std::string s = std::to_string(N);
  return std::string(static_cast<size_t>(std::max(0, Width - static_cast<int>(s.size()))), '0') + s;
}

}  // namespace

DvdToHdResult ConvertDvdToHd(const std::string& VideoTs, const std::string& Dest) {
  DvdToHdResult r;
  const auto dvd = [&](const std::string& Name) { return VideoTs + "/" + Name; };
  const auto hd = [&](const std::string& Name) { return Dest + "/" + Name; };
  try {
    fs::create_directories(Dest);
    std::vector<Bytes> titleSets;
    std::vector<uint32_t> setSectors;
    for (int n = 1; fs::exists(dvd("VTS_" + Number(n, 2) + "_0.IFO")); ++n) {
      const std::string dvdStem = "VTS_" + Number(n, 2) + "_", hdStem = "hv" + Number(n, 3), key = "vts" + std::to_string(n);
      DvdDomain menu, titles;
      if (fs::exists(dvd(dvdStem + "0.VOB"))) menu = {{dvd(dvdStem + "0.VOB")}, {hd(hdStem + "m01.evo")}, {}, 0};
      for (int k = 1; k <= 9 && fs::exists(dvd(dvdStem + std::to_string(k) + ".VOB")); ++k) {
        titles.DvdFiles.push_back(dvd(dvdStem + std::to_string(k) + ".VOB"));
        titles.HdFiles.push_back(hd(hdStem + "t" + Number(k, 2) + ".evo"));
      }
      ConvertDomain(menu);
      ConvertDomain(titles);
      const Bytes ifo = ReadFileBytes(dvd(dvdStem + "0.IFO"));
      titleSets.push_back(HdTitleSetIfo(Span(ifo, dvdStem + "0.IFO"), menu.Sectors, titles.Sectors));
      setSectors.push_back(2 * SectorsOf(titleSets.back()) + menu.Sectors + titles.Sectors);
      if (!menu.DvdFiles.empty()) r.Domains[key + "-menu"] = std::move(menu);
      if (!titles.DvdFiles.empty()) r.Domains[key + "-titles"] = std::move(titles);
    }
    DvdDomain menu;
    if (fs::exists(dvd("VIDEO_TS.VOB"))) menu = {{dvd("VIDEO_TS.VOB")}, {hd("hv000m02.evo")}, {}, 0};
    ConvertDomain(menu);
    const Bytes ifo = ReadFileBytes(dvd("VIDEO_TS.IFO"));
    const Span vmg(ifo, "VIDEO_TS.IFO");
    // The title sets follow the video manager's set on the disc.
    std::vector<uint32_t> starts;
    uint32_t next = 2 * SectorsOf(HdManagerIfo(vmg, menu.Sectors, {})) + menu.Sectors;
    for (uint32_t sectors : setSectors) starts.push_back(std::exchange(next, next + sectors));
    const Bytes manager = HdManagerIfo(vmg, menu.Sectors, starts);
    for (const char* ext : {".IFO", ".BUP"}) {
      WriteFileBytes(hd(std::string("hv000i01") + ext), manager);
      for (size_t n = 0; n < titleSets.size(); ++n)
        WriteFileBytes(hd("hv" + Number(static_cast<int>(n + 1), 3) + "i01" + ext), titleSets[n]);
    }
    if (!menu.DvdFiles.empty()) r.Domains["vmgm"] = std::move(menu);
    r.Ok = true;
  } catch (const std::exception& e) {
    r.Error = e.what();
  }
  return r;
}

std::map<uint16_t, std::string> CutDvdDomainByVobId(const DvdDomain& Domain, const std::string& Folder) {
  Bytes all;
  for (const std::string& f : Domain.DvdFiles) Append(all, ReadFileBytes(f));
  std::map<uint16_t, Bytes> cuts;
  for (size_t i = 0; i < Domain.NavPacks.size(); ++i) {
    const size_t from = Domain.NavPacks[i].Sector * kSector;
    const size_t to = i + 1 < Domain.NavPacks.size() ? Domain.NavPacks[i + 1].Sector * kSector : all.size();
    Bytes& cut = cuts[Domain.NavPacks[i].VobId];
    cut.insert(cut.end(), all.begin() + static_cast<long>(from), all.begin() + static_cast<long>(to));
  }
  std::map<uint16_t, std::string> paths;
  for (const auto& [vob, bytes] : cuts) {
    paths[vob] = Folder + "/vob_" + Number(vob, 3) + ".vob";
    WriteFileBytes(paths[vob], bytes);
  }
  return paths;
}

DvdNavPack DvdNavPackAt(const DvdDomain& Domain, uint32_t Sector) {
  for (const DvdNavPack& n : Domain.NavPacks)
    if (n.Sector == Sector) return n;
  return {};
}

}  // namespace tess::test
