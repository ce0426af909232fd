#include "streams/wav.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "core/byte_order.h"
#include "core/messages.h"
#include "core/run_context.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "streams/audio_cut.h"

namespace tess::streams {

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr size_t kFmtFieldsSize = 16;
constexpr size_t kFmtLargestRead = 40;  // the extensible form
constexpr uint32_t kLargestFmtChunk = 65536;
constexpr int64_t kLargestRiffSize = std::numeric_limits<uint32_t>::max();
constexpr size_t kConvertBlock = 1048576;
constexpr int32_t kMaxLpcmChannels = 8;

// An open file descriptor, closed with the object.
struct TFd {
  int Fd = -1;
  explicit TFd(int F) : Fd(F) {}
  ~TFd() {
    if (Fd >= 0) ::close(Fd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  // Closes now; false when the close reported a write error.
  bool Close() {
    const int f = Fd;
    Fd = -1;
    return f < 0 || ::close(f) == 0;
  }
};

int64_t SizeOf(int Fd) {
  struct stat st {};
  return ::fstat(Fd, &st) == 0 ? st.st_size : -1;
}

// Opens the regular file Path and takes its size: the descriptor, or -1 with
// the reason in Why.
int OpenSized(const std::string& Path, int Flags, int64_t& Size, std::string& Why) {
  const int fd = platform::OpenRegularFile(Path, Flags);
  Size = fd >= 0 ? SizeOf(fd) : -1;
  if (fd < 0) Why = platform::OpenFailureReason(Path, errno);
  else if (Size < 0) Why = platform::ErrorReason(errno);
  return fd;
}

void LogTooLarge(core::RunContext& Run, const std::string& FileName) {
  Run.LogError("File " + FileName + " would be 4 GiB or larger: a WAV header cannot state its size.");
}

// One sample group of the disc's order rewritten little-endian. 16-bit samples
// are big-endian pairs; 24-bit groups hold two sample sets: the high and middle
// bytes of all their samples first, then the low bytes in the same order.
void ReorderGroup(const uint8_t* In, uint8_t* Out, int32_t Channels) {
  const int32_t samples = 2 * Channels;
  for (int32_t i = 0; i < samples; ++i) {
    Out[3 * i] = In[2 * samples + i];
    Out[3 * i + 1] = In[2 * i + 1];
    Out[3 * i + 2] = In[2 * i];
  }
}

// The Count bytes of whole groups in a block; 16-bit samples in one loop the
// compiler turns into vector byte swaps.
void ReorderGroups(const uint8_t* In, uint8_t* Out, size_t Count, size_t Group, int32_t Bits, int32_t Channels) {
  if (Bits == 16) {
    for (size_t i = 0; i + 1 < Count; i += 2) {
      uint16_t v;
      std::memcpy(&v, In + i, 2);
      v = static_cast<uint16_t>((v << 8) | (v >> 8));
      std::memcpy(Out + i, &v, 2);
    }
    return;
  }
  for (size_t g = 0; g + Group <= Count; g += Group) ReorderGroup(In + g, Out + g, Channels);
}

void PutHeader(uint8_t* H, uint32_t DataSize, uint16_t Channels, uint32_t SampleRate, uint16_t BlockAlign,
               uint16_t Bits) {
  std::memcpy(H, "RIFF", 4);
  core::WriteLE32(H + 4, DataSize + 36);
  std::memcpy(H + 8, "WAVEfmt ", 8);
  core::WriteLE32(H + 16, kFmtFieldsSize);
  core::WriteLE16(H + 20, kFormatPcm);
  core::WriteLE16(H + 22, Channels);
  core::WriteLE32(H + 24, SampleRate);
  core::WriteLE32(H + 28, BlockAlign * SampleRate);
  core::WriteLE16(H + 32, BlockAlign);
  core::WriteLE16(H + 34, Bits);
  std::memcpy(H + 36, "data", 4);
  core::WriteLE32(H + 40, DataSize);
}

// Where the samples of a WAV end: at the size its header gives when that lies
// within the file, else at the end of the file.
int64_t DataEnd(const WavHeader& H, int64_t FileSize) {
  const int64_t stated = H.DataOffset + H.DataSize;
  return H.DataSize > 0 && stated <= FileSize ? stated : FileSize;
}

}  // namespace

bool ConvertLpcmToWav(core::RunContext& Run, const std::string& FileName, int32_t BitsPerSample, int32_t Channels,
                      int32_t SampleRate) {
  const std::string source = platform::ResolveInputPath(FileName);
  const std::string wavName = FileName.substr(0, FileName.size() - std::min<size_t>(3, FileName.size())) + "wav";
  const std::string shown = platform::ExtractFileName(FileName);
  // A 20-bit stream comes in the 24-bit groups, and is written as what it then is.
  const int32_t bits = BitsPerSample == 20 ? 24 : BitsPerSample;
  const bool known = (bits == 16 && Channels >= 1 && Channels <= kMaxLpcmChannels) ||
                     (bits == 24 && (Channels == 1 || Channels == 2 || Channels == 6));
  if (!known || SampleRate <= 0) {
    Run.LogError("Can not convert file " + shown + " to WAV: no known sample order for " +
                 std::to_string(BitsPerSample) + "-bit LPCM in " + std::to_string(Channels) + " channels at " +
                 std::to_string(SampleRate) + " Hz.");
    return false;
  }
  if (platform::EqualsIgnoreCase(wavName, FileName)) {
    Run.LogError("Can not convert file " + shown + " to WAV: it would replace itself.");
    return false;
  }
  int64_t size = -1;
  std::string why;
  TFd in(OpenSized(source, O_RDONLY, size, why));
  if (size < 0) {
    Run.LogError(std::string(core::msg::CanNotOpenFile) + FileName + why);
    return false;
  }
  if (size + 36 > kLargestRiffSize) {
    LogTooLarge(Run, wavName);
    return false;
  }
  const std::string temp = wavName + ".part";
  if (Run.WritesOverSource(wavName) || Run.WritesOverSource(temp)) return false;
  Run.RemoveOwnFile(temp);
  TFd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (out.Fd < 0) {
    why = platform::ErrorReason(errno);
    Run.LogError("Can not create file " + wavName + why);
    return false;
  }

  const uint16_t blockAlign = static_cast<uint16_t>(bits / 8 * Channels);
  std::array<uint8_t, kWavHeaderSize> header{};
  PutHeader(header.data(), static_cast<uint32_t>(size), static_cast<uint16_t>(Channels),
            static_cast<uint32_t>(SampleRate), blockAlign, static_cast<uint16_t>(bits));
  // Blocks hold whole groups, so a group never straddles two reads.
  const size_t group = bits == 16 ? 2 : static_cast<size_t>(6 * Channels);
  const size_t blockSize = kConvertBlock - kConvertBlock % group;
  std::vector<uint8_t> inBlock(blockSize), outBlock(blockSize);
  bool ok = platform::WriteFull(out.Fd, header.data(), header.size());
  if (!ok) ReportWriteError(Run, wavName, errno);
  bool stopped = false;
  for (int64_t offset = 0; ok && offset < size;) {
    int err = 0;
    const size_t got = platform::PReadFull(in.Fd, inBlock.data(), blockSize, offset, &err);
    if (err) {
      ReportReadError(Run, FileName, err);
      ok = false;
      break;
    }
    if (got == 0) break;
    const size_t whole = got - got % group;
    ReorderGroups(inBlock.data(), outBlock.data(), whole, group, bits, Channels);
    // A partial group at the very end has no order to restore; it is kept as it is.
    std::copy(inBlock.begin() + static_cast<ptrdiff_t>(whole), inBlock.begin() + static_cast<ptrdiff_t>(got),
              outBlock.begin() + static_cast<ptrdiff_t>(whole));
    if (!platform::WriteFull(out.Fd, outBlock.data(), got)) {
      ReportWriteError(Run, wavName, errno);
      ok = false;
      break;
    }
    offset += static_cast<int64_t>(got);
    if (got < blockSize) break;
    Run.ProcessMessages();
    if (Run.Aborted() && offset < size) {
      stopped = true;
      break;
    }
  }
  if (!out.Close() && ok) {
    ReportWriteError(Run, wavName, errno);
    ok = false;
  }
  if (!ok || stopped) {
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), wavName.c_str()) != 0) {
    why = platform::ErrorReason(errno);
    Run.LogError("Can not create file " + wavName + why);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool WavFindDataChunk(const std::string& FileName, WavHeader& Header, core::RunContext* Run) {
  Header = {};
  TAudioReader file;
  if (!file.Open(FileName, Run)) return false;
  uint8_t riff[12] = {};
  if (file.ReadAt(0, riff, sizeof riff) < sizeof riff || core::ReadLE32(riff + 8) != WavId("WAVE")) return false;
  Header.ChunkId = core::ReadLE32(riff);
  Header.ChunkSize = core::ReadLE32(riff + 4);
  Header.Format = core::ReadLE32(riff + 8);
  // Chunks follow each other by their sizes, each padded to an even length.
  for (int64_t pos = sizeof riff; pos + 8 <= file.Size();) {
    uint8_t chunk[8];
    if (file.ReadAt(pos, chunk, sizeof chunk) < sizeof chunk) break;
    const uint32_t id = core::ReadLE32(chunk);
    const uint32_t size = core::ReadLE32(chunk + 4);
    if (id == WavId("fmt ")) {
      uint8_t fmt[kFmtLargestRead] = {};
      const size_t got = file.ReadAt(pos + 8, fmt, std::min<size_t>(size, sizeof fmt));
      if (got >= kFmtFieldsSize) {
        Header.SubchunkId = id;
        Header.SubchunkSize = size;
        Header.FmtOffset = pos;
        Header.FormatTag = core::ReadLE16(fmt);
        Header.Channels = core::ReadLE16(fmt + 2);
        Header.SampleRate = core::ReadLE32(fmt + 4);
        Header.BytesPerSecond = core::ReadLE32(fmt + 8);
        Header.BlockAlign = core::ReadLE16(fmt + 12);
        Header.BitsPerSample = core::ReadLE16(fmt + 14);
      }
    } else if (id == WavId("data")) {
      Header.DataId = id;
      Header.DataSize = size;
      Header.DataOffset = pos + 8;
      return true;
    }
    pos += 8 + static_cast<int64_t>(size) + (size & 1);
  }
  return false;
}

bool WavFixHeader(core::RunContext& Run, const std::string& FileName) {
  WavHeader h;
  if (!WavFindDataChunk(FileName, h, &Run)) return false;
  const std::string path = platform::ResolveInputPath(FileName);
  TFd file(platform::OpenRegularFile(path, O_RDWR));
  const int64_t size = file.Fd >= 0 ? SizeOf(file.Fd) : -1;
  if (size < h.DataOffset) return false;
  if (size - 8 > kLargestRiffSize) {
    LogTooLarge(Run, FileName);
    return false;
  }
  const uint32_t dataSize = static_cast<uint32_t>(size - h.DataOffset);
  const uint32_t riffSize = static_cast<uint32_t>(size - 8);
  if (dataSize == h.DataSize && riffSize == h.ChunkSize) return false;
  uint8_t field[4];
  core::WriteLE32(field, riffSize);
  bool ok = platform::PWriteFull(file.Fd, field, 4, 4);
  core::WriteLE32(field, dataSize);
  ok = ok && platform::PWriteFull(file.Fd, field, 4, h.DataOffset - 4);
  ok = file.Close() && ok;
  if (!ok) ReportWriteError(Run, FileName, errno);
  return ok;
}

int64_t WavTimeCodeToSamples(core::TTimeCode TimeCode, int32_t SampleRate, double FrameRate) {
  return TimeCodeToAudioSamples(TimeCode, SampleRate, FrameRate);
}

bool WavCutBySamples(core::RunContext& Run, const std::string& Source, const std::string& Dest, int64_t StartSample,
                     int64_t ProgressBase, const core::TCopyProgress& Progress, int64_t SampleCount) {
  WavHeader h;
  if (!WavFindDataChunk(Source, h, &Run) || h.FmtOffset == 0 || h.SubchunkSize > kLargestFmtChunk) {
    Run.LogError("File " + Source + " is not a WAV file that can be cut.");
    return false;
  }
  const int64_t bytesPerSample = h.BlockAlign ? h.BlockAlign : h.SampleRate ? h.BytesPerSecond / h.SampleRate : 0;
  if (bytesPerSample == 0) {
    Run.LogError("File " + Source + " is not a WAV file that can be cut.");
    return false;
  }
  TAudioReader file;
  if (!file.Open(Source)) {
    Run.LogError(std::string(core::msg::CanNotOpenFile) + Source + file.WhyNotOpened());
    return false;
  }
  const int64_t end = DataEnd(h, file.Size());
  const int64_t samplesHeld = (end - h.DataOffset) / bytesPerSample;
  const int64_t first = std::clamp<int64_t>(StartSample, 0, samplesHeld);
  const int64_t offset = h.DataOffset + first * bytesPerSample;
  const int64_t count = SampleCount < 0 ? end - offset : std::min(samplesHeld - first, SampleCount) * bytesPerSample;

  // The header of the cut: the source's format chunk between a RIFF header and
  // a data header, with sizes for the bytes to come.
  const int64_t fmtLength = 8 + static_cast<int64_t>(h.SubchunkSize) + (h.SubchunkSize & 1);
  std::vector<uint8_t> prefix(static_cast<size_t>(12 + fmtLength + 8));
  if (file.ReadAt(h.FmtOffset, &prefix[12], static_cast<size_t>(fmtLength)) < 8 + h.SubchunkSize) {
    Run.LogError(std::string(core::msg::CanNotOpenFile) + Source + ": its format chunk can not be read");
    return false;
  }
  file.Close();
  const int64_t riffSize = static_cast<int64_t>(prefix.size()) - 8 + count;
  if (riffSize > kLargestRiffSize) {
    LogTooLarge(Run, Dest);
    return false;
  }
  std::memcpy(prefix.data(), "RIFF", 4);
  core::WriteLE32(&prefix[4], static_cast<uint32_t>(riffSize));
  std::memcpy(&prefix[8], "WAVE", 4);
  std::memcpy(&prefix[prefix.size() - 8], "data", 4);
  core::WriteLE32(&prefix[prefix.size() - 4], static_cast<uint32_t>(count));
  if (!CopyRangeToFile(Run, Source, Dest, offset, count, prefix, ProgressBase, Progress)) return false;
  WavFixHeader(Run, Dest);  // a source that ended early leaves fewer bytes than announced
  return true;
}

bool AppendFileData(core::RunContext& Run, const std::string& Source, const std::string& Dest, bool HeaderOnlyWhenEmpty,
                    const std::function<void()>& OnBlock) {
  if (Run.WritesOverSource(Dest)) return false;
  const std::string source = platform::ResolveInputPath(Source);
  const std::string dest = platform::ResolveInputPath(Dest);
  int64_t sourceSize = -1, destSize = -1;
  std::string whySource, whyDest;
  TFd in(OpenSized(source, O_RDONLY, sourceSize, whySource));
  TFd out(OpenSized(dest, O_WRONLY, destSize, whyDest));
  if (sourceSize < 0 || destSize < 0) {
    Run.LogError(std::string(core::msg::CanNotOpenFile) + (sourceSize < 0 ? Source + whySource : Dest + whyDest));
    return false;
  }
  int64_t offset = 0, count = sourceSize;
  if (HasExtension(Source, ".wav") && !(HeaderOnlyWhenEmpty && destSize == 0)) {
    WavHeader h;
    if (!WavFindDataChunk(source, h, &Run)) {
      Run.LogError("File " + Source + " is not a WAV file: nothing appended to " + Dest);
      return false;
    }
    offset = h.DataOffset;
    count = DataEnd(h, sourceSize) - offset;
  }
  const bool destIsWav = HasExtension(Dest, ".wav");
  if (destIsWav && destSize + count - 8 > kLargestRiffSize) {
    LogTooLarge(Run, Dest);
    return false;
  }
  if (::lseek(out.Fd, 0, SEEK_END) < 0) {
    Run.LogError("Write error in file " + Dest + ": " + std::strerror(errno));
    return false;
  }
  TCopyOutcome outcome = CopyBlocks(Run, in.Fd, Source, offset, count, out.Fd, Dest, 0, nullptr, OnBlock);
  if (outcome == TCopyOutcome::Done && !out.Close()) {
    ReportWriteError(Run, Dest, errno);
    outcome = TCopyOutcome::Failed;
  }
  if (outcome != TCopyOutcome::Done) {
    // Dest goes back to what it was rather than keep half an append.
    if (::truncate(dest.c_str(), destSize) != 0)
      Run.LogError("Can not restore file " + Dest + ": " + std::strerror(errno));
    return false;
  }
  if (destIsWav) WavFixHeader(Run, dest);
  return true;
}

}  // namespace tess::streams
