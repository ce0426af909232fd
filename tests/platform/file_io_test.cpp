#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <numeric>
#include <vector>

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "support/test_support.h"

namespace tess::platform {
namespace {

std::vector<uint8_t> Counting(size_t n) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), uint8_t{1});
  return v;
}

// A reader that is interrupted once and then hands out at most 3 bytes a call,
// as a slow device or a signal-heavy process would.
int gInterruptsLeft = 0;
ssize_t ChoppyPread(int Fd, void* Buffer, size_t Count, off_t Offset) {
  if (gInterruptsLeft > 0) {
    --gInterruptsLeft;
    errno = EINTR;
    return -1;
  }
  return ::pread(Fd, Buffer, Count < 3 ? Count : 3, Offset);
}

ssize_t FailingPread(int, void*, size_t, off_t) {
  errno = EIO;
  return -1;
}

// A file of Bytes in Dir, opened with Flags; closed with the object.
struct FileOf {
  FileOf(const test::TempDir& Dir, const std::vector<uint8_t>& Bytes, int Flags) : path(Dir.File("data.bin")) {
    test::WriteFileBytes(path, Bytes);
    fd = ::open(path.c_str(), Flags | O_CLOEXEC);
  }
  ~FileOf() {
    if (fd >= 0) ::close(fd);
  }
  std::string path;
  int fd = -1;
};

TEST(FileIo, ReadsGoOnToTheCountOrTheEndOfTheFile) {
  test::TempDir dir;
  const std::vector<uint8_t> bytes = Counting(100);
  const FileOf file(dir, bytes, O_RDONLY);
  const int fd = file.fd;
  ASSERT_GE(fd, 0);

  std::vector<uint8_t> buf(64, 0xEE);
  int err = -1;
  EXPECT_EQ(ReadFull(fd, buf.data(), 60, &err), 60u);
  EXPECT_EQ(err, 0);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 60, bytes.begin()));
  // Only 40 are left: the short count is what the file had, not an error.
  EXPECT_EQ(ReadFull(fd, buf.data(), 64, &err), 40u);
  EXPECT_EQ(err, 0);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 40, bytes.begin() + 60));
  EXPECT_EQ(ReadFull(fd, buf.data(), 64), 0u);

  // Positioned reads leave the file position alone and stop at the end too.
  EXPECT_EQ(::lseek(fd, 5, SEEK_SET), 5);
  EXPECT_EQ(PReadFull(fd, buf.data(), 64, 90, &err), 10u);
  EXPECT_EQ(err, 0);
  EXPECT_EQ(buf[0], bytes[90]);
  EXPECT_EQ(PReadFull(fd, buf.data(), 4, 1000), 0u);
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 5);

  // An interruption and short counts on the way do not end the read early.
  gInterruptsLeft = 1;
  EXPECT_EQ(PReadFull(fd, buf.data(), 20, 7, &err, &ChoppyPread), 20u);
  EXPECT_EQ(err, 0);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 20, bytes.begin() + 7));
  EXPECT_EQ(PReadFull(fd, buf.data(), 20, 90, &err, &ChoppyPread), 10u);
  EXPECT_EQ(err, 0);

  // A whole file is read to its limit, and refused whole past it.
  std::string whole;
  bool opened = false;
  EXPECT_TRUE(ReadWholeFile(file.path, whole, &err, &opened, 100) && whole.size() == 100u);
  EXPECT_FALSE(ReadWholeFile(file.path, whole, &err, &opened, 99));
  EXPECT_TRUE(err == EFBIG && opened && whole.empty());
}

TEST(FileIo, ErrorsStopTheLoopAndKeepTheirCode) {
  test::TempDir dir;
  const FileOf writeOnly(dir, Counting(10), O_WRONLY);
  const int wfd = writeOnly.fd;
  ASSERT_GE(wfd, 0);
  uint8_t buf[8];
  int err = 0;
  errno = 0;
  EXPECT_EQ(ReadFull(wfd, buf, sizeof buf, &err), 0u);
  EXPECT_EQ(err, EBADF);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(PReadFull(wfd, buf, sizeof buf, 0, &err, &FailingPread), 0u);
  EXPECT_EQ(err, EIO);  // what the sector stream's retry question looks for

  const int rfd = ::open(writeOnly.path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(rfd, 0);
  size_t written = 99;
  errno = 0;
  EXPECT_FALSE(WriteFull(rfd, buf, sizeof buf, &written));
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(PWriteFull(rfd, buf, sizeof buf, 0));
  EXPECT_EQ(errno, EBADF);
  ::close(rfd);
}

TEST(FileIo, WritesPutEveryByteWhereTheyAreAsked) {
  test::TempDir dir;
  const std::string path = dir.File("out.bin");
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  ASSERT_GE(fd, 0);
  const std::vector<uint8_t> bytes = Counting(200);
  size_t written = 0;
  EXPECT_TRUE(WriteFull(fd, bytes.data(), 100, &written));
  EXPECT_EQ(written, 100u);
  // A positioned write past the end leaves a hole and does not move the position.
  EXPECT_TRUE(PWriteFull(fd, bytes.data() + 100, 100, 150, &written));
  EXPECT_EQ(written, 100u);
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 100);
  EXPECT_TRUE(WriteFull(fd, bytes.data(), 0));
  ::close(fd);

  const std::vector<uint8_t> back = test::ReadFileBytes(path);
  ASSERT_EQ(back.size(), 250u);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 100, back.begin()));
  EXPECT_TRUE(std::all_of(back.begin() + 100, back.begin() + 150, [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(bytes.begin() + 100, bytes.end(), back.begin() + 150));
}

TEST(FileIo, ExistingRegularFileFindsTheDiscSpellingOfFilesOnly) {
  test::TempDir dir;
  ASSERT_EQ(::mkdir(dir.File("HVDVD_TS").c_str(), 0777), 0);
  test::WriteFileBytes(dir.File("HVDVD_TS/HV001T01.EVO"), Counting(4));
  ASSERT_EQ(::mkdir(dir.File("HVDVD_TS/HV001T02.EVO").c_str(), 0777), 0);

  EXPECT_EQ(ExistingRegularFile(dir.File("hvdvd_ts/hv001t01.evo")), dir.File("HVDVD_TS/HV001T01.EVO"));
  EXPECT_EQ(ExistingRegularFile(dir.File("HVDVD_TS/HV001T01.EVO")), dir.File("HVDVD_TS/HV001T01.EVO"));
  EXPECT_EQ(ExistingRegularFile(dir.File("hvdvd_ts/hv001t02.evo")), "");  // a folder
  EXPECT_EQ(ExistingRegularFile(dir.File("hvdvd_ts/hv001t03.evo")), "");  // missing
  // Only a name that is there but cannot be looked at has a reason.
  ASSERT_EQ(::symlink("loop.evo", dir.File("HVDVD_TS/loop.evo").c_str()), 0);
  int err = -1;
  EXPECT_EQ(ExistingRegularFile(dir.File("hvdvd_ts/LOOP.EVO"), &err), "");
  EXPECT_EQ(err, ELOOP);
  EXPECT_EQ(ExistingRegularFile(dir.File("hvdvd_ts/hv001t03.evo"), &err), "");
  EXPECT_EQ(err, 0);

  EXPECT_TRUE(IsAsciiDigit('0') && IsAsciiDigit('9'));
  EXPECT_FALSE(IsAsciiDigit('/') || IsAsciiDigit(':') || IsAsciiDigit('\xB2'));  // not superscript two
}

}  // namespace
}  // namespace tess::platform
