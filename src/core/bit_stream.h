#pragma once
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tess::core {

struct RunContext;

// The first start-code prefix 00 00 01 that lies wholly in [Begin, End): a
// pointer to its first byte, or End when there is none. Looks at 32 bytes at a
// time where the processor can, else at 16 or 8; whole elementary streams go
// through it.
const uint8_t* FindStartCodePrefix(const uint8_t* Begin, const uint8_t* End);
// Moves P past the next start-code prefix in [P, End) and says true, or to End
// and says false. Window holds the bytes taken before P (the last one lowest),
// so that a prefix begun there and ending in the first two bytes counts; it
// takes the bytes passed (its low 24 bits are 00 00 01 after a prefix). For
// scans that go on from one buffer to the next.
bool SkipPastStartCodePrefix(uint32_t& Window, const uint8_t*& P, const uint8_t* End);
// The narrower searches it falls back on (and the tests compare): 16 bytes at
// a time with SSE2 (where there is none, as the next), and 8 bytes at a time
// in plain integers.
const uint8_t* FindStartCodePrefixBy16(const uint8_t* Begin, const uint8_t* End);
const uint8_t* FindStartCodePrefixByWords(const uint8_t* Begin, const uint8_t* End);

// Raised when a TFileBitStream cannot open or read its file.
class EParserFileException : public std::runtime_error {
 public:
  EParserFileException() : std::runtime_error("File error!") {}
};

// Reads bit fields, most significant bit first, from a block the caller owns
// (the header bytes of a PES packet or an audio frame). Bits past the end of
// the block read as 0 and the position stays at the end.
class TBitStream {
 public:
  TBitStream(const uint8_t* Buffer, int32_t Size);

  // Forgets the block; it stays the caller's.
  void Release() {
    Buffer = nullptr;
    Size = 0;
    ByteIndex = 0;
    BitsLeft = 8;
  }

  uint32_t ReadBit();
  // The next N bits, the first one read most significant. With N above 32
  // only the last 32 bits read are kept; N below 1 gives 0.
  uint32_t ReadBits(int N);

  const uint8_t* Buffer;
  int32_t Size;
  int32_t ByteIndex = 0;
  int32_t BitsLeft = 8;  // bits not yet read in the current byte, 8 down to 1
};

// Reads a whole elementary-stream file through a large buffer. In copy mode
// every byte read also goes to OutputHandle, with the marked insertions and
// removals applied; in read/write mode buffers patched by OverwriteBytes are
// written back into the file.
//
// Marks are kept as positions in the file, not in the buffer, so an edit may be
// marked a few bytes behind the current position (the start code just read)
// or run on past the end of the buffer in which it was marked: the copy holds
// back the last kCopyHoldBack bytes of each buffer until the next one is read,
// and removals that run on are finished in the next buffer.
class TFileBitStream {
 public:
  enum class TOpenMode { ReadOnly, ReadWrite };
  // Bytes behind the current position that a mark may still reach in copy mode.
  static constexpr int32_t kCopyHoldBack = 4096;

  // Opens FileName and fills the buffer once. On failure shows the message
  // through Run (when given) and raises EParserFileException.
  TFileBitStream(const std::string& FileName, int32_t BufferSize, RunContext* Run = nullptr,
                 TOpenMode Mode = TOpenMode::ReadOnly);
  ~TFileBitStream();
  TFileBitStream(const TFileBitStream&) = delete;
  TFileBitStream& operator=(const TFileBitStream&) = delete;

  static std::unique_ptr<TFileBitStream> Create(const std::string& FileName, int32_t BufferSize,
                                                RunContext* Run = nullptr) {
    return std::make_unique<TFileBitStream>(FileName, BufferSize, Run, TOpenMode::ReadOnly);
  }
  static std::unique_ptr<TFileBitStream> CreateReadWrite(const std::string& FileName, int32_t BufferSize,
                                                         RunContext* Run = nullptr) {
    return std::make_unique<TFileBitStream>(FileName, BufferSize, Run, TOpenMode::ReadWrite);
  }

  // Copies and writes back the last buffer, applies what marks remain and
  // closes the file. False when a copy or write-back write failed (also
  // logged). The destructor calls it when the caller did not; callers that
  // care about the result call it themselves.
  bool Close();

  uint32_t ReadBit() {
    if (Eof) return 0;
    const uint32_t bit = (Buffer[ByteIndex] >> (BitsLeft - 1)) & 1u;
    if (--BitsLeft == 0) AdvanceByte();
    return bit;
  }
  // The next N bits, the first one read most significant; bits past the end
  // of the file read as 0. Whole aligned bytes inside the buffer take the
  // short way here; everything else goes through ReadBitsCounted.
  uint32_t ReadBits(int N) {
    if (BitsLeft == 8 && (N & 7) == 0 && N > 0 && N <= 32 && !Eof && ByteIndex + (N >> 3) < BufferFill) {
      const uint8_t* p = Buffer + ByteIndex;
      uint32_t v = 0;
      for (int k = 0; k < (N >> 3); ++k) v = (v << 8) | p[k];
      ByteIndex += N >> 3;
      return v;
    }
    int missing;
    return ReadBitsCounted(N, missing);
  }
  // The next N bits (at most 32) without moving; 0 when they run past the end
  // of the file.
  uint32_t PeekBits(int N) const;
  uint32_t Peek(int N) const { return PeekBits(N); }
  // Moves to the next byte boundary and on until the last Bits bits read equal
  // Value; true with the position just behind them, false at the end.
  bool FindSyncWord(uint32_t Value, int Bits);

  // Moves on to byte Position of the file (not before the current byte; a
  // partly read byte counts as read). In plain reading, bytes outside the
  // buffer are passed over unread and the buffer is filled from Position on;
  // a copy or write-back reads through them, as they must reach the output.
  void SkipTo(int64_t Position);

  // Replaces the Count bytes about to be read (from ByteIndex on) without
  // moving. Bytes beyond the buffer are patched into the next buffer when it
  // is read; bytes beyond the end of the file are dropped.
  void OverwriteBytes(const uint8_t* Source, int32_t Count);

  // Copy-mode edits at ByteIndex + Offset (Offset may be negative).
  void MarkColourEdit(int32_t Offset);
  void MarkDisplayExtEdit(int32_t Offset);
  void MarkSkipRange(int32_t Offset, int32_t Length);

  int64_t FileSize() const;
  // Position in the file of the byte being read (the file's size at the end).
  int64_t BytePosition() const { return BufferStart_ + (Eof ? BufferFill : ByteIndex); }
  // Last-write time of the open file in 100 ns units since 1601-01-01 (the
  // form stored in the video info cache); 0 when it cannot be had.
  void GetLastWriteTime(uint64_t& FileTime) const;
  uint64_t GetLastWriteTime() const {
    uint64_t t = 0;
    GetLastWriteTime(t);
    return t;
  }

  // Edits that came too late to be placed (their place was already written to
  // the copy) or whose place lies past the end of the file; each is logged.
  int32_t MisplacedEdits() const { return MisplacedEdits_; }
  bool CopyFailed() const { return WriteFailed_; }
  // A read failed (EIO): the stream ended there, short of the file's end. A
  // walk that meets one fails; it is logged and noted in the run.
  bool ReadFailed() const { return ReadFailed_; }
  int32_t PendingEditCount() const { return static_cast<int32_t>(Edits_.size()); }

  // Open to the stream parsers, which read the position and set the copy-mode
  // switches and the prepared extension directly.
  int Handle = -1;
  int32_t ByteIndex = 0;
  int32_t BitsLeft = 8;
  int32_t BufferFill = 0;
  uint8_t* Buffer = nullptr;
  int32_t BufferSize = 0;
  bool Eof = false;
  int64_t FillCount = 0;
  bool CopyToOutput = false;
  bool ReadWrite = false;
  bool InsertDisplayExt = false;
  bool RemoveDisplayExt = false;
  int OutputHandle = -1;  // opened and closed by the caller
  uint8_t PreparedExtLength = 12;
  uint8_t PreparedExt[12] = {};

 private:
  enum class TEditKind : uint8_t { DisplayExt, Colour, Skip };
  struct TEdit {
    int64_t Pos;
    int32_t Length;  // skip ranges: the length; display-ext removals: 12 or 9 once known, else 0
    TEditKind Kind;
  };
  struct TEditAction {
    const uint8_t* Insert;
    size_t InsertLength;
    int64_t RemoveLength;
  };
  struct TPatch {
    int64_t Pos;
    std::vector<uint8_t> Bytes;
  };

  void Fail(const std::string& Text);
  void Fill();
  // The step after a byte is used up.
  void AdvanceByte() {
    BitsLeft = 8;
    if (++ByteIndex == BufferFill) EndOfBuffer();
  }
  void EndOfBuffer();
  bool ReadFromFile(uint8_t* Dest, int32_t Count, int32_t& Got);
  void NoteReadError(int Err) const;
  uint32_t ReadBitsCounted(int N, int& Missing);

  // Copy-mode output.
  void AddEdit(const TEdit& Edit);
  void ResolveRemovalLengths();
  int ByteAt(int64_t Pos) const;  // -1 when the byte is not in memory
  void CopyStep(bool Final);
  TEditAction ActionOf(const TEdit& Edit) const;
  void EmitUpTo(int64_t Limit, bool Final);
  void WriteInput(int64_t From, int64_t To);
  void WriteOut(const uint8_t* Data, size_t Count);
  void NoteMisplaced(int64_t Pos);
  void WriteBackStep();
  void NoteWriteBackError();
  void ApplyPendingPatches(uint8_t* Dest, int64_t Start, int32_t Count, bool Consume);

  RunContext* Run_ = nullptr;
  std::string FileName_;
  std::unique_ptr<uint8_t[]> Storage_;
  int64_t BufferStart_ = 0;  // file position of Buffer[0]
  bool Closed_ = false;
  bool WriteFailed_ = false;
  mutable bool ReadFailed_ = false;  // set by the look-ahead of PeekBits too
  mutable int ReadErr_ = 0;          // the errno of the first read that failed
  int32_t MisplacedEdits_ = 0;

  std::vector<TEdit> Edits_;  // ordered by position; insertions before removals at one place
  std::vector<TPatch> Patches_;
  int64_t OutPos_ = 0;         // next input byte the copy takes
  int64_t RemovedFrom_ = -1;   // the last removal applied: [RemovedFrom_, RemovedTo_)
  int64_t RemovedTo_ = -1;
  std::vector<uint8_t> Held_;  // input bytes [HeldStart_, BufferStart_) not yet copied
  std::vector<uint8_t> HeldScratch_;
  int64_t HeldStart_ = 0;
};

}  // namespace tess::core
