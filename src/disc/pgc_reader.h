#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "disc/ifo_model.h"

namespace tess::core {
struct RunContext;
}
namespace tess::disc {

// Len bytes at Pos lie before Limit (overflow-proof: Pos and Len come from files).
constexpr bool Within(uint64_t Pos, uint64_t Len, uint64_t Limit) { return Pos <= Limit && Len <= Limit - Pos; }

// The bytes of one information file, read once. Every table reader takes its
// fields from here: a read past the end of the file gives zero bytes, and the
// readers test with Fits before they trust a count or an offset.
class TIFOImage {
 public:
  // Reads the whole file. False when it cannot be opened (the image is then
  // empty), with the errno of the open in *Err when given. A read error keeps
  // what came before it: ReadError says so.
  bool Load(const std::string& FileName, int* Err = nullptr);
  // An image of bytes already in memory (tests and tools).
  void Assign(std::string FileName, std::vector<uint8_t> Bytes);

  // The errno of a read error that ended the image early, else 0; ReadErrorAt
  // is the byte it met. An image cut short so is no whole information file.
  int ReadError() const { return readError_; }
  uint64_t ReadErrorAt() const { return bytes_.size(); }

  const std::string& FileName() const { return fileName_; }
  // The file name without its folder, as log lines show it.
  const std::string& Name() const { return name_; }
  uint64_t Size() const { return bytes_.size(); }
  bool Fits(uint64_t Pos, uint64_t Len) const { return Within(Pos, Len, Size()); }

  void Read(uint64_t Pos, uint8_t* Out, size_t Len) const;
  uint8_t U8(uint64_t Pos) const { return Pos < Size() ? bytes_[Pos] : 0; }
  uint16_t BE16(uint64_t Pos) const;
  uint32_t BE32(uint64_t Pos) const;
  uint64_t BE64(uint64_t Pos) const;

 private:
  std::string fileName_;
  std::string name_;
  std::vector<uint8_t> bytes_;
  int readError_ = 0;
};

// What a table reader needs besides the bytes: the project state for its log
// lines, and the count of what the file's tables have decoded so far. A bad table
// or record is reported once, as a warning that names the file and the table.
struct TTableReader {
  // What one file may decode, per byte of the file. Tables without shared bytes
  // decode each byte about once (a menu entry and the chain it names count a
  // chain header twice); the rest of the room is for sharing that discs do use,
  // such as the language units of a menu domain naming the same chains.
  static constexpr uint64_t kDecodedPerFileByte = 32;
  // Ceilings whatever the file's size: per file, and for all the files of one
  // load together (a set of crafted files must not add up to more than this).
  static constexpr uint64_t kMaxDecodedPerFile = 24ull << 20;
  static constexpr uint64_t kMaxDecodedPerLoad = 96ull << 20;

  // LoadDecoded, when given, counts what every file of the current load decoded.
  TTableReader(core::RunContext& R, const TIFOImage& I, uint64_t* LoadDecoded = nullptr)
      : Run(R), Image(I), loadDecoded_(LoadDecoded) {}

  core::RunContext& Run;
  const TIFOImage& Image;
  // Logs "File <name>, <Table>: <Problem>", counts it and returns false.
  bool Bad(std::string_view Table, std::string_view Problem) const;
  // False, logged and counted as a problem, when the image met a read error:
  // what follows the error reads as missing, and the file is not whole.
  bool Whole() const;
  mutable int32_t Problems = 0;  // what Bad reported
  // Counts Bytes of records about to be decoded for Where; false when they would
  // take the file past kDecodedPerFileByte times its size or past one of the
  // ceilings, and Where is then
  // skipped. Each count checks out against the file, but entries may point at
  // the same bytes and a chain's counts size its lists even where its tables are
  // missing, so without this bound a small file could ask for any amount of
  // memory. Reported once per file.
  bool Charge(uint64_t Bytes, std::string_view Where) const;

 private:
  uint64_t* loadDecoded_;
  mutable uint64_t decoded_ = 0;
  mutable bool overReported_ = false;
};

// Reads the program chain at byte Pos of the image into PGC. Limit is the end
// (exclusive) of the table that holds the chain: no part of the chain may lie
// past it. A chain whose 240 bytes of general information do not fit, or whose
// counts the reader's Charge refuses, is reported, left empty and gives false. A sub-table that does not fit is reported
// and treated as absent (its start byte set to 0): the command table is then
// null, and the program map and the cell lists are zero-filled to the counts.
// Where names the chain in log lines ("VTS_PGCIT program chain 2").
bool ReadPGC(const TTableReader& Reader, uint64_t Pos, uint64_t Limit, TPGC& PGC, std::string_view Where);

// The same from a file name, bounded by the file (the first-play chain's form).
bool ReadPGC(core::RunContext& Run, const std::string& FileName, uint64_t Pos, TPGC& PGC);

}  // namespace tess::disc
