#include "core/bit_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <random>

#include "core/run_context.h"
#include "core/start_code_map.h"
#include "core/vob_file_stream.h"
#include "support/test_support.h"

namespace tess::core {
namespace {

using Bytes = std::vector<uint8_t>;

// The plainest possible reader: one bit at a time from a bit index. Bits past
// the end read as 0 and the position stops at the end.
struct ReferenceReader {
  const Bytes& Data;
  int64_t Pos = 0;  // in bits

  int64_t Total() const { return static_cast<int64_t>(Data.size()) * 8; }
  uint32_t BitAt(int64_t i) const { return i < Total() ? (Data[i / 8] >> (7 - i % 8)) & 1u : 0u; }
  uint32_t Read(int n) {
    uint32_t v = 0;
    for (int k = 0; k < n; ++k) v = (v << 1) | BitAt(Pos + k);
    Pos = std::min(Pos + std::max(n, 0), Total());
    return v;
  }
  // 0 when the bits run past the end.
  uint32_t Peek(int n) const {
    if (n <= 0 || Pos + n > Total()) return 0;
    uint32_t v = 0;
    for (int k = 0; k < n; ++k) v = (v << 1) | BitAt(Pos + k);
    return v;
  }
  // From the next byte boundary, the first end e (Bits, Bits + 8, ... bits on)
  // behind which the last Bits bits equal Value.
  bool Find(uint32_t value, int bits) {
    const int64_t start = (Pos + 7) / 8 * 8;
    for (int64_t e = start + bits; e <= Total(); e += 8) {
      uint32_t v = 0;
      for (int64_t i = e - bits; i < e; ++i) v = (v << 1) | BitAt(i);
      if (v == value) {
        Pos = e;
        return true;
      }
    }
    Pos = Total();
    return false;
  }
};

Bytes RandomBytes(std::mt19937& rng, size_t n, int zeroPercent) {
  std::uniform_int_distribution<int> byte(0, 255), pct(0, 99);
  Bytes b(n);
  for (auto& x : b) x = pct(rng) < zeroPercent ? 0 : static_cast<uint8_t>(byte(rng));
  return b;
}

// Where two byte strings first differ, for failure messages.
std::string FirstDifference(const Bytes& a, const Bytes& b) {
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return "sizes " + std::to_string(a.size()) + "/" + std::to_string(b.size()) + ", first difference at " +
         std::to_string(i);
}

int OpenOutput(const std::string& path) { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644); }

// ---------------------------------------------------------------- memory reader

TEST(BitStreamMemory, MatchesReferenceReader) {
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> width(0, 40), kind(0, 3);
  for (size_t size : {0, 1, 2, 5, 11, 64, 300}) {
    for (int trial = 0; trial < 20; ++trial) {
      const Bytes data = RandomBytes(rng, size, 20);
      TBitStream s(data.data(), static_cast<int32_t>(data.size()));
      ReferenceReader ref{data};
      for (int op = 0; op < 200; ++op) {
        if (kind(rng) == 0) {
          ASSERT_EQ(s.ReadBit(), ref.Read(1));
        } else {
          const int n = width(rng);
          ASSERT_EQ(s.ReadBits(n), ref.Read(n)) << "size " << size << " n " << n;
        }
        ASSERT_EQ(s.ByteIndex, ref.Pos / 8);
        ASSERT_EQ(s.BitsLeft, 8 - ref.Pos % 8);
      }
    }
  }
}

TEST(BitStreamMemory, LastBytesReadAsTheyAre) {
  const uint8_t block[3] = {0xAB, 0xCD, 0xEF};
  TBitStream s(block, 3);
  EXPECT_EQ(s.ReadBits(16), 0xABCDu);
  EXPECT_EQ(s.ReadBits(8), 0xEFu);  // the block's last byte, not 0
  EXPECT_EQ(s.ByteIndex, 3);
  EXPECT_EQ(s.ReadBits(8), 0u);  // past the end, and no wrap to the start
  EXPECT_EQ(s.ByteIndex, 3);
  TBitStream t(block, 1);
  EXPECT_EQ(t.ReadBits(7), 0x55u);
  EXPECT_EQ(t.ReadBit(), 1u);  // the last bit of the block
  EXPECT_EQ(t.ReadBit(), 0u);
  t.Release();
  EXPECT_EQ(t.ReadBits(8), 0u);
}

// ---------------------------------------------------------------- file reader

class FileBitStreamTest : public ::testing::Test {
 protected:
  test::TempDir Dir;
  std::string Write(const std::string& name, const Bytes& data) {
    const std::string path = Dir.File(name);
    test::WriteFileBytes(path, data);
    return path;
  }
};

TEST_F(FileBitStreamTest, MatchesReferenceReaderAcrossBufferSizes) {
  std::mt19937 rng(2);
  std::uniform_int_distribution<int> width(0, 40), peekWidth(0, 32), kind(0, 10), ahead(-8, 300);
  const std::pair<uint32_t, int> syncs[] = {{1, 24}, {0xB3, 8}, {0x1B3, 16}, {0xABC, 12}, {0, 0}};
  std::uniform_int_distribution<int> pickSync(0, 4);
  for (size_t size : {1, 2, 3, 4, 5, 16, 17, 100, 1000, 4099}) {
    for (int32_t bufferSize : {1, 2, 3, 4, 5, 7, 16, 64, 1000, 524280}) {
      for (int trial = 0; trial < 3; ++trial) {
        const Bytes data = RandomBytes(rng, size, 60);
        const std::string path = Write("r.bin", data);
        TFileBitStream s(path, bufferSize);
        ReferenceReader ref{data};
        for (int op = 0; op < 300; ++op) {
          const int k = kind(rng);
          if (k == 0) {
            ASSERT_EQ(s.ReadBit(), ref.Read(1));
          } else if (k <= 3) {
            const int n = peekWidth(rng);
            ASSERT_EQ(s.PeekBits(n), ref.Peek(n)) << size << "/" << bufferSize << " peek " << n << " at " << ref.Pos;
          } else if (k == 4) {
            const auto [value, bits] = syncs[pickSync(rng)];
            ASSERT_EQ(s.FindSyncWord(value, bits), ref.Find(value, bits)) << size << "/" << bufferSize;
          } else if (k == 10) {
            // Onward to a byte (one behind stays put), passing bytes unread.
            const int64_t target = ref.Pos / 8 + ahead(rng);
            s.SkipTo(target);
            ref.Pos = std::max((ref.Pos + 7) / 8 * 8, std::min(target * 8, ref.Total()));
          } else {
            const int n = k <= 6 ? 8 * (width(rng) / 8) : width(rng);
            ASSERT_EQ(s.ReadBits(n), ref.Read(n)) << size << "/" << bufferSize << " n " << n;
          }
          ASSERT_EQ(s.BytePosition(), ref.Pos / 8);
          ASSERT_EQ(s.Eof, ref.Pos == ref.Total());
          if (!s.Eof) {
            ASSERT_EQ(s.BitsLeft, 8 - ref.Pos % 8);
          }
        }
      }
    }
  }
}

// Data made mostly of 00 and 01 bytes puts prefixes, near misses (00 01,
// 00 00 00 01) and buffer-edge straddles everywhere.
TEST_F(FileBitStreamTest, StartCodeSearchesFindEveryPrefixOnce) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> pick(0, 9);
  Bytes data(3000);
  for (auto& b : data) b = static_cast<uint8_t>(pick(rng) < 5 ? 0 : pick(rng) < 7 ? 1 : 0xB3);
  std::vector<int64_t> ends;  // byte positions just behind each prefix
  for (size_t i = 0; i + 2 < data.size(); ++i)
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) ends.push_back(static_cast<int64_t>(i) + 3);
  const uint8_t prefix[] = {0, 0, 1};
  for (size_t from = 0; from < 40; ++from)
    for (size_t to = from; to <= data.size(); to += 1 + to % 7) {
      const uint8_t *b = data.data() + from, *e = data.data() + to, *want = std::search(b, e, prefix, prefix + 3);
      ASSERT_EQ(FindStartCodePrefix(b, e), want) << from << ".." << to;
      ASSERT_EQ(FindStartCodePrefixBy16(b, e), want) << from << ".." << to;
      ASSERT_EQ(FindStartCodePrefixByWords(b, e), want) << from << ".." << to;
    }
  const std::string path = Write("codes.bin", data);
  for (int32_t bufferSize : {1, 2, 3, 5, 17, 64, 1000, 524280}) {
    TFileBitStream s(path, bufferSize);
    std::vector<int64_t> found;
    while (s.FindSyncWord(1, 24)) found.push_back(s.BytePosition());
    ASSERT_EQ(found, ends) << bufferSize;
  }
}

// A map fed a file in pieces of any size notes the prefixes a search finds but
// slices'; one whose value byte never came counts. It serves only the file as
// sealed: appended to by its writer it goes on, changed otherwise it is not taken.
TEST_F(FileBitStreamTest, StartCodeMapsNoteWhatTheSearchFinds) {
  std::mt19937 rng(4);
  std::uniform_int_distribution<int> pick(0, 9), piece(1, 40);
  for (int trial = 0; trial < 20; ++trial) {
    Bytes data(2000 + trial);
    for (auto& b : data) b = static_cast<uint8_t>(pick(rng) < 5 ? 0 : pick(rng) < 4 ? 1 : pick(rng) < 5 ? 0x05 : 0xB3);
    if (trial % 2) data.insert(data.end(), {0, 0, 1});  // a prefix with no value after it
    std::vector<int64_t> noted;
    for (size_t i = 0; i + 2 < data.size(); ++i)
      if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (i + 3 == data.size() || data[i + 3] == 0 || data[i + 3] > 0xAF))
        noted.push_back(static_cast<int64_t>(i));

    test::CoreProject p;
    const std::string path = Dir.File("v.m2v");
    std::remove(path.c_str());
    size_t at = 0;
    for (int open = 0; open < 2; ++open) {  // the second open appends, as the next file of a chain does
      // Small buffers (and writes larger than them) feed the map in small pieces.
      auto out = TVobFileStream::CreateAppend(p.Form, path, TVobFileStream::kModeWrite, OutputSettings{},
                                              trial % 3 ? piece(rng) : 1);
      out->StartCodes = p.Form.StartCodeMaps.ForOutput(out->Handle(), out->BytesWritten, 0x01, 0xAF);
      ASSERT_NE(out->StartCodes, nullptr);
      for (const size_t stop = open ? data.size() : data.size() / 2; at < stop;) {
        const size_t n = std::min<size_t>(trial % 3 ? piece(rng) : 1, stop - at);
        out->Write(data.data() + at, static_cast<int64_t>(n));
        at += n;
      }
      ASSERT_TRUE(out->Close());
    }
    const int fd = ::open(path.c_str(), O_RDONLY);
    const TStartCodeMap* map = p.Form.StartCodeMaps.Find(fd);
    ASSERT_NE(map, nullptr);
    TStartCodeMap::TCursor cursor;
    for (int64_t pos = 0; pos <= static_cast<int64_t>(data.size()); pos += 1 + pos % 5) {
      const auto next = std::lower_bound(noted.begin(), noted.end(), pos);
      ASSERT_EQ(cursor.NextAtOrAfter(*map, pos), next == noted.end() ? -1 : *next) << trial << " at " << pos;
    }
    ASSERT_EQ(cursor.NextAtOrAfter(*map, 0), noted.empty() ? -1 : noted[0]);  // asked again from the start

    // A byte the writer did not write: the map no longer describes the file,
    // and an output opened on it starts none.
    const int w = ::open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_EQ(::write(w, "x", 1), 1);
    ::close(w);
    EXPECT_EQ(p.Form.StartCodeMaps.Find(fd), nullptr);
    auto again = TVobFileStream::CreateAppend(p.Form, path, TVobFileStream::kModeWrite, OutputSettings{});
    EXPECT_EQ(p.Form.StartCodeMaps.ForOutput(again->Handle(), again->BytesWritten, 0x01, 0xAF), nullptr);
    again->Close();
    ::close(fd);
  }
}

TEST_F(FileBitStreamTest, PeekAcrossAFullBufferLeavesEverythingInPlace) {
  Bytes data(40);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i + 1);
  const std::string path = Write("p.bin", data);
  TFileBitStream s(path, 16);
  s.ReadBits(13 * 8);  // three bytes before the end of the first buffer
  const off_t fileAt = ::lseek(s.Handle, 0, SEEK_CUR);
  EXPECT_EQ(s.PeekBits(32), 0x0E0F1011u);
  EXPECT_EQ(s.Peek(32), 0x0E0F1011u);
  EXPECT_EQ(::lseek(s.Handle, 0, SEEK_CUR), fileAt);
  EXPECT_EQ(s.ByteIndex, 13);
  EXPECT_EQ(s.FillCount, 1);
  s.ReadBits(4);
  EXPECT_EQ(s.PeekBits(32), 0xE0F10111u);  // five bytes wanted, four of them ahead
  EXPECT_EQ(s.ReadBits(32), 0xE0F10111u);
  EXPECT_EQ(s.FillCount, 2);
}

TEST_F(FileBitStreamTest, FileOfExactlyOneBuffer) {
  Bytes data(16, 0x5A);
  const std::string path = Write("one.bin", data);
  TFileBitStream s(path, 16);
  EXPECT_EQ(s.FileSize(), 16);
  for (int i = 0; i < 15; ++i) s.ReadBits(8);
  EXPECT_FALSE(s.Eof);
  EXPECT_EQ(s.ReadBits(8), 0x5Au);
  EXPECT_TRUE(s.Eof);  // the second fill read nothing
  EXPECT_EQ(s.FillCount, 2);
  EXPECT_EQ(s.BufferFill, 0);
  EXPECT_EQ(s.BytePosition(), 16);
  EXPECT_EQ(s.ReadBit(), 0u);
  EXPECT_EQ(s.PeekBits(8), 0u);
  EXPECT_FALSE(s.FindSyncWord(1, 24));
}

TEST_F(FileBitStreamTest, OpenFailuresAreReportedAndRaised) {
  test::CoreProject p;
  const std::string missing = Dir.File("missing.m2v");
  try {
    TFileBitStream s(missing, 64, &p.Form);
    FAIL() << "no exception";
  } catch (const EParserFileException& e) {
    EXPECT_STREQ(e.what(), "File error!");
  }
  EXPECT_TRUE(p.LogContains("Unable to open file " + missing + " for reading."));
  const std::string empty = Write("empty.m2v", {});
  EXPECT_THROW(TFileBitStream(empty, 64, &p.Form), EParserFileException);
  EXPECT_TRUE(p.LogContains("Unable to read from file " + empty + "."));
  EXPECT_THROW(TFileBitStream::CreateReadWrite(missing, 64), EParserFileException);  // no project: raise only
}

TEST_F(FileBitStreamTest, FindsNamesWithoutCase) {
  const std::string path = Write("VTS_01.M2V", {0x00, 0x00, 0x01, 0xB3});
  TFileBitStream s(Dir.File("vts_01.m2v"), 64);
  EXPECT_TRUE(s.FindSyncWord(1, 24));
  EXPECT_EQ(s.ReadBits(8), 0xB3u);
}

TEST_F(FileBitStreamTest, LastWriteTime) {
  const std::string path = Write("t.bin", {1, 2, 3});
  const timespec times[2] = {{1000000000, 500}, {1000000000, 500}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  TFileBitStream s(path, 8);
  uint64_t t = 0;
  s.GetLastWriteTime(t);
  EXPECT_EQ(t, (1000000000ull + 11644473600ull) * 10000000ull + 5);
  EXPECT_EQ(s.GetLastWriteTime(), t);
}

// ---------------------------------------------------------------- copy mode

// The copy as it should come out: insertions at their places, removed ranges
// left out, an edit inside a removed range going with it.
struct ModelEdit {
  int64_t Pos;
  Bytes Insert;
  int64_t Remove = 0;
};

Bytes ApplyModel(const Bytes& in, std::vector<ModelEdit> edits) {
  std::stable_sort(edits.begin(), edits.end(), [](const ModelEdit& a, const ModelEdit& b) {
    return a.Pos != b.Pos ? a.Pos < b.Pos : (!a.Insert.empty() && b.Insert.empty());
  });
  Bytes out;
  int64_t cur = 0;
  const int64_t size = static_cast<int64_t>(in.size());
  for (const auto& e : edits) {
    if (e.Pos < cur) {
      if (e.Insert.empty()) cur = std::min(std::max(cur, e.Pos + e.Remove), size);
      continue;
    }
    out.insert(out.end(), in.begin() + cur, in.begin() + e.Pos);
    cur = e.Pos;
    if (!e.Insert.empty())
      out.insert(out.end(), e.Insert.begin(), e.Insert.end());
    else
      cur = std::min(e.Pos + e.Remove, size);
  }
  out.insert(out.end(), in.begin() + cur, in.end());
  return out;
}

enum class MarkKind { DisplayExt, Colour, Skip };
struct Mark {
  int64_t At;  // byte position at which the mark is made
  MarkKind Kind;
  int32_t Offset;
  int32_t Length = 0;
};

struct CopySetup {
  bool Insert = false;
  bool Remove = false;
  uint8_t ExtLength = 12;
  uint8_t Ext[12] = {0xB5, 0x23, 0xC1, 0xC2, 0xC3, 0xD1, 0xD2, 0xD3, 0xD4, 0x00, 0x00, 0x01};
};

// Reads the whole file in copy mode, in reads of one to four bytes, making each
// mark when the reader stands at its byte.
Bytes RunCopy(test::TempDir& dir, const Bytes& in, int32_t bufferSize, const CopySetup& setup,
              std::vector<Mark> marks, std::mt19937& rng, int64_t stopAt = -1) {
  const std::string src = dir.File("in.bin"), dst = dir.File("out.bin");
  test::WriteFileBytes(src, in);
  const int out = OpenOutput(dst);
  {
    TFileBitStream s(src, bufferSize);
    s.CopyToOutput = true;
    s.OutputHandle = out;
    s.InsertDisplayExt = setup.Insert;
    s.RemoveDisplayExt = setup.Remove;
    s.PreparedExtLength = setup.ExtLength;
    std::copy(std::begin(setup.Ext), std::end(setup.Ext), s.PreparedExt);
    std::stable_sort(marks.begin(), marks.end(), [](const Mark& a, const Mark& b) { return a.At < b.At; });
    size_t next = 0;
    std::uniform_int_distribution<int> chunk(1, 4);
    const int64_t end = stopAt >= 0 ? stopAt : static_cast<int64_t>(in.size());
    for (;;) {
      const int64_t at = s.BytePosition();
      for (; next < marks.size() && marks[next].At == at; ++next) {
        const Mark& m = marks[next];
        if (m.Kind == MarkKind::DisplayExt) s.MarkDisplayExtEdit(m.Offset);
        if (m.Kind == MarkKind::Colour) s.MarkColourEdit(m.Offset);
        if (m.Kind == MarkKind::Skip) s.MarkSkipRange(m.Offset, m.Length);
      }
      if (at >= end) break;
      int64_t n = chunk(rng);
      if (next < marks.size()) n = std::min(n, marks[next].At - at);
      n = std::min(n, end - at);
      s.ReadBits(static_cast<int>(n * 8));
    }
    EXPECT_TRUE(s.Close());
    EXPECT_EQ(s.MisplacedEdits(), 0);
  }
  ::close(out);
  return test::ReadFileBytes(dst);
}

TEST_F(FileBitStreamTest, PlainCopyKeepsEveryByteOnce) {
  std::mt19937 rng(4);
  for (int32_t bufferSize : {1, 7, 16, 64}) {
    for (size_t size : {16, 64, 65, 127, 5000, 9000}) {
      const Bytes in = RandomBytes(rng, size, 10);
      // 64 and 16 are multiples of several buffer sizes: the last buffer is not copied twice.
      EXPECT_EQ(RunCopy(Dir, in, bufferSize, {}, {}, rng), in) << size << "/" << bufferSize;
    }
  }
}

TEST_F(FileBitStreamTest, CopyStoppedEarlyHoldsTheWholeCurrentBuffer) {
  std::mt19937 rng(5);
  const Bytes in = RandomBytes(rng, 100, 10);
  const Bytes out = RunCopy(Dir, in, 16, {}, {}, rng, 20);
  EXPECT_EQ(out, Bytes(in.begin(), in.begin() + 32));
}

TEST_F(FileBitStreamTest, EditsChangeTheLengthAsMarked) {
  std::mt19937 rng(6);
  Bytes in = RandomBytes(rng, 200, 0);
  CopySetup insert;
  insert.Insert = true;
  insert.ExtLength = 9;
  EXPECT_EQ(RunCopy(Dir, in, 64, insert, {{50, MarkKind::DisplayExt, 0}}, rng).size(), in.size() + 9);
  // Removal: 12 or 9 bytes by bit 0 of the byte after the start code.
  CopySetup remove;
  remove.Remove = true;
  for (uint8_t flag : {0x23, 0x22}) {
    in[54] = flag;
    const int64_t len = (flag & 1) ? 12 : 9;
    EXPECT_EQ(RunCopy(Dir, in, 64, remove, {{54, MarkKind::DisplayExt, -4}}, rng), ApplyModel(in, {{50, {}, len}}));
  }
  // Two colour marks in one buffer: six bytes out with the 9-byte extension, in with the 12-byte one.
  CopySetup colour;
  colour.ExtLength = 9;
  const std::vector<Mark> two = {{10, MarkKind::Colour, 0}, {30, MarkKind::Colour, 2}};
  EXPECT_EQ(RunCopy(Dir, in, 64, colour, two, rng), ApplyModel(in, {{10, {}, 3}, {32, {}, 3}}));
  colour.ExtLength = 12;
  const Bytes colours(colour.Ext + 2, colour.Ext + 5);
  EXPECT_EQ(RunCopy(Dir, in, 64, colour, two, rng), ApplyModel(in, {{10, colours}, {32, colours}}));
}

TEST_F(FileBitStreamTest, EditsAcrossBufferEnds) {
  std::mt19937 rng(8);
  Bytes in = RandomBytes(rng, 200, 0);
  in[18] = 0x23;  // colour flag of an extension at 14, beyond the first 16-byte buffer
  CopySetup remove;
  remove.Remove = true;
  remove.ExtLength = 9;
  // Marked from the next buffer, behind the position (the start code straddled the end).
  Bytes out = RunCopy(Dir, in, 16, remove, {{18, MarkKind::DisplayExt, -4}}, rng);
  EXPECT_EQ(out, ApplyModel(in, {{14, {}, 12}}));
  // Marked early, reaching past the buffer end; skip ranges longer than a buffer.
  out = RunCopy(Dir, in, 16,
                remove,
                {{10, MarkKind::DisplayExt, 4}, {40, MarkKind::Skip, 6, 40}, {100, MarkKind::Colour, 15}}, rng);
  EXPECT_EQ(out, ApplyModel(in, {{14, {}, 12}, {46, {}, 40}, {115, {}, 3}}));
  // Insertions exactly at buffer ends and at the end of the file.
  CopySetup insert;
  insert.Insert = true;
  out = RunCopy(Dir, in, 16, insert,
                {{16, MarkKind::DisplayExt, 0}, {30, MarkKind::DisplayExt, 2}, {200, MarkKind::DisplayExt, 0}}, rng);
  const Bytes ext(insert.Ext, insert.Ext + 12);
  EXPECT_EQ(out, ApplyModel(in, {{16, ext}, {32, ext}, {200, ext}}));
}

TEST_F(FileBitStreamTest, RandomEditsMatchTheModel) {
  std::mt19937 rng(9);
  std::uniform_int_distribution<int> kindOf(0, 2), gap(0, 30), skipLen(1, 40), offset(-8, 8), flag(0, 1);
  for (int trial = 0; trial < 300; ++trial) {
    const int32_t bufferSize = std::array<int32_t, 7>{1, 3, 7, 16, 61, 256, 5000}[trial % 7];
    CopySetup setup;
    setup.Insert = trial % 4 < 2;
    setup.Remove = !setup.Insert;
    setup.ExtLength = trial % 2 ? 12 : 9;
    Bytes in = RandomBytes(rng, 50 + rng() % 2000, 5);
    std::vector<Mark> marks;
    std::vector<ModelEdit> model;
    int64_t pos = gap(rng);
    const int64_t size = static_cast<int64_t>(in.size());
    while (pos < size) {
      const int kind = kindOf(rng);
      int64_t used = 0;
      if (kind == 0) {  // display extension
        if (setup.Insert) {
          model.push_back({pos, Bytes(setup.Ext, setup.Ext + setup.ExtLength)});
        } else {
          if (pos + 4 < size) in[pos + 4] = static_cast<uint8_t>(0x22 | flag(rng));
          used = (pos + 4 < size && (in[pos + 4] & 1) == 0) ? 9 : 12;
          model.push_back({pos, {}, used});
        }
      } else if (kind == 1) {  // colour bytes
        if (setup.ExtLength == 12) {
          model.push_back({pos, Bytes(setup.Ext + 2, setup.Ext + 5)});
        } else {
          used = 3;
          model.push_back({pos, {}, used});
        }
      } else {
        used = skipLen(rng);
        model.push_back({pos, {}, used});
      }
      const int32_t off = offset(rng);
      const int64_t at = std::clamp<int64_t>(pos - off, 0, size);
      marks.push_back({at, static_cast<MarkKind>(kind), static_cast<int32_t>(pos - at),
                       kind == 2 ? static_cast<int32_t>(used) : 0});
      // Two insertions at one place would depend on the order of their marks.
      pos += used + std::max(gap(rng), used == 0 ? 1 : 0);
    }
    const Bytes out = RunCopy(Dir, in, bufferSize, setup, marks, rng);
    const Bytes want = ApplyModel(in, model);
    ASSERT_TRUE(out == want) << "trial " << trial << " buffer " << bufferSize << ": " << FirstDifference(out, want);
  }
}

TEST_F(FileBitStreamTest, MarkAfterItsPlaceWasWrittenIsReported) {
  std::mt19937 rng(10);
  const Bytes in = RandomBytes(rng, 20000, 0);
  const std::string src = Write("late.bin", in), dst = Dir.File("late.out");
  test::CoreProject p;
  const int out = OpenOutput(dst);
  {
    TFileBitStream s(src, 16, &p.Form);
    s.CopyToOutput = true;
    s.OutputHandle = out;
    s.InsertDisplayExt = true;
    for (int i = 0; i < 10000; ++i) s.ReadBits(8);
    s.MarkDisplayExtEdit(-9000);
    while (!s.Eof) s.ReadBits(8);
    EXPECT_TRUE(s.Close());
    EXPECT_EQ(s.MisplacedEdits(), 1);
  }
  ::close(out);
  EXPECT_EQ(test::ReadFileBytes(dst), in);
  EXPECT_TRUE(p.LogContains("could not be placed"));
}

TEST_F(FileBitStreamTest, CopyWriteFailureIsReported) {
  test::CoreProject p;
  const std::string src = Write("w.bin", Bytes(100, 7));
  TFileBitStream s(src, 16, &p.Form);
  s.CopyToOutput = true;  // no output handle
  while (!s.Eof) s.ReadBits(8);
  EXPECT_FALSE(s.Close());
  EXPECT_TRUE(s.CopyFailed());
  EXPECT_TRUE(p.LogContains("Unable to write the copy of file"));
}

// ---------------------------------------------------------------- patches

TEST_F(FileBitStreamTest, OverwriteInReadWriteMode) {
  std::mt19937 rng(11);
  for (int32_t bufferSize : {1, 5, 16, 64}) {
    for (size_t size : {64, 100}) {
      Bytes in = RandomBytes(rng, size, 0);
      const std::string path = Write("rw.bin", in);
      Bytes expected = in;
      struct Patch {
        int64_t At;
        Bytes With;
      };
      // Within a buffer, across buffer ends, up to the last byte, and past it.
      const std::vector<Patch> patches = {{3, {1, 2}}, {14, {9, 9, 9, 9, 9, 9}}, {40, Bytes(30, 0xEE)},
                                          {static_cast<int64_t>(size) - 3, {4, 5, 6, 7, 8}}};
      {
        auto s = TFileBitStream::CreateReadWrite(path, bufferSize);
        for (const auto& patch : patches) {
          while (s->BytePosition() < patch.At) s->ReadBits(8);
          s->OverwriteBytes(patch.With.data(), static_cast<int32_t>(patch.With.size()));
          for (size_t i = 0; i < patch.With.size() && patch.At + i < size; ++i) expected[patch.At + i] = patch.With[i];
          // The patched bytes are what is read next.
          ASSERT_EQ(s->ReadBits(8), patch.With[0]);
        }
        EXPECT_TRUE(s->Close());
      }
      const Bytes got = test::ReadFileBytes(path);
      EXPECT_TRUE(got == expected) << size << "/" << bufferSize << ": " << FirstDifference(got, expected);
    }
  }
}

TEST_F(FileBitStreamTest, OverwriteReachesTheCopyAndPeeks) {
  std::mt19937 rng(12);
  const Bytes in = RandomBytes(rng, 64, 0);
  const std::string src = Write("pc.bin", in), dst = Dir.File("pc.out");
  const int out = OpenOutput(dst);
  {
    TFileBitStream s(src, 16);
    s.CopyToOutput = true;
    s.OutputHandle = out;
    s.ReadBits(14 * 8);
    const uint8_t patch[4] = {0xA1, 0xA2, 0xA3, 0xA4};
    s.OverwriteBytes(patch, 4);
    EXPECT_EQ(s.PeekBits(32), 0xA1A2A3A4u);  // two of the bytes wait for the next buffer
    EXPECT_EQ(s.ReadBits(32), 0xA1A2A3A4u);
    while (!s.Eof) s.ReadBits(8);
    s.Close();
  }
  ::close(out);
  Bytes expected = in;
  for (int i = 0; i < 4; ++i) expected[14 + i] = static_cast<uint8_t>(0xA1 + i);
  EXPECT_EQ(test::ReadFileBytes(dst), expected);
}

// ---------------------------------------------------------------- MPEG video walk

// A small MPEG-2 video elementary stream: per sequence a sequence header, a
// sequence extension, optionally a sequence display extension (with or without
// colour description), a GOP header and two pictures. Every variant draws the
// same header and picture bytes.
struct Sequence {
  bool HasDisplayExt;
  bool HasColour;
  std::array<uint8_t, 3> Colour = {0x01, 0x01, 0x01};
};

Bytes BuildVideo(const std::vector<Sequence>& seqs) {
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> payload(0x10, 0xFF);
  Bytes v;
  auto code = [&](uint8_t c) { v.insert(v.end(), {0x00, 0x00, 0x01, c}); };
  auto bytes = [&](int n) {
    for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(payload(rng)));
  };
  for (const auto& s : seqs) {
    code(0xB3);
    bytes(8);
    code(0xB5);
    v.push_back(0x14);  // sequence extension, identifier 1
    bytes(5);
    if (s.HasDisplayExt) {
      code(0xB5);
      v.push_back(static_cast<uint8_t>(0x22 | (s.HasColour ? 1 : 0)));  // identifier 2, video_format 1
      if (s.HasColour) v.insert(v.end(), s.Colour.begin(), s.Colour.end());
      v.insert(v.end(), {0x5A, 0x02, 0x43, 0xC0});  // display sizes
    }
    code(0xB8);
    bytes(4);
    code(0x00);
    bytes(11);
    code(0x00);
    bytes(17);
  }
  return v;
}

enum class VideoEdit { InsertDisplayExt, RemoveDisplayExt, AddColour, DropColour };

// Walks the stream start code by start code as the flag rewriter does, and
// marks or patches what the edit asks for.
Bytes RewriteVideo(test::TempDir& dir, const Bytes& in, int32_t bufferSize, VideoEdit edit, const uint8_t* ext,
                   uint8_t extLength) {
  const std::string src = dir.File("v.m2v"), dst = dir.File("v.out");
  test::WriteFileBytes(src, in);
  const int out = OpenOutput(dst);
  {
    TFileBitStream s(src, bufferSize);
    s.CopyToOutput = true;
    s.OutputHandle = out;
    s.InsertDisplayExt = edit == VideoEdit::InsertDisplayExt;
    s.RemoveDisplayExt = edit == VideoEdit::RemoveDisplayExt;
    s.PreparedExtLength = extLength;
    std::copy(ext, ext + 12, s.PreparedExt);
    bool sequenceHasDisplayExt = false;
    while (s.FindSyncWord(1, 24)) {
      const uint32_t code = s.PeekBits(8);
      if (code == 0xB3) sequenceHasDisplayExt = false;
      if (code == 0xB8 && edit == VideoEdit::InsertDisplayExt && !sequenceHasDisplayExt) s.MarkDisplayExtEdit(0);
      s.ReadBits(8);
      if (code != 0xB5 || s.PeekBits(4) != 2) continue;
      sequenceHasDisplayExt = true;
      const uint32_t idByte = s.PeekBits(8);
      if (edit == VideoEdit::RemoveDisplayExt) {
        s.MarkDisplayExtEdit(-4);
        // The walk rewrites the identifier byte afterwards; the length to
        // remove is still the one the file had.
        const uint8_t flipped = static_cast<uint8_t>(idByte ^ 1);
        s.OverwriteBytes(&flipped, 1);
        continue;
      }
      const bool hasColour = idByte & 1;
      if ((edit == VideoEdit::AddColour && !hasColour) || (edit == VideoEdit::DropColour && hasColour)) {
        const uint8_t b = static_cast<uint8_t>(idByte ^ 1);
        s.OverwriteBytes(&b, 1);
        s.MarkColourEdit(1);
      }
    }
    EXPECT_TRUE(s.Close());
    EXPECT_EQ(s.MisplacedEdits(), 0);
  }
  ::close(out);
  return test::ReadFileBytes(dst);
}

TEST_F(FileBitStreamTest, VideoRewritesLandAtEveryBufferSize) {
  const std::vector<Sequence> mixed = {{false, false}, {true, true}, {true, false}, {false, false},
                                       {true, true},   {true, false}, {false, false}, {true, true}};
  const Bytes source = BuildVideo(mixed);
  const uint8_t ext12[12] = {0xB5, 0x23, 0x05, 0x06, 0x07, 0x5A, 0x02, 0x43, 0xC0, 0x00, 0x00, 0x01};
  const std::array<uint8_t, 3> prepared = {0x05, 0x06, 0x07};
  std::vector<Sequence> inserted = mixed, removed = mixed, coloured = mixed, plain = mixed;
  for (auto& s : inserted)
    if (!s.HasDisplayExt) s = {true, true, prepared};
  for (auto& s : removed) s = {false, false};
  for (auto& s : coloured)
    if (s.HasDisplayExt && !s.HasColour) s = {true, true, prepared};
  for (auto& s : plain) s.HasColour = false;
  const Bytes wantInserted = BuildVideo(inserted), wantRemoved = BuildVideo(removed),
              wantColoured = BuildVideo(coloured), wantPlain = BuildVideo(plain);
  ASSERT_EQ(wantInserted.size(), source.size() + 3 * 12);
  for (int32_t bufferSize = 1; bufferSize <= 48; ++bufferSize) {
    EXPECT_EQ(RewriteVideo(Dir, source, bufferSize, VideoEdit::InsertDisplayExt, ext12, 12), wantInserted)
        << "insert, buffer " << bufferSize;
    EXPECT_EQ(RewriteVideo(Dir, source, bufferSize, VideoEdit::RemoveDisplayExt, ext12, 12), wantRemoved)
        << "remove, buffer " << bufferSize;
    EXPECT_EQ(RewriteVideo(Dir, source, bufferSize, VideoEdit::AddColour, ext12, 12), wantColoured)
        << "add colour, buffer " << bufferSize;
    EXPECT_EQ(RewriteVideo(Dir, source, bufferSize, VideoEdit::DropColour, ext12, 9), wantPlain)
        << "drop colour, buffer " << bufferSize;
  }
}

}  // namespace
}  // namespace tess::core
