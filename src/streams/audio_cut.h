#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "core/files.h"
#include "core/timecode.h"

namespace tess::core {
struct RunContext;
}

// What the audio stream modules share: a buffered reader for header walks, a
// walker over the sync frames of a raw stream, the one copy loop of the cutters
// and the one time-code-to-samples conversion.
namespace tess::streams {

// Reads one file at any offset through a read-ahead buffer, so that walking a
// stream frame by frame costs one system call per buffer, not per header. A
// read away from the buffer takes a small block (a header probe needs no more);
// reads that go on where the buffer ends take ever larger blocks, up to the
// whole buffer.
class TAudioReader {
 public:
  static constexpr size_t kBufferSize = 1048576;
  static constexpr size_t kFirstRead = 65536;

  TAudioReader() = default;
  ~TAudioReader();
  TAudioReader(const TAudioReader&) = delete;
  TAudioReader& operator=(const TAudioReader&) = delete;

  // Opens FileName for reading (its name is looked up without case); false
  // when it is missing, no regular file or cannot be opened. With Run, a read
  // error is reported there as it is met (ReportReadError).
  bool Open(const std::string& FileName, core::RunContext* Run = nullptr);
  // Why the last Open failed, as the end of a line (": Permission denied").
  const std::string& WhyNotOpened() const { return WhyNotOpened_; }
  void Close();
  bool IsOpen() const { return Fd_ >= 0; }
  int64_t Size() const { return Size_; }
  // A read error was met (the reads then return fewer bytes).
  bool Failed() const { return Failed_; }
  const std::string& Name() const { return Name_; }

  // Up to Count bytes from Offset into Dest; the number read.
  size_t ReadAt(int64_t Offset, uint8_t* Dest, size_t Count);
  // Up to Count (at most kBufferSize) bytes from Offset, held in the buffer:
  // valid until the next call.
  std::span<const uint8_t> Peek(int64_t Offset, size_t Count);
  // Whatever the buffer holds from Offset on (filled from there when Offset
  // lies outside it); empty at the end of the file.
  std::span<const uint8_t> Window(int64_t Offset);

 private:
  // Reads at least Count bytes (where the file has them) from Offset.
  void Fill(int64_t Offset, size_t Count);

  int Fd_ = -1;
  std::string Name_;
  std::string WhyNotOpened_;
  core::RunContext* Run_ = nullptr;
  int64_t Size_ = 0;
  bool Failed_ = false;
  std::unique_ptr<uint8_t[]> Buffer_;
  int64_t BufferStart_ = 0;
  size_t BufferFill_ = 0;
  size_t ReadSize_ = 0;  // the size of the last read
};

// The log line of a failed read or write, with the failure noted in the run: a
// read error fails the run, a write error stops it. A file that several readers
// meet a read error in is named once.
void ReportReadError(core::RunContext& Run, const std::string& File, int Err = 0);
void ReportWriteError(core::RunContext& Run, const std::string& File, int Err);

// One frame header as a format's probe sees it. Size 0: no valid header here.
struct TFrameProbe {
  int64_t Size = 0;
  bool StartsUnit = true;  // false for a frame that belongs to the unit before (a dependent substream)
  int32_t Samples = 0;     // samples per channel that a unit starting here carries
};
using TFrameProbeFunction = TFrameProbe (*)(const uint8_t* Bytes, size_t Count);

// A unit of a stream: the frames that belong to one time span.
struct TFrameUnit {
  int64_t Start = 0;  // offset of its first header
  int64_t End = 0;    // where the next unit starts, or the file's end
  int32_t Samples = 0;
  bool Complete = true;  // its frames end within the file
};

// Reads up to Count bytes from the start of FileName (looked up without case)
// into Dest (the rest of Dest is left as it is); the number read, 0 when it is
// no regular file or cannot be opened. A read error is reported in Run when
// one is given.
size_t ReadFileHead(const std::string& FileName, uint8_t* Dest, size_t Count, core::RunContext* Run = nullptr);

// Walks the units of a raw frame stream from its first header. Frames follow
// each other by the sizes their headers give; where bytes that are no header
// stand between two frames (a damaged stream, extension data), the walk looks
// for the next valid header and counts those bytes with the unit before, so
// that every byte of the file belongs to exactly one unit.
class TFrameWalker {
 public:
  TFrameWalker(TAudioReader& File, TFrameProbeFunction Probe, size_t HeaderBytes, uint8_t SyncFirstByte);
  // The next unit; false at the end of the units.
  bool Next(TFrameUnit& Unit);

 private:
  TFrameProbe ProbeAt(int64_t Offset);
  // The first offset from Offset on where a valid header starts, or -1.
  int64_t FindHeader(int64_t Offset);

  TAudioReader& File_;
  TFrameProbeFunction Probe_;
  size_t HeaderBytes_;
  uint8_t SyncFirstByte_;
  int64_t Next_ = -1;  // header offset of the next unit; -1 before the first search
  TFrameProbe NextProbe_;  // its header, kept from the step that found it
  bool Started_ = false;
};

// Counts complete units and their samples (a read error is logged).
struct TFrameTally {
  int64_t Units = 0;
  int64_t Samples = 0;
  bool Stopped = false;
};
TFrameTally CountFrameUnits(core::RunContext& Run, TAudioReader& File, TFrameProbeFunction Probe, size_t HeaderBytes,
                            uint8_t SyncFirstByte);

// The byte range of FrameCount units from unit FirstFrame: the first unit's
// range starts at offset 0 (bytes before the first header travel with it), a
// count of -1 or one past the units runs to the end of the file, and a first
// unit past the end gives an empty range at the end.
struct TByteRange {
  int64_t Offset = 0;
  int64_t Count = 0;
};
bool FindFrameRange(core::RunContext& Run, TAudioReader& File, TFrameProbeFunction Probe, size_t HeaderBytes,
                    uint8_t SyncFirstByte, int64_t FirstFrame, int64_t FrameCount, TByteRange& Range);

// The frame cutters' common course: opens Source, finds the byte range of
// FrameCount frames from FirstFrame with Probe, and cuts it into Dest
// (CopyRangeToFile). False, with a log line, when Source cannot be opened or
// the cut fails.
bool CutFramesToFile(core::RunContext& Run, const std::string& Source, const std::string& Dest,
                     TFrameProbeFunction Probe, size_t HeaderBytes, uint8_t SyncFirstByte, int64_t FirstFrame,
                     int64_t FrameCount, int64_t ProgressBase, const core::TCopyProgress& Progress);

// The copy loop of every cutter and of the appending: Count bytes of the open
// file In from Offset (fewer when it ends first) written to Out at its
// position, in large blocks. OnBlock (when set) runs before every block,
// Progress after it with ProgressBase + bytes copied; the Stop flag of Run ends
// the loop. Read and write errors are logged.
enum class TCopyOutcome { Done, Failed, Stopped };
TCopyOutcome CopyBlocks(core::RunContext& Run, int In, const std::string& SourceName, int64_t Offset, int64_t Count,
                        int Out, const std::string& DestName, int64_t ProgressBase, const core::TCopyProgress& Progress,
                        const std::function<void()>& OnBlock);

// A cut into a new file: writes Prefix and then Count bytes of Source
// from Offset (fewer when the source ends first) into Dest. Dest is written
// under a temporary name and takes its place only when complete, so a failed
// or stopped cut leaves no half-made file. Progress (when set) gets
// ProgressBase + the source bytes copied after every block; the Stop flag of
// Run ends the copy. False, with a log line unless stopped, when Dest was not
// made.
bool CopyRangeToFile(core::RunContext& Run, const std::string& Source, const std::string& Dest, int64_t Offset,
                     int64_t Count, std::span<const uint8_t> Prefix, int64_t ProgressBase,
                     const core::TCopyProgress& Progress);

// Samples at SampleRate that a time-code duration covers at FrameRate: whole
// samples per video frame (by the rate in hundredths), stretched by
// 1.001001001001001 at about 30 fps. 0 for a rate of 0 or less.
int64_t TimeCodeToAudioSamples(core::TTimeCode TimeCode, int64_t SampleRate, double FrameRate);

// The case-blind extension test the audio routines use (".WAV" is ".wav").
bool HasExtension(const std::string& FileName, const char* Ext);

// Table[Index], or Beyond for a code the table has no entry for: header codes
// come from the file and may be reserved ones.
template <class T, size_t N>
T TableAt(const std::array<T, N>& Table, int32_t Index, T Beyond) {
  return Index >= 0 && static_cast<size_t>(Index) < N ? Table[static_cast<size_t>(Index)] : Beyond;
}

}  // namespace tess::streams
