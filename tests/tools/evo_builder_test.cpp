// The EVO builder writes what a demultiplexer test will compare against, so these
// tests take its files apart with a parser of their own and compare the result with
// the stream sources and with the summary the builder returns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "disc_builder.h"
#include "evo_builder.h"
#include "support/test_support.h"

namespace tess::tools {
namespace {

uint32_t BE16(const uint8_t* p) { return (p[0] << 8) | p[1]; }
uint32_t BE32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }
uint64_t Pts(const uint8_t* p) {
  return (uint64_t(p[0] & 0x0E) << 29) | (uint64_t(p[1]) << 22) | (uint64_t(p[2] >> 1) << 15) |
         (uint64_t(p[3]) << 7) | (p[4] >> 1);
}
uint64_t Scr(const uint8_t* p) {
  const uint64_t base = (uint64_t(p[4] & 0x38) << 27) | (uint64_t(p[4] & 0x03) << 28) | (uint64_t(p[5]) << 20) |
                        (uint64_t(p[6] & 0xF8) << 12) | (uint64_t(p[6] & 0x03) << 13) | (uint64_t(p[7]) << 5) |
                        (p[8] >> 3);
  const uint64_t ext = (uint64_t(p[8] & 0x03) << 7) | (p[9] >> 1);
  return base * 300 + ext;
}

const StandardStreams& Streams() {
  static StandardStreams s;
  static bool loaded = [] {
    std::string error;
    const bool ok = LoadStandardStreams(test::DataFile("streams"), s, &error);
    EXPECT_TRUE(ok) << error;
    return ok;
  }();
  (void)loaded;
  return s;
}

// ---- an independent reader of the written packs ----

struct Packet {
  uint64_t Pack = 0;
  uint32_t Key = 0;  // stream id << 8 | substream
  bool HasPts = false;
  uint64_t PtsValue = 0;
  uint64_t EsPos = 0;  // position of the payload in its stream's bytes
  uint32_t EsSize = 0;
  int Frames = -1;     // private-header frame count and pointer, where the format has them
  uint32_t Pointer = 0;
  uint32_t AfterPointer = 0;
};

struct Parsed {
  std::map<uint32_t, std::vector<uint8_t>> Es;
  std::vector<Packet> Packets;
  std::vector<uint64_t> NavPacks;
  int StuffedPacks = 0, PaddingPackets = 0, SharedPacks = 0;
  bool ScrIncreasing = true;
  std::vector<std::string> Faults;
};

uint32_t PrivateHeaderBytes(uint8_t Sub, uint32_t* AfterPointer) {
  *AfterPointer = 0;
  if (Sub >= 0x20 && Sub <= 0x3F) return 0;
  if (Sub >= 0xA0 && Sub <= 0xAF) return *AfterPointer = 3, 6;
  if (Sub >= 0xB0 && Sub <= 0xBF) return *AfterPointer = 1, 4;
  return 3;  // AC-3 family and DTS: frame count, pointer
}

Parsed ParseDomain(const std::vector<uint8_t>& D) {
  Parsed r;
  uint64_t lastScr = 0;
  for (uint64_t pack = 0; pack * kPackSize < D.size(); ++pack) {
    const uint8_t* p = D.data() + pack * kPackSize;
    auto fault = [&](const std::string& t) { r.Faults.push_back("pack " + std::to_string(pack) + ": " + t); };
    if (BE32(p) != 0x000001BA) {
      fault("no pack start code");
      continue;
    }
    const uint64_t scr = Scr(p);
    if (pack > 0 && scr <= lastScr) r.ScrIncreasing = false;
    lastScr = scr;
    const uint32_t stuffing = p[13] & 7;
    r.StuffedPacks += stuffing > 0 ? 1 : 0;
    uint32_t pos = 14 + stuffing;
    int esPackets = 0;
    while (pos < kPackSize) {
      if (pos + 6 > kPackSize || BE32(p + pos) >> 8 != 1) {
        fault("no packet start code at " + std::to_string(pos));
        break;
      }
      const uint8_t id = p[pos + 3];
      const uint32_t len = BE16(p + pos + 4);
      if (pos + 6 + len > kPackSize) {
        fault("packet runs past its pack");
        break;
      }
      if (id == 0xBF && pos == kNavPciStart) r.NavPacks.push_back(pack);
      if (id == 0xBE) ++r.PaddingPackets;
      if (id == 0xBD || id == 0xFD || (id >= 0xC0 && id <= 0xEF)) {
        const uint8_t* h = p + pos;
        const uint32_t hl = h[8];
        uint32_t at = 9;
        Packet k;
        k.Pack = pack;
        uint8_t sub = 0;
        if (h[7] & 0x80) k.HasPts = true, k.PtsValue = Pts(h + at), at += 5;
        if (h[7] & 0x40) at += 5;
        if (h[7] & 0x01) {
          const uint8_t f = h[at++];
          if (f & 0x80) at += 16;
          if (f & 0x20) at += 2;
          if (f & 0x10) at += 2;
          if (f & 0x01) {
            const uint32_t e = h[at++] & 0x7F;
            if (id == 0xFD && e >= 1) sub = h[at];
            at += e;
          }
        }
        if (at > 9 + hl) fault("PES header fields overrun its length");
        uint32_t payload = 9 + hl;
        if (id == 0xBD) {
          sub = h[payload++];
          const uint32_t extra = PrivateHeaderBytes(sub, &k.AfterPointer);
          if (extra >= 3) k.Frames = h[payload], k.Pointer = BE16(h + payload + 1);
          payload += extra;
        }
        if (payload > 6 + len) {
          fault("payload before its header's end");
          break;
        }
        k.Key = uint32_t(id) << 8 | sub;
        auto& es = r.Es[k.Key];
        k.EsPos = es.size();
        k.EsSize = 6 + len - payload;
        es.insert(es.end(), h + payload, h + 6 + len);
        r.Packets.push_back(k);
        ++esPackets;
      }
      pos += 6 + len;
    }
    if (pos != kPackSize && r.Faults.empty()) fault("packets do not fill the pack");
    r.SharedPacks += esPackets > 1 ? 1 : 0;
  }
  return r;
}

std::vector<uint8_t> ReadDomain(const EvoBuildSummary& S) {
  std::vector<uint8_t> all;
  for (const auto& f : S.Files) {
    const auto bytes = test::ReadFileBytes(f.Path);
    EXPECT_EQ(bytes.size(), uint64_t(f.SectorCount) * kPackSize) << f.Name;
    all.insert(all.end(), bytes.begin(), bytes.end());
  }
  return all;
}

// The short walk to the first DSI of a file: pack header and stuffing, then system
// header and private-stream-2 packets, as the cell lookups' probe does it.
std::pair<int, int> FirstVobuIdsByWalk(const std::vector<uint8_t>& F) {
  size_t pos = 0;
  auto have = [&](size_t n) { return pos + n <= F.size(); };
  if (!have(14) || BE32(F.data()) != 0x000001BA) return {0, 0};
  pos = 13;
  pos += 1 + (F[13] & 7);
  uint32_t skip = 0;
  int sub = -1;
  for (;;) {
    pos += skip;
    if (!have(4)) return {0, 0};
    const uint32_t code = BE32(F.data() + pos);
    pos += 4;
    if (code == 0x000001BB) {
      pos += 6;
      while (have(1) && (F[pos] & 0x80)) pos += 3;
    } else if (code == 0x000001BF) {
      if (!have(3)) return {0, 0};
      skip = BE16(F.data() + pos);
      sub = F[pos + 2];
      pos += 3;
    } else {
      return {0, 0};
    }
    pos -= 1;
    if (sub == 1) {
      pos += 25;
      if (!have(4)) return {0, 0};
      return {int(BE16(F.data() + pos)), F[pos + 3]};
    }
  }
}

// Position and time of the last unit of a looped source that starts at or before
// byte Pos of the stream: the unit that holds the byte.
std::pair<uint64_t, uint64_t> UnitHolding(const StreamSource& S, uint64_t Origin, uint64_t Pos) {
  const uint64_t pass = Pos / S.Data.size();
  const uint64_t off = Pos % S.Data.size();
  auto it = std::upper_bound(S.Units.begin(), S.Units.end(), off,
                             [](uint64_t o, const AccessUnit& u) { return o < u.Offset; });
  --it;  // the first unit starts at 0
  return {pass * S.Data.size() + it->Offset, Origin + pass * S.LoopTicks + it->Pts};
}

// Position and time of the first unit of a looped source that starts at or after
// byte Pos of the stream.
std::pair<uint64_t, uint64_t> UnitAtOrAfter(const StreamSource& S, uint64_t Origin, uint64_t Pos) {
  uint64_t pass = Pos / S.Data.size();
  const uint64_t off = Pos % S.Data.size();
  auto it = std::lower_bound(S.Units.begin(), S.Units.end(), off,
                             [](const AccessUnit& u, uint64_t o) { return u.Offset < o; });
  if (it == S.Units.end()) ++pass, it = S.Units.begin();
  return {pass * S.Data.size() + it->Offset, Origin + pass * S.LoopTicks + it->Pts};
}

std::vector<uint8_t> Looped(const StreamSource& S, uint64_t Size) {
  std::vector<uint8_t> out;
  while (out.size() < Size)
    out.insert(out.end(), S.Data.begin(), S.Data.begin() + std::min<uint64_t>(S.Data.size(), Size - out.size()));
  return out;
}

std::vector<EvoStream> AllKinds() {
  const auto& s = Streams();
  return {MakeEvoStream(s.Mpeg2),      MakeEvoStream(s.Ac3),       MakeEvoStream(s.Eac3),
          MakeEvoStream(s.Dts),        MakeEvoStream(s.TrueHd),    MakeEvoStream(s.Mlp, 1),
          MakeEvoStream(s.Mpa),        MakeEvoStream(s.Lpcm16),    MakeEvoStream(s.Lpcm24, 1),
          MakeEvoStream(s.Subpicture), MakeEvoStream(s.Vc1),       MakeEvoStream(s.H264)};
}

uint32_t KeyOf(const EvoStream& E) { return uint32_t(E.StreamId) << 8 | (E.StreamId == 0xBD || E.StreamId == 0xFD ? E.SubstreamId : 0); }

// ---- the stream sources ----

TEST(StreamSources, CutsEveryKindIntoContiguousTimedUnits) {
  const auto& s = Streams();
  for (const StreamSource* src : {&s.Mpeg2, &s.H264, &s.Vc1, &s.Ac3, &s.Eac3, &s.Dts, &s.Mlp, &s.TrueHd, &s.Mpa,
                                  &s.Lpcm16, &s.Lpcm24, &s.Subpicture}) {
    SCOPED_TRACE(src->Name);
    ASSERT_TRUE(src->Valid());
    uint64_t at = 0;
    for (size_t i = 0; i < src->Units.size(); ++i) {
      ASSERT_EQ(src->Units[i].Offset, at);
      ASSERT_GT(src->Units[i].Size, 0u);
      if (i > 0) {
        ASSERT_GT(src->Units[i].Pts, src->Units[i - 1].Pts);
      }
      at += src->Units[i].Size;
    }
    EXPECT_EQ(at, src->Data.size());
    EXPECT_GT(src->LoopTicks, src->Units.back().Pts);
  }
  // Frame durations of the formats at 48 kHz and 29.97 pictures per second.
  EXPECT_EQ(s.Ac3.Units[1].Pts, 2880u);
  EXPECT_EQ(s.Dts.Units[1].Pts, 960u);
  EXPECT_EQ(s.Mpa.Units[1].Pts, 2160u);
  EXPECT_EQ(s.TrueHd.Units[1].Pts, 75u);
  EXPECT_EQ(s.Lpcm16.Units[1].Pts, 150u);
  EXPECT_EQ(s.Lpcm16.Units[0].Size, 80u * 2 * 2);
  EXPECT_EQ(s.Lpcm24.Units[0].Size, 160u * 2 * 3);
  EXPECT_EQ(s.Mpeg2.Units[1].Pts, 3003u);
  EXPECT_EQ(s.Mpeg2.Width, 720);
  EXPECT_EQ(s.Mpeg2.Height, 480);
  for (const auto& u : s.Mpeg2.Units) EXPECT_EQ(BE32(&s.Mpeg2.Data[u.Offset]) >> 8, 1u);
  for (const auto& u : s.H264.Units) EXPECT_EQ(s.H264.Data[u.Offset + 4] & 0x1F, 9) << "an access unit delimiter";
  for (const auto& u : s.Ac3.Units) EXPECT_EQ(BE16(&s.Ac3.Data[u.Offset]), 0x0B77u);
  for (const auto& u : s.Dts.Units) EXPECT_EQ(BE32(&s.Dts.Data[u.Offset]), 0x7FFE8001u);
}

TEST(StreamSources, RegroupsTwentyFourBitLpcmIntoPacketOrder) {
  const auto raw = test::ReadFileBytes(test::DataFile("streams/lpcm_96k_2ch_24.pcm"));
  const auto& d = Streams().Lpcm24.Data;
  ASSERT_GE(raw.size(), d.size());
  // Per two stereo frames: L0, R0, L1, R1 high and middle bytes, then their low bytes.
  for (size_t g = 0; g < 50; ++g) {
    const uint8_t* in = raw.data() + g * 12;
    const uint8_t* out = d.data() + g * 12;
    for (int s = 0; s < 4; ++s) {
      EXPECT_EQ(out[2 * s], in[3 * s]);
      EXPECT_EQ(out[2 * s + 1], in[3 * s + 1]);
      EXPECT_EQ(out[8 + s], in[3 * s + 2]);
    }
  }
  EXPECT_EQ(Streams().Lpcm24.GroupBytes, 12u);
}

TEST(StreamSources, DropsPartialFramesAndSequenceEndsAndRefusesNoise) {
  StreamSource ac3 = Streams().Ac3;
  const size_t frame = ac3.Units[0].Size;
  ac3.Data.resize(frame * 3 + frame / 2);              // a cut-off last frame
  ac3.Data.insert(ac3.Data.begin(), {0x12, 0x34, 0x56});  // junk before the first
  ASSERT_TRUE(CutStreamSource(ac3));
  ASSERT_EQ(ac3.Units.size(), 3u);
  EXPECT_EQ(ac3.Units[0].Size, frame + 3);
  EXPECT_EQ(ac3.Data.size(), 3 * frame + 3);

  StreamSource m2v = Streams().Mpeg2;
  const size_t keep = m2v.Units[2].Offset;
  m2v.Data.resize(keep);
  m2v.Data.insert(m2v.Data.end(), {0, 0, 1, 0xB7});
  ASSERT_TRUE(CutStreamSource(m2v));
  EXPECT_EQ(m2v.Units.size(), 2u);
  EXPECT_EQ(m2v.Data.size(), keep);

  StreamSource noise;
  noise.Kind = StreamKind::Dts;
  noise.Data.assign(5000, 0x55);
  std::string error;
  EXPECT_FALSE(CutStreamSource(noise, &error));
  EXPECT_FALSE(error.empty());
  StreamSource missing;
  EXPECT_FALSE(LoadStreamSource(StreamKind::Ac3, "/nonexistent/a.ac3", missing, &error));
}

// Decodes the subpicture units with an RLE reader of its own: every line has the
// unit's width, the frame colour runs round the box, and the display stops.
TEST(StreamSources, SubpictureUnitsDecode) {
  const StreamSource& s = Streams().Subpicture;
  for (const auto& u : s.Units) {
    const uint8_t* p = s.Data.data() + u.Offset;
    ASSERT_EQ(BE16(p), u.Size);
    const uint32_t ctrl = BE16(p + 2);
    ASSERT_LT(ctrl, u.Size);
    uint32_t top = 0, bottom = 0;
    bool shown = false, stopped = false;
    uint32_t at = ctrl;
    for (int seq = 0; seq < 4; ++seq) {
      const uint32_t next = BE16(p + at + 2);
      uint32_t c = at + 4;
      while (c < u.Size && p[c] != 0xFF) {
        switch (p[c]) {
          case 0x01: shown = true, c += 1; break;
          case 0x02: stopped = true, c += 1; break;
          case 0x03:
          case 0x04: c += 3; break;
          case 0x05: c += 7; break;
          case 0x06: top = BE16(p + c + 1), bottom = BE16(p + c + 3), c += 5; break;
          default: FAIL() << "unknown command " << int(p[c]);
        }
      }
      if (next == at) break;
      at = next;
    }
    EXPECT_TRUE(shown && stopped);
    uint32_t nib = top * 2;
    auto get = [&]() { const uint32_t b = p[nib / 2]; return (nib++ % 2 == 0) ? b >> 4 : b & 15; };
    for (int line = 0; line < s.Height; line += 2) {
      int x = 0;
      while (x < s.Width) {
        // 4, 8, 12 or 16 bits: a short code is never a prefix of a longer one.
        uint32_t v = get();
        if (v < 0x4) {
          v = v << 4 | get();
          if (v < 0x10) {
            v = v << 4 | get();
            if (v < 0x40) v = v << 4 | get();
          }
        }
        const int run = v >> 2 ? int(v >> 2) : s.Width - x;
        if (line == 0) {
          EXPECT_EQ(v & 3, 2u) << "frame colour on the top line";
        }
        x += run;
      }
      ASSERT_EQ(x, s.Width) << "line " << line;
      nib = (nib + 1) / 2 * 2;
    }
    EXPECT_EQ(nib / 2, bottom) << "the top field ends where the bottom field begins";
  }
}

// ---- the EVO files ----

struct Built {
  test::TempDir Dir;
  DomainSpec Spec;
  DomainLayout Layout;
  EvoBuildSummary Sum;
  std::vector<uint8_t> Bytes;
  Parsed P;
};

std::unique_ptr<Built> Build(DomainSpec Spec, const std::vector<EvoStream>& S, const std::string& Stem = "hv001t") {
  auto b = std::make_unique<Built>();
  b->Spec = std::move(Spec);
  b->Sum = BuildDomainEvos(b->Dir.Path(), b->Spec, Stem, 1, S, {}, &b->Layout);
  EXPECT_TRUE(b->Sum.Ok) << b->Sum.Error;
  b->Bytes = ReadDomain(b->Sum);
  b->P = ParseDomain(b->Bytes);
  return b;
}

DomainSpec ThreeCells(int Vobus) {
  DomainSpec d;
  for (int c = 0; c < 3; ++c) {
    CellSpec cell;
    cell.VobId = 1;
    cell.CellId = static_cast<uint8_t>(c + 1);
    cell.VobuCount = Vobus;
    d.Cells.push_back(cell);
  }
  return d;
}

TEST(EvoBuilder, PacksAreWellFormedAndNavigationPacksSitAtEveryVobu) {
  DomainSpec spec = ThreeCells(6);  // 9 s: every source loops at least twice
  spec.MaxFileSectors = 2000;
  auto b = Build(spec, AllKinds());
  ASSERT_TRUE(b->Sum.Ok);
  EXPECT_TRUE(b->P.Faults.empty()) << b->P.Faults.front();
  EXPECT_TRUE(b->P.ScrIncreasing);
  EXPECT_GT(b->Sum.Files.size(), 2u);
  EXPECT_EQ(b->Sum.Files[1].Name, "hv001t02.evo");
  EXPECT_EQ(b->Bytes.size(), uint64_t(b->Layout.TotalSectors) * kPackSize);
  // What a multiplexer does: stuffing in some pack headers, padding packets, and
  // packs shared by the end of one stream's data and the start of another's.
  EXPECT_GT(b->P.StuffedPacks, 0);
  EXPECT_GT(b->P.PaddingPackets, 0);
  EXPECT_GT(b->P.SharedPacks, 0);

  std::vector<uint64_t> expectedNav;
  for (const auto& v : b->Sum.Vobus) expectedNav.push_back(v.Sector);
  EXPECT_EQ(b->P.NavPacks, expectedNav);
  for (size_t i = 0; i < b->Sum.Vobus.size(); ++i) {
    const auto& v = b->Sum.Vobus[i];
    const uint8_t* p = b->Bytes.data() + uint64_t(v.Sector) * kPackSize;
    SCOPED_TRACE(i);
    EXPECT_EQ(BE32(p + 304), 0x000001BFu);
    EXPECT_EQ(p[310], 0);
    EXPECT_EQ(BE32(p + 1287), 0x000001BFu);
    EXPECT_EQ(p[1293], 1);
    EXPECT_EQ(BE32(p + 1298), v.Sector);
    EXPECT_EQ(BE32(p + 1302) & 0xFFFFFF, uint32_t(v.Packs - 1));
    EXPECT_EQ(BE16(p + 1318), 1u);
    EXPECT_EQ(p[1321], b->Spec.Cells[b->Layout.Vobus[i].Cell].CellId);
    EXPECT_EQ(BE32(p + 311 + 12), v.StartPts);
    EXPECT_EQ(BE32(p + 311 + 16), v.EndPts);
    EXPECT_EQ(v.StartPts, b->Layout.Vobus[i].StartPts);
    // Cell elapsed time, BCD with the 30-frame flag: VOBUs are half a second apart.
    const uint32_t elapsed = v.StartPts - b->Sum.Cells[b->Layout.Vobus[i].Cell].StartPts;
    EXPECT_EQ(p[1294 + 30], elapsed / 90000) << "seconds";
    EXPECT_EQ(p[1294 + 31] & 0xC0, 0xC0);
    EXPECT_EQ(p[311 + 26], p[1294 + 30]);
    for (int k = 0; k < 36; ++k) EXPECT_EQ(p[311 + 60 + k], 0) << "no angles outside angle blocks";
    EXPECT_EQ(v.StreamPacks, v.Packs - 1) << "the sizing leaves no spare pack";
  }
  for (const auto& f : b->Sum.Files) {
    const auto bytes = test::ReadFileBytes(f.Path);
    const auto it = std::find_if(b->Sum.Vobus.begin(), b->Sum.Vobus.end(),
                                 [&](const EvoVobuSummary& v) { return v.Sector == f.FirstSector; });
    ASSERT_NE(it, b->Sum.Vobus.end()) << "files begin with a VOBU unless split inside one";
    EXPECT_EQ(FirstVobuIdsByWalk(bytes), std::make_pair(int(it->VobId), int(it->CellId))) << f.Name;
  }
}

TEST(EvoBuilder, ReparsedStreamsAreTheLoopedSourcesWithTheirTimes) {
  const auto streams = AllKinds();
  auto b = Build(ThreeCells(6), streams);
  ASSERT_TRUE(b->P.Faults.empty());
  const uint64_t origin = b->Spec.FirstPts;
  const uint64_t end = b->Layout.Vobus.back().EndPts;
  for (size_t i = 0; i < streams.size(); ++i) {
    const StreamSource& src = *streams[i].Source;
    const auto& sum = b->Sum.Streams[i];
    SCOPED_TRACE(src.Name);
    const auto& es = b->P.Es[KeyOf(streams[i])];
    ASSERT_EQ(es.size(), sum.TotalBytes);
    EXPECT_TRUE(es == sum.Bytes) << "the summary holds the bytes of the packets";
    EXPECT_TRUE(es == Looped(src, es.size())) << "the source, looped from its first byte";
    // Everything up to the domain's end and nothing after it.
    const auto next = UnitAtOrAfter(src, origin, es.size());
    EXPECT_GE(next.second, end);
    if (es.size() > 0) {
      EXPECT_LT(UnitHolding(src, origin, es.size() - 1).second, end);
    }
    // Time stamps exactly on the packets in which a unit starts, with that unit's time.
    for (const Packet& k : b->P.Packets) {
      if (k.Key != KeyOf(streams[i])) continue;
      const auto unit = UnitAtOrAfter(src, origin, k.EsPos);
      const bool starts = unit.first < k.EsPos + k.EsSize;
      ASSERT_EQ(k.HasPts, starts) << "packet at pack " << k.Pack;
      if (starts) {
        ASSERT_EQ(k.PtsValue, unit.second);
      }
      if (k.Frames >= 0) {
        ASSERT_EQ(k.Frames > 0, starts);
        if (starts) {
          ASSERT_EQ(k.EsPos + k.Pointer - 1 - k.AfterPointer, unit.first) << "first access unit pointer";
        }
      }
      if (src.Kind == StreamKind::Lpcm) {
        ASSERT_EQ(k.EsSize % src.GroupBytes, 0u);
      }
    }
    // Each VOBU carries the units of its own time.
    for (size_t v = 0; v < b->Sum.Vobus.size(); ++v) {
      const uint64_t from = sum.VobuOffsets[v], to = sum.VobuOffsets[v + 1];
      if (from == to) continue;
      const auto first = UnitAtOrAfter(src, origin, from);
      EXPECT_EQ(first.first, from);
      EXPECT_GE(first.second, b->Sum.Vobus[v].StartPts);
      EXPECT_LT(UnitHolding(src, origin, to - 1).second, b->Sum.Vobus[v].EndPts);
    }
  }
}

// A unit that would start in the five bytes a time stamp takes: the packet without
// a time stamp ends before it, and the unit opens the next packet with its own.
TEST(EvoBuilder, UnitStartingInTheTimeStampsRoomOpensTheNextPacket) {
  StreamSource v;
  v.Kind = StreamKind::Mpeg2Video;
  // First packet: 2034 - 9 - 5 (time stamp) - 3 (buffer size extension) = 2017
  // bytes; the second has room for 2020 with a time stamp, 2025 without.
  const uint32_t first = 2017 + 2022;
  v.Data.assign(first + 3000, 0x11);
  v.Units = {{0, first, 0}, {first, 3000, 3003}};
  v.LoopTicks = 6006;
  DomainSpec d;
  d.Cells.push_back(CellSpec{});
  d.Cells[0].VobuCount = 1;
  d.VobuTicks = 6006;
  auto b = Build(d, {MakeEvoStream(v)});
  ASSERT_TRUE(b->P.Faults.empty());
  ASSERT_GE(b->P.Packets.size(), 3u);
  EXPECT_EQ(b->P.Packets[1].EsSize, 2022u);
  EXPECT_FALSE(b->P.Packets[1].HasPts);
  EXPECT_TRUE(b->P.Packets[2].HasPts);
  EXPECT_EQ(b->P.Packets[2].PtsValue, d.FirstPts + 3003u);
  EXPECT_EQ(b->Bytes[2048 * 2 + 13] & 7, 3) << "the three bytes left are pack stuffing";
  EXPECT_TRUE(b->P.Es[0xE000] == v.Data);
}

TEST(EvoBuilder, AngleBlocksPointAtTheirSiblingsAndCarryTheSameTime) {
  const auto& s = Streams();
  DomainSpec d;
  auto cell = [&](uint16_t vob, uint8_t angle, bool seamless, int vobus) {
    CellSpec c;
    c.VobId = vob, c.CellId = 1, c.Angle = angle, c.AngleSeamless = seamless, c.VobuCount = vobus;
    d.Cells.push_back(c);
  };
  cell(1, 0, true, 2);
  cell(2, 1, true, 3), cell(3, 2, true, 3);
  cell(4, 1, false, 2), cell(5, 2, false, 2), cell(6, 3, false, 2);
  cell(7, 0, true, 1);
  d.MaxFileSectors = 97;
  d.SplitInsideVobu = true;
  auto b = Build(d, {MakeEvoStream(s.Mpeg2), MakeEvoStream(s.Ac3), MakeEvoStream(s.Subpicture)});
  ASSERT_TRUE(b->P.Faults.empty());
  const auto& vobus = b->Sum.Vobus;
  auto at = [&](uint32_t sector) { return b->Bytes.data() + uint64_t(sector) * kPackSize; };
  int checked = 0;
  for (size_t i = 0; i < vobus.size(); ++i) {
    const auto& v = vobus[i];
    const CellSpec& c = b->Spec.Cells[b->Layout.Vobus[i].Cell];
    const uint8_t* p = at(v.Sector);
    EXPECT_EQ(BE16(p + 1318), c.VobId);
    const uint8_t* seamless = p + 1474;
    const uint8_t* other = p + 311 + 60;
    if (c.Angle == 0 || !c.AngleSeamless) std::swap(seamless, other);
    for (int k = 0; k < 36; ++k) ASSERT_EQ(other[k], 0) << "only the cell's own kind of table";
    if (c.Angle == 0) continue;
    const int step = c.AngleSeamless ? 6 : 4;
    const int angles = c.AngleSeamless ? 2 : 3;
    EXPECT_NE(BE32(seamless), 0u) << "the first entry marks angle data";
    for (int k = 1; k <= 9; ++k) {
      const uint32_t addr = BE32(seamless + (k - 1) * step);
      if (k > angles) {
        EXPECT_EQ(addr, 0u);
        continue;
      }
      if (k == c.Angle) {
        const auto& own = b->Layout.Cells[b->Layout.Vobus[i].Cell].Vobus;
        const bool last = own.back() == int(i);
        EXPECT_EQ(addr, last ? 0x7FFFFFFFu : vobus[own[b->Layout.Vobus[i].IndexInCell + 1]].Sector - v.Sector);
        continue;
      }
      const uint32_t target = v.Sector + addr;
      const auto t = std::find_if(vobus.begin(), vobus.end(), [&](const EvoVobuSummary& x) { return x.Sector == target; });
      ASSERT_NE(t, vobus.end()) << "the address leads to a navigation pack";
      EXPECT_EQ(t->Angle, k);
      EXPECT_EQ(t->StartPts, v.StartPts);
      if (c.AngleSeamless) {
        EXPECT_EQ(BE16(seamless + (k - 1) * step + 4), uint32_t(t->Packs));
      }
      // Every angle carries the streams of the same time.
      const auto& vid = b->Sum.Streams[0];
      const size_t ti = size_t(t - vobus.begin());
      EXPECT_TRUE(std::equal(vid.Bytes.begin() + vid.VobuOffsets[i], vid.Bytes.begin() + vid.VobuOffsets[i + 1],
                             vid.Bytes.begin() + vid.VobuOffsets[ti], vid.Bytes.begin() + vid.VobuOffsets[ti + 1]));
      ++checked;
    }
  }
  EXPECT_EQ(checked, 2 * 3 + 3 * 2 * 2);
  // Files cut inside VOBUs: those that begin with a data pack give no ids to the walk.
  int dataFirst = 0;
  for (const auto& f : b->Sum.Files) {
    const auto bytes = test::ReadFileBytes(f.Path);
    EXPECT_EQ(f.SectorCount, std::min<uint32_t>(97, b->Layout.TotalSectors - f.FirstSector));
    const bool navFirst = std::any_of(vobus.begin(), vobus.end(), [&](const auto& v) { return v.Sector == f.FirstSector; });
    if (!navFirst) {
      ++dataFirst;
      EXPECT_EQ(FirstVobuIdsByWalk(bytes), std::make_pair(0, 0));
    }
  }
  EXPECT_GT(dataFirst, 0);
}

TEST(EvoBuilder, SizesChainsLoosesFilesAndRefusesAnUnsizedLayout) {
  const auto& s = Streams();
  const std::vector<EvoStream> streams = {MakeEvoStream(s.Mpeg2), MakeEvoStream(s.Ac3, 0, 1500)};
  DomainSpec d = ThreeCells(1);
  d.MaxFileSectors = 1000;
  const uint64_t target = 5u << 20;
  ASSERT_TRUE(FitDomainToSize(d, streams, target));
  test::TempDir dir;
  EvoBuildOptions quick;
  quick.KeepStreamBytes = false;
  quick.WriteBufferBytes = 64 * 1024;  // several flushes per file
  DomainLayout layout;
  const auto sum = BuildDomainEvos(dir.Path(), d, "hv002t", 1, streams, quick, &layout);
  ASSERT_TRUE(sum.Ok) << sum.Error;
  EXPECT_GE(sum.TotalBytes, target);
  EXPECT_LT(sum.TotalBytes, target + 400u * kPackSize);
  EXPECT_TRUE(sum.Streams[0].Bytes.empty());
  uint64_t onDisk = 0;
  for (const auto& f : sum.Files) onDisk += test::ReadFileBytes(f.Path).size();
  EXPECT_EQ(onDisk, sum.TotalBytes);
  EXPECT_EQ(sum.Streams[1].FirstPts, d.FirstPts + 1500) << "the delay moves a stream's times";
  int fitted = 0;
  for (const auto& c : d.Cells) fitted += c.VobuCount;
  EXPECT_EQ(fitted, int(layout.Vobus.size()));

  // A loose EVO keeps the whole domain in one file of the given name.
  DomainSpec loose = ThreeCells(2);
  loose.MaxFileSectors = 10;
  const auto one = BuildLooseEvo(dir.Path(), "FEATURE_1.EVO", loose, streams);
  ASSERT_TRUE(one.Ok) << one.Error;
  ASSERT_EQ(one.Files.size(), 1u);
  EXPECT_EQ(one.Files[0].Path, dir.File("FEATURE_1.EVO"));
  EXPECT_EQ(FirstVobuIdsByWalk(test::ReadFileBytes(one.Files[0].Path)), std::make_pair(1, 1));

  // Without streams every data pack is padding.
  DomainSpec empty = ThreeCells(1);
  const auto pad = BuildDomainEvos(dir.Path(), empty, "hv000m", 1, {});
  ASSERT_TRUE(pad.Ok);
  EXPECT_EQ(pad.PaddingPacks, 3u * 6);
  EXPECT_TRUE(ParseDomain(test::ReadFileBytes(pad.Files[0].Path)).Faults.empty());

  // A layout with too few packs for the streams is refused, not silently cut.
  DomainSpec small = ThreeCells(1);
  small.DefaultDataPacks = 2;
  const auto refused = WriteDomainEvos(dir.Path(), small, LayoutDomain(small, "hv003t", 1), streams);
  EXPECT_FALSE(refused.Ok);
  EXPECT_NE(refused.Error.find("needs more"), std::string::npos);

  // A source whose units leave a gap would put bytes in the wrong VOBU: refused.
  StreamSource gap = s.Ac3;
  gap.Units.erase(gap.Units.begin() + 1);
  DomainSpec withGap = ThreeCells(1);
  EXPECT_FALSE(BuildDomainEvos(dir.Path(), withGap, "hv004t", 1, {MakeEvoStream(gap)}).Ok);
  // An empty domain writes no file.
  DomainSpec none;
  const auto nothing = BuildDomainEvos(dir.Path(), none, "hv005t", 1, streams);
  EXPECT_TRUE(nothing.Ok);
  EXPECT_TRUE(nothing.Files.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.File("hv005t01.evo")));
}

TEST(DiscBuilder, MakesTheSizeAskedForInEveryLayout) {
  struct Case {
    bool Advanced;
    uint64_t Bytes;
  };
  for (const Case c : {Case{false, 40u << 20}, Case{true, 40u << 20}, Case{false, uint64_t{1} << 40}}) {
    test::TempDir dir;
    DiscBuildOptions options;
    options.Evo.KeepStreamBytes = false;
    options.TitleBytes = c.Bytes;
    DiscSpec spec = MakeSampleDiscSpec();
    std::vector<std::pair<std::string, DomainSpec>> evos = {{"FEATURE_1.EVO", spec.TitleSets[0].Titles}};
    const DiscBuildSummary sum = c.Advanced ? BuildAdvancedDisc(dir.Path(), "hva00001.VTI", evos, Streams(), options)
                                            : BuildStandardDisc(dir.Path(), spec, Streams(), options);
    if (c.Bytes > (uint64_t{1} << 35)) {
      // Past what the presentation times reach: said, and nothing written.
      EXPECT_FALSE(sum.Ok);
      EXPECT_NE(sum.Error.find("32-bit"), std::string::npos) << sum.Error;
      EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
      continue;
    }
    ASSERT_TRUE(sum.Ok) << sum.Error;
    const auto& titles = sum.Evo.at(c.Advanced ? "FEATURE_1.EVO" : "vts1-titles");
    EXPECT_GE(titles.TotalBytes, c.Bytes);
    EXPECT_LT(titles.TotalBytes, c.Bytes + c.Bytes / 10);
    EXPECT_LE(titles.Files.size(), 99u);
  }
}

// The builder program says its version, and lists every file it writes.
TEST(DiscBuilder, ProgramListsEveryFileItWrote) {
  const std::string program =
      (std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "tools/tessaline-make-disc").string();
  test::TempDir dir;
  auto output = [](const std::string& Command) {
    std::string out;
    FILE* f = ::popen(Command.c_str(), "r");
    for (int c; f && (c = std::fgetc(f)) != EOF;) out += static_cast<char>(c);
    return f ? (::pclose(f), out) : out;
  };
  EXPECT_TRUE(output(program + " -V").starts_with("tessaline-make-disc (Tessaline ")) << program;
  // Written again with one title set, the folder holds nothing of the first disc's second.
  for (const char* options : {"", " --title-sets=1"}) {
    std::set<std::string> listed, written;
    std::istringstream in(output(program + options + " '" + dir.File("disc") + "'"));
    for (std::string line; std::getline(in, line);) listed.insert(line);
    for (const auto& e : std::filesystem::directory_iterator(dir.File("disc"))) written.insert(e.path().string());
    EXPECT_EQ(listed, written);
  }
  // Options as people type them; a usage error is one line and where the help is; a folder
  // that cannot be made, or holds a file of the user's, is named.
  test::WriteFileBytes(dir.File("a-file"), {'x'});
  std::filesystem::create_directory(dir.File("user")), test::WriteFileBytes(dir.File("user/holiday.mkv"), {'x'});
  const std::pair<std::string, std::string> uses[] = {
      {" --size=64K --title-sets=1 '" + dir.File("sized") + "'", dir.File("sized") + "/hv000m01.evo\n"},
      {" --size=lots x", "tessaline-make-disc: --size takes a number of bytes (suffixes K, M, G): 'lots'\n"
                         "Try 'tessaline-make-disc --help'.\n"},
      {" '" + dir.File("a-file") + "/d'", "tessaline-make-disc: cannot create the folder " + dir.File("a-file/d")},
      {" '" + dir.File("user") + "'", "tessaline-make-disc: " + dir.File("user") + " holds holiday.mkv, which is no"}};
  for (const auto& [args, start] : uses) EXPECT_TRUE(output(program + args + " 2>&1").starts_with(start)) << args;
}

TEST(EvoBuilder, VtiListPlacesTheNamesWhereTheReaderLooks) {
  test::TempDir dir;
  const std::vector<std::string> names = {"FEATURE_1.EVO", "FEATURE_2.EVO", "EXTRA.EVO"};
  ASSERT_TRUE(WriteVtiList(dir.File("HVA00001.VTI"), names, 2));
  const auto f = test::ReadFileBytes(dir.File("HVA00001.VTI"));
  ASSERT_GE(f.size(), 4758u + 320);
  EXPECT_EQ(f.size() % kPackSize, 0u);
  EXPECT_EQ(BE32(f.data() + 188), 2u);
  EXPECT_EQ(BE32(f.data() + 4096), 3u);
  const size_t at[] = {4118, 4438, 4758};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(std::string(reinterpret_cast<const char*>(f.data() + at[i])), names[i]);
  EXPECT_FALSE(WriteVtiList(dir.File("BAD.VTI"), {std::string(400, 'x')}));
  EXPECT_FALSE(WriteVtiList(dir.File("BAD.VTI"), names, 0));
}

// ffprobe, when present, takes a written EVO for an MPEG program stream with the
// video and the private-stream audio where they should be.
TEST(EvoBuilder, FfprobeRecognisesTheProgramStream) {
  if (std::system("command -v ffprobe >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffprobe not installed";
  const auto& s = Streams();
  auto b = Build(ThreeCells(2), {MakeEvoStream(s.Mpeg2), MakeEvoStream(s.Ac3), MakeEvoStream(s.Dts),
                                 MakeEvoStream(s.Lpcm16)});
  const std::string out = b->Dir.File("probe.txt");
  const std::string cmd = "ffprobe -v error -show_entries format=format_name:stream=codec_name,id,width,height -of "
                          "default=noprint_wrappers=1 '" + b->Sum.Files[0].Path + "' > '" + out + "' 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const auto bytes = test::ReadFileBytes(out);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("format_name=mpeg"), std::string::npos) << text;
  EXPECT_NE(text.find("codec_name=mpeg2video"), std::string::npos) << text;
  EXPECT_NE(text.find("id=0x1e0"), std::string::npos) << text;
  EXPECT_NE(text.find("width=720"), std::string::npos) << text;
  EXPECT_NE(text.find("codec_name=ac3"), std::string::npos) << text;
  EXPECT_NE(text.find("codec_name=dts"), std::string::npos) << text;
  EXPECT_NE(text.find("codec_name=pcm_dvd"), std::string::npos) << text;
}

}  // namespace
}  // namespace tess::tools
