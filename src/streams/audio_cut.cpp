#include "streams/audio_cut.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "core/messages.h"
#include "core/run_context.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/rounding.h"

namespace tess::streams {

namespace {

constexpr int64_t kCopyBlock = 1048576;
// The walks let the program answer its Stop command this often.
constexpr int64_t kUnitsPerPump = 4096;
constexpr double kNtscStretch = 1.001001001001001;

}  // namespace

void ReportReadError(core::RunContext& Run, const std::string& File, int Err) {
  const size_t noted = Run.Skipped.size();
  Run.NoteReadError(File);
  if (Run.Skipped.size() == noted) return;
  Run.LogError("Read error in file " + File + (Err ? std::string(": ") + std::strerror(Err) : std::string()));
}

void ReportWriteError(core::RunContext& Run, const std::string& File, int Err) {
  Run.LogError("Write error in file " + File + ": " + std::strerror(Err));
  Run.StopForWriteError(File);
}

TAudioReader::~TAudioReader() { Close(); }

bool TAudioReader::Open(const std::string& FileName, core::RunContext* Run) {
  Close();
  Run_ = Run;
  WhyNotOpened_.clear();
  const std::string path = platform::ResolveInputPath(FileName);
  const int fd = platform::OpenRegularFile(path, O_RDONLY);
  if (fd < 0) {
    WhyNotOpened_ = platform::OpenFailureReason(path, errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    WhyNotOpened_ = platform::ErrorReason(errno);
    ::close(fd);
    return false;
  }
  Fd_ = fd;
  Name_ = FileName;
  Size_ = st.st_size;
  Failed_ = false;
  if (!Buffer_) Buffer_ = std::make_unique<uint8_t[]>(kBufferSize);
  BufferStart_ = 0;
  BufferFill_ = 0;
  return true;
}

void TAudioReader::Close() {
  if (Fd_ >= 0) ::close(Fd_);
  Fd_ = -1;
  Size_ = 0;
  BufferFill_ = 0;
}

std::span<const uint8_t> TAudioReader::Peek(int64_t Offset, size_t Count) {
  if (Fd_ < 0 || Offset < 0 || Offset >= Size_) return {};
  Count = static_cast<size_t>(std::min<int64_t>(std::min(Count, kBufferSize), Size_ - Offset));
  auto held = Window(Offset);
  if (held.size() < Count) {
    Fill(Offset, Count);
    held = Window(Offset);
  }
  return held.first(std::min(Count, held.size()));
}

std::span<const uint8_t> TAudioReader::Window(int64_t Offset) {
  if (Fd_ < 0 || Offset < 0 || Offset >= Size_) return {};
  if (Offset < BufferStart_ || Offset >= BufferStart_ + static_cast<int64_t>(BufferFill_)) Fill(Offset, 1);
  const int64_t from = Offset - BufferStart_;
  if (from < 0 || from >= static_cast<int64_t>(BufferFill_)) return {};
  return {Buffer_.get() + from, BufferFill_ - static_cast<size_t>(from)};
}

void TAudioReader::Fill(int64_t Offset, size_t Count) {
  const bool onward = BufferFill_ > 0 && Offset >= BufferStart_ && Offset <= BufferStart_ + static_cast<int64_t>(BufferFill_);
  ReadSize_ = std::clamp(onward ? 2 * ReadSize_ : kFirstRead, std::max(Count, kFirstRead), kBufferSize);
  int err = 0;
  BufferStart_ = Offset;
  BufferFill_ = platform::PReadFull(Fd_, Buffer_.get(), ReadSize_, Offset, &err);
  if (!err) return;
  Failed_ = true;
  if (Run_) ReportReadError(*Run_, Name_, err);
}

size_t TAudioReader::ReadAt(int64_t Offset, uint8_t* Dest, size_t Count) {
  size_t done = 0;
  while (done < Count) {
    const auto got = Peek(Offset + static_cast<int64_t>(done), Count - done);
    if (got.empty()) break;
    std::memcpy(Dest + done, got.data(), got.size());
    done += got.size();
  }
  return done;
}

size_t ReadFileHead(const std::string& FileName, uint8_t* Dest, size_t Count, core::RunContext* Run) {
  int err = 0;
  const int64_t got = platform::ReadFileHead(platform::ResolveInputPath(FileName), Dest, Count, &err);
  if (err && Run) ReportReadError(*Run, FileName, err);
  return got > 0 ? static_cast<size_t>(got) : 0;
}

TFrameWalker::TFrameWalker(TAudioReader& File, TFrameProbeFunction Probe, size_t HeaderBytes, uint8_t SyncFirstByte)
    : File_(File), Probe_(Probe), HeaderBytes_(HeaderBytes), SyncFirstByte_(SyncFirstByte) {}

TFrameProbe TFrameWalker::ProbeAt(int64_t Offset) {
  const auto bytes = File_.Peek(Offset, HeaderBytes_);
  if (bytes.size() < HeaderBytes_) return {};
  TFrameProbe probe = Probe_(bytes.data(), bytes.size());
  if (probe.Size <= 0) probe.Size = 0;
  return probe;
}

int64_t TFrameWalker::FindHeader(int64_t Offset) {
  while (Offset < File_.Size()) {
    const auto window = File_.Window(Offset);
    if (window.empty()) return -1;
    const void* hit = std::memchr(window.data(), SyncFirstByte_, window.size());
    if (!hit) {
      Offset += static_cast<int64_t>(window.size());
      continue;
    }
    const int64_t at = Offset + (static_cast<const uint8_t*>(hit) - window.data());
    // A header found by searching counts only when another one (or the end of
    // the file) follows it: sync patterns turn up inside damaged data too.
    if (const int64_t size = ProbeAt(at).Size; size > 0) {
      const int64_t next = at + size;
      if (next >= File_.Size() || ProbeAt(next).Size > 0) return at;
    }
    Offset = at + 1;
  }
  return -1;
}

bool TFrameWalker::Next(TFrameUnit& Unit) {
  if (!Started_) {
    Started_ = true;
    Next_ = ProbeAt(0).Size > 0 ? 0 : FindHeader(0);
    if (Next_ >= 0) NextProbe_ = ProbeAt(Next_);
  }
  if (Next_ < 0 || Next_ >= File_.Size()) return false;
  const int64_t size = File_.Size();
  const TFrameProbe first = NextProbe_;
  Unit.Start = Next_;
  Unit.Samples = first.Samples;
  int64_t frameEnd = Next_ + first.Size;
  Unit.Complete = frameEnd <= size;
  // Frames of the same unit (dependent substreams) follow; then the next unit,
  // directly or after bytes that are no header.
  for (;;) {
    if (frameEnd >= size) {
      Unit.End = size;
      Next_ = -1;
      return true;
    }
    TFrameProbe probe = ProbeAt(frameEnd);
    int64_t at = frameEnd;
    if (probe.Size == 0) {
      at = FindHeader(frameEnd);
      if (at < 0) {
        Unit.End = size;
        Next_ = -1;
        return true;
      }
      probe = ProbeAt(at);
    }
    if (probe.StartsUnit) {
      Unit.End = at;
      Next_ = at;
      NextProbe_ = probe;
      return true;
    }
    frameEnd = at + probe.Size;
    Unit.Complete = Unit.Complete && frameEnd <= size;
  }
}

TFrameTally CountFrameUnits(core::RunContext& Run, TAudioReader& File, TFrameProbeFunction Probe, size_t HeaderBytes,
                            uint8_t SyncFirstByte) {
  TFrameTally tally;
  TFrameWalker walker(File, Probe, HeaderBytes, SyncFirstByte);
  TFrameUnit unit;
  int64_t seen = 0;
  while (walker.Next(unit)) {
    if (unit.Complete) {
      ++tally.Units;
      tally.Samples += unit.Samples;
    }
    if (++seen % kUnitsPerPump == 0) {
      Run.ProcessMessages();
      if (Run.Aborted()) {
        tally.Stopped = true;
        break;
      }
    }
  }
  if (File.Failed()) ReportReadError(Run, File.Name());
  return tally;
}

bool CutFramesToFile(core::RunContext& Run, const std::string& Source, const std::string& Dest,
                     TFrameProbeFunction Probe, size_t HeaderBytes, uint8_t SyncFirstByte, int64_t FirstFrame,
                     int64_t FrameCount, int64_t ProgressBase, const core::TCopyProgress& Progress) {
  TAudioReader file;
  if (!file.Open(Source)) {
    Run.LogError(std::string(core::msg::CanNotOpenFile) + Source + file.WhyNotOpened());
    return false;
  }
  TByteRange range;
  if (!FindFrameRange(Run, file, Probe, HeaderBytes, SyncFirstByte, FirstFrame, FrameCount, range)) return false;
  file.Close();
  return CopyRangeToFile(Run, Source, Dest, range.Offset, range.Count, {}, ProgressBase, Progress);
}

bool FindFrameRange(core::RunContext& Run, TAudioReader& File, TFrameProbeFunction Probe, size_t HeaderBytes,
                    uint8_t SyncFirstByte, int64_t FirstFrame, int64_t FrameCount, TByteRange& Range) {
  const int64_t size = File.Size();
  int64_t start = FirstFrame <= 0 ? 0 : -1;
  int64_t end = -1;
  const int64_t last = FrameCount < 0 ? -1 : std::max<int64_t>(FirstFrame, 0) + FrameCount;
  TFrameWalker walker(File, Probe, HeaderBytes, SyncFirstByte);
  TFrameUnit unit;
  int64_t index = 0;
  while ((start < 0 || (last >= 0 && end < 0)) && walker.Next(unit)) {
    if (start < 0 && index == FirstFrame) start = unit.Start;
    if (last >= 0 && index == last) end = index == 0 ? 0 : unit.Start;
    if (++index % kUnitsPerPump == 0) {
      Run.ProcessMessages();
      if (Run.Aborted()) return false;
    }
  }
  if (File.Failed()) {
    ReportReadError(Run, File.Name());
    return false;
  }
  if (start < 0) start = size;
  if (end < 0) end = size;
  Range.Offset = start;
  Range.Count = std::max<int64_t>(end - start, 0);
  return true;
}

TCopyOutcome CopyBlocks(core::RunContext& Run, int In, const std::string& SourceName, int64_t Offset, int64_t Count,
                        int Out, const std::string& DestName, int64_t ProgressBase, const core::TCopyProgress& Progress,
                        const std::function<void()>& OnBlock) {
  std::vector<uint8_t> block;
  // The kernel copies from file to file while it can, one copy fewer than
  // through a buffer here. Where it cannot (another kind of file system, an
  // error), the rest goes the plain way, which also tells a read error from a
  // write error.
  bool inKernel = true;
  int64_t done = 0;
  while (done < Count) {
    if (OnBlock) OnBlock();
    if (Run.Aborted()) return TCopyOutcome::Stopped;
    const size_t want = static_cast<size_t>(std::min<int64_t>(kCopyBlock, Count - done));
    size_t got = 0;
    bool ended = false;
    while (inKernel && got < want) {
      const ssize_t n = platform::KernelCopy(In, Offset + done + static_cast<int64_t>(got), Out, want - got);
      if (n > 0) {
        got += static_cast<size_t>(n);
        continue;
      }
      // Nothing copied: the end of the source, unless a read finds more there.
      uint8_t probe = 0;
      ended = n == 0 && ::pread(In, &probe, 1, Offset + done + static_cast<int64_t>(got)) == 0;
      inKernel = ended;
      break;
    }
    if (got < want && !ended) {
      if (block.empty()) block.resize(static_cast<size_t>(std::clamp<int64_t>(Count, 0, kCopyBlock)));
      int readErr = 0;
      const size_t more = platform::PReadFull(In, block.data(), want - got, Offset + done + static_cast<int64_t>(got), &readErr);
      if (readErr) {
        ReportReadError(Run, SourceName, readErr);
        return TCopyOutcome::Failed;
      }
      if (!platform::WriteFull(Out, block.data(), more)) {
        ReportWriteError(Run, DestName, errno);
        return TCopyOutcome::Failed;
      }
      got += more;
    }
    if (got == 0) break;
    done += static_cast<int64_t>(got);
    if (Progress) Progress(ProgressBase + done);
    if (got < want) break;  // the source ended
    Run.ProcessMessages();
  }
  return TCopyOutcome::Done;
}

bool CopyRangeToFile(core::RunContext& Run, const std::string& Source, const std::string& Dest, int64_t Offset,
                     int64_t Count, std::span<const uint8_t> Prefix, int64_t ProgressBase,
                     const core::TCopyProgress& Progress) {
  const std::string temp = Dest + ".part";
  if (Run.WritesOverSource(Dest) || Run.WritesOverSource(temp)) return false;
  const std::string source = platform::ResolveInputPath(Source);
  const int in = platform::OpenRegularFile(source, O_RDONLY);
  if (in < 0 || Offset < 0) {
    const std::string why = in < 0 ? platform::OpenFailureReason(source, errno) : ": a negative offset";
    if (in >= 0) ::close(in);
    Run.LogError(std::string(core::msg::CanNotOpenFile) + Source + why);
    return false;
  }
  // Only a regular file (or a link) of that name is ever replaced.
  struct stat dst {};
  const bool destNotFile = ::lstat(Dest.c_str(), &dst) == 0 && !S_ISREG(dst.st_mode) && !S_ISLNK(dst.st_mode);
  Run.RemoveOwnFile(temp);
  const int out = destNotFile ? -1 : ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (out < 0) {
    const std::string why = destNotFile ? platform::OpenFailureReason(Dest, 0) : platform::ErrorReason(errno);
    ::close(in);
    Run.LogError("Can not create file " + Dest + why);
    return false;
  }
  TCopyOutcome outcome = TCopyOutcome::Done;
  if (!platform::WriteFull(out, Prefix.data(), Prefix.size())) {
    ReportWriteError(Run, Dest, errno);
    outcome = TCopyOutcome::Failed;
  } else {
    outcome = CopyBlocks(Run, in, Source, Offset, Count, out, Dest, ProgressBase, Progress, nullptr);
  }
  ::close(in);
  if (::close(out) != 0 && outcome == TCopyOutcome::Done) {
    ReportWriteError(Run, Dest, errno);
    outcome = TCopyOutcome::Failed;
  }
  if (outcome != TCopyOutcome::Done) {
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), Dest.c_str()) != 0) {
    const std::string why = platform::ErrorReason(errno);
    Run.LogError("Can not create file " + Dest + why);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

int64_t TimeCodeToAudioSamples(core::TTimeCode TimeCode, int64_t SampleRate, double FrameRate) {
  const int64_t rate100 = platform::RoundEven(FrameRate * 100);
  if (rate100 <= 0 || SampleRate <= 0) return 0;
  const int64_t perVideoFrame = SampleRate * 100 / rate100;
  int64_t samples = core::TimeCodeToFrameCount(TimeCode, FrameRate) * perVideoFrame;
  if (platform::RoundEven(FrameRate) == 30) samples = platform::RoundEven(static_cast<double>(samples) * kNtscStretch);
  return samples;
}

bool HasExtension(const std::string& FileName, const char* Ext) {
  return platform::EqualsIgnoreCase(platform::ExtractFileExt(FileName), Ext);
}

}  // namespace tess::streams
