#include "disc/pgc_reader.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "core/run_context.h"
#include "core/byte_order.h"
#include "disc/cell_lookups.h"
#include "platform/file_io.h"
#include "platform/paths.h"

namespace tess::disc {

// ---- the image ----

bool TIFOImage::Load(const std::string& FileName, int* Err) {
  fileName_ = FileName;
  name_ = platform::ExtractFileName(FileName);
  bytes_.clear();
  readError_ = 0;
  // Information files are a few hundred kilobytes; a huge file that merely
  // carries the right identifier must not take all memory. Tables beyond the
  // part read are then reported as lying outside the file. What could be read
  // of a failing file is kept, and the error with it: the readers name it.
  constexpr uint64_t kMaxInformationFileBytes = 64 << 20;
  const int fd = platform::OpenRegularFile(FileName, O_RDONLY);
  if (fd < 0) {
    if (Err) *Err = errno;
    return false;
  }
  struct stat st {};
  const uint64_t size = ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  bytes_.resize(static_cast<size_t>(std::min(size, kMaxInformationFileBytes)));
  bytes_.resize(platform::ReadFull(fd, bytes_.data(), bytes_.size(), &readError_));
  ::close(fd);
  return true;
}

void TIFOImage::Assign(std::string FileName, std::vector<uint8_t> Bytes) {
  name_ = platform::ExtractFileName(FileName);
  fileName_ = std::move(FileName);
  bytes_ = std::move(Bytes);
  readError_ = 0;
}

void TIFOImage::Read(uint64_t Pos, uint8_t* Out, size_t Len) const {
  std::fill(Out, Out + Len, uint8_t{0});
  if (Pos >= Size()) return;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(Len, Size() - Pos));
  std::copy_n(bytes_.data() + Pos, n, Out);
}

uint16_t TIFOImage::BE16(uint64_t Pos) const {
  uint8_t b[2];
  Read(Pos, b, sizeof b);
  return core::ReadBE16(b);
}

uint32_t TIFOImage::BE32(uint64_t Pos) const {
  uint8_t b[4];
  Read(Pos, b, sizeof b);
  return core::ReadBE32(b);
}

uint64_t TIFOImage::BE64(uint64_t Pos) const {
  uint8_t b[8];
  Read(Pos, b, sizeof b);
  return core::ReadBE64(b);
}

bool TTableReader::Bad(std::string_view Table, std::string_view Problem) const {
  std::string line = "File " + Image.Name() + ", ";
  line += Table;
  line += ": ";
  line += Problem;
  Run.Log(core::kLogWarning, line, platform::kColourRed);
  ++Problems;
  return false;
}

bool TTableReader::Whole() const {
  if (Image.ReadError() == 0) return true;
  Run.Log(core::kLogWarning,
          "Read error in file " + Image.Name() + " at byte " + std::to_string(Image.ReadErrorAt()) +
              platform::ErrorReason(Image.ReadError()) + "; what follows it was not read",
          platform::kColourRed);
  ++Problems;
  return false;
}

bool TTableReader::Charge(uint64_t Bytes, std::string_view Where) const {
  const uint64_t room = std::min(kDecodedPerFileByte * Image.Size(), kMaxDecodedPerFile);
  const uint64_t loadUsed = loadDecoded_ ? *loadDecoded_ : 0;
  const uint64_t loadRoom = kMaxDecodedPerLoad > loadUsed ? kMaxDecodedPerLoad - loadUsed : 0;
  if (decoded_ <= room && Bytes <= room - decoded_ && Bytes <= loadRoom) {
    decoded_ += Bytes;
    if (loadDecoded_) *loadDecoded_ += Bytes;
    return true;
  }
  // Nothing more is decoded once the bound is met, so one report covers the rest.
  decoded_ = room + 1;
  if (overReported_) return false;
  overReported_ = true;
  return Bad(Where, "its records would take what is decoded past " + std::to_string(kDecodedPerFileByte) +
                        " times the file's size (entries that share their bytes) or past " +
                        std::to_string(kMaxDecodedPerFile >> 20) + " MiB a file, " +
                        std::to_string(kMaxDecodedPerLoad >> 20) +
                        " MiB a disc; it and the records after it are skipped");
}

// ---- the chain ----

namespace {

std::string Num(uint64_t v) { return std::to_string(v); }

void ReadCommandList(const TIFOImage& Img, uint64_t& Pos, uint16_t Count, std::vector<TPGCCommandTable::Command>& Out) {
  Out.resize(Count);
  for (auto& c : Out) {
    Img.Read(Pos, c.data(), c.size());
    Pos += kNavCommandSize;
  }
}

void ReadCommandTable(const TTableReader& R, uint64_t ChainPos, uint64_t Limit, TPGC& P, std::string_view Where) {
  if (P.CommandTableStart == 0) return;
  const TIFOImage& img = R.Image;
  const uint64_t pos = ChainPos + P.CommandTableStart;
  if (!Within(pos, 8, Limit)) {
    R.Bad(Where, "command table at byte " + Num(P.CommandTableStart) + " lies outside the table; commands skipped");
    P.CommandTableStart = 0;
    return;
  }
  auto t = std::make_unique<TPGCCommandTable>();
  t->PreCount = img.BE16(pos);
  t->PostCount = img.BE16(pos + 2);
  t->CellCount = img.BE16(pos + 4);
  t->EndByte = img.BE16(pos + 6);
  const uint64_t commands = uint64_t{t->PreCount} + t->PostCount + t->CellCount;
  if (!Within(pos + 8, commands * kNavCommandSize, Limit)) {
    R.Bad(Where, Num(commands) + " commands do not fit in the table; commands skipped");
    P.CommandTableStart = 0;
    return;
  }
  if (!R.Charge(commands * kNavCommandSize, Where)) {
    P.CommandTableStart = 0;
    return;
  }
  uint64_t at = pos + 8;
  ReadCommandList(img, at, t->PreCount, t->Pre);
  ReadCommandList(img, at, t->PostCount, t->Post);
  ReadCommandList(img, at, t->CellCount, t->Cell);
  P.Commands = std::move(t);
}

// Tests whether a sub-table of Count records of Size bytes at the chain's Start
// byte fits; a table that does not is reported and dropped (Start set to 0), so
// that the caller zero-fills it like an absent one.
bool SubTableFits(const TTableReader& R, uint64_t ChainPos, uint64_t Limit, uint16_t& Start, uint64_t Count,
                  uint64_t Size, std::string_view Where, std::string_view What) {
  if (Start == 0 || Count == 0) return Start != 0;
  if (Within(ChainPos + Start, Count * Size, Limit)) return true;
  R.Bad(Where, std::string(What) + " at byte " + Num(Start) + " does not fit in the table; read as zero");
  Start = 0;
  return false;
}

}  // namespace

bool ReadPGC(const TTableReader& R, uint64_t Pos, uint64_t Limit, TPGC& P, std::string_view Where) {
  P = TPGC{};
  const TIFOImage& img = R.Image;
  Limit = std::min(Limit, img.Size());
  if (!Within(Pos, kPGCGeneralSize, Limit))
    return R.Bad(Where, "program chain at byte " + Num(Pos) + " lies outside the table; chain skipped");

  const uint16_t programs = img.BE16(Pos);
  const uint16_t cells = img.BE16(Pos + 2);
  // The lists are sized by the counts whether or not their tables are there.
  if (!R.Charge(kPGCGeneralSize + programs + uint64_t{cells} * (kCellPlaybackSize + kCellPositionSize), Where))
    return false;
  P.ProgramCount = programs;
  P.CellCount = cells;
  uint8_t time[4];
  img.Read(Pos + 4, time, sizeof time);
  P.PlaybackTime = BcdPlaybackTimeToTimecode(time);
  P.ProhibitedOps = img.BE32(Pos + 8);
  for (size_t i = 0; i < P.AudioControl.size(); ++i) P.AudioControl[i] = img.BE16(Pos + 12 + 2 * i);
  for (size_t i = 0; i < P.SubpicControl.size(); ++i) P.SubpicControl[i] = img.BE32(Pos + 28 + 4 * i);
  P.NextPGC = img.BE16(Pos + 156);
  P.PrevPGC = img.BE16(Pos + 158);
  P.GoUpPGC = img.BE16(Pos + 160);
  img.Read(Pos + 162, P.StillAndMode.data(), P.StillAndMode.size());
  P.CommandTableStart = img.BE16(Pos + 168);
  P.ProgramMapStart = img.BE16(Pos + 170);
  P.CellPlaybackStart = img.BE16(Pos + 172);
  P.CellPositionStart = img.BE16(Pos + 174);
  for (size_t i = 0; i < P.Palette.size(); ++i) {
    const uint64_t at = Pos + 176 + 4 * i;
    P.Palette[i] = {img.U8(at), img.U8(at + 1), img.U8(at + 2), img.U8(at + 3)};
  }

  ReadCommandTable(R, Pos, Limit, P, Where);

  // Every consumer indexes the program map and both cell lists by the header's
  // counts, so a missing (or dropped) table is zero-filled to them.
  P.ProgramMap.assign(P.ProgramCount, 0);
  if (SubTableFits(R, Pos, Limit, P.ProgramMapStart, P.ProgramCount, 1, Where, "program map"))
    img.Read(Pos + P.ProgramMapStart, P.ProgramMap.data(), P.ProgramMap.size());

  P.CellPlayback.assign(P.CellCount, TCellPlayback{});
  if (SubTableFits(R, Pos, Limit, P.CellPlaybackStart, P.CellCount, kCellPlaybackSize, Where, "cell playback table")) {
    uint64_t at = Pos + P.CellPlaybackStart;
    for (auto& c : P.CellPlayback) {
      img.Read(at, c.Category.data(), c.Category.size());
      img.Read(at + 4, time, sizeof time);
      c.PlaybackTime = BcdPlaybackTimeToTimecode(time);
      c.FirstVobuStart = img.BE32(at + 8);
      c.FirstIlvuEnd = img.BE32(at + 12);
      c.LastVobuStart = img.BE32(at + 16);
      c.LastVobuEnd = img.BE32(at + 20);
      at += kCellPlaybackSize;
    }
  }

  P.CellPositions.assign(P.CellCount, TCellPosition{});
  if (SubTableFits(R, Pos, Limit, P.CellPositionStart, P.CellCount, kCellPositionSize, Where, "cell position table")) {
    uint64_t at = Pos + P.CellPositionStart;
    for (auto& c : P.CellPositions) {
      c.VobId = img.BE16(at);
      c.Reserved = img.U8(at + 2);
      c.CellId = img.U8(at + 3);
      at += kCellPositionSize;
    }
  }
  return true;
}

bool ReadPGC(core::RunContext& Run, const std::string& FileName, uint64_t Pos, TPGC& PGC) {
  TIFOImage img;
  const TTableReader r{Run, img};
  if (!img.Load(platform::ResolveInputPath(FileName)) || !r.Whole()) {
    PGC = TPGC{};
    return false;
  }
  return ReadPGC(r, Pos, img.Size(), PGC, "program chain");
}

}  // namespace tess::disc
