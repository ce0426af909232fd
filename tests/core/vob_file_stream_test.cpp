#include "core/vob_file_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>

#include "support/test_support.h"

namespace tess::core {
namespace {

using platform::PromptAnswer;
using test::CoreProject;
using test::TempDir;

const OutputSettings kOrdinaryDisc;

// Answers questions from a script and keeps what it was asked.
class ScriptedPrompt : public platform::Prompt {
 public:
  std::vector<PromptAnswer> Answers;
  std::vector<std::string> Asked;     // caption + "|" + text
  std::vector<std::string> Informed;  // texts
  std::function<void()> OnAsk;
  PromptAnswer Ask(std::string_view Text, std::string_view Caption, platform::PromptButtons) override {
    Asked.push_back(std::string(Caption) + "|" + std::string(Text));
    if (OnAsk) OnAsk();
    return Asked.size() <= Answers.size() ? Answers[Asked.size() - 1] : PromptAnswer::Cancel;
  }
  void Inform(std::string_view Text, std::string_view) override { Informed.emplace_back(Text); }
};

// A medium with a bad spot: every read that covers BadOffset fails with EIO.
// All reads are counted.
struct Medium {
  int64_t BadOffset = -1;
  int Calls = 0;
};
Medium g_medium;

ssize_t FaultyRead(int Fd, void* Buffer, size_t Count, off_t Offset) {
  ++g_medium.Calls;
  if (g_medium.BadOffset >= Offset && g_medium.BadOffset < Offset + static_cast<off_t>(Count)) {
    errno = EIO;
    return -1;
  }
  return ::pread(Fd, Buffer, Count, Offset);
}

std::vector<uint8_t> Pattern(size_t n, uint32_t seed = 1) {
  std::vector<uint8_t> v(n);
  uint32_t x = seed;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return v;
}

int64_t SizeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// ---- opening, sizes beyond 4 GiB ----

TEST(VobFileStream, AppendsAndReadsBackBeyondFourGiB) {
  TempDir dir;
  CoreProject p;
  const std::string name = dir.File("big.evo");
  const int64_t base = 5'000'000'000;  // a sparse start: no disk space used
  {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, base), 0);
    ::close(fd);
  }
  const auto tail = Pattern(5000);
  {
    auto out = TVobFileStream::CreateAppend(p.Form, name, TVobFileStream::kModeWrite, kOrdinaryDisc);
    EXPECT_TRUE(out->Appended);
    EXPECT_EQ(out->BytesWritten, base);
    EXPECT_EQ(out->Write(tail.data(), 3000), 3000);
    EXPECT_EQ(out->BytesWritten, base + 3000);
    ASSERT_TRUE(out->Close());
  }
  {
    auto out = TVobFileStream::CreateAppend(p.Form, name, TVobFileStream::kModeWrite, kOrdinaryDisc);
    EXPECT_EQ(out->BytesWritten, base + 3000);
    EXPECT_EQ(out->Write(tail.data() + 3000, 2000), 2000);
    ASSERT_TRUE(out->Close());
  }
  EXPECT_EQ(SizeOf(name), base + 5000);

  TVobFileStream in(p.Form, name, TVobFileStream::kModeShareDenyNone, false);
  EXPECT_EQ(in.FileSize, base + 5000);
  EXPECT_EQ(in.GetSectorCount(), (base + 5000) / 2048);
  EXPECT_EQ(in.Skip(base - 10), base - 10);
  std::vector<uint8_t> got(5010);
  EXPECT_EQ(in.Read(got.data(), 5010), 5010);
  EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + 10), std::vector<uint8_t>(10, 0));
  EXPECT_EQ(std::vector<uint8_t>(got.begin() + 10, got.end()), tail);
  EXPECT_EQ(in.Position(), base + 5000);
  EXPECT_EQ(in.Status(), TVobFileStream::TStatus::Ok);
  EXPECT_EQ(in.Read(got.data(), 2048), 0);
  EXPECT_EQ(in.Status(), TVobFileStream::TStatus::EndOfFile);
  EXPECT_FALSE(in.ReadFailed);
}

TEST(VobFileStream, OpeningInputsAndOutputs) {
  TempDir dir;
  CoreProject p;
  try {
    TVobFileStream missing(p.Form, dir.File("none.evo"), 0, false);
    FAIL() << "a missing input must raise";
  } catch (const EVOBException& e) {
    EXPECT_STREQ(e.what(), "Error while opening file.");
  }
  EXPECT_THROW(TVobFileStream(p.Form, dir.Path(), 0, false), EVOBException);

  // Disc file systems ignore case; the input is found under any spelling.
  test::WriteFileBytes(dir.File("VTS_01_1.EVO"), Pattern(100));
  TVobFileStream in(p.Form, dir.File("vts_01_1.evo"), 0, false);
  EXPECT_EQ(in.FileSize, 100);

  // Writing starts a file afresh: nothing of a longer old file survives.
  test::WriteFileBytes(dir.File("out.bin"), Pattern(100));
  {
    TVobFileStream out(p.Form, dir.File("out.bin"), TVobFileStream::kModeWrite, true);
    EXPECT_EQ(out.BufferSize(), 1048576);
    out.Write("0123456789", 10);
    EXPECT_TRUE(out.Close());
  }
  EXPECT_EQ(SizeOf(dir.File("out.bin")), 10);

  // Append buffers follow the memory-management option.
  EXPECT_EQ(TVobFileStream::CreateAppend(p.Form, dir.File("a.bin"), 1, kOrdinaryDisc)->BufferSize(), 262144);
  OutputSettings complex;
  complex.Memory = MemoryMode::ComplexDisc;
  auto fresh = TVobFileStream::CreateAppend(p.Form, dir.File("b.bin"), 1, complex);
  EXPECT_EQ(fresh->BufferSize(), 32768);
  EXPECT_FALSE(fresh->Appended);
  EXPECT_EQ(fresh->BytesWritten, 0);
}

TEST(VobFileStream, SectorCountKeepsThePosition) {
  TempDir dir;
  CoreProject p;
  const auto bytes = Pattern(4097);
  test::WriteFileBytes(dir.File("f.evo"), bytes);
  for (bool buffered : {false, true}) {
    TVobFileStream in(p.Form, dir.File("f.evo"), 0, buffered);
    uint8_t b[100];
    ASSERT_EQ(in.Read(b, 100), 100);
    EXPECT_EQ(in.GetSectorCount(), 2);
    ASSERT_EQ(in.Read(b, 1), 1);
    EXPECT_EQ(b[0], bytes[100]) << "buffered " << buffered;
  }
}

// ---- writing ----

TEST(VobFileStream, BufferedWriteFlushesOnlyWhenTheRoomIsShort) {
  TempDir dir;
  CoreProject p;
  OutputSettings complex;
  complex.Memory = MemoryMode::ComplexDisc;  // 32 KB
  const std::string name = dir.File("t001_e0.m2v");
  const auto data = Pattern(32768 + 1 + 100000);
  auto out = TVobFileStream::CreateAppend(p.Form, name, 1, complex);
  ASSERT_EQ(out->BufferSize(), 32768);

  EXPECT_EQ(out->Write(data.data(), 32768), 32768);  // exactly the free room
  EXPECT_EQ(out->BufferPos(), 32768);
  EXPECT_EQ(SizeOf(name), 0);

  EXPECT_EQ(out->Write(data.data() + 32768, 1), 1);  // one byte more: flush first
  EXPECT_EQ(SizeOf(name), 32768);
  EXPECT_EQ(out->BufferPos(), 1);

  // Larger than the buffer: written whole, after the waiting byte.
  EXPECT_EQ(out->Write(data.data() + 32769, 100000), 100000);
  EXPECT_EQ(out->BufferPos(), 0);
  EXPECT_EQ(SizeOf(name), 32769 + 100000);
  EXPECT_EQ(out->BytesWritten, 132769);
  EXPECT_TRUE(out->Close());
  EXPECT_EQ(test::ReadFileBytes(name), data);

  // Unbuffered: straight to the file.
  TVobFileStream direct(p.Form, dir.File("d.bin"), 1, false);
  EXPECT_EQ(direct.Write(data.data(), 10), 10);
  EXPECT_EQ(SizeOf(dir.File("d.bin")), 10);
}

TEST(VobFileStream, FailedWritesAreReportedOnceAndNotCounted) {
  CoreProject p;
  TempDir dir;
  // An output that cannot be created.
  TVobFileStream lost(p.Form, dir.File("missing/x.ac3"), 1, true);
  EXPECT_FALSE(lost.IsOpen());
  EXPECT_EQ(lost.Write("abc", 3), 0);
  EXPECT_EQ(lost.Write("abc", 3), 0);
  EXPECT_EQ(lost.BytesWritten, 0);
  EXPECT_FALSE(lost.Close());

  // A disk that takes nothing more: the bytes waiting in the buffer come off again.
  const std::string fullName = dir.File("full.ac3");
  test::WriteFileBytes(fullName, Pattern(4096));
  {
    test::FileSizeLimit limit(4096);
    auto full = TVobFileStream::CreateAppend(p.Form, fullName, 1, kOrdinaryDisc);
    ASSERT_TRUE(full->IsOpen());
    EXPECT_EQ(full->Write("0123456789", 10), 10);
    EXPECT_EQ(full->BytesWritten, 4106);
    EXPECT_FALSE(full->Close());
    EXPECT_EQ(full->BytesWritten, 4096);
    EXPECT_TRUE(full->WriteFailed());

    // Unbuffered, part of a write fits: only that part counts.
    TVobFileStream direct(p.Form, dir.File("direct.ac3"), 1, false);
    EXPECT_EQ(direct.Write(Pattern(4000).data(), 4000), 4000);
    EXPECT_EQ(direct.Write(Pattern(200).data(), 200), 96);
    EXPECT_EQ(direct.Write("0123456789", 10), 0);
    EXPECT_EQ(direct.BytesWritten, 4096);
  }
  EXPECT_EQ(SizeOf(fullName), 4096);

  int created = 0, failed = 0;
  for (const auto& t : p.LogTexts()) {
    created += t.find("Can not create file " + dir.File("missing/x.ac3")) != std::string::npos;
    failed += t.find("Write error in file " + fullName) != std::string::npos;
    failed += t.find("Write error in file " + dir.File("direct.ac3")) != std::string::npos;
  }
  EXPECT_EQ(created, 1);
  // The first failed write stops the run; the later one says nothing new.
  EXPECT_EQ(failed, 1);
  EXPECT_TRUE(p.Form.WriteStopped && p.LogContains("The run stops: it could not write to " + fullName));
}

// ---- reading ----

TEST(VobFileStream, DiskReadErrorRetriedOrDeclined) {
  TempDir dir;
  CoreProject p;
  ScriptedPrompt prompt;
  p.Form.Prompt = &prompt;
  const auto bytes = Pattern(8192);
  test::WriteFileBytes(dir.File("VTS_01_1.EVO"), bytes);

  {
    TVobFileStream in(p.Form, dir.File("VTS_01_1.EVO"), 0, false);
    in.ReadFunction = &FaultyRead;
    g_medium = {};
    g_medium.BadOffset = 1000;
    // The medium reads on the second try.
    prompt.OnAsk = [] { g_medium.BadOffset = -1; };
    prompt.Answers = {PromptAnswer::Retry};
    std::vector<uint8_t> got(2048);
    EXPECT_EQ(in.Read(got.data(), 2048), 2048);
    EXPECT_EQ(got, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 2048));
    EXPECT_FALSE(in.Eof);
    EXPECT_FALSE(in.ReadFailed);
    ASSERT_EQ(prompt.Asked.size(), 1u);
    EXPECT_EQ(prompt.Asked[0], "Error!|Disk read error.Try one more ?");
    EXPECT_TRUE(p.LogContains("Disk read error. File: VTS_01_1.EVO"));
  }
  {
    TVobFileStream in(p.Form, dir.File("VTS_01_1.EVO"), 0, false);
    in.ReadFunction = &FaultyRead;
    g_medium = {};
    g_medium.BadOffset = 1000;
    prompt.OnAsk = nullptr;
    prompt.Asked.clear();
    prompt.Answers = {PromptAnswer::Cancel};
    std::vector<uint8_t> got(2048);
    EXPECT_EQ(in.Read(got.data(), 2048), 0);
    EXPECT_TRUE(in.Eof);
    EXPECT_TRUE(in.ReadFailed);
    EXPECT_EQ(in.Status(), TVobFileStream::TStatus::ReadError);
    EXPECT_EQ(prompt.Asked.size(), 1u);
    EXPECT_EQ(p.Form.Skipped, std::vector<std::string>{"Read error in file " + dir.File("VTS_01_1.EVO")});
  }
  // Without anyone to ask, the read fails the same way.
  {
    p.Form.Prompt = nullptr;
    TVobFileStream in(p.Form, dir.File("VTS_01_1.EVO"), 0, false);
    in.ReadFunction = &FaultyRead;
    g_medium = {};
    g_medium.BadOffset = 0;
    uint8_t b[16];
    EXPECT_EQ(in.Read(b, 16), 0);
    EXPECT_EQ(in.Status(), TVobFileStream::TStatus::ReadError);
  }
}

TEST(VobFileStream, ReadAheadFaultSurfacesAtThePackThatHoldsIt) {
  TempDir dir;
  CoreProject p;
  ScriptedPrompt prompt;
  p.Form.Prompt = &prompt;
  const auto bytes = Pattern(3 * 1048576);
  test::WriteFileBytes(dir.File("f.evo"), bytes);
  TVobFileStream in(p.Form, dir.File("f.evo"), 0, false);
  in.ReadFunction = &FaultyRead;
  g_medium = {};
  g_medium.BadOffset = 600000;  // inside pack 292 (598016 .. 600063)
  std::vector<uint8_t> pack(2048);
  int64_t packs = 0;
  while (in.Read(pack.data(), 2048) == 2048) {
    ASSERT_TRUE(std::equal(pack.begin(), pack.end(), bytes.begin() + packs * 2048));
    ++packs;
  }
  EXPECT_EQ(packs, 292);
  EXPECT_EQ(prompt.Asked.size(), 1u);
  EXPECT_EQ(in.Status(), TVobFileStream::TStatus::ReadError);

  // Past the fault the stream reads on.
  in.Skip(4096);
  EXPECT_EQ(in.Position(), 600064 + 2048);
  EXPECT_EQ(in.Read(pack.data(), 2048), 2048);
  EXPECT_TRUE(std::equal(pack.begin(), pack.end(), bytes.begin() + 600064 + 2048));
}

TEST(VobFileStream, UnbufferedReadsSkipsAndStepsBackAgreeWithTheFile) {
  TempDir dir;
  CoreProject p;
  const size_t size = 3 * 1048576 + 123;
  const auto bytes = Pattern(size, 7);
  test::WriteFileBytes(dir.File("f.evo"), bytes);
  TVobFileStream in(p.Form, dir.File("f.evo"), 0, false);
  in.ReadFunction = &FaultyRead;
  g_medium = {};

  size_t pos = 0;
  std::vector<uint8_t> buf(2048);
  int step = 0;
  while (pos + 2048 <= size) {
    ASSERT_EQ(in.Read(buf.data(), 2048), 2048);
    ASSERT_TRUE(std::equal(buf.begin(), buf.end(), bytes.begin() + pos)) << pos;
    pos += 2048;
    if (++step % 7 == 0) {
      in.StepBack();
      ASSERT_EQ(in.Read(buf.data(), 1), 1);
      ASSERT_EQ(buf[0], bytes[pos - 1]);
    }
    if (step % 11 == 0) pos += in.Skip(333);
  }
  // The packs cost a copy each, not a read each.
  EXPECT_LT(g_medium.Calls, 10);
  const int64_t rest = static_cast<int64_t>(size - pos);
  EXPECT_EQ(in.Read(buf.data(), 2048), rest);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + rest, bytes.begin() + pos));
  EXPECT_EQ(in.Status(), TVobFileStream::TStatus::EndOfFile);
  // Unbuffered skips move the position as asked, even past the end.
  EXPECT_EQ(in.Skip(5000), 5000);
  // A window read's length is read directly.
  TVobFileStream big(p.Form, dir.File("f.evo"), 0, false);
  std::vector<uint8_t> all(size);
  EXPECT_EQ(big.Read(all.data(), static_cast<int64_t>(size)), static_cast<int64_t>(size));
  EXPECT_EQ(all, bytes);
}

TEST(VobFileStream, BufferedReadsCrossBufferBoundaries) {
  TempDir dir;
  CoreProject p;
  const size_t size = 2 * 1048576 + 1048576 / 2;
  const auto bytes = Pattern(size, 3);
  test::WriteFileBytes(dir.File("cache.vnf"), bytes);
  TVobFileStream in(p.Form, dir.File("cache.vnf"), 0, true);
  EXPECT_FALSE(in.Eof);
  std::vector<uint8_t> buf(1300000);

  ASSERT_EQ(in.Read(buf.data(), 3000), 3000);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 3000, bytes.begin()));
  // A read larger than the buffer.
  ASSERT_EQ(in.Read(buf.data(), 1300000), 1300000);
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), bytes.begin() + 3000));
  // A skip across more than one buffer.
  size_t pos = 1303000;
  ASSERT_EQ(in.Skip(1100000), 1100000);
  pos += 1100000;
  ASSERT_EQ(in.Read(buf.data(), 10), 10);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 10, bytes.begin() + pos));
  pos += 10;
  in.StepBack();
  ASSERT_EQ(in.Read(buf.data(), 1), 1);
  EXPECT_EQ(buf[0], bytes[pos - 1]);
  EXPECT_EQ(in.Position(), static_cast<int64_t>(pos));

  // Up to the end: fewer bytes, Eof, and a skip reports what was left.
  const int64_t left = static_cast<int64_t>(size - pos);
  EXPECT_EQ(in.Skip(left + 500), left);
  EXPECT_EQ(in.Status(), TVobFileStream::TStatus::EndOfFile);
  EXPECT_EQ(in.Read(buf.data(), 10), 0);

  // Stepping back across the start of a freshly filled buffer.
  TVobFileStream again(p.Form, dir.File("cache.vnf"), 0, true);
  ASSERT_EQ(again.Skip(1048576), 1048576);
  ASSERT_EQ(again.Read(buf.data(), 1), 1);  // fills the second buffer
  again.StepBack();
  again.StepBack();
  ASSERT_EQ(again.Read(buf.data(), 2), 2);
  EXPECT_EQ(buf[0], bytes[1048575]);
  EXPECT_EQ(buf[1], bytes[1048576]);

  // A small file: one short fill at open.
  test::WriteFileBytes(dir.File("s.vnf"), Pattern(443));
  TVobFileStream small(p.Form, dir.File("s.vnf"), 0, true);
  EXPECT_TRUE(small.Eof);
  EXPECT_EQ(small.BufferSize(), 443);
  EXPECT_EQ(small.Read(buf.data(), 500), 443);
}

// ---- the output stream table ----

TEST(VobStreams, KeysAndLookups) {
  TVobStreams t;
  t.Add(0xE0, 0, 0);
  TVobStream* a = t.AddAudio(0xBD, 0x80, 3);
  TVobStream* b = t.AddAudio(0xBD, 0x80, 4);
  t.AddAudio(0xBD, 0x81, 9);
  EXPECT_TRUE(a->IsNew);
  EXPECT_EQ(a->Kind, 0u);
  EXPECT_EQ(a->CutKey, 3u);

  EXPECT_EQ(t.Find(3, 0xBD, 0x80), a);
  EXPECT_EQ(t.Find(4, 0xBD, 0x80), b);
  EXPECT_EQ(t.Find(7, 0xBD, 0x80), b);  // unknown cut key: the later record
  EXPECT_EQ(t.Find(7, 0xBD, 0x82), nullptr);

  EXPECT_TRUE(t.Exists(0xE0, 0, 0));
  EXPECT_FALSE(t.Exists(0xE0, 0, 1));
  EXPECT_EQ(t.FindByIdSubKind(0xBD, 0x80, 0), a);  // AddAudio leaves Kind 0
  EXPECT_EQ(t.FindByIdSubKind(0xBD, 0x83, 0), nullptr);

  for (auto& r : t.Streams) r.IsNew = false;
  EXPECT_EQ(t.MarkAllNew(), 4);
  for (auto& r : t.Streams) EXPECT_TRUE(r.IsNew);
  // Records keep their addresses while others are added.
  for (int i = 0; i < 200; ++i) t.Add(0xC0, 0, static_cast<uint8_t>(i));
  EXPECT_EQ(t.Find(3, 0xBD, 0x80), a);
  t.Files.push_back({"x", 1, 2, 3});
  EXPECT_EQ(t.CloseAll(), 0);
  EXPECT_TRUE(t.Streams.empty());
  EXPECT_TRUE(t.Files.empty());
  EXPECT_EQ(TVobStreams().MarkAllNew(), 0);
}

// Opens an output of the table as the writers do.
TVobStream* OpenOutput(CoreProject& p, TVobStreams& t, const std::string& name, uint8_t sub, bool pcm) {
  TVobStream* r = t.Add(0xBD, sub, 0);
  r->FileName = name;
  r->Stream = TVobFileStream::CreateAppend(p.Form, name, 1, kOrdinaryDisc);
  r->Stream->FinishSup = !pcm;
  r->Stream->FinishPcm = pcm;
  r->Stream->LpcmBitsPerSample = 24;
  r->Stream->LpcmChannels = 2;
  r->Stream->LpcmSampleRate = 48000;
  r->Stream->Write("payload!", 8);
  return r;
}

TEST(VobStreams, ClosePcmOutputsOnlyAfterLaterFilesOfAChain) {
  TempDir dir;
  CoreProject p;
  TVobStreams t;
  TVobStream* pcm = OpenOutput(p, t, dir.File("t001_a0.pcm"), 0xA0, true);
  TVobStream* sup = OpenOutput(p, t, dir.File("t001_20.sup"), 0x20, false);

  t.ClosePcmOutputs("VTS_01_1.EVO");
  t.ClosePcmOutputs("VTS_01_0.EVO");
  t.ClosePcmOutputs("");
  EXPECT_NE(pcm->Stream, nullptr);

  t.ClosePcmOutputs("VTS_01_2.EVO");
  EXPECT_EQ(pcm->Stream, nullptr);
  EXPECT_NE(sup->Stream, nullptr);
  EXPECT_EQ(t.Streams.size(), 2u);
  EXPECT_EQ(SizeOf(dir.File("t001_a0.pcm")), 8);  // flushed and closed
  EXPECT_EQ(t.PendingCount(), 1u);                 // kept for the chain's end

  // The chain's end closes the rest; all of them are handed over to be finished.
  EXPECT_EQ(t.CloseAll(), 1);
  const auto pending = t.TakePending();
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_EQ(pending[0]->FileName, dir.File("t001_a0.pcm"));
  EXPECT_EQ(pending[1]->FileName, dir.File("t001_20.sup"));
  EXPECT_EQ(t.PendingCount(), 0u);
}

TEST(VobStreams, ChainOutputsArePendingOnceEach) {
  TempDir dir;
  CoreProject p;
  TVobStreams t;
  // File 1 of the chain.
  OpenOutput(p, t, dir.File("t001_a0.pcm"), 0xA0, true);
  OpenOutput(p, t, dir.File("t001_20.sup"), 0x20, false);
  EXPECT_EQ(t.CloseAll(), 2);
  EXPECT_EQ(t.PendingCount(), 2u);
  // File 2 appends to the same outputs; a writer moves one of them on to
  // another output, and a stream is new in this file.
  TVobStream* r = OpenOutput(p, t, dir.File("t001_a0.pcm"), 0xA0, true);
  OpenOutput(p, t, dir.File("t001_21.sup"), 0x21, false);
  EXPECT_TRUE(t.CloseStream(*r));
  EXPECT_EQ(r->Stream, nullptr);
  EXPECT_TRUE(t.CloseStream(*r));  // nothing open: nothing to do
  EXPECT_EQ(t.CloseAll(), 1);
  const auto pending = t.TakePending();
  ASSERT_EQ(pending.size(), 3u);  // each file once, with both files' data
  EXPECT_EQ(pending[0]->FileName, dir.File("t001_a0.pcm"));
  EXPECT_EQ(SizeOf(dir.File("t001_a0.pcm")), 16);
  EXPECT_EQ(pending[2]->FileName, dir.File("t001_21.sup"));
}

}  // namespace
}  // namespace tess::core
