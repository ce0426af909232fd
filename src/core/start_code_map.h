#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Where the start codes of a video file written in this run stand. The
// demultiplexer sees every byte of its MPEG video outputs as it writes them;
// noting the start codes on the way lets a later analysis of the same,
// unchanged file pass over the long runs of slice data without reading them.
namespace tess::core {

// What tells one state of a file from another: a map is taken only for the
// file it was made from, as that file was when the map was sealed.
struct TFileIdentity {
  uint64_t Device = 0;
  uint64_t Inode = 0;
  int64_t Size = -1;
  int64_t ModifiedSeconds = 0, ModifiedNanoseconds = 0;
  int64_t ChangedSeconds = 0, ChangedNanoseconds = 0;

  // The identity of the open file Fd; false when it cannot be had.
  static bool Of(int Fd, TFileIdentity& Out);
  bool operator==(const TFileIdentity&) const = default;
};

// The start-code prefixes 00 00 01 of a file, fed its bytes in file order,
// except those whose value byte lies in a range the reader passes over (an
// MPEG video's slices). A prefix whose value byte has not come yet counts as
// noted: at the end of the file it starts nothing, and a walk that reaches it
// ends there.
class TStartCodeMap {
 public:
  // Value bytes SkippedFirst .. SkippedLast are not noted.
  TStartCodeMap(uint8_t SkippedFirst, uint8_t SkippedLast) : SkippedFirst_(SkippedFirst), SkippedLast_(SkippedLast) {}

  // The next Count bytes of the file.
  void Add(const uint8_t* Data, size_t Count);
  // The writer is done for now: the map holds the whole of the file Fd as it
  // now stands. A map that cannot take the file's identity is dropped.
  void Seal(int Fd);
  // The writer goes on appending to the sealed file Fd; false (and the map
  // dropped) when the file is no longer the one the map was sealed with.
  bool Reopen(int Fd);
  // Something went wrong on the writer's side: the map is not to be used.
  void Drop();

  bool Valid() const { return Valid_; }
  bool Sealed() const { return Sealed_; }
  // Sealed, valid, and made from exactly the file that Fd has open.
  bool Describes(int Fd) const;
  int64_t BytesSeen() const { return Seen_; }
  size_t Count() const { return Deltas_.size() + (PendingValue_ ? 1 : 0); }

  // Looks noted prefixes up by position, the positions asked for growing
  // (a position below the last one asked starts the search over).
  class TCursor {
   public:
    // The position of the first noted prefix at or after Position; -1 when
    // none stands there.
    int64_t NextAtOrAfter(const TStartCodeMap& Map, int64_t Position);

   private:
    size_t Index_ = 0;    // entries passed
    int64_t Start_ = 0;   // position of entry Index_ - 1 (0 before the first)
    int64_t Asked_ = -1;  // the position asked last
  };

 private:
  void Note(int64_t Position);

  uint8_t SkippedFirst_;
  uint8_t SkippedLast_;
  bool Valid_ = true;
  bool Sealed_ = false;
  TFileIdentity Identity_;
  int64_t Seen_ = 0;  // bytes added
  // Noted positions as distances from the one before (the first from 0): the
  // maps of a whole disc's videos stay small.
  std::vector<uint32_t> Deltas_;
  int64_t Last_ = 0;  // position of the last entry of Deltas_
  uint8_t Tail_[2] = {};  // the last bytes added, for prefixes across two additions
  size_t TailLength_ = 0;
  bool PendingValue_ = false;  // a prefix at PendingAt_ waits for its value byte
  int64_t PendingAt_ = 0;
};

// The maps of one run, by the file they describe (its device and inode, so
// that every spelling of its name finds it).
class TStartCodeMaps {
 public:
  // The map to feed with the bytes written through the open output Fd, whose
  // size at opening was SizeAtOpen: a new map for an empty file, the sealed
  // map of the file when it is unchanged since, else none.
  TStartCodeMap* ForOutput(int Fd, int64_t SizeAtOpen, uint8_t SkippedFirst, uint8_t SkippedLast);
  // The map that describes the file open as Fd, or none.
  const TStartCodeMap* Find(int Fd) const;
  // The file open as Fd is changed in a way its identity may not show: its map
  // is not to be used again in this run.
  void Drop(int Fd);

 private:
  using TKey = std::pair<uint64_t, uint64_t>;
  std::map<TKey, std::unique_ptr<TStartCodeMap>> Maps_;
};

}  // namespace tess::core
