#include "disc/cell_lookups.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "core/run_context.h"
#include "disc/disc_model.h"
#include "core/files.h"
#include "disc/ifo_model.h"
#include "platform/file_io.h"
#include "platform/paths.h"

namespace tess::disc {

namespace {

// Cells that both tables describe: the header's count, bounded by what was read.
size_t PositionCount(const TPGC* PGC) {
  if (!PGC) return 0;
  return std::min<size_t>(PGC->CellCount, PGC->CellPositions.size());
}

const TCellPlayback* PlaybackOf(const TPGC* PGC, int64_t Index) {
  if (!PGC || Index < 0 || static_cast<size_t>(Index) >= PGC->CellPlayback.size()) return nullptr;
  return &PGC->CellPlayback[static_cast<size_t>(Index)];
}

const TPGCTable* TitlePgcTable(const DiscModel& Disc, int32_t VtsIndex) {
  if (VtsIndex < 0 || static_cast<size_t>(VtsIndex) >= Disc.IFOFiles.size()) return nullptr;
  return &Disc.IFOFiles[static_cast<size_t>(VtsIndex)].VTS_PGCIT;
}

}  // namespace

int64_t FindCellIndex(const TPGC* PGC, uint32_t VobId, uint32_t CellId) {
  const size_t n = PositionCount(PGC);
  for (size_t i = 0; i < n; ++i) {
    const auto& p = PGC->CellPositions[i];
    if (p.VobId == VobId && p.CellId == CellId) return static_cast<int64_t>(i);
  }
  return -1;
}

bool IsCellSeamless(uint32_t VobId, uint32_t CellId, const TPGC* PGC, bool IncludeFirst) {
  const TCellPlayback* cell = PlaybackOf(PGC, FindCellIndex(PGC, VobId, CellId));
  if (!cell) return false;
  if (CellId == 1 && !IncludeFirst) return false;
  return cell->Seamless();
}

bool IsCellSeamlessInVts(const DiscModel& Disc, uint32_t VobId, uint32_t CellId, int32_t VtsIndex) {
  const TPGCTable* table = TitlePgcTable(Disc, VtsIndex);
  if (!table) return false;
  for (const auto& entry : table->PGCs)
    if (IsCellSeamless(VobId, CellId, entry.PGC.get(), true)) return true;
  return false;
}

uint8_t GetCellStillTime(uint32_t VobId, uint32_t CellId, const TPGC* PGC) {
  const TCellPlayback* cell = PlaybackOf(PGC, FindCellIndex(PGC, VobId, CellId));
  return cell ? cell->StillTime() : 0;
}

uint8_t GetCellStillKind(uint32_t VobId, uint32_t CellId, const TPGC* PGC) {
  return GetCellStillTime(VobId, CellId, PGC) == 255 ? 2 : 1;
}

void GetCellPosition(const TPGC* PGC, int32_t Index, TVobCellId& Pos) {
  Pos = {};
  if (Index < 0 || static_cast<size_t>(Index) >= PositionCount(PGC)) return;
  const auto& p = PGC->CellPositions[static_cast<size_t>(Index)];
  Pos.VobId = p.VobId;
  Pos.CellId = p.CellId;
}

bool VobHasSeamlessCell(uint32_t VobId, const TPGC* PGC) {
  const size_t n = PositionCount(PGC);
  for (size_t i = 0; i < n; ++i) {
    const auto& p = PGC->CellPositions[i];
    if (p.VobId == VobId && IsCellSeamless(VobId, p.CellId, PGC, false)) return true;
  }
  return false;
}

bool VobHasSeamlessLaterCell(uint32_t VobId, const TPGC* PGC) {
  const size_t n = PositionCount(PGC);
  bool seenFirst = false;
  uint8_t firstCell = 0;
  for (size_t i = 0; i < n; ++i) {
    const auto& p = PGC->CellPositions[i];
    if (p.VobId != VobId) continue;
    if (!seenFirst) {
      seenFirst = true;
      firstCell = p.CellId;
      continue;
    }
    if (p.CellId != firstCell && IsCellSeamless(VobId, p.CellId, PGC, false)) return true;
  }
  return false;
}

bool PgcListHasSeamlessVob(uint32_t VobId, std::span<const TPGC* const> List) {
  for (const TPGC* pgc : List)
    if (VobHasSeamlessLaterCell(VobId, pgc)) return true;
  return false;
}

bool PgcGroupsHaveSeamlessVob(uint32_t VobId, std::span<const std::vector<const TPGC*>> Groups) {
  for (const auto& group : Groups)
    if (PgcListHasSeamlessVob(VobId, group)) return true;
  return false;
}

bool IsUniquePgcStart(const DiscModel& Disc, int32_t VtsIndex, uint32_t VobId, uint32_t CellId) {
  const TPGCTable* table = TitlePgcTable(Disc, VtsIndex);
  if (!table) return false;
  int starts = 0;
  for (const auto& entry : table->PGCs) {
    const TPGC* pgc = entry.PGC.get();
    if (PositionCount(pgc) == 0) continue;
    const auto& first = pgc->CellPositions[0];
    if (first.VobId == VobId && first.CellId == CellId) ++starts;
  }
  return starts == 1;
}

uint8_t BcdByteToInt(uint8_t Value) {
  const uint8_t hi = Value >> 4, lo = Value & 0x0F;
  if (hi > 9 || lo > 9) return 0;
  return static_cast<uint8_t>(hi * 10 + lo);
}

TTimeCode BcdPlaybackTimeToTimecode(const uint8_t* T) {
  return {BcdByteToInt(T[0]), BcdByteToInt(T[1]), BcdByteToInt(T[2]), BcdByteToInt(T[3] & 0x3F)};
}

int CompareTimecodes(TTimeCode A, TTimeCode B) {
  const uint8_t a[4] = {A.Hours, A.Minutes, A.Seconds, A.Frames};
  const uint8_t b[4] = {B.Hours, B.Minutes, B.Seconds, B.Frames};
  for (int i = 0; i < 4; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

TTimeCode MinTimecode(TTimeCode A, TTimeCode B) { return CompareTimecodes(B, A) < 0 ? B : A; }

bool TimecodeInRange(TTimeCode A, TTimeCode B, TTimeCode T) {
  return CompareTimecodes(A, T) <= 0 && CompareTimecodes(T, B) < 0;
}

int64_t GetFileSize64(const std::string& FileName) { return core::GetFileSizeByName(FileName); }

bool IsSDResolution(int32_t Width, int32_t Height) {
  const bool width = Width == 352 || Width == 704 || Width == 720;
  const bool height = Height == 240 || Height == 288 || Height == 420 || Height == 480 || Height == 576;
  return width && height;
}

void ReadFirstVobuIds(const std::string& FileName, TVobCellId& Ids) {
  Ids = {};
  // The navigation packets sit in the first pack; the probe reads a bounded head
  // of the file, and any step that would leave it ends the probe.
  constexpr size_t kProbeBytes = 131072;
  const std::string path = platform::ResolveInputPath(FileName);
  std::vector<uint8_t> head(kProbeBytes);
  const int64_t got = platform::ReadFileHead(path, head.data(), head.size());
  if (got < 0) return;
  const auto size = static_cast<size_t>(got);

  size_t pos = 0;
  auto have = [&](size_t count) { return pos <= size && size - pos >= count; };
  auto startCode = [&](uint8_t id) {
    return head[pos] == 0 && head[pos + 1] == 0 && head[pos + 2] == 1 && head[pos + 3] == id;
  };

  if (!have(4) || !startCode(0xBA)) return;
  pos += 13;  // the rest of the 14-byte pack header up to its last byte
  if (!have(1)) return;
  pos += 1 + (head[pos] & 7);  // and its stuffing

  size_t packetLength = 0;  // of the last private stream 2 packet
  int substream = -1;       // none read yet
  for (;;) {
    if (packetLength > size - std::min(pos, size)) return;
    pos += packetLength;
    if (!have(4)) return;
    if (startCode(0xBB)) {
      // Past the header length, rate and audio bounds, the bytes 3 apart with the
      // top bit set are the video bound and the stream entries; the first clear
      // one is the second byte of the next packet.
      pos += 4 + 6;
      while (have(1) && (head[pos] & 0x80)) pos += 3;
      if (!have(1)) return;
      pos -= 1;
    } else if (startCode(0xBF)) {
      pos += 4;
      if (!have(3)) return;
      packetLength = (static_cast<size_t>(head[pos]) << 8) | head[pos + 1];
      substream = head[pos + 2];
      pos += 2;  // on the substream id: the packet length counts from here
    } else {
      return;
    }
    if (substream == 1) {
      // The data search information: VOB id 25 bytes after the substream id, the
      // cell id one reserved byte later.
      pos += 25;
      if (!have(4)) return;
      Ids.VobId = static_cast<uint16_t>((head[pos] << 8) | head[pos + 1]);
      Ids.CellId = head[pos + 3];
      return;
    }
  }
}

}  // namespace tess::disc
