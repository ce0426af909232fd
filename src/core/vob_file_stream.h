#pragma once
#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/settings.h"

namespace tess::core {

struct RunContext;

class TVobFileStream;
class TStartCodeMap;

// Raised when an input file cannot be opened. Reason is why, as the end of a
// line (": Permission denied").
class EVOBException : public std::runtime_error {
 public:
  explicit EVOBException(std::string Why = {}) : std::runtime_error("Error while opening file."), Reason(std::move(Why)) {}
  std::string Reason;
};

// The file object through which the program reads its disc files and writes every
// demultiplexed output. Inputs are usually unbuffered: the callers read 2048-byte
// packs, and a private read-ahead below them turns those reads into copies.
// Outputs write through a private buffer.
//
// Closing is explicit: Close() flushes and releases the file. What an output
// becomes afterwards (pictures, a WAV file) is the business of the writer that
// made it, which finishes it from the fields below. The destructor only releases
// (an output destroyed with bytes still waiting is a caller's fault, caught by an
// assertion in debug builds).
class TVobFileStream {
 public:
  // Platform access bits: bit 0 opens for writing.
  static constexpr uint32_t kModeRead = 0;
  static constexpr uint32_t kModeWrite = 1;
  static constexpr uint32_t kModeReadWrite = 2;
  static constexpr uint32_t kModeShareDenyNone = 64;

  static constexpr int64_t kReadBufferSize = 1048576;    // buffered streams made by Create
  static constexpr int64_t kAppendBufferLarge = 262144;  // CreateAppend, an ordinary disc
  static constexpr int64_t kAppendBufferSmall = 32768;   // CreateAppend, otherwise
  static constexpr int64_t kReadAheadSize = 1048576;     // below unbuffered reads

  // How the stream reads its file: pread's contract (bytes read, 0 at the end,
  // -1 with errno). Tests replace it to simulate a failing medium.
  using TReadFunction = ssize_t (*)(int Fd, void* Buffer, size_t Count, off_t Offset);
  // The function that new streams start with.
  static TReadFunction DefaultReadFunction;

  // Create: opens FileName for reading (its name is looked up without case), or
  // for writing when bit 0 of Mode is set (an existing file is truncated). Throws
  // EVOBException when a file to be read cannot be opened. An output that cannot
  // be created is reported once in the log; its writes then accept nothing.
  TVobFileStream(RunContext& Run, const std::string& FileName, uint32_t Mode, bool Buffered);
  static std::unique_ptr<TVobFileStream> Create(RunContext& Run, const std::string& FileName, uint32_t Mode,
                                                bool Buffered);
  // Opens an output for appending (always buffered: 256 KB for an ordinary
  // disc, 32 KB for a complex one, or BufferSize bytes when it is given). Never
  // throws.
  static std::unique_ptr<TVobFileStream> CreateAppend(RunContext& Run, const std::string& FileName,
                                                      uint32_t Mode, const OutputSettings& Output,
                                                      int64_t BufferSize = 0);
  ~TVobFileStream();
  TVobFileStream(const TVobFileStream&) = delete;
  TVobFileStream& operator=(const TVobFileStream&) = delete;

  // Bytes accepted (buffered or written). A failed write is reported once in the
  // log, and only bytes that reached the file (or wait in the buffer) count.
  int64_t Write(const void* Source, int64_t Count);
  // Bytes delivered. Fewer than Count sets Eof; 0 with ReadFailed set means the
  // file could not be read (see Status), not that it ended.
  int64_t Read(void* Dest, int64_t Count);
  // Read without a copy: Data points at the Count bytes (fewer at the end of
  // the file) inside the stream's read-ahead; it stays valid until the next read
  // or skip. Reads that the read-ahead cannot serve are copied into a buffer of
  // the stream, so the result is the same as Read's in every case.
  int64_t ReadInPlace(const uint8_t*& Data, int64_t Count);
  // Moves the read position forward; returns Count, or fewer at the end of a
  // buffered file.
  int64_t Skip(int64_t Count);
  // Moves the read position back one byte.
  void StepBack();
  // The file's size in 2048-byte sectors, rounded down; the position is kept.
  int64_t GetSectorCount() const;

  // Writes out waiting bytes and releases the file and the buffer. True when every
  // accepted byte reached the file. Calling it again does nothing more.
  bool Close();

  enum class TStatus { Ok, EndOfFile, ReadError };
  // Tells a short read at the end of the file from a read that failed.
  TStatus Status() const {
    return ReadFailed ? TStatus::ReadError : (Eof ? TStatus::EndOfFile : TStatus::Ok);
  }

  // ---- fields the other modules read and set ----
  bool Eof = false;         // a read or skip met the end of the file (or failed)
  bool ReadFailed = false;  // the file could not be read (a disc read error the user did not retry)
  int ReadErrno = 0;        // the error of that read
  uint32_t Mode = 0;
  int32_t SectorSize = 2048;
  bool Buffered = false;
  // What the writer turns the output into once it is closed: pictures from a
  // ".sup", a WAV file from a ".pcm". Not read here.
  bool FinishSup = false;
  bool FinishPcm = false;
  int32_t PictureWidth = 0;  // 0: the size of the demux context that finishes it
  int32_t PictureHeight = 0;
  int32_t LpcmBitsPerSample = 0;  // the three LPCM parameters, in the WAV conversion's order
  int32_t LpcmChannels = 0;
  int32_t LpcmSampleRate = 0;
  int64_t FileSize = 0;      // size of an input at open
  bool Appended = false;     // CreateAppend found the file present
  int64_t BytesWritten = 0;  // size at open of an appended file plus every byte accepted since
  std::string FileName;      // as passed to the constructor
  TReadFunction ReadFunction = DefaultReadFunction;
  // Fed every byte the output writes to its file and sealed when the output
  // is closed (dropped when a write failed); set by the writer that wants one.
  TStartCodeMap* StartCodes = nullptr;

  int Handle() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  bool WriteFailed() const { return writeFailed_; }
  int64_t BufferSize() const { return bufferSize_; }
  int64_t BufferPos() const { return bufferPos_; }
  // The read position of an input (unbuffered) or the next write offset.
  int64_t Position() const;

 private:
  struct AppendTag {};
  TVobFileStream(RunContext& Run, const std::string& FileName, uint32_t Mode, int64_t BufferSize, AppendTag);

  // Reads Count bytes at Offset, looping over short transfers; stops at the end of
  // the file. Err is the errno of a failure (0 otherwise).
  int64_t RawRead(void* Dest, int64_t Count, int64_t Offset, int& Err) const;
  // RawRead with the disc-read-error retry dialog. False when the read failed.
  bool ReadWithRetry(void* Dest, int64_t Count, int64_t Offset, int64_t& Got);
  // Count bytes at the read position through the read-ahead.
  int64_t ReadAhead(void* Dest, int64_t Count, int& Err);
  bool AskRetry();
  bool FillBuffer();
  // Count bytes on from the buffered read position, refilling the buffer as it
  // empties; copied to Dest unless it is null (a skip). Fewer at the end set Eof.
  int64_t TakeBuffered(uint8_t* Dest, int64_t Count);
  int64_t WriteDirect(const void* Source, int64_t Count);
  bool FlushBuffer();
  void ReportCreateFailure(int Err);
  void ReportWriteFailure(int Err);

  RunContext* run_;
  int fd_ = -1;
  std::vector<uint8_t> buffer_;
  int64_t bufferSize_ = 0;  // reading: bytes valid after the last fill; writing: the room
  int64_t bufferPos_ = 0;   // reading: next byte; writing: bytes waiting
  int64_t pos_ = 0;         // file offset of the next unbuffered read or write, or of the next fill
  int64_t bufferStart_ = 0; // file offset of the buffer's first byte (buffered reading)
  bool writeBuffered_ = false;
  bool writeFailed_ = false;
  bool failureReported_ = false;
  // The read-ahead of unbuffered inputs: file bytes [aheadStart_, aheadStart_ + aheadLen_).
  std::vector<uint8_t> ahead_;
  int64_t aheadStart_ = 0;
  int64_t aheadLen_ = 0;
  bool aheadAtEnd_ = false;  // the window reaches the end of the file
  int64_t directUntil_ = -1; // reads before this offset bypass the window (it met a fault)
  bool skipped_ = false;      // the position was moved by Skip since the last read
  std::vector<uint8_t> scratch_;  // ReadInPlace's bytes when they come from no window
};

// One output stream of a demux context.
struct TVobStream {
  uint32_t StreamId = 0;     // PES stream id of the payload
  uint32_t SubstreamId = 0;  // substream inside a private stream, 0 when none
  uint32_t Kind = 0;         // third key, written by Add
  uint32_t CutKey = 0;       // fourth key, written by AddAudio
  uint32_t CellId = 0;       // left zero here; the audio routers keep the last cell id in it
  bool IsNew = false;
  std::unique_ptr<TVobFileStream> Stream;  // owned once the writer opens the output
  std::string FileName;
};

struct TStreamFile {
  std::string FileName;
  int32_t Value1 = 0;
  int32_t Value2 = 0;
  int32_t Value3 = 0;
};

// The output streams of one demux context, keyed by stream id, substream id and
// two further key bytes. Records keep their addresses until CloseAll. Closed
// outputs wait here (pending) until the demultiplexer takes them to finish them:
// a title chain's outputs are finished only when the chain ends.
class TVobStreams {
 public:
  TVobStreams() = default;
  ~TVobStreams();  // releases; finishes nothing
  TVobStreams(const TVobStreams&) = delete;
  TVobStreams& operator=(const TVobStreams&) = delete;

  std::deque<TVobStream> Streams;
  std::vector<TStreamFile> Files;

  TVobStream* Add(uint8_t StreamId, uint8_t SubstreamId, uint8_t Kind);
  TVobStream* AddAudio(uint8_t StreamId, uint8_t SubstreamId, uint8_t CutKey);
  bool Exists(uint8_t StreamId, uint8_t SubstreamId, uint8_t Kind) const;
  TVobStream* FindByIdSubKind(uint8_t StreamId, uint8_t SubstreamId, uint8_t Kind);
  // The first record matching all three keys, else the last one matching the
  // stream and substream ids, else nil.
  TVobStream* Find(uint8_t CutKey, uint8_t StreamId, uint8_t SubstreamId);
  int32_t MarkAllNew();
  // Closes every open stream, keeps it pending and empties both lists; returns
  // how many streams were closed.
  int32_t CloseAll();
  // After an EVO file whose last digit before its 4-character extension is not 0
  // or 1 (a later file of a title chain), closes the open ".pcm" outputs and
  // keeps them pending: they are converted when the chain ends. The records stay.
  void ClosePcmOutputs(const std::string& EvoName);
  // Closes one record's open stream (a writer moving to a new output) and keeps
  // it pending. True when every byte reached the file.
  bool CloseStream(TVobStream& Record);
  size_t PendingCount() const { return pending_.size(); }
  // Keeps a closed output for finishing later; a newer close of the same file
  // replaces the older one, so each file is finished once.
  void KeepPending(std::unique_ptr<TVobFileStream> Stream);
  // Hands over the outputs kept pending, in the order they were first kept.
  std::vector<std::unique_ptr<TVobFileStream>> TakePending();

 private:
  std::vector<std::unique_ptr<TVobFileStream>> pending_;
};

}  // namespace tess::core
