#include "core/start_code_map.h"

#include <sys/stat.h>

#include <limits>

#include "core/bit_stream.h"

namespace tess::core {

namespace {

// Past this many entries (64 MiB of video per entry at the least would be a
// strange stream; a feature film has a few hundred thousand) a map is dropped
// rather than grown: the analysis then reads the file as it always could.
constexpr size_t kMostEntries = size_t{1} << 22;

}  // namespace

bool TFileIdentity::Of(int Fd, TFileIdentity& Out) {
  struct stat st {};
  if (Fd < 0 || ::fstat(Fd, &st) != 0) return false;
  Out.Device = static_cast<uint64_t>(st.st_dev);
  Out.Inode = static_cast<uint64_t>(st.st_ino);
  Out.Size = static_cast<int64_t>(st.st_size);
  Out.ModifiedSeconds = st.st_mtim.tv_sec;
  Out.ModifiedNanoseconds = st.st_mtim.tv_nsec;
  Out.ChangedSeconds = st.st_ctim.tv_sec;
  Out.ChangedNanoseconds = st.st_ctim.tv_nsec;
  return true;
}

void TStartCodeMap::Note(int64_t Position) {
  const int64_t delta = Position - Last_;
  if (delta < 0 || delta > std::numeric_limits<uint32_t>::max() || Deltas_.size() >= kMostEntries) {
    Drop();
    return;
  }
  Deltas_.push_back(static_cast<uint32_t>(delta));
  Last_ = Position;
}

void TStartCodeMap::Add(const uint8_t* Data, size_t Count) {
  if (Sealed_) Drop();  // bytes that reach the file after the map was closed
  if (!Valid_ || Count == 0) return;
  const int64_t base = Seen_;
  const auto noteUnlessSkipped = [this](int64_t At, uint8_t Value) {
    if (Value < SkippedFirst_ || Value > SkippedLast_) Note(At);
  };
  if (PendingValue_) {
    PendingValue_ = false;
    noteUnlessSkipped(PendingAt_, Data[0]);
  }
  // Prefixes that start in the last bytes added before and end in these.
  const auto byteAt = [&](int64_t Pos) {
    return Pos < base ? Tail_[TailLength_ - static_cast<size_t>(base - Pos)] : Data[Pos - base];
  };
  const int64_t end = base + static_cast<int64_t>(Count);
  for (int64_t s = base - static_cast<int64_t>(TailLength_); s < base && s + 2 < end; ++s) {
    if (byteAt(s) != 0 || byteAt(s + 1) != 0 || byteAt(s + 2) != 1) continue;
    if (s + 3 < end) {
      noteUnlessSkipped(s, byteAt(s + 3));
    } else {
      PendingValue_ = true;
      PendingAt_ = s;
    }
  }
  const uint8_t* const last = Data + Count;
  for (const uint8_t* p = Data; Valid_ && (p = FindStartCodePrefix(p, last)) != last; p += 3) {
    const int64_t at = base + (p - Data);
    if (p + 3 < last) {
      noteUnlessSkipped(at, p[3]);
    } else {
      PendingValue_ = true;
      PendingAt_ = at;
    }
  }
  if (Count >= 2) {
    Tail_[0] = Data[Count - 2];
    Tail_[1] = Data[Count - 1];
    TailLength_ = 2;
  } else {
    if (TailLength_ == 2) Tail_[0] = Tail_[1];
    Tail_[TailLength_ == 2 ? 1 : TailLength_] = Data[0];
    TailLength_ = TailLength_ == 2 ? 2 : TailLength_ + 1;
  }
  Seen_ = end;
}

void TStartCodeMap::Seal(int Fd) {
  if (!Valid_) return;
  if (!TFileIdentity::Of(Fd, Identity_) || Identity_.Size != Seen_) {
    Drop();
    return;
  }
  Sealed_ = true;
}

bool TStartCodeMap::Reopen(int Fd) {
  TFileIdentity now;
  if (!Valid_ || !Sealed_ || !TFileIdentity::Of(Fd, now) || !(now == Identity_)) {
    Drop();
    return false;
  }
  Sealed_ = false;
  return true;
}

void TStartCodeMap::Drop() {
  Valid_ = false;
  std::vector<uint32_t>().swap(Deltas_);
  PendingValue_ = false;
}

bool TStartCodeMap::Describes(int Fd) const {
  TFileIdentity now;
  return Valid_ && Sealed_ && TFileIdentity::Of(Fd, now) && now == Identity_;
}

int64_t TStartCodeMap::TCursor::NextAtOrAfter(const TStartCodeMap& Map, int64_t Position) {
  if (Position < Asked_) {
    Index_ = 0;
    Start_ = 0;
  }
  Asked_ = Position;
  while (Index_ < Map.Deltas_.size()) {
    const int64_t at = Start_ + Map.Deltas_[Index_];
    if (at >= Position) return at;
    Start_ = at;
    ++Index_;
  }
  return Map.PendingValue_ && Map.PendingAt_ >= Position ? Map.PendingAt_ : -1;
}

TStartCodeMap* TStartCodeMaps::ForOutput(int Fd, int64_t SizeAtOpen, uint8_t SkippedFirst, uint8_t SkippedLast) {
  TFileIdentity id;
  if (!TFileIdentity::Of(Fd, id)) return nullptr;
  const TKey key{id.Device, id.Inode};
  const auto it = Maps_.find(key);
  if (it != Maps_.end()) {
    // A map stays where it is for the whole run (a writer may still hold it):
    // it goes on with the file it describes, or it is dropped for good.
    TStartCodeMap& map = *it->second;
    if (SizeAtOpen > 0 && map.BytesSeen() == SizeAtOpen && map.Reopen(Fd)) return &map;
    map.Drop();
    return nullptr;
  }
  if (SizeAtOpen != 0) return nullptr;
  auto& slot = Maps_[key];
  slot = std::make_unique<TStartCodeMap>(SkippedFirst, SkippedLast);
  return slot.get();
}

const TStartCodeMap* TStartCodeMaps::Find(int Fd) const {
  TFileIdentity id;
  if (!TFileIdentity::Of(Fd, id)) return nullptr;
  const auto it = Maps_.find(TKey{id.Device, id.Inode});
  return it != Maps_.end() && it->second->Describes(Fd) ? it->second.get() : nullptr;
}

void TStartCodeMaps::Drop(int Fd) {
  TFileIdentity id;
  if (!TFileIdentity::Of(Fd, id)) return;
  if (const auto it = Maps_.find(TKey{id.Device, id.Inode}); it != Maps_.end()) it->second->Drop();
}

}  // namespace tess::core
