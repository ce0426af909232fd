#include "core/bit_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cassert>
#include <cerrno>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TESS_HAVE_AVX2_SEARCH 1
#endif

#include "core/run_context.h"
#include "core/messages.h"
#include "platform/file_io.h"
#include "platform/paths.h"

namespace tess::core {

namespace {

// The system's reason after a line that ends in a full stop: " (Permission denied)".
std::string InParens(int Err) { return Err != 0 ? std::string(" (") + std::strerror(Err) + ")" : std::string(); }

// Appends K bits to an accumulator of at most 64 bits. Only the low 32 bits
// of the result matter, so a shift of 32 or more simply clears them.
inline uint64_t ShiftIn(uint64_t Value, int K, uint32_t Bits) {
  return (K >= 32 ? 0 : (Value << K)) | Bits;
}

// The one bit loop of both readers: N bits, most significant first, from
// Buffer at ByteIndex with BitsLeft bits left in that byte (all three by
// reference: a refill may move them). AtEnd tells when no
// byte is left, NextByte moves on to the next one (and refills where the reader
// can). Missing bits read as 0 and are counted in Missing.
template <class BufferPtr, class AtEndFn, class NextByteFn>
uint32_t TakeBits(int N, const BufferPtr& Buffer, const int32_t& ByteIndex, int32_t& BitsLeft, AtEndFn AtEnd,
                  NextByteFn NextByte, int& Missing) {
  uint64_t v = 0;
  Missing = 0;
  while (N > 0) {
    if (AtEnd()) {
      Missing = N;
      return static_cast<uint32_t>(ShiftIn(v, N, 0));
    }
    if (BitsLeft == 8 && N >= 8) {
      v = (v << 8) | Buffer[ByteIndex];
      N -= 8;
      NextByte();
      continue;
    }
    const int k = std::min(N, static_cast<int>(BitsLeft));
    const uint32_t bits = (Buffer[ByteIndex] >> (BitsLeft - k)) & ((1u << k) - 1u);
    v = (v << k) | bits;
    N -= k;
    BitsLeft -= k;
    if (BitsLeft == 0) NextByte();
  }
  return static_cast<uint32_t>(v);
}

// A byte at a time, for the few bytes that the wide searches leave.
const uint8_t* FindStartCodePrefixBytes(const uint8_t* p, const uint8_t* End) {
  for (; End - p >= 3; ++p)
    if (p[2] == 1 && p[1] == 0 && p[0] == 0) return p;
  return End;
}

uint64_t LoadWord(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// 0x80 in every byte of X that is zero, 0 in every other (exact: no borrow
// runs from one byte into the next).
uint64_t ZeroBytes(uint64_t X) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  return ~(((X & kLow7) + kLow7) | X | kLow7);
}

}  // namespace

const uint8_t* FindStartCodePrefixByWords(const uint8_t* Begin, const uint8_t* End) {
  const uint8_t* p = Begin;
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  // Eight possible starts per step: the words at p, p + 1 and p + 2 hold, byte
  // by byte, the first, second and third byte of the prefix starting there.
  while (End - p >= 10) {
    const uint64_t hits = ZeroBytes(LoadWord(p)) & ZeroBytes(LoadWord(p + 1)) & ZeroBytes(LoadWord(p + 2) ^ kOnes);
    if (hits != 0) {
      const int bit = std::endian::native == std::endian::little ? std::countr_zero(hits) : std::countl_zero(hits);
      return p + bit / 8;
    }
    p += 8;
  }
  return FindStartCodePrefixBytes(p, End);
}

#if defined(TESS_HAVE_AVX2_SEARCH)
namespace {

// Thirty-two possible starts per step, as in the word search; only run where
// the processor has AVX2.
__attribute__((target("avx2"))) const uint8_t* FindStartCodePrefixBy32(const uint8_t* Begin, const uint8_t* End) {
  const uint8_t* p = Begin;
  const __m256i zero = _mm256_setzero_si256();
  const __m256i one = _mm256_set1_epi8(1);
  while (End - p >= 34) {
    const __m256i first = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), zero);
    const __m256i second = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1)), zero);
    const __m256i third = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2)), one);
    const auto hits = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_and_si256(_mm256_and_si256(first, second), third)));
    if (hits != 0) return p + std::countr_zero(hits);
    p += 32;
  }
  return FindStartCodePrefixBy16(p, End);
}

}  // namespace
#endif

const uint8_t* FindStartCodePrefix(const uint8_t* Begin, const uint8_t* End) {
#if defined(TESS_HAVE_AVX2_SEARCH)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) return FindStartCodePrefixBy32(Begin, End);
#endif
  return FindStartCodePrefixBy16(Begin, End);
}

bool SkipPastStartCodePrefix(uint32_t& Window, const uint8_t*& P, const uint8_t* End) {
  constexpr uint32_t kPrefixMask = 0xFFFFFF;
  // A prefix begun in the bytes taken before ends in the next two; one that
  // starts here lies wholly in [P, End), where the wide search finds it.
  const uint8_t* const begin = P;
  for (int k = 0; k < 2 && P < End; ++k) {
    Window = (Window << 8) | *P++;
    if ((Window & kPrefixMask) == 1) return true;
  }
  if (const uint8_t* hit = FindStartCodePrefix(begin, End); hit != End) {
    P = hit + 3;
    Window = 1;
    return true;
  }
  // None: the window takes the last bytes.
  for (P = End - P > 3 ? End - 3 : P; P < End; ++P) Window = (Window << 8) | *P;
  return false;
}

const uint8_t* FindStartCodePrefixBy16(const uint8_t* Begin, const uint8_t* End) {
#if defined(__SSE2__)
  const uint8_t* p = Begin;
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi8(1);
  // Sixteen possible starts per step, as in the word search.
  while (End - p >= 18) {
    const __m128i first = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), zero);
    const __m128i second = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1)), zero);
    const __m128i third = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2)), one);
    const int hits = _mm_movemask_epi8(_mm_and_si128(_mm_and_si128(first, second), third));
    if (hits != 0) return p + std::countr_zero(static_cast<unsigned>(hits));
    p += 16;
  }
  return FindStartCodePrefixBytes(p, End);
#else
  return FindStartCodePrefixByWords(Begin, End);
#endif
}

// ---------------------------------------------------------------- TBitStream

TBitStream::TBitStream(const uint8_t* Buffer, int32_t Size)
    : Buffer(Buffer), Size(Buffer ? std::max<int32_t>(Size, 0) : 0) {}

uint32_t TBitStream::ReadBit() {
  if (ByteIndex >= Size) return 0;
  const uint32_t bit = (Buffer[ByteIndex] >> (BitsLeft - 1)) & 1u;
  if (--BitsLeft == 0) {
    BitsLeft = 8;
    ++ByteIndex;
  }
  return bit;
}

uint32_t TBitStream::ReadBits(int N) {
  int missing = 0;
  return TakeBits(
      N, Buffer, ByteIndex, BitsLeft, [this] { return ByteIndex >= Size; },
      [this] {
        BitsLeft = 8;
        ++ByteIndex;
      },
      missing);
}

// ------------------------------------------------------------ TFileBitStream

TFileBitStream::TFileBitStream(const std::string& FileName, int32_t BufferSize, RunContext* Run,
                               TOpenMode Mode)
    : BufferSize(std::max<int32_t>(BufferSize, 1)), Run_(Run), FileName_(FileName) {
  ReadWrite = Mode == TOpenMode::ReadWrite;
  Storage_ = std::make_unique<uint8_t[]>(static_cast<size_t>(this->BufferSize));
  Buffer = Storage_.get();
  const std::string path = platform::ResolveInputPath(FileName);
  bool notRegular = false;
  Handle = platform::OpenRegularFile(path, ReadWrite ? O_RDWR : O_RDONLY, &notRegular);
  const int openErr = errno;
  if (notRegular) Fail(FileName + " is not a regular file.");
  if (Handle < 0) Fail("Unable to open file " + FileName + " for reading." + InParens(openErr));
  ::posix_fadvise(Handle, 0, 0, POSIX_FADV_SEQUENTIAL);
  // Bytes written back in place may move what a map of the file's start codes says.
  if (ReadWrite && Run_) Run_->StartCodeMaps.Drop(Handle);
  Fill();
  if (BufferFill == 0 && ReadFailed_ && Run_) Run_->NoteReadError(FileName);
  if (BufferFill == 0)
    Fail("Unable to read from file " + FileName + "." + (ReadFailed_ ? InParens(ReadErr_) : " (it is empty)"));
  Held_.reserve(kCopyHoldBack);
  HeldScratch_.reserve(kCopyHoldBack);
  Edits_.reserve(16);
}

TFileBitStream::~TFileBitStream() {
  // Copies and write-backs are completed by Close(), which reports a failed
  // write; destroying a writing stream without it would lose the last buffer.
  assert((Closed_ || (!CopyToOutput && !ReadWrite)) && "writing bit stream destroyed before Close()");
  if (Handle >= 0) ::close(Handle);
}

void TFileBitStream::Fail(const std::string& Text) {
  if (Run_) {
    if (Run_->Prompt) Run_->Prompt->Inform(Text, msg::Error);
    Run_->Log(kLogWarning, Text);
  }
  if (Handle >= 0) ::close(Handle);
  Handle = -1;
  throw EParserFileException();
}

bool TFileBitStream::Close() {
  if (Closed_) return !WriteFailed_;
  CopyStep(true);
  WriteBackStep();
  // Patches for bytes that were never read into the buffer still belong in
  // the file.
  if (ReadWrite && Handle >= 0 && !Patches_.empty()) {
    const int64_t size = FileSize();
    for (const TPatch& p : Patches_) {
      const int64_t count = std::min<int64_t>(static_cast<int64_t>(p.Bytes.size()), size - p.Pos);
      if (count > 0 && !platform::PWriteFull(Handle, p.Bytes.data(), static_cast<size_t>(count), p.Pos)) {
        NoteWriteBackError();
      }
    }
  }
  if (Handle >= 0) ::close(Handle);
  Handle = -1;
  Edits_.clear();
  Patches_.clear();
  Held_.clear();
  Closed_ = true;
  Eof = true;
  BufferFill = 0;
  ByteIndex = 0;
  return !WriteFailed_;
}

bool TFileBitStream::ReadFromFile(uint8_t* Dest, int32_t Count, int32_t& Got) {
  int err = 0;
  Got = Count > 0 ? static_cast<int32_t>(platform::ReadFull(Handle, Dest, static_cast<size_t>(Count), &err)) : 0;
  if (err == 0) return true;
  // A first fill that read nothing is the constructor's failure to report.
  if (FillCount > 0 || Got > 0) NoteReadError(err);
  if (!ReadFailed_) ReadErr_ = err;
  ReadFailed_ = true;
  return false;
}

void TFileBitStream::NoteReadError(int Err) const {
  // Each stream over the file meets the error again; the run names it once.
  if (!ReadFailed_ && Run_) {
    const size_t noted = Run_->Skipped.size();
    Run_->NoteReadError(FileName_);
    if (Run_->Skipped.size() > noted) Run_->LogError("Unable to read from file " + FileName_ + "." + InParens(Err));
  }
  if (!ReadFailed_) ReadErr_ = Err;
  ReadFailed_ = true;
}

void TFileBitStream::Fill() {
  if (FillCount > 0) {
    CopyStep(false);
    WriteBackStep();
    BufferStart_ += BufferFill;
  }
  if (!CopyToOutput) Edits_.clear();
  int32_t got = 0;
  ReadFromFile(Buffer, BufferSize, got);
  ++FillCount;
  // An empty read leaves nothing valid in the buffer: keeping the old count
  // would copy or write back the previous buffer a second time.
  BufferFill = got;
  ByteIndex = 0;
  if (got < BufferSize) std::memset(Buffer + got, 0, static_cast<size_t>(BufferSize - got));
  if (got == 0) {
    Eof = true;
    Patches_.clear();
    return;
  }
  ResolveRemovalLengths();
  if (!Patches_.empty()) ApplyPendingPatches(Buffer, BufferStart_, got, true);
  if (got < BufferSize) Patches_.clear();  // the rest of them lies past the end of the file
}

void TFileBitStream::EndOfBuffer() {
  if (BufferFill == BufferSize)
    Fill();
  else
    Eof = true;
  ByteIndex = 0;
}

uint32_t TFileBitStream::ReadBitsCounted(int N, int& Missing) {
  return TakeBits(
      N, Buffer, ByteIndex, BitsLeft, [this] { return Eof; }, [this] { AdvanceByte(); }, Missing);
}

uint32_t TFileBitStream::PeekBits(int N) const {
  if (Eof || N <= 0) return 0;
  N = std::min(N, 32);
  const int skip = 8 - BitsLeft;
  const int totalBits = skip + N;
  const int bytesNeeded = (totalBits + 7) / 8;  // at most 5, the first always in the buffer
  uint8_t bytes[5];
  int have = 0;
  for (int32_t i = ByteIndex; have < bytesNeeded && i < BufferFill; ++i) bytes[have++] = Buffer[i];
  if (have < bytesNeeded) {
    if (BufferFill != BufferSize || Handle < 0) return 0;
    uint8_t ahead[4] = {};
    int err = 0;
    const auto got = static_cast<int32_t>(platform::PReadFull(Handle, ahead, 4, BufferStart_ + BufferFill, &err));
    if (err != 0) NoteReadError(err);
    if (got < bytesNeeded - have) return 0;
    // Patches that ran past the buffer already belong to these bytes.
    for (const TPatch& p : Patches_) {
      const int64_t start = BufferStart_ + BufferFill;
      for (size_t i = 0; i < p.Bytes.size(); ++i) {
        const int64_t at = p.Pos + static_cast<int64_t>(i) - start;
        if (at >= 0 && at < got) ahead[at] = p.Bytes[i];
      }
    }
    for (int i = 0; have < bytesNeeded; ++i) bytes[have++] = ahead[i];
  }
  uint64_t acc = 0;
  for (int i = 0; i < bytesNeeded; ++i) acc = (acc << 8) | bytes[i];
  acc >>= bytesNeeded * 8 - totalBits;
  return static_cast<uint32_t>(N == 32 ? acc : acc & ((1ull << N) - 1));
}

bool TFileBitStream::FindSyncWord(uint32_t Value, int Bits) {
  Bits = std::clamp(Bits, 0, 32);
  int missing = 0;
  if (BitsLeft != 8) ReadBitsCounted(BitsLeft, missing);
  uint32_t v = ReadBitsCounted(Bits, missing);
  if (missing > 0) return false;
  const uint32_t mask = Bits >= 32 ? 0xFFFFFFFFu : ((1u << Bits) - 1u);
  const bool startCode = Value == 1 && Bits == 24;
  while ((v & mask) != Value) {
    if (Eof) return false;
    if (BitsLeft == 8) {
      // Byte-aligned: scan the buffer directly; this is where whole files go by.
      const uint8_t* p = Buffer + ByteIndex;
      const uint8_t* const end = Buffer + BufferFill;
      if (startCode) {
        SkipPastStartCodePrefix(v, p, end);
      } else {
        while (p < end) {
          v = (v << 8) | *p++;
          if ((v & mask) == Value) break;
        }
      }
      ByteIndex = static_cast<int32_t>(p - Buffer);
      if (ByteIndex == BufferFill) EndOfBuffer();
    } else {
      v = (v << 8) | ReadBitsCounted(8, missing);
      if (missing > 0) return false;
    }
  }
  return true;
}

void TFileBitStream::SkipTo(int64_t Position) {
  if (BitsLeft != 8 && !Eof) AdvanceByte();
  while (!Eof && Position > BytePosition()) {
    const int64_t bufferEnd = BufferStart_ + BufferFill;
    if (Position < bufferEnd) {
      ByteIndex = static_cast<int32_t>(Position - BufferStart_);
      return;
    }
    // In plain reading the next fill starts at Position and the bytes before
    // it are never read (where the file cannot seek, they are read through).
    const bool plain = !CopyToOutput && !ReadWrite && Edits_.empty() && Patches_.empty();
    const int64_t to = plain && BufferFill == BufferSize && Position > bufferEnd ? std::min(Position, FileSize()) : 0;
    if (to > bufferEnd && ::lseek(Handle, to, SEEK_SET) == to) BufferStart_ = to - BufferFill;
    ByteIndex = BufferFill - 1;
    AdvanceByte();
  }
}

void TFileBitStream::OverwriteBytes(const uint8_t* Source, int32_t Count) {
  if (Eof || Closed_ || Source == nullptr || Count <= 0) return;
  const int32_t inBuffer = std::min(Count, BufferFill - ByteIndex);
  std::memcpy(Buffer + ByteIndex, Source, static_cast<size_t>(inBuffer));
  // A patch that runs past a full buffer lands in the next one when it is read;
  // past a short (last) buffer there is no file left to patch.
  if (Count > inBuffer && BufferFill == BufferSize)
    Patches_.push_back({BufferStart_ + BufferFill, std::vector<uint8_t>(Source + inBuffer, Source + Count)});
}

void TFileBitStream::ApplyPendingPatches(uint8_t* Dest, int64_t Start, int32_t Count, bool Consume) {
  const int64_t end = Start + Count;
  for (size_t k = 0; k < Patches_.size();) {
    TPatch& p = Patches_[k];
    const int64_t pEnd = p.Pos + static_cast<int64_t>(p.Bytes.size());
    const int64_t from = std::max(p.Pos, Start);
    const int64_t to = std::min(pEnd, end);
    if (from < to)
      std::memcpy(Dest + (from - Start), p.Bytes.data() + (from - p.Pos), static_cast<size_t>(to - from));
    if (Consume) {
      if (pEnd <= end) {
        Patches_.erase(Patches_.begin() + static_cast<std::ptrdiff_t>(k));
        continue;
      }
      p.Bytes.erase(p.Bytes.begin(), p.Bytes.begin() + (end - p.Pos));
      p.Pos = end;
    }
    ++k;
  }
}

// ------------------------------------------------------------ copy-mode edits

void TFileBitStream::MarkColourEdit(int32_t Offset) {
  AddEdit({BytePosition() + Offset, 0, TEditKind::Colour});
}

void TFileBitStream::MarkDisplayExtEdit(int32_t Offset) {
  AddEdit({BytePosition() + Offset, 0, TEditKind::DisplayExt});
}

void TFileBitStream::MarkSkipRange(int32_t Offset, int32_t Length) {
  if (Length <= 0) return;
  AddEdit({BytePosition() + Offset, Length, TEditKind::Skip});
}

void TFileBitStream::AddEdit(const TEdit& Edit) {
  if (Closed_) return;
  const auto at = std::upper_bound(Edits_.begin(), Edits_.end(), Edit.Pos,
                                   [](int64_t pos, const TEdit& e) { return pos < e.Pos; });
  Edits_.insert(at, Edit);
  // The length of an extension to remove comes from its flag byte as the file
  // has it; take it now, before the caller patches that byte.
  if (Edit.Kind == TEditKind::DisplayExt) ResolveRemovalLengths();
}

int TFileBitStream::ByteAt(int64_t Pos) const {
  if (Pos >= BufferStart_ && Pos < BufferStart_ + BufferFill) return Buffer[Pos - BufferStart_];
  if (!Held_.empty() && Pos >= HeldStart_ && Pos < HeldStart_ + static_cast<int64_t>(Held_.size()))
    return Held_[static_cast<size_t>(Pos - HeldStart_)];
  return -1;
}

void TFileBitStream::ResolveRemovalLengths() {
  for (TEdit& e : Edits_) {
    if (e.Kind != TEditKind::DisplayExt || e.Length != 0) continue;
    // Byte 4 after the start code holds colour_description in bit 0.
    const int flags = ByteAt(e.Pos + 4);
    if (flags >= 0) e.Length = (flags & 1) ? 12 : 9;
  }
}

void TFileBitStream::WriteOut(const uint8_t* Data, size_t Count) {
  if (Count == 0 || WriteFailed_) return;
  if (OutputHandle < 0 || !platform::WriteFull(OutputHandle, Data, Count)) {
    const std::string why = OutputHandle < 0 ? " (no output file is open)" : InParens(errno);
    WriteFailed_ = true;
    if (Run_) Run_->Log(kLogWarning, "Unable to write the copy of file " + FileName_ + "." + why);
  }
}

void TFileBitStream::WriteInput(int64_t From, int64_t To) {
  if (From >= To) return;
  if (From < BufferStart_) {
    const int64_t heldEnd = std::min(To, BufferStart_);
    if (From >= HeldStart_)
      WriteOut(Held_.data() + (From - HeldStart_), static_cast<size_t>(heldEnd - From));
    From = heldEnd;
  }
  if (From < To) WriteOut(Buffer + (From - BufferStart_), static_cast<size_t>(To - From));
}

void TFileBitStream::NoteMisplaced(int64_t Pos) {
  ++MisplacedEdits_;
  if (Run_)
    Run_->Log(kLogWarning, "Edit at byte " + std::to_string(Pos) + " of file " + FileName_ +
                                " could not be placed in the copy.");
}

TFileBitStream::TEditAction TFileBitStream::ActionOf(const TEdit& Edit) const {
  switch (Edit.Kind) {
    case TEditKind::DisplayExt:
      if (InsertDisplayExt) return {PreparedExt, std::min<size_t>(PreparedExtLength, sizeof PreparedExt), 0};
      if (RemoveDisplayExt) return {nullptr, 0, Edit.Length > 0 ? Edit.Length : 12};
      break;
    case TEditKind::Colour:
      if (PreparedExtLength == 12) return {PreparedExt + 2, 3, 0};
      if (PreparedExtLength == 9) return {nullptr, 0, 3};
      break;
    case TEditKind::Skip:
      return {nullptr, 0, Edit.Length};
  }
  return {nullptr, 0, 0};
}

void TFileBitStream::EmitUpTo(int64_t Limit, bool Final) {
  const int64_t available = Held_.empty() ? BufferStart_ : HeldStart_;
  // Copying may have been switched on after earlier buffers were gone.
  if (OutPos_ < available) OutPos_ = available;
  size_t i = 0;
  while (i < Edits_.size()) {
    const int64_t pos = Edits_[i].Pos;
    if (pos > Limit || (pos == Limit && !Final)) break;
    size_t j = i;
    while (j < Edits_.size() && Edits_[j].Pos == pos) ++j;
    // An edit inside bytes just removed goes with them; one whose place was
    // already written came too late.
    const bool swallowed = pos >= RemovedFrom_ && pos < RemovedTo_;
    const bool late = pos < OutPos_ && !swallowed;
    if (!late && !swallowed) {
      WriteInput(OutPos_, pos);
      OutPos_ = pos;
    }
    int64_t removeTo = -1;
    // Insertions are written as they come; removals at the same place are
    // joined, so inserted bytes never count as removed input.
    for (size_t k = i; k < j; ++k) {
      const TEditAction a = ActionOf(Edits_[k]);
      if (a.InsertLength == 0 && a.RemoveLength <= 0) continue;
      if (late)
        NoteMisplaced(pos);
      else if (a.InsertLength > 0) {
        if (!swallowed) WriteOut(a.Insert, a.InsertLength);
      } else
        removeTo = std::max(removeTo, pos + a.RemoveLength);
    }
    if (removeTo > OutPos_ || (swallowed && removeTo > RemovedTo_)) {
      if (!swallowed) {
        RemovedFrom_ = pos;
        OutPos_ = RemovedTo_ = removeTo;
      } else if (OutPos_ == RemovedTo_) {
        OutPos_ = RemovedTo_ = removeTo;  // one removal running on into the next
      } else {
        NoteMisplaced(pos);  // bytes after the first removal were written already
      }
    }
    i = j;
  }
  if (Final) {
    for (size_t k = i; k < Edits_.size(); ++k) {
      const TEditAction a = ActionOf(Edits_[k]);
      if (a.InsertLength > 0 || a.RemoveLength > 0) NoteMisplaced(Edits_[k].Pos);
    }
    i = Edits_.size();
  }
  Edits_.erase(Edits_.begin(), Edits_.begin() + static_cast<std::ptrdiff_t>(i));
  if (Limit > OutPos_) {
    WriteInput(OutPos_, Limit);
    OutPos_ = Limit;
  }
}

void TFileBitStream::CopyStep(bool Final) {
  if (!CopyToOutput || FillCount == 0) return;
  const int64_t bufferEnd = BufferStart_ + BufferFill;
  if (Final) {
    EmitUpTo(bufferEnd, true);
    Held_.clear();
    HeldStart_ = bufferEnd;
    return;
  }
  EmitUpTo(bufferEnd - kCopyHoldBack, false);
  // Keep the tail that a mark made from the next buffer may still reach.
  const int64_t available = Held_.empty() ? BufferStart_ : HeldStart_;
  const int64_t keepFrom = std::min(std::max({OutPos_, bufferEnd - kCopyHoldBack, available}), bufferEnd);
  HeldScratch_.clear();
  if (keepFrom < BufferStart_)
    HeldScratch_.insert(HeldScratch_.end(), Held_.begin() + (keepFrom - HeldStart_), Held_.end());
  const int64_t fromBuffer = std::max(keepFrom, BufferStart_);
  HeldScratch_.insert(HeldScratch_.end(), Buffer + (fromBuffer - BufferStart_), Buffer + BufferFill);
  std::swap(Held_, HeldScratch_);
  HeldStart_ = keepFrom;
}

void TFileBitStream::WriteBackStep() {
  if (!ReadWrite || FillCount == 0 || BufferFill == 0 || Handle < 0) return;
  if (!platform::PWriteFull(Handle, Buffer, static_cast<size_t>(BufferFill), BufferStart_)) {
    NoteWriteBackError();
  }
}

void TFileBitStream::NoteWriteBackError() {
  const int err = errno;  // called straight after the write that failed
  if (!WriteFailed_ && Run_) {
    Run_->Log(kLogWarning, "Unable to write to file " + FileName_ + "." + InParens(err));
    Run_->StopForWriteError(FileName_);
  }
  WriteFailed_ = true;
}

// ------------------------------------------------------------ file facts

int64_t TFileBitStream::FileSize() const {
  struct stat st {};
  if (Handle < 0 || ::fstat(Handle, &st) != 0) return 0;
  return static_cast<int64_t>(st.st_size);
}

void TFileBitStream::GetLastWriteTime(uint64_t& FileTime) const {
  struct stat st {};
  if (Handle < 0 || ::fstat(Handle, &st) != 0) {
    FileTime = 0;
    return;
  }
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
  FileTime = static_cast<uint64_t>((static_cast<int64_t>(st.st_mtim.tv_sec) + kSecondsFrom1601To1970) * 10000000 +
                                   st.st_mtim.tv_nsec / 100);
}

}  // namespace tess::core
