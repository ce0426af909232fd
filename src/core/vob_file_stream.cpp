#include "core/vob_file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <new>

#include "core/run_context.h"
#include "core/messages.h"
#include "core/start_code_map.h"
#include "platform/file_io.h"
#include "platform/paths.h"

namespace tess::core {

static_assert(sizeof(off_t) == 8, "file offsets must be 64-bit");

TVobFileStream::TReadFunction TVobFileStream::DefaultReadFunction = &::pread;

// ---- opening ----

TVobFileStream::TVobFileStream(RunContext& Run, const std::string& Name, uint32_t OpenMode, bool IsBuffered)
    : Mode(OpenMode), Buffered(IsBuffered), FileName(Name), run_(&Run) {
  if (Mode & kModeWrite) {
    // An output starts empty: an older, longer file of the same name must not
    // leave its tail behind.
    const int access = (Mode & kModeReadWrite) ? O_RDWR : O_WRONLY;
    fd_ = ::open(FileName.c_str(), access | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) ReportCreateFailure(errno);
    if (Buffered) {
      buffer_.resize(kReadBufferSize);
      bufferSize_ = kReadBufferSize;
      writeBuffered_ = true;
    }
    return;
  }

  const std::string path = platform::ResolveInputPath(FileName);
  const int access = (Mode & 3) == kModeReadWrite ? O_RDWR : O_RDONLY;
  bool notRegular = false;
  fd_ = platform::OpenRegularFile(path, access, &notRegular);
  int err = fd_ < 0 ? errno : 0;
  struct stat st {};
  if (fd_ >= 0 && ::fstat(fd_, &st) != 0) {
    err = errno;
    ::close(fd_);
    fd_ = -1;
  }
  if (notRegular) run_->Log(kLogWarning, FileName + " is not a regular file", platform::kColourRed);
  if (fd_ < 0) throw EVOBException(platform::OpenFailureReason(path, err));
  FileSize = st.st_size;
  if (Buffered) {
    buffer_.resize(kReadBufferSize);
    bufferSize_ = kReadBufferSize;
    FillBuffer();
  }
}

std::unique_ptr<TVobFileStream> TVobFileStream::Create(RunContext& Run, const std::string& FileName,
                                                       uint32_t Mode, bool Buffered) {
  return std::make_unique<TVobFileStream>(Run, FileName, Mode, Buffered);
}

TVobFileStream::TVobFileStream(RunContext& Run, const std::string& Name, uint32_t OpenMode, int64_t BufferSize,
                               AppendTag)
    : Mode(OpenMode), Buffered(true), FileName(Name), run_(&Run) {
  fd_ = ::open(FileName.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd_ >= 0) {
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    Appended = true;
    BytesWritten = end > 0 ? end : 0;
    pos_ = BytesWritten;
  } else if (errno == ENOENT) {
    fd_ = ::open(FileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  }
  if (fd_ < 0) ReportCreateFailure(errno);
  writeBuffered_ = true;
  try {
    buffer_.resize(static_cast<size_t>(BufferSize));
    bufferSize_ = BufferSize;
  } catch (const std::bad_alloc&) {
    // Without a buffer the writes go straight to the file.
    std::vector<uint8_t>().swap(buffer_);
    bufferSize_ = 0;
    run_->Log(kLogWarning, "Memory error in TVobFileStream.CreateAppend!", platform::kColourRed);
  }
}

std::unique_ptr<TVobFileStream> TVobFileStream::CreateAppend(RunContext& Run, const std::string& FileName,
                                                             uint32_t Mode, const OutputSettings& Output,
                                                             int64_t BufferSize) {
  if (BufferSize <= 0) BufferSize = Output.Memory == MemoryMode::Ordinary ? kAppendBufferLarge : kAppendBufferSmall;
  return std::unique_ptr<TVobFileStream>(new TVobFileStream(Run, FileName, Mode, BufferSize, AppendTag{}));
}

TVobFileStream::~TVobFileStream() {
  // Writing out belongs to Close(), which reports what fails; an output that
  // still holds bytes here was never closed by its owner.
  assert((fd_ < 0 || !writeBuffered_ || bufferPos_ == 0) && "output destroyed before Close()");
  if (fd_ >= 0) ::close(fd_);
}

int64_t TVobFileStream::Position() const {
  if (Buffered && !writeBuffered_) return bufferStart_ + bufferPos_;
  if (writeBuffered_) return pos_ + bufferPos_;
  return pos_;
}

// ---- writing ----

void TVobFileStream::ReportCreateFailure(int Err) {
  writeFailed_ = failureReported_ = true;
  run_->Log(kLogWarning, "Can not create file " + FileName + platform::OpenFailureReason(FileName, Err),
            platform::kColourRed);
  // A disk too full to hold one more file stops the run as a failed write does.
  if (Err == ENOSPC || Err == EDQUOT) run_->StopForWriteError(FileName);
}

void TVobFileStream::ReportWriteFailure(int Err) {
  writeFailed_ = true;
  // After the write error that stopped the run, the outputs still open are
  // removed as they close: one more line each would say nothing new.
  if (failureReported_ || run_->WriteStopped) return;
  failureReported_ = true;
  run_->Log(kLogWarning, "Write error in file " + FileName + ": " + std::strerror(Err), platform::kColourRed);
  run_->StopForWriteError(FileName);
}

int64_t TVobFileStream::WriteDirect(const void* Source, int64_t Count) {
  if (fd_ < 0) {
    ReportWriteFailure(EBADF);
    return 0;
  }
  // The start codes are noted as the bytes go to the file, a large block at a time.
  if (StartCodes) StartCodes->Add(static_cast<const uint8_t*>(Source), static_cast<size_t>(Count));
  // Everything after a write failure is counted from what reached the file.
  size_t written = 0;
  const bool ok = platform::PWriteFull(fd_, Source, static_cast<size_t>(Count), pos_, &written);
  const int err = ok ? 0 : errno;
  const auto done = static_cast<int64_t>(written);
  aheadLen_ = 0;  // what the window held may have changed
  pos_ += done;
  BytesWritten += done;
  if (err) ReportWriteFailure(err);
  return done;
}

bool TVobFileStream::FlushBuffer() {
  if (bufferPos_ == 0) return true;
  if (StartCodes) StartCodes->Add(buffer_.data(), static_cast<size_t>(bufferPos_));
  int err = EBADF;
  size_t written = 0;
  if (fd_ >= 0 && !platform::PWriteFull(fd_, buffer_.data(), static_cast<size_t>(bufferPos_), pos_, &written))
    err = errno;
  const auto done = static_cast<int64_t>(written);
  pos_ += done;
  const int64_t lost = bufferPos_ - done;
  bufferPos_ = 0;
  if (lost == 0) return true;
  // The waiting bytes were counted when accepted; those that never reached the
  // file come off again so that BytesWritten stays the file's size.
  BytesWritten -= lost;
  ReportWriteFailure(err);
  return false;
}

int64_t TVobFileStream::Write(const void* Source, int64_t Count) {
  if (Count <= 0) return 0;
  if (fd_ < 0) {
    ReportWriteFailure(EBADF);
    return 0;
  }
  if (!writeBuffered_ || bufferSize_ == 0) return WriteDirect(Source, Count);
  // More than the buffer holds goes to the file whole, after what was waiting.
  if (Count > bufferSize_) {
    FlushBuffer();
    return WriteDirect(Source, Count);
  }
  // The buffer is filled to its end before it is written, so that the file is
  // written in whole buffers at multiples of the buffer size: whole pages for
  // the file system, none of them touched twice. A full buffer waits for the
  // next write.
  const auto* src = static_cast<const uint8_t*>(Source);
  int64_t left = Count;
  while (left > 0) {
    if (bufferPos_ == bufferSize_) FlushBuffer();
    const int64_t n = std::min(left, bufferSize_ - bufferPos_);
    std::memcpy(buffer_.data() + bufferPos_, src, static_cast<size_t>(n));
    bufferPos_ += n;
    BytesWritten += n;
    src += n;
    left -= n;
  }
  return Count;
}

// ---- reading ----

int64_t TVobFileStream::RawRead(void* Dest, int64_t Count, int64_t Offset, int& Err) const {
  Err = 0;
  if (fd_ < 0) {
    Err = EBADF;
    return 0;
  }
  if (Count <= 0) return 0;
  return static_cast<int64_t>(platform::PReadFull(fd_, Dest, static_cast<size_t>(Count), Offset, &Err, ReadFunction));
}

bool TVobFileStream::AskRetry() {
  std::string line(msg::DiskReadError);
  line += " File: ";
  line += platform::ExtractFileName(FileName);
  run_->Log(kLogWarning, line, platform::kColourRed);
  if (!run_->Prompt) return false;
  std::string text(msg::DiskReadError);
  text += msg::TryOneMore;
  return run_->Prompt->Ask(text, msg::Error, platform::PromptButtons::RetryCancel) ==
         platform::PromptAnswer::Retry;
}

bool TVobFileStream::ReadWithRetry(void* Dest, int64_t Count, int64_t Offset, int64_t& Got) {
  for (;;) {
    int err = 0;
    Got = RawRead(Dest, Count, Offset, err);
    if (err == 0) return true;
    if (err == EIO && AskRetry()) continue;
    Got = 0;
    Eof = true;
    ReadFailed = true;
    ReadErrno = err;
    run_->NoteReadError(FileName);
    return false;
  }
}

int64_t TVobFileStream::ReadAhead(void* Dest, int64_t Count, int& Err) {
  Err = 0;
  if (Count >= kReadAheadSize || pos_ < directUntil_) return RawRead(Dest, Count, pos_, Err);
  const int64_t aheadEnd = aheadStart_ + aheadLen_;
  if (pos_ >= aheadStart_ && pos_ < aheadEnd) {
    const int64_t avail = aheadEnd - pos_;
    if (avail >= Count || aheadAtEnd_) {
      const int64_t n = std::min(avail, Count);
      std::memcpy(Dest, ahead_.data() + (pos_ - aheadStart_), static_cast<size_t>(n));
      return n;
    }
  }
  // A read that lands past the window after a forward skip belongs to a reader
  // that hops (the scout over its VOBUs): it gets just its bytes, so that the
  // hops do not read the whole file.
  if (skipped_) return RawRead(Dest, Count, pos_, Err);
  if (ahead_.empty()) ahead_.resize(kReadAheadSize);
  int err = 0;
  aheadStart_ = pos_;
  aheadLen_ = RawRead(ahead_.data(), kReadAheadSize, pos_, err);
  aheadAtEnd_ = err == 0 && aheadLen_ < kReadAheadSize;
  if (aheadLen_ >= Count || err == 0) {
    const int64_t n = std::min(aheadLen_, Count);
    std::memcpy(Dest, ahead_.data(), static_cast<size_t>(n));
    return n;
  }
  // The window met an error before the bytes asked for. It may lie beyond them
  // (a whole-window read fails as one), so read exactly what was asked, as the
  // unbuffered read does, and stay direct for a window's length around the fault.
  aheadLen_ = 0;
  directUntil_ = pos_ + kReadAheadSize;
  return RawRead(Dest, Count, pos_, Err);
}

bool TVobFileStream::FillBuffer() {
  bufferStart_ = pos_;
  bufferPos_ = 0;
  int64_t got = 0;
  if (!ReadWithRetry(buffer_.data(), static_cast<int64_t>(buffer_.size()), pos_, got)) {
    bufferSize_ = 0;
    return false;
  }
  pos_ += got;
  bufferSize_ = got;
  if (got < static_cast<int64_t>(buffer_.size())) Eof = true;
  return got > 0;
}

int64_t TVobFileStream::TakeBuffered(uint8_t* Dest, int64_t Count) {
  int64_t done = 0;
  while (done < Count) {
    const int64_t rem = bufferSize_ - bufferPos_;
    if (rem > 0) {
      const int64_t n = std::min(rem, Count - done);
      if (Dest) std::memcpy(Dest + done, buffer_.data() + bufferPos_, static_cast<size_t>(n));
      bufferPos_ += n;
      done += n;
      continue;
    }
    if (buffer_.empty() || !FillBuffer()) break;
  }
  if (done < Count) Eof = true;
  return done;
}

int64_t TVobFileStream::Read(void* Dest, int64_t Count) {
  if (Count <= 0) return 0;
  if (Buffered && !writeBuffered_) return TakeBuffered(static_cast<uint8_t*>(Dest), Count);
  for (;;) {
    int err = 0;
    const int64_t got = ReadAhead(Dest, Count, err);
    skipped_ = false;
    if (err == 0) {
      pos_ += got;
      if (got < Count) Eof = true;
      return got;
    }
    if (err == EIO && AskRetry()) continue;
    Eof = true;
    ReadFailed = true;
    ReadErrno = err;
    run_->NoteReadError(FileName);
    return 0;
  }
}

int64_t TVobFileStream::ReadInPlace(const uint8_t*& Data, int64_t Count) {
  Data = nullptr;
  if (Count <= 0) return 0;
  const bool windowed = !Buffered && !writeBuffered_ && Count < kReadAheadSize && pos_ >= directUntil_ && !skipped_;
  for (int fill = 0; windowed && fill < 2; ++fill) {
    const int64_t aheadEnd = aheadStart_ + aheadLen_;
    if (pos_ >= aheadStart_ && pos_ < aheadEnd && (aheadEnd - pos_ >= Count || aheadAtEnd_)) {
      const int64_t n = std::min(aheadEnd - pos_, Count);
      Data = ahead_.data() + (pos_ - aheadStart_);
      pos_ += n;
      if (n < Count) Eof = true;
      return n;
    }
    if (fill > 0) break;
    if (ahead_.empty()) ahead_.resize(kReadAheadSize);
    int err = 0;
    aheadStart_ = pos_;
    aheadLen_ = RawRead(ahead_.data(), kReadAheadSize, pos_, err);
    aheadAtEnd_ = err == 0 && aheadLen_ < kReadAheadSize;
    if (err != 0) {
      aheadLen_ = 0;  // the copying read below asks the user and reads around the fault
      break;
    }
    if (aheadLen_ == 0) {
      Eof = true;
      return 0;
    }
  }
  if (static_cast<int64_t>(scratch_.size()) < Count) scratch_.resize(static_cast<size_t>(Count));
  Data = scratch_.data();
  return Read(scratch_.data(), Count);
}

int64_t TVobFileStream::Skip(int64_t Count) {
  if (Buffered && !writeBuffered_) return Count > 0 ? TakeBuffered(nullptr, Count) : 0;
  if (writeBuffered_) return 0;
  if (pos_ + Count < 0) return 0;
  pos_ += Count;
  if (Count != 0) skipped_ = true;
  return Count;
}

void TVobFileStream::StepBack() {
  if (Buffered && !writeBuffered_) {
    if (bufferPos_ > 0) {
      --bufferPos_;
    } else if (bufferStart_ > 0 && !buffer_.empty()) {
      // Back across the start of the buffer: reload from the byte before it.
      pos_ = bufferStart_ - 1;
      FillBuffer();
    }
    return;
  }
  if (!writeBuffered_ && pos_ > 0) --pos_;
}

int64_t TVobFileStream::GetSectorCount() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
  return static_cast<int64_t>(st.st_size) / 2048;
}

// ---- closing ----

bool TVobFileStream::Close() {
  if (writeBuffered_) FlushBuffer();
  if (StartCodes) {
    if (fd_ >= 0 && !writeFailed_)
      StartCodes->Seal(fd_);
    else
      StartCodes->Drop();
  }
  if (fd_ >= 0) {
    // A delayed write error surfaces only here on some file systems.
    if (::close(fd_) != 0 && ((Mode & kModeWrite) != 0 || writeBuffered_) && errno != EINTR)
      ReportWriteFailure(errno);
    fd_ = -1;
  }
  if (StartCodes && writeFailed_) StartCodes->Drop();
  StartCodes = nullptr;
  std::vector<uint8_t>().swap(buffer_);
  std::vector<uint8_t>().swap(ahead_);
  std::vector<uint8_t>().swap(scratch_);
  bufferSize_ = bufferPos_ = 0;
  aheadLen_ = 0;
  return !writeFailed_;
}

// ---- the output stream table ----

TVobStreams::~TVobStreams() = default;

TVobStream* TVobStreams::Add(uint8_t StreamId, uint8_t SubstreamId, uint8_t Kind) {
  TVobStream& r = Streams.emplace_back();
  r.StreamId = StreamId;
  r.SubstreamId = SubstreamId;
  r.Kind = Kind;
  r.IsNew = true;
  return &r;
}

TVobStream* TVobStreams::AddAudio(uint8_t StreamId, uint8_t SubstreamId, uint8_t CutKey) {
  TVobStream& r = Streams.emplace_back();
  r.StreamId = StreamId;
  r.SubstreamId = SubstreamId;
  r.CutKey = CutKey;
  r.IsNew = true;
  return &r;
}

bool TVobStreams::Exists(uint8_t StreamId, uint8_t SubstreamId, uint8_t Kind) const {
  for (const auto& r : Streams)
    if (r.StreamId == StreamId && r.SubstreamId == SubstreamId && r.Kind == Kind) return true;
  return false;
}

TVobStream* TVobStreams::FindByIdSubKind(uint8_t StreamId, uint8_t SubstreamId, uint8_t Kind) {
  for (auto& r : Streams)
    if (r.StreamId == StreamId && r.SubstreamId == SubstreamId && r.Kind == Kind) return &r;
  return nullptr;
}

TVobStream* TVobStreams::Find(uint8_t CutKey, uint8_t StreamId, uint8_t SubstreamId) {
  TVobStream* candidate = nullptr;
  for (auto& r : Streams) {
    if (r.StreamId != StreamId || r.SubstreamId != SubstreamId) continue;
    if (r.CutKey == CutKey) return &r;
    candidate = &r;
  }
  return candidate;
}

int32_t TVobStreams::MarkAllNew() {
  for (auto& r : Streams) r.IsNew = true;
  return static_cast<int32_t>(Streams.size());
}

void TVobStreams::KeepPending(std::unique_ptr<TVobFileStream> Stream) {
  for (auto& p : pending_) {
    if (p->FileName == Stream->FileName) {
      p = std::move(Stream);
      return;
    }
  }
  pending_.push_back(std::move(Stream));
}

bool TVobStreams::CloseStream(TVobStream& Record) {
  if (!Record.Stream) return true;
  const bool closed = Record.Stream->Close();
  KeepPending(std::move(Record.Stream));
  return closed;
}

std::vector<std::unique_ptr<TVobFileStream>> TVobStreams::TakePending() {
  std::vector<std::unique_ptr<TVobFileStream>> taken;
  taken.swap(pending_);
  return taken;
}

int32_t TVobStreams::CloseAll() {
  int32_t closed = 0;
  for (auto& r : Streams) {
    if (!r.Stream) continue;
    // A write that failed is found again when the output is finished.
    r.Stream->Close();
    KeepPending(std::move(r.Stream));
    ++closed;
  }
  Streams.clear();
  Files.clear();
  return closed;
}

void TVobStreams::ClosePcmOutputs(const std::string& EvoName) {
  if (EvoName.size() < 5) return;
  const char digit = EvoName[EvoName.size() - 5];
  if (digit == '0' || digit == '1') return;
  for (auto& r : Streams) {
    if (!r.Stream || !r.Stream->FileName.ends_with(".pcm")) continue;
    r.Stream->Close();
    KeepPending(std::move(r.Stream));
    r.Stream = nullptr;
  }
}

}  // namespace tess::core
