#include "evo_builder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/file_io.h"
#include "core/byte_order.h"

namespace tess::tools {

using core::WriteBE16;
using core::WriteBE32;

namespace {

constexpr uint32_t kPackHeader = 14;
constexpr uint32_t kPacketRoom = kPackSize - kPackHeader;  // 2034
constexpr uint32_t kPciLength = kNavDsiStart - kNavPciStart - 6;  // 977
constexpr uint32_t kDsiLength = kPackSize - kNavDsiStart - 6;     // 755
// A packet is started in a pack only when this much room is left for it; less is
// stuffing (up to 7 bytes) or a padding packet.
constexpr uint32_t kMinPacketRoom = 64;

// ---- small field writers ----

void WriteStartCode(uint8_t* p, uint8_t Id) {
  p[0] = 0, p[1] = 0, p[2] = 1, p[3] = Id;
}

void WritePackHeader(uint8_t* p, uint64_t Scr27, uint32_t MuxRate, uint32_t Stuffing) {
  const uint64_t base = (Scr27 / 300) & 0x1FFFFFFFFull;
  const uint32_t ext = static_cast<uint32_t>(Scr27 % 300);
  WriteStartCode(p, 0xBA);
  p[4] = static_cast<uint8_t>(0x44 | ((base >> 27) & 0x38) | ((base >> 28) & 0x03));
  p[5] = static_cast<uint8_t>(base >> 20);
  p[6] = static_cast<uint8_t>(((base >> 12) & 0xF8) | 0x04 | ((base >> 13) & 0x03));
  p[7] = static_cast<uint8_t>(base >> 5);
  p[8] = static_cast<uint8_t>(((base << 3) & 0xF8) | 0x04 | ((ext >> 7) & 0x03));
  p[9] = static_cast<uint8_t>(((ext << 1) & 0xFE) | 0x01);
  const uint32_t rate = (MuxRate << 2) | 3;
  p[10] = static_cast<uint8_t>(rate >> 16);
  p[11] = static_cast<uint8_t>(rate >> 8);
  p[12] = static_cast<uint8_t>(rate);
  p[13] = static_cast<uint8_t>(0xF8 | Stuffing);
  std::memset(p + kPackHeader, 0xFF, Stuffing);
}

void WritePts(uint8_t* p, uint64_t Pts) {
  Pts &= 0x1FFFFFFFFull;
  p[0] = static_cast<uint8_t>(0x21 | ((Pts >> 29) & 0x0E));
  p[1] = static_cast<uint8_t>(Pts >> 22);
  p[2] = static_cast<uint8_t>(((Pts >> 14) & 0xFE) | 0x01);
  p[3] = static_cast<uint8_t>(Pts >> 7);
  p[4] = static_cast<uint8_t>(((Pts << 1) & 0xFE) | 0x01);
}

void WritePadding(uint8_t* p, uint32_t Size) {  // Size >= 6: the whole packet
  WriteStartCode(p, 0xBE);
  WriteBE16(p + 4, static_cast<uint16_t>(Size - 6));
  std::memset(p + 6, 0xFF, Size - 6);
}

// Hours, minutes, seconds, frames in BCD; the frames byte's top bits give the rate
// (0b11 30 frames, 0b01 25 frames).
void WriteBcdTime(uint8_t* p, uint64_t Ticks, double FrameRate) {
  const int nominal = FrameRate > 27.5 ? 30 : 25;
  const int64_t frames = static_cast<int64_t>(std::nearbyint(static_cast<double>(Ticks) / kTicksPerSecond * FrameRate));
  const int64_t f = frames % nominal, s = frames / nominal;
  auto bcd = [](int64_t v) { return static_cast<uint8_t>(((v / 10) % 10) << 4 | (v % 10)); };
  p[0] = bcd(std::min<int64_t>(s / 3600, 99));
  p[1] = bcd((s / 60) % 60);
  p[2] = bcd(s % 60);
  p[3] = static_cast<uint8_t>(bcd(f) | (nominal == 30 ? 0xC0 : 0x40));
}

// The system header's stream entries: every stream id a system header may name,
// then stream-id-extension entries, as many as make the header end at byte 304.
struct SystemHeaderImage {
  uint8_t Bytes[kNavPciStart - kPackHeader - kNavPackStuffing];
};

SystemHeaderImage MakeSystemHeader(uint32_t MuxRate, int AudioBound, int VideoBound) {
  SystemHeaderImage h{};
  uint8_t* p = h.Bytes;
  const uint32_t size = sizeof h.Bytes;  // 288
  WriteStartCode(p, 0xBB);
  WriteBE16(p + 4, static_cast<uint16_t>(size - 6));
  const uint32_t rate = (1u << 23) | ((MuxRate & 0x3FFFFF) << 1) | 1;
  p[6] = static_cast<uint8_t>(rate >> 16);
  p[7] = static_cast<uint8_t>(rate >> 8);
  p[8] = static_cast<uint8_t>(rate);
  p[9] = static_cast<uint8_t>(std::min(AudioBound, 32) << 2);
  // Audio and video locked: the top bit of this byte is set, which the short walk
  // over the system header relies on.
  p[10] = static_cast<uint8_t>(0xE0 | std::min(VideoBound, 16));
  p[11] = 0x7F;
  uint32_t at = 12;
  auto entry = [&](uint8_t Id) {
    const bool video = Id >= 0xE0 && Id <= 0xEF;
    const bool audio = Id >= 0xC0 && Id <= 0xDF;
    const uint16_t bound = video ? 232 : audio ? 32 : 58;
    p[at] = Id;
    p[at + 1] = static_cast<uint8_t>(0xC0 | (audio ? 0 : 0x20) | (bound >> 8));
    p[at + 2] = static_cast<uint8_t>(bound);
    at += 3;
  };
  entry(0xB9);
  entry(0xB8);
  for (int id = 0xBC; id <= 0xFF; ++id) entry(static_cast<uint8_t>(id));
  for (uint8_t ext = 0x55; at + 6 <= size; ++ext) {
    p[at] = 0xB7;
    p[at + 1] = 0xC0;
    p[at + 2] = ext & 0x7F;
    p[at + 3] = 0xB6;
    p[at + 4] = 0xE0;
    p[at + 5] = 58;
    at += 6;
  }
  return h;
}

// ---- one stream's place in time ----

struct StreamTimeline {
  const StreamSource* Src = nullptr;
  uint64_t Base = 0;  // time of unit 0 of pass 0
  uint64_t Units = 0;
  uint64_t DataSize = 0;

  uint64_t Time(uint64_t G) const {
    return Base + (G / Units) * Src->LoopTicks + Src->Units[G % Units].Pts;
  }
  uint64_t Start(uint64_t G) const {  // global byte position of unit G
    return (G / Units) * DataSize + Src->Units[G % Units].Offset;
  }
  // The first unit whose time is at or after T.
  uint64_t FirstAtOrAfter(uint64_t T) const {
    if (T <= Base) return 0;
    const uint64_t rel = T - Base;
    uint64_t pass = rel / Src->LoopTicks;
    const uint32_t r = static_cast<uint32_t>(rel % Src->LoopTicks);
    const auto& u = Src->Units;
    const auto it = std::lower_bound(u.begin(), u.end(), r, [](const AccessUnit& a, uint32_t v) { return a.Pts < v; });
    uint64_t k = static_cast<uint64_t>(it - u.begin());
    if (k == Units) ++pass, k = 0;
    return pass * Units + k;
  }
};

enum class PrivateHeader { None, Subpicture, Ac3, Dts, Mlp, Lpcm };

PrivateHeader PrivateHeaderOf(const EvoStream& S) {
  if (S.StreamId != 0xBD) return PrivateHeader::None;
  switch (S.Source->Kind) {
    case StreamKind::Ac3:
    case StreamKind::Eac3: return PrivateHeader::Ac3;
    case StreamKind::Dts: return PrivateHeader::Dts;
    case StreamKind::Mlp:
    case StreamKind::TrueHd: return PrivateHeader::Mlp;
    case StreamKind::Lpcm: return PrivateHeader::Lpcm;
    default: return PrivateHeader::Subpicture;
  }
}

// Bytes of a private-stream-1 packet before the elementary stream: the substream
// id and the format's header.
uint32_t PrivateHeaderSize(PrivateHeader H) {
  switch (H) {
    case PrivateHeader::None: return 0;
    case PrivateHeader::Subpicture: return 1;
    case PrivateHeader::Ac3:
    case PrivateHeader::Dts: return 4;
    case PrivateHeader::Mlp: return 5;
    case PrivateHeader::Lpcm: return 7;
  }
  return 0;
}

// Bytes between the first-access-unit pointer and the elementary stream: the
// pointer counts from its own last byte.
uint32_t BytesAfterPointer(PrivateHeader H) {
  return H == PrivateHeader::Mlp ? 1 : H == PrivateHeader::Lpcm ? 3 : 0;
}

// ---- the multiplexer of one VOBU ----

class VobuMuxer {
 public:
  VobuMuxer(const std::vector<EvoStream>& Streams, uint32_t Origin) : streams_(Streams) {
    state_.resize(Streams.size());
    for (size_t i = 0; i < Streams.size(); ++i) {
      StreamState& s = state_[i];
      s.Line.Src = Streams[i].Source;
      s.Line.Base = static_cast<uint64_t>(Origin) + Streams[i].Delay;
      s.Line.Units = Streams[i].Source->Units.size();
      s.Line.DataSize = Streams[i].Source->Data.size();
      s.Header = PrivateHeaderOf(Streams[i]);
      s.Group = std::max<uint32_t>(Streams[i].Source->GroupBytes, 1);
    }
  }

  // Takes the units of every stream whose time lies in [Start, End), less the
  // stream's lag.
  void Begin(uint32_t Start, uint32_t End) {
    for (size_t i = 0; i < state_.size(); ++i) {
      StreamState& s = state_[i];
      const uint32_t lag = streams_[i].MuxLag;
      s.FirstUnit = s.Line.FirstAtOrAfter(Start > lag ? Start - lag : 0);
      s.EndUnit = s.Line.FirstAtOrAfter(End > lag ? End - lag : 0);
      s.Unit = s.FirstUnit;
      s.Pos = s.Line.Start(s.FirstUnit);
      s.EndPos = s.Line.Start(s.EndUnit);
      s.FirstPacket = true;
    }
  }

  bool HasData() const {
    for (const StreamState& s : state_)
      if (s.Pos < s.EndPos) return true;
    return false;
  }

  // Receives each packet's elementary-stream bytes (two pieces when the source
  // wraps) and the units that start in it.
  struct Observer {
    virtual void Payload(size_t Stream, const uint8_t* A, size_t NA, const uint8_t* B, size_t NB) = 0;
    virtual void Packet(size_t Stream, bool HasPts, uint64_t Pts, uint64_t UnitsStarted) = 0;
  };

  // Fills one data pack; false (and nothing written) when no stream has data left.
  // With Pack null only the sizes are worked out.
  bool FillPack(uint8_t* Pack, uint64_t Scr27, uint32_t MuxRate, Observer* Obs) {
    if (!HasData()) return false;
    uint32_t used = 0;  // packet bytes after the 14-byte header
    uint8_t* out = Pack ? Pack + kPackHeader : nullptr;
    while (kPacketRoom - used >= kMinPacketRoom) {
      const int next = EarliestStream();
      if (next < 0) break;
      const uint32_t n = WritePacket(static_cast<size_t>(next), out ? out + used : nullptr, kPacketRoom - used, Obs);
      if (n == 0) break;
      used += n;
    }
    if (used == 0) return false;  // cannot happen with kMinPacketRoom room; kept as a guard
    const uint32_t left = kPacketRoom - used;
    uint32_t stuffing = 0;
    if (left > 0 && left <= 7) {
      stuffing = left;
      if (Pack) std::memmove(Pack + kPackHeader + stuffing, Pack + kPackHeader, used);
    } else if (left > 7 && Pack) {
      WritePadding(Pack + kPackHeader + used, left);
    }
    if (Pack) WritePackHeader(Pack, Scr27, MuxRate, stuffing);
    return true;
  }

 private:
  struct StreamState {
    StreamTimeline Line;
    PrivateHeader Header = PrivateHeader::None;
    uint32_t Group = 1;
    uint64_t FirstUnit = 0, EndUnit = 0;
    uint64_t Unit = 0;  // the unit that holds Pos
    uint64_t Pos = 0, EndPos = 0;
    bool FirstPacket = true;
  };

  // The stream whose next byte belongs to the earliest unit.
  int EarliestStream() const {
    int best = -1;
    uint64_t bestTime = 0;
    for (size_t i = 0; i < state_.size(); ++i) {
      const StreamState& s = state_[i];
      if (s.Pos >= s.EndPos) continue;
      const uint64_t t = s.Line.Time(s.Unit);
      if (best < 0 || t < bestTime) best = static_cast<int>(i), bestTime = t;
    }
    return best;
  }

  uint32_t PesHeaderData(const StreamState& s, const EvoStream& e, bool Pts) const {
    uint32_t h = Pts ? 5 : 0;
    const bool pstd = s.FirstPacket;
    const bool ext2 = e.StreamId == 0xFD;
    if (pstd || ext2) h += 1 + (pstd ? 2 : 0) + (ext2 ? 2 : 0);
    return h;
  }

  // Writes one PES packet of stream i into Room bytes at Out (Out null: sizes
  // only) and returns its size, 0 when it does not fit.
  uint32_t WritePacket(size_t i, uint8_t* Out, uint32_t Room, Observer* Obs) {
    StreamState& s = state_[i];
    const EvoStream& e = streams_[i];
    const uint32_t priv = PrivateHeaderSize(s.Header);
    const uint64_t remaining = s.EndPos - s.Pos;
    auto fit = [&](uint32_t HeaderData) -> uint64_t {
      const uint32_t fixed = 9 + HeaderData + priv;
      if (Room <= fixed) return 0;
      uint64_t n = std::min<uint64_t>(Room - fixed, remaining);
      return n - n % s.Group;
    };
    // The first unit that starts at or after Pos.
    uint64_t firstStart = s.Unit;
    if (s.Line.Start(firstStart) < s.Pos) ++firstStart;
    const uint64_t firstStartPos = firstStart < s.EndUnit ? s.Line.Start(firstStart) : s.EndPos;

    bool pts = true;
    uint64_t n = fit(PesHeaderData(s, e, true));
    if (n == 0) return 0;
    if (firstStartPos >= s.Pos + n) {
      // No unit starts in the packet: no time stamp, and the room it would take
      // carries payload, unless a unit would then start in it; that unit starts
      // the next packet instead.
      pts = false;
      n = fit(PesHeaderData(s, e, false));
      if (firstStartPos < s.Pos + n) n = firstStartPos - s.Pos;
    }
    const uint32_t headerData = PesHeaderData(s, e, pts);
    const uint32_t total = 9 + headerData + priv + static_cast<uint32_t>(n);

    uint64_t started = 0;
    for (uint64_t g = firstStart; g < s.EndUnit && s.Line.Start(g) < s.Pos + n; ++g) ++started;
    const uint64_t ptsValue = pts ? s.Line.Time(firstStart) : 0;

    if (Out) {
      WriteStartCode(Out, e.StreamId);
      WriteBE16(Out + 4, static_cast<uint16_t>(total - 6));
      Out[6] = static_cast<uint8_t>(firstStartPos == s.Pos ? 0x85 : 0x81);  // aligned when a unit starts it
      Out[7] = static_cast<uint8_t>((pts ? 0x80 : 0) | (headerData > (pts ? 5u : 0u) ? 0x01 : 0));
      Out[8] = static_cast<uint8_t>(headerData);
      uint8_t* p = Out + 9;
      if (pts) WritePts(p, ptsValue), p += 5;
      if (headerData > (pts ? 5u : 0u)) {
        const bool pstd = s.FirstPacket, ext2 = e.StreamId == 0xFD;
        *p++ = static_cast<uint8_t>((pstd ? 0x10 : 0) | 0x0E | (ext2 ? 0x01 : 0));
        if (pstd) {
          const bool video = IsVideoKind(e.Source->Kind);
          const uint16_t bound = video ? 232 : 32;  // 1024-byte units for video, else 128
          *p++ = static_cast<uint8_t>(0x40 | (video ? 0x20 : 0) | (bound >> 8));
          *p++ = static_cast<uint8_t>(bound);
        }
        if (ext2) {
          *p++ = 0x81;  // marker, one byte of extension data
          *p++ = static_cast<uint8_t>(e.SubstreamId & 0x7F);
        }
      }
      if (s.Header != PrivateHeader::None) {
        *p++ = e.SubstreamId;
        const uint32_t pointer =
            started ? static_cast<uint32_t>(firstStartPos - s.Pos) + 1 + BytesAfterPointer(s.Header) : 0;
        if (s.Header != PrivateHeader::Subpicture) {
          *p++ = static_cast<uint8_t>(std::min<uint64_t>(started, 255));
          WriteBE16(p, static_cast<uint16_t>(pointer));
          p += 2;
        }
        if (s.Header == PrivateHeader::Mlp) *p++ = 0;
        if (s.Header == PrivateHeader::Lpcm) {
          const StreamSource& src = *e.Source;
          *p++ = static_cast<uint8_t>(firstStart % 20);  // audio frame number
          const int quant = src.BitsPerSample == 24 ? 2 : src.BitsPerSample == 20 ? 1 : 0;
          const int freq = src.SampleRate == 96000 ? 1 : 0;
          *p++ = static_cast<uint8_t>((quant << 6) | (freq << 4) | ((src.Channels - 1) & 7));
          *p++ = 0x80;  // dynamic range control: none
        }
      }
      CopyPayload(s, p, n);
    }
    if (Obs) {
      const uint64_t off = s.Pos % s.Line.DataSize;
      const uint64_t first = std::min<uint64_t>(n, s.Line.DataSize - off);
      const uint8_t* d = e.Source->Data.data();
      Obs->Payload(i, d + off, first, d, n - first);
      Obs->Packet(i, pts, ptsValue, started);
    }
    Advance(s, n);
    s.FirstPacket = false;
    return total;
  }

  void CopyPayload(const StreamState& s, uint8_t* To, uint64_t N) const {
    const uint8_t* d = s.Line.Src->Data.data();
    uint64_t pos = s.Pos;
    while (N > 0) {
      const uint64_t off = pos % s.Line.DataSize;
      const uint64_t take = std::min<uint64_t>(N, s.Line.DataSize - off);
      std::memcpy(To, d + off, take);
      To += take, pos += take, N -= take;
    }
  }

  void Advance(StreamState& s, uint64_t N) {
    s.Pos += N;
    while (s.Unit + 1 < s.EndUnit && s.Line.Start(s.Unit + 1) <= s.Pos) ++s.Unit;
  }

  const std::vector<EvoStream>& streams_;
  std::vector<StreamState> state_;
};

// The multiplexer finds units by position and time, so a source's units must tile
// its bytes from the first one and keep their times in order within one pass.
bool SourceUsable(const StreamSource& S) {
  if (!S.Valid() || S.Data.empty()) return false;
  uint64_t at = 0;
  for (size_t i = 0; i < S.Units.size(); ++i) {
    const AccessUnit& u = S.Units[i];
    if (u.Offset != at || u.Size == 0 || u.Pts >= S.LoopTicks) return false;
    if (i > 0 && u.Pts < S.Units[i - 1].Pts) return false;
    if (S.GroupBytes > 1 && u.Size % S.GroupBytes != 0) return false;
    at += u.Size;
  }
  return at == S.Data.size();
}

bool StreamsUsable(const std::vector<EvoStream>& Streams, std::string* Error) {
  for (const EvoStream& s : Streams) {
    if (!s.Source || !SourceUsable(*s.Source)) {
      if (Error) *Error = "a stream has no source, or its units do not tile its bytes in time order";
      return false;
    }
  }
  return true;
}

int CountDataPacks(VobuMuxer& Mux, uint32_t Start, uint32_t End) {
  Mux.Begin(Start, End);
  int packs = 0;
  while (Mux.FillPack(nullptr, 0, 0, nullptr)) ++packs;
  return packs;
}

// ---- sequential output over the files of a domain ----

class PackWriter {
 public:
  PackWriter(const std::string& Folder, const std::vector<FileLayout>& Files, size_t BufferBytes)
      : folder_(Folder), files_(Files) {
    const size_t packs = std::max<size_t>(BufferBytes / kPackSize, 16);
    buffer_.resize(packs * kPackSize);
  }
  ~PackWriter() {
    if (fd_ >= 0) ::close(fd_);
  }

  // The next pack of the domain, in the buffer; null after a write error.
  uint8_t* Next() {
    if (!error_.empty()) return nullptr;
    if (file_ < 0 || sector_ >= files_[file_].FirstSector + files_[file_].SectorCount) {
      if (!OpenNext()) return nullptr;
    }
    if (used_ + kPackSize > buffer_.size() && !Flush()) return nullptr;
    uint8_t* p = buffer_.data() + used_;
    used_ += kPackSize;
    ++sector_;
    return p;
  }

  bool Finish() {
    if (!error_.empty()) return false;
    if (!Flush()) return false;
    if (fd_ >= 0 && ::close(fd_) != 0) return Fail("cannot close " + Path(file_));
    fd_ = -1;
    return true;
  }

  int File() const { return file_; }
  uint32_t FileSector() const { return sector_ - 1 - files_[file_].FirstSector; }
  const std::string& Error() const { return error_; }
  std::string Path(int i) const { return folder_ + "/" + files_[i].Name; }

 private:
  bool Fail(const std::string& Text) {
    if (error_.empty()) error_ = Text;
    return false;
  }

  bool OpenNext() {
    if (!Flush()) return false;
    if (fd_ >= 0 && ::close(fd_) != 0) return Fail("cannot close " + Path(file_));
    fd_ = -1;
    ++file_;
    if (file_ >= static_cast<int>(files_.size())) return Fail("the layout's files end before its packs");
    fd_ = ::open(Path(file_).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) return Fail("cannot create " + Path(file_) + ": " + std::strerror(errno));
    return true;
  }

  bool Flush() {
    if (!platform::WriteFull(fd_, buffer_.data(), used_))
      return Fail("cannot write " + Path(file_) + ": " + std::strerror(errno));
    used_ = 0;
    return true;
  }

  std::string folder_;
  const std::vector<FileLayout>& files_;
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
  int fd_ = -1;
  int file_ = -1;
  uint32_t sector_ = 0;
  std::string error_;
};

class SummaryObserver : public VobuMuxer::Observer {
 public:
  SummaryObserver(EvoBuildSummary& Summary, bool Keep) : summary_(Summary), keep_(Keep) {}
  void Payload(size_t Stream, const uint8_t* A, size_t NA, const uint8_t* B, size_t NB) override {
    EvoStreamSummary& s = summary_.Streams[Stream];
    if (keep_) {
      s.Bytes.insert(s.Bytes.end(), A, A + NA);
      s.Bytes.insert(s.Bytes.end(), B, B + NB);
    }
    s.TotalBytes += NA + NB;
  }
  void Packet(size_t Stream, bool HasPts, uint64_t Pts, uint64_t UnitsStarted) override {
    EvoStreamSummary& s = summary_.Streams[Stream];
    if (HasPts && s.PacketsWithPts == 0) s.FirstPts = static_cast<uint32_t>(Pts);
    ++s.Packets;
    s.PacketsWithPts += HasPts ? 1 : 0;
    s.AccessUnits += UnitsStarted;
  }

 private:
  EvoBuildSummary& summary_;
  bool keep_;
};

// The angle tables of a VOBU inside an angle block. Entry k points at the VOBU of
// angle k that plays at the same time; the VOBU's own entry points at the next VOBU
// of its own angle (0x7FFFFFFF after the last), so that the first entry of every
// angle VOBU is non-zero and marks the pack as carrying angle data.
struct AngleEntry {
  uint32_t Address = 0;
  uint16_t Size = 0;
};

void AngleTable(const DomainLayout& Layout, const CellSpec& Cell, const VobuLayout& V, AngleEntry (&Out)[9]) {
  for (auto& e : Out) e = AngleEntry{};
  if (Cell.Angle == 0) return;
  auto vobuAt = [&](uint32_t Sector) -> const VobuLayout* {
    const auto it = std::lower_bound(Layout.Vobus.begin(), Layout.Vobus.end(), Sector,
                                     [](const VobuLayout& a, uint32_t s) { return a.Sector < s; });
    return it != Layout.Vobus.end() && it->Sector == Sector ? &*it : nullptr;
  };
  for (int k = 0; k < 9; ++k) {
    if (k + 1 == Cell.Angle) {
      const auto& own = Layout.Cells[V.Cell].Vobus;
      if (V.IndexInCell + 1 < static_cast<int>(own.size())) {
        const VobuLayout& n = Layout.Vobus[own[V.IndexInCell + 1]];
        Out[k] = {n.Sector - V.Sector, static_cast<uint16_t>(n.Packs)};
      } else {
        Out[k] = {0x7FFFFFFF, static_cast<uint16_t>(V.Packs)};
      }
      continue;
    }
    const int32_t off = V.AngleOffsets[k];
    if (off == 0) continue;
    const VobuLayout* t = vobuAt(static_cast<uint32_t>(static_cast<int64_t>(V.Sector) + off));
    Out[k] = {static_cast<uint32_t>(off), static_cast<uint16_t>(t ? t->Packs : 1)};
  }
}

struct NavFields {
  uint32_t BlockNumber = 0;
  uint32_t EndAddress = 0;
  uint16_t VobId = 0;
  uint8_t CellId = 0;
  uint64_t StartPts = 0, EndPts = 0;
  uint64_t CellElapsed = 0;  // ticks since the cell's start
  uint64_t Scr27 = 0;
  bool Seamless = true;
  AngleEntry Angles[9];
  const std::vector<std::array<uint8_t, 8>>* Buttons = nullptr;  // a highlight starts here
  uint64_t CellEndPts = 0;
};

// Highlight information in the PCI data: new buttons of one group, each with a
// small rectangle of its own and its command, shown until the cell's end.
void WriteHighlight(uint8_t* Pci, const NavFields& F) {
  const size_t count = std::min<size_t>(F.Buttons->size(), 36);
  WriteBE16(Pci + 96, 1);
  WriteBE32(Pci + 98, static_cast<uint32_t>(F.StartPts));
  WriteBE32(Pci + 102, static_cast<uint32_t>(F.CellEndPts));
  Pci[110] = 1 << 4;
  Pci[113] = static_cast<uint8_t>(count);
  Pci[114] = static_cast<uint8_t>(count);
  for (size_t i = 0; i < count; ++i) {
    uint8_t* b = Pci + 142 + 18 * i;
    const uint32_t y = 16 + 12 * static_cast<uint32_t>(i), yEnd = y + 10;
    b[0] = 0x40 | 4, b[1] = 0x02, b[2] = 0x00;  // x 64..512, colour set 1
    b[3] = static_cast<uint8_t>(y >> 4), b[4] = static_cast<uint8_t>((y & 15) << 4 | yEnd >> 8);
    b[5] = static_cast<uint8_t>(yEnd & 0xFF);
    b[6] = static_cast<uint8_t>(i > 0 ? i : count), b[7] = static_cast<uint8_t>(i + 1 < count ? i + 2 : 1);
    std::memcpy(b + 10, (*F.Buttons)[i].data(), 8);
  }
}

void WriteNavPack(uint8_t* p, const SystemHeaderImage& Sys, const NavFields& F, const EvoBuildOptions& O) {
  WritePackHeader(p, F.Scr27, O.MuxRate, kNavPackStuffing);
  std::memcpy(p + kPackHeader + kNavPackStuffing, Sys.Bytes, sizeof Sys.Bytes);

  uint8_t* pci = p + kNavPciStart;
  WriteStartCode(pci, 0xBF);
  WriteBE16(pci + 4, static_cast<uint16_t>(kPciLength));
  pci[6] = 0x00;
  uint8_t* d = p + kNavPciData;
  std::memset(d, 0, kPciLength - 1);
  WriteBE32(d + 0, F.BlockNumber);
  WriteBE32(d + 12, static_cast<uint32_t>(F.StartPts));
  WriteBE32(d + 16, static_cast<uint32_t>(F.EndPts));
  WriteBcdTime(d + 24, F.CellElapsed, O.FrameRate);
  if (!F.Seamless)
    for (int k = 0; k < 9; ++k) WriteBE32(d + 60 + 4 * k, F.Angles[k].Address);
  if (F.Buttons) WriteHighlight(d, F);

  uint8_t* dsi = p + kNavDsiStart;
  WriteStartCode(dsi, 0xBF);
  WriteBE16(dsi + 4, static_cast<uint16_t>(kDsiLength));
  dsi[6] = 0x01;
  d = p + kNavDsiData;
  std::memset(d, 0, kDsiLength - 1);
  WriteBE32(d + 0, static_cast<uint32_t>(F.Scr27 / 300));
  WriteBE32(d + 4, F.BlockNumber);
  WriteBE32(d + 8, F.EndAddress & 0x00FFFFFF);
  WriteBE16(d + 24, F.VobId);
  d[27] = F.CellId;
  WriteBcdTime(d + 28, F.CellElapsed, O.FrameRate);
  if (F.Seamless)
    for (int k = 0; k < 9; ++k) {
      WriteBE32(d + 180 + 6 * k, F.Angles[k].Address);
      WriteBE16(d + 184 + 6 * k, F.Angles[k].Size);
    }
}

void WritePaddingPack(uint8_t* p, uint64_t Scr27, uint32_t MuxRate) {
  WritePackHeader(p, Scr27, MuxRate, 0);
  WritePadding(p + kPackHeader, kPacketRoom);
}

}  // namespace

EvoStream MakeEvoStream(const StreamSource& Source, int Index, uint32_t Delay) {
  EvoStream s;
  s.Source = &Source;
  s.Delay = Delay;
  const auto i = static_cast<uint8_t>(Index);
  switch (Source.Kind) {
    case StreamKind::Mpeg2Video: s.StreamId = static_cast<uint8_t>(0xE0 + i); break;
    case StreamKind::H264Video: s.StreamId = static_cast<uint8_t>(0xE2 + i); break;
    case StreamKind::Vc1Video: s.StreamId = 0xFD, s.SubstreamId = static_cast<uint8_t>(0x55 + i); break;
    case StreamKind::MpegAudio: s.StreamId = static_cast<uint8_t>(0xC0 + i); break;
    case StreamKind::Ac3: s.StreamId = 0xBD, s.SubstreamId = static_cast<uint8_t>(0xC0 + i); break;
    case StreamKind::Eac3: s.StreamId = 0xBD, s.SubstreamId = static_cast<uint8_t>(0xC8 + i); break;
    case StreamKind::Dts: s.StreamId = 0xBD, s.SubstreamId = static_cast<uint8_t>(0x88 + i); break;
    case StreamKind::Mlp:
    case StreamKind::TrueHd: s.StreamId = 0xBD, s.SubstreamId = static_cast<uint8_t>(0xB0 + i); break;
    case StreamKind::Lpcm: s.StreamId = 0xBD, s.SubstreamId = static_cast<uint8_t>(0xA0 + i); break;
    case StreamKind::Subpicture: s.StreamId = 0xBD, s.SubstreamId = static_cast<uint8_t>(0x20 + i); break;
  }
  return s;
}

int DataPacksForTime(const std::vector<EvoStream>& Streams, uint32_t Origin, uint32_t StartPts, uint32_t EndPts) {
  if (Streams.empty() || !StreamsUsable(Streams, nullptr)) return 0;
  VobuMuxer mux(Streams, Origin);
  return CountDataPacks(mux, StartPts, EndPts);
}

void SizeDomainForStreams(DomainSpec& Spec, const std::vector<EvoStream>& Streams) {
  if (Streams.empty() || !StreamsUsable(Streams, nullptr)) return;
  VobuMuxer mux(Streams, Spec.FirstPts);
  SetDataPacksByTime(Spec, [&](uint32_t S, uint32_t E) { return CountDataPacks(mux, S, E); });
}

bool FitDomainToSize(DomainSpec& Spec, const std::vector<EvoStream>& Streams, uint64_t TargetBytes,
                     std::string* Why) {
  auto fail = [&](std::string reason) {
    if (Why) *Why = std::move(reason);
    return false;
  };
  if (Spec.Cells.empty()) Spec.Cells.push_back(CellSpec{});
  if (Spec.VobuTicks == 0) return fail("the domain has no VOBU length");
  std::vector<EvoStream> usable = Streams;
  if (!StreamsUsable(usable, Why)) return false;
  // Every cell grows by the same whole factor, so an angle block keeps its angles
  // equally long and grows by whole interleaved units.
  SizeDomainForStreams(Spec, usable);
  const uint64_t before = LayoutDomain(Spec, "x", 1).TotalSectors;
  if (before == 0) return fail("the domain has no sectors to grow");
  const uint64_t targetSectors = (TargetBytes + kPackSize - 1) / kPackSize;
  const uint64_t factor = std::max<uint64_t>(1, (targetSectors + before - 1) / before);
  uint64_t steps = 0;  // VOBU times the domain plays: an angle block's angles share theirs
  for (size_t i = 0; i < Spec.Cells.size(); ++i) {
    const uint64_t grown = uint64_t(std::max(Spec.Cells[i].VobuCount, 1)) * factor;
    if (grown > static_cast<uint64_t>(std::numeric_limits<int>::max())) return fail("the size asked for is too large");
    Spec.Cells[i].VobuCount = static_cast<int>(grown);
    Spec.Cells[i].DataPacks.clear();
    if (Spec.Cells[i].Angle <= 1) steps += grown;
  }
  if (Spec.FirstPts + steps * Spec.VobuTicks > 0xFFFFFFFFull)
    return fail("the size asked for plays longer than 32-bit presentation times reach");
  SizeDomainForStreams(Spec, usable);
  uint64_t total = LayoutDomain(Spec, "x", 1).TotalSectors;
  // The streams' packs per VOBU vary a little, so the last stretch is topped up
  // by whole VOBUs of the first cell outside an angle block (of every cell where
  // all are angles).
  auto plain = std::find_if(Spec.Cells.begin(), Spec.Cells.end(), [](const CellSpec& c) { return c.Angle == 0; });
  for (int round = 0; round < 8 && total < targetSectors; ++round) {
    const uint64_t perStep = std::max<uint64_t>(1, total / std::max<uint64_t>(steps, 1));
    const uint64_t extra = (targetSectors - total + perStep - 1) / perStep + 1;
    if (Spec.FirstPts + (steps + extra) * Spec.VobuTicks > 0xFFFFFFFFull)
      return fail("the size asked for plays longer than 32-bit presentation times reach");
    for (CellSpec& c : Spec.Cells)
      if (plain == Spec.Cells.end() || &c == &*plain) c.VobuCount += static_cast<int>(extra);
    steps += extra;
    SizeDomainForStreams(Spec, usable);
    total = LayoutDomain(Spec, "x", 1).TotalSectors;
  }
  // A chain has at most 99 files (t01 .. t99): a larger disc has larger files.
  constexpr uint64_t kMostChainFiles = 90;
  if (total > 0xFFFFFFFFull) return fail("the size asked for does not fit 32-bit sector numbers");
  if (Spec.MaxFileSectors != 0 && total / Spec.MaxFileSectors >= kMostChainFiles)
    Spec.MaxFileSectors = static_cast<uint32_t>((total + kMostChainFiles - 1) / kMostChainFiles);
  return true;
}

EvoBuildSummary WriteDomainEvos(const std::string& Folder, const DomainSpec& Spec, const DomainLayout& Layout,
                                const std::vector<EvoStream>& Streams, const EvoBuildOptions& Options) {
  EvoBuildSummary sum;
  if (!StreamsUsable(Streams, &sum.Error)) return sum;
  if (Layout.Cells.size() != Spec.Cells.size()) {
    sum.Error = "the layout does not belong to the domain description";
    return sum;
  }
  if (Layout.TotalSectors == 0) {  // an empty domain has no file
    sum.Ok = true;
    return sum;
  }
  for (const FileLayout& f : Layout.Files)
    sum.Files.push_back({f.Name, Folder + "/" + f.Name, f.FirstSector, f.SectorCount});
  for (size_t c = 0; c < Spec.Cells.size(); ++c) {
    EvoCellSummary cs;
    cs.VobId = Spec.Cells[c].VobId;
    cs.CellId = Spec.Cells[c].CellId;
    cs.Angle = Spec.Cells[c].Angle;
    cs.StartPts = Layout.Cells[c].StartPts;
    cs.EndPts = Layout.Cells[c].EndPts;
    cs.Runs = Layout.Cells[c].Runs;
    cs.Vobus = Layout.Cells[c].Vobus;
    sum.Cells.push_back(std::move(cs));
  }
  for (const EvoStream& e : Streams) {
    EvoStreamSummary ss;
    ss.Kind = e.Source->Kind;
    ss.StreamId = e.StreamId;
    ss.SubstreamId = e.SubstreamId;
    ss.VobuOffsets.reserve(Layout.Vobus.size() + 1);
    sum.Streams.push_back(std::move(ss));
  }
  sum.Vobus.reserve(Layout.Vobus.size());

  int audio = 0, video = 0;
  for (const EvoStream& e : Streams) {
    if (IsVideoKind(e.Source->Kind)) ++video;
    else if (e.Source->Kind != StreamKind::Subpicture) ++audio;
  }
  const SystemHeaderImage sys = MakeSystemHeader(Options.MuxRate, audio, std::max(video, 1));
  VobuMuxer mux(Streams, Spec.FirstPts);
  SummaryObserver observer(sum, Options.KeepStreamBytes);
  PackWriter out(Folder, Layout.Files, Options.WriteBufferBytes);
  const uint64_t perPack27 = static_cast<uint64_t>(kPackSize) * 27000000ull;  // divided by the byte rate below
  const uint64_t byteRate = static_cast<uint64_t>(std::max<uint32_t>(Options.MuxRate, 1)) * 50;
  uint64_t lastScr = 0;
  bool anyPack = false;

  for (size_t vi = 0; vi < Layout.Vobus.size(); ++vi) {
    const VobuLayout& v = Layout.Vobus[vi];
    const CellSpec& cell = Spec.Cells[v.Cell];
    auto scrOf = [&](int Index) {
      const uint64_t sent = v.StartPts > Options.ScrLeadTicks ? v.StartPts - Options.ScrLeadTicks : 0;
      uint64_t scr = sent * 300 + static_cast<uint64_t>(Index) * perPack27 / byteRate;
      if (anyPack && scr <= lastScr) scr = lastScr + perPack27 / byteRate;
      lastScr = scr;
      anyPack = true;
      return scr;
    };

    NavFields nav;
    nav.BlockNumber = v.Sector;
    nav.EndAddress = static_cast<uint32_t>(v.Packs - 1);
    nav.VobId = cell.VobId;
    nav.CellId = cell.CellId;
    nav.StartPts = v.StartPts;
    nav.EndPts = v.EndPts;
    nav.CellElapsed = v.StartPts - Layout.Cells[v.Cell].StartPts;
    nav.Seamless = cell.AngleSeamless;
    nav.Scr27 = scrOf(0);
    AngleTable(Layout, cell, v, nav.Angles);
    if (!cell.ButtonCommands.empty() && nav.CellElapsed == 0) nav.Buttons = &cell.ButtonCommands;
    nav.CellEndPts = Layout.Cells[v.Cell].EndPts;

    uint8_t* pack = out.Next();
    if (!pack) break;
    WriteNavPack(pack, sys, nav, Options);
    EvoVobuSummary vs;
    vs.Sector = v.Sector;
    vs.Packs = v.Packs;
    vs.VobId = cell.VobId;
    vs.CellId = cell.CellId;
    vs.Angle = cell.Angle;
    vs.StartPts = v.StartPts;
    vs.EndPts = v.EndPts;
    vs.File = out.File();
    vs.FileSector = out.FileSector();
    vs.Scr = nav.Scr27;
    for (EvoStreamSummary& s : sum.Streams) s.VobuOffsets.push_back(s.TotalBytes);

    mux.Begin(v.StartPts, v.EndPts);
    for (int k = 1; k < v.Packs; ++k) {
      pack = out.Next();
      if (!pack) break;
      const uint64_t scr = scrOf(k);
      if (mux.FillPack(pack, scr, Options.MuxRate, &observer)) {
        ++vs.StreamPacks;
      } else {
        WritePaddingPack(pack, scr, Options.MuxRate);
        ++sum.PaddingPacks;
      }
    }
    sum.Vobus.push_back(vs);
    if (!out.Error().empty()) break;
    if (mux.HasData()) {
      sum.Error = "VOBU " + std::to_string(vi) + " needs more than its " + std::to_string(v.Packs) +
                  " packs: size the domain for the streams first";
      break;
    }
  }
  for (EvoStreamSummary& s : sum.Streams) s.VobuOffsets.push_back(s.TotalBytes);
  const bool finished = out.Finish();
  if (sum.Error.empty() && !finished) sum.Error = out.Error();
  if (sum.Error.empty() && sum.Vobus.size() != Layout.Vobus.size()) sum.Error = "not every VOBU was written";
  sum.TotalBytes = static_cast<uint64_t>(Layout.TotalSectors) * kPackSize;
  sum.Ok = sum.Error.empty();
  return sum;
}

EvoBuildSummary BuildDomainEvos(const std::string& Folder, DomainSpec& Spec, const std::string& FileStem,
                                int FirstNumber, const std::vector<EvoStream>& Streams,
                                const EvoBuildOptions& Options, DomainLayout* LayoutOut) {
  SizeDomainForStreams(Spec, Streams);
  DomainLayout layout = LayoutDomain(Spec, FileStem, FirstNumber);
  EvoBuildSummary sum = WriteDomainEvos(Folder, Spec, layout, Streams, Options);
  if (LayoutOut) *LayoutOut = std::move(layout);
  return sum;
}

EvoBuildSummary BuildLooseEvo(const std::string& Folder, const std::string& Name, DomainSpec& Spec,
                              const std::vector<EvoStream>& Streams, const EvoBuildOptions& Options,
                              DomainLayout* LayoutOut) {
  SizeDomainForStreams(Spec, Streams);
  DomainSpec single = Spec;
  single.MaxFileSectors = 0;
  DomainLayout layout = LayoutDomain(single, "loose", 1);
  layout.Files.front().Name = Name;
  EvoBuildSummary sum = WriteDomainEvos(Folder, single, layout, Streams, Options);
  if (LayoutOut) *LayoutOut = std::move(layout);
  return sum;
}

bool WriteVtiList(const std::string& Path, const std::vector<std::string>& EvoNames, uint32_t ListSector) {
  if (ListSector == 0) return false;  // the list would overwrite the field that locates it
  const uint64_t n = EvoNames.size();
  for (const std::string& name : EvoNames)
    if (name.size() > 317 || name.find('\0') != std::string::npos) return false;
  const uint64_t listStart = static_cast<uint64_t>(ListSector) * kPackSize;
  const uint64_t records = 4 + (n + 1) * 4;
  const uint64_t end = listStart + records + n * 320;
  std::vector<uint8_t> file((end + kPackSize - 1) / kPackSize * kPackSize, 0);
  WriteBE32(file.data() + 188, ListSector);
  uint8_t* list = file.data() + listStart;
  WriteBE32(list, static_cast<uint32_t>(n));
  for (uint64_t i = 0; i <= n; ++i) WriteBE32(list + 4 + 4 * i, static_cast<uint32_t>(records + i * 320));
  for (uint64_t i = 0; i < n; ++i) {
    uint8_t* r = list + records + i * 320;
    WriteBE16(r, static_cast<uint16_t>(i + 1));
    std::memcpy(r + 2, EvoNames[i].data(), EvoNames[i].size());
  }
  const int fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = platform::WriteFull(fd, file.data(), file.size());
  const bool closed = ::close(fd) == 0;
  return written && closed;
}

}  // namespace tess::tools
