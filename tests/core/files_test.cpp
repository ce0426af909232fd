#include "core/files.h"
#include "core/folder_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "support/test_support.h"

namespace tess::core {
namespace {

namespace fs = std::filesystem;
using test::CoreProject;
using test::TempDir;

std::vector<uint8_t> Counting(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 256);
  return v;
}


void Touch(const std::string& path) { test::WriteFileBytes(path, {'x'}); }
bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

// ---- range copy ----

TEST(CopyFileRange, CopiesInBlocksOfSixteenThousand) {
  TempDir dir;
  CoreProject p;
  const auto src = Counting(100000);
  test::WriteFileBytes(dir.File("src.bin"), src);
  std::vector<int64_t> progress;
  ASSERT_TRUE(CopyFileRange(p.Form, dir.File("src.bin"), dir.File("dst.bin"),
                            [&](int64_t v) { progress.push_back(v); }, nullptr, 1000, 40000, 10));
  EXPECT_EQ(progress, (std::vector<int64_t>{17000, 33000, 41000}));
  EXPECT_EQ(test::ReadFileBytes(dir.File("dst.bin")), std::vector<uint8_t>(src.begin() + 10, src.begin() + 40010));
  EXPECT_FALSE(Exists(dir.File("dst.bin.part")));

  // More than the source holds: up to its end.
  ASSERT_TRUE(CopyFileRangeSimple(p.Form, dir.File("src.bin"), dir.File("tail.bin"), 0xFFFFFFFFull, 90000));
  EXPECT_EQ(test::ReadFileBytes(dir.File("tail.bin")), std::vector<uint8_t>(src.begin() + 90000, src.end()));
  // An offset past the end copies nothing, and says it copied all there was.
  ASSERT_TRUE(CopyFileRangeSimple(p.Form, dir.File("src.bin"), dir.File("none.bin"), 100, 200000));
  EXPECT_TRUE(test::ReadFileBytes(dir.File("none.bin")).empty());
}

TEST(CopyFileRange, FailuresSaySoAndLeaveNothingPartial) {
  TempDir dir;
  CoreProject p;
  test::WriteFileBytes(dir.File("src.bin"), Counting(100000));
  test::WriteFileBytes(dir.File("old.bin"), {1, 2, 3});

  EXPECT_FALSE(CopyFileRangeSimple(p.Form, dir.File("gone.bin"), dir.File("d1.bin"), 10, 0));
  EXPECT_FALSE(Exists(dir.File("d1.bin")));
  EXPECT_TRUE(p.LogContains("Can not open file " + dir.File("gone.bin")));

  EXPECT_FALSE(CopyFileRangeSimple(p.Form, dir.File("src.bin"), dir.File("no/such/d2.bin"), 10, 0));
  EXPECT_TRUE(p.LogContains("Can not create file " + dir.File("no/such/d2.bin")));

  EXPECT_FALSE(CopyFileRangeSimple(p.Form, dir.File("src.bin"), dir.File("d3.bin"), 10, -5));

  // Aborted after the first block: the older file of that name stays as it was.
  uint8_t abort = 0;
  EXPECT_FALSE(CopyFileRange(p.Form, dir.File("src.bin"), dir.File("old.bin"), [&](int64_t) { abort = 1; },
                             &abort, 0, 50000, 0));
  EXPECT_EQ(test::ReadFileBytes(dir.File("old.bin")), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_FALSE(Exists(dir.File("old.bin.part")));

  // A pipe of the destination's name is not replaced.
  ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
  EXPECT_FALSE(CopyFileRangeSimple(p.Form, dir.File("src.bin"), dir.File("pipe"), 10, 0));
  struct stat st {};
  ASSERT_EQ(::lstat(dir.File("pipe").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  // The write side failing part-way.
  test::WriteFileBytes(dir.File("old2.bin"), {4, 5});
  bool copied;
  {
    test::FileSizeLimit limit(20000);
    copied = CopyFileRangeSimple(p.Form, dir.File("src.bin"), dir.File("old2.bin"), 50000, 0);
  }
  EXPECT_FALSE(copied);
  EXPECT_TRUE(p.LogContains("Write error in file " + dir.File("old2.bin")));
  EXPECT_EQ(test::ReadFileBytes(dir.File("old2.bin")), (std::vector<uint8_t>{4, 5}));
  EXPECT_FALSE(Exists(dir.File("old2.bin.part")));

  // A stale temporary that is a link is removed, not written through.
  test::WriteFileBytes(dir.File("victim.bin"), {7});
  fs::create_symlink(dir.File("victim.bin"), dir.File("new.bin.part"));
  EXPECT_TRUE(CopyFileRangeSimple(p.Form, dir.File("src.bin"), dir.File("new.bin"), 10, 0));
  EXPECT_EQ(test::ReadFileBytes(dir.File("victim.bin")), (std::vector<uint8_t>{7}));
  EXPECT_EQ(test::ReadFileBytes(dir.File("new.bin")).size(), 10u);
}

TEST(CopyFileRange, ReplacesItsOwnSource) {
  TempDir dir;
  CoreProject p;
  const auto src = Counting(50000);
  test::WriteFileBytes(dir.File("s.bin"), src);
  ASSERT_TRUE(CopyFileRangeSimple(p.Form, dir.File("s.bin"), dir.File("s.bin"), 0xFFFFFFFFull, 100));
  EXPECT_EQ(test::ReadFileBytes(dir.File("s.bin")), std::vector<uint8_t>(src.begin() + 100, src.end()));
}

// ---- small file operations ----

TEST(Files, SizesSignaturesAndAppending) {
  TempDir dir;
  {
    const int fd = ::open(dir.File("big").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(::ftruncate(fd, 5'000'000'000), 0);
    ::close(fd);
  }
  EXPECT_EQ(GetFileSizeByName(dir.File("big")), 5'000'000'000);
  EXPECT_EQ(GetFileSizeByName(dir.File("BIG")), 5'000'000'000);  // looked up without case
  EXPECT_EQ(GetFileSizeByName(dir.File("none")), 0);
  EXPECT_EQ(GetFileSizeByName(dir.Path()), 0);

  test::WriteFileBytes(dir.File("seven.ifo"), {'S', 'T', 'A', 'N', 'D', 'A', 'R'});
  EXPECT_FALSE(IsIfoFile(dir.File("seven.ifo")));
  test::WriteFileBytes(dir.File("HV000I01.IFO"), {'S', 'T', 'A', 'N', 'D', 'A', 'R', 'D', 0});
  EXPECT_TRUE(IsIfoFile(dir.File("hv000i01.ifo")));
  test::WriteFileBytes(dir.File("v.ifo"), {'D', 'V', 'D', 'V', 'I', 'D', 'E', 'O'});
  EXPECT_TRUE(IsIfoFile(dir.File("v.ifo")));

  EXPECT_TRUE(AppendToFile(dir.File("a.sup"), "abc", 3));
  EXPECT_TRUE(AppendToFile(dir.File("a.sup"), "de", 2));
  EXPECT_EQ(test::ReadFileBytes(dir.File("a.sup")), (std::vector<uint8_t>{'a', 'b', 'c', 'd', 'e'}));
  EXPECT_FALSE(AppendToFile(dir.File("x/a.sup"), "abc", 3));
  {
    test::FileSizeLimit limit(4);
    EXPECT_FALSE(AppendToFile(dir.File("a.sup"), "abc", 3));
  }
  EXPECT_EQ(test::ReadFileBytes(dir.File("a.sup")).size(), 5u);
}

TEST(Files, FoldersMadeAndRemoved) {
  TempDir dir;
  const std::string file = dir.File("VTS_001/Titles/deep/t.bmp");
  EXPECT_FALSE(ParentFolderExists(file));
  EXPECT_TRUE(CreateFileFolders(file));
  EXPECT_TRUE(ParentFolderExists(file));
  EXPECT_FALSE(CreateFileFolders(file));  // already there
  EXPECT_FALSE(CreateFileFolders(""));
  EXPECT_FALSE(ParentFolderExists("t.bmp"));

  EXPECT_TRUE(IsFolderEmpty(dir.File("VTS_001/Titles/deep")));
  EXPECT_FALSE(IsFolderEmpty(dir.File("VTS_001/Titles")));  // only an empty subfolder
  Touch(dir.File("VTS_001/keep.txt"));

  // The file is gone already; its folder and the one above go, the next one is not empty.
  RemoveDirectoryChain(file);
  EXPECT_FALSE(Exists(dir.File("VTS_001/Titles")));
  EXPECT_TRUE(Exists(dir.File("VTS_001/keep.txt")));
}

TEST(Files, ReadsLinesOfBothWidths) {
  TempDir dir;
  test::WriteFileBytes(dir.File("a.txt"), {'a', 'b', '\r', '\n', '\r', '\n', 'c', '\r', 'd', 'e'});
  int fd = ::open(dir.File("a.txt").c_str(), O_RDONLY);
  std::string line;
  EXPECT_EQ(ReadAnsiLine(fd, line), 2);
  EXPECT_EQ(line, "ab");
  EXPECT_EQ(ReadAnsiLine(fd, line), 0);  // an empty line
  EXPECT_EQ(ReadAnsiLine(fd, line), 1);
  EXPECT_EQ(line, "c");
  EXPECT_EQ(ReadAnsiLine(fd, line), 2);  // a lone CR keeps the next line whole
  EXPECT_EQ(line, "de");
  EXPECT_EQ(ReadAnsiLine(fd, line), 0);
  ::close(fd);

  // UTF-16 little-endian, with a character beyond 8 bits and a dangling odd byte.
  test::WriteFileBytes(dir.File("w.txt"), {'h', 0, 0xAC, 0x20, '\r', 0, '\n', 0, 'z', 0, '\r', 0, 'q'});
  fd = ::open(dir.File("w.txt").c_str(), O_RDONLY);
  std::u16string wide;
  EXPECT_EQ(ReadWideLine(fd, wide), 2);
  EXPECT_EQ(wide, u"h\u20AC");
  EXPECT_EQ(ReadWideLine(fd, wide), 1);
  EXPECT_EQ(wide, u"z");
  EXPECT_EQ(ReadWideLine(fd, wide), 0);
  ::close(fd);
}

// ---- clean-ups ----

// An output tree with a trap: links inside it that point outside.
struct Trap {
  TempDir dir;
  std::string root, outside;
  Trap() {
    root = dir.File("out") + "/";
    outside = dir.File("outside");
    fs::create_directories(outside + "/keep");
    fs::create_directories(outside + "/Menu");
    fs::create_directories(outside + "/Titles");
    Touch(outside + "/precious.sup");
    Touch(outside + "/precious.vnf");
    Touch(outside + "/keep/precious.log");
    Touch(outside + "/Menu/precious.vnf");
    Touch(outside + "/Menu/precious.sup");
    Touch(outside + "/Titles/precious.dat");
  }
};

TEST(Clean, DeleteFolderTreeRemovesEverythingAndFollowsNoLink) {
  Trap t;
  const std::string tree = t.root + "VTS_001";
  fs::create_directories(tree + "/Menu/empty1");
  fs::create_directories(tree + "/Titles/sub/empty2");
  fs::create_directories(tree + "/empty0");
  for (int i = 0; i < 20; ++i) Touch(tree + "/f" + std::to_string(i) + ".m2v");
  Touch(tree + "/Titles/sub/t.ac3");
  fs::create_directory_symlink(t.outside, tree + "/Titles/linkdir");
  fs::create_symlink(t.outside + "/precious.sup", tree + "/Menu/link.sup");

  EXPECT_TRUE(DeleteFolderTree(tree + "/"));
  EXPECT_FALSE(Exists(tree));
  EXPECT_TRUE(Exists(t.outside + "/precious.sup"));
  EXPECT_TRUE(Exists(t.outside + "/keep/precious.log"));

  // A folder that is itself a link is not followed.
  fs::create_directory_symlink(t.outside, t.root + "VMG");
  EXPECT_FALSE(DeleteFolderTree(t.root + "VMG/"));
  EXPECT_TRUE(Exists(t.outside + "/keep/precious.log"));

  EXPECT_FALSE(DeleteFolderTree(t.root + "missing"));
}

TEST(Clean, EmptyAndRootFoldersAreRefused) {
  EXPECT_TRUE(IsProtectedFolder(""));
  EXPECT_TRUE(IsProtectedFolder("/"));
  EXPECT_TRUE(IsProtectedFolder("//"));
  EXPECT_TRUE(IsProtectedFolder("/tmp/.."));
  EXPECT_TRUE(IsProtectedFolder("/tmp/../"));
  EXPECT_FALSE(IsProtectedFolder("/tmp/x"));
  // Only with the guard holding are the clean-ups called on the root itself.
  ASSERT_TRUE(IsProtectedFolder("/") && IsProtectedFolder("/tmp/.."));
  EXPECT_FALSE(DeleteFolderTree(""));
  EXPECT_FALSE(DeleteFolderTree("/"));
  EXPECT_FALSE(DeleteFolderTree("/tmp/.."));
  EXPECT_FALSE(CleanProjectFolder(""));
  EXPECT_FALSE(CleanProjectFolder("/"));
  EXPECT_FALSE(CleanMenuTitleFolders("/"));
  EXPECT_FALSE(CleanScanFiles(""));
  EXPECT_TRUE(fs::exists("/tmp"));
}

TEST(Clean, ShortDotAndHomePathsAreNeverEmptied) {
  // Run from inside a scratch folder, so every spelling of "here" and "above"
  // points at something a wrong answer would destroy.
  TempDir dir;
  const std::string scratch = dir.File("scratch");
  fs::create_directories(scratch + "/a/inner");
  fs::create_directories(scratch + "/target");
  Touch(scratch + "/a/inner/keep.m2v");
  Touch(scratch + "/target/keep.ac3");
  fs::create_directory_symlink(scratch + "/target", scratch + "/link");
  const fs::path saved = fs::current_path();
  fs::current_path(scratch + "/a");
  for (const char* path : {"./", ".", "..", "../", "./.", "a/..", "inner/../..", "a/", "/", ""})
    EXPECT_FALSE(DeleteFolderTree(path)) << path;
  // The working folder and those that hold it, however they are written.
  for (const std::string& path : {scratch + "/a", scratch + "/a/", scratch, dir.Path(), scratch + "/a/inner/..",
                                   scratch + "/target/../a", std::string("../../scratch")})
    EXPECT_FALSE(DeleteFolderTree(path)) << path;
  EXPECT_FALSE(DeleteFolderTree("../link"));
  EXPECT_FALSE(DeleteFolderTree("../link/"));
  const char* home = std::getenv("HOME");
  ::setenv("HOME", (scratch + "/target").c_str(), 1);
  EXPECT_FALSE(DeleteFolderTree(scratch + "/target/"));
  // Without HOME, the user database's home folder (and the working folder, should
  // that guard fail).
  const passwd* user = ::getpwuid(::getuid());
  if (user && fs::is_directory(user->pw_dir) && fs::path(user->pw_dir) != "/") {
    fs::current_path(user->pw_dir);
    ::unsetenv("HOME");
    std::string why;
    EXPECT_FALSE(EmptyFolder(user->pw_dir, {}, {}, &why));
    EXPECT_EQ(why, ": it is the home folder");
  }
  if (home)
    ::setenv("HOME", home, 1);
  else
    ::unsetenv("HOME");
  fs::current_path(saved);
  EXPECT_TRUE(Exists(scratch + "/a/inner/keep.m2v"));
  EXPECT_TRUE(Exists(scratch + "/target/keep.ac3"));
  EXPECT_TRUE(fs::is_symlink(scratch + "/link"));
}

TEST(Clean, ProjectFolderBeforeARun) {
  Trap t;
  const std::string& r = t.root;
  fs::create_directories(r + "VMG/Menu");
  Touch(r + "VMG/Menu/m.sup");
  fs::create_directories(r + "VTS_001/Titles");
  Touch(r + "VTS_001/Titles/t.m2v");
  fs::create_directories(r + "VTS_099/Menu");
  fs::create_directories(r + "VTS_100/Menu");
  fs::create_directory_symlink(t.outside, r + "VTS_002");
  for (const char* f : {"a.log", "b.scp", "c.SCN", "keep.txt", "keep.sup", "Tessaline.log"}) Touch(r + f);
  fs::create_symlink(t.outside + "/precious.sup", r + "trap.log");

  EXPECT_TRUE(CleanProjectFolder(r));
  EXPECT_FALSE(Exists(r + "VMG"));
  EXPECT_FALSE(Exists(r + "VTS_001"));
  EXPECT_FALSE(Exists(r + "VTS_099"));
  EXPECT_TRUE(Exists(r + "VTS_100"));
  // A link of a run's folder name goes as a link; what it points at stays.
  EXPECT_FALSE(Exists(r + "VTS_002") || fs::is_symlink(r + "VTS_002"));
  // Only the program's own log goes; the user's logs and scripts stay.
  EXPECT_FALSE(Exists(r + "Tessaline.log"));
  for (const char* f : {"a.log", "b.scp", "c.SCN", "trap.log"}) EXPECT_TRUE(Exists(r + f)) << f;
  EXPECT_TRUE(Exists(r + "keep.txt"));
  EXPECT_TRUE(Exists(r + "keep.sup"));
  EXPECT_TRUE(Exists(t.outside + "/precious.sup"));
  EXPECT_TRUE(Exists(t.outside + "/keep/precious.log"));
  EXPECT_TRUE(CleanProjectFolder(r.substr(0, r.size() - 1)));  // without the trailing "/"

  // A folder that holds a source stays whole, however the source's path is written;
  // a second name of a source inside a folder that goes stays too.
  fs::create_directories(r + "VTS_005/HVDVD_TS");
  fs::create_directories(r + "VTS_006");
  for (const char* f : {"VTS_005/HVDVD_TS/hv000i01.IFO", "VTS_005/old.m2v", "Tessaline.log"}) Touch(r + f);
  FileSet sources;
  sources.Add(t.dir.File("out/../out/VTS_005/HVDVD_TS/HV000I01.ifo"));
  sources.Add(r + "Tessaline.log");
  fs::create_hard_link(r + "Tessaline.log", r + "VTS_006/second.name");
  std::vector<std::string> kept;
  EXPECT_TRUE(CleanProjectFolder(r, sources, &kept));
  EXPECT_EQ(kept, std::vector<std::string>{r + "VTS_005/"});
  for (const char* f : {"VTS_005/HVDVD_TS/hv000i01.IFO", "VTS_005/old.m2v", "Tessaline.log", "VTS_006/second.name"})
    EXPECT_TRUE(Exists(r + f)) << f;
  EXPECT_FALSE(DeleteFolderTree(t.dir.File("out/VTS_005/HVDVD_TS/."), sources));
  std::string why;
  EXPECT_FALSE(EmptyFolder(r, kLockFileName, sources, &why));
  EXPECT_EQ(why, ": it holds the source");
  EXPECT_FALSE(EmptyFolder(r + "VTS_006", {}, sources, &why));
  EXPECT_EQ(why, ": can not delete second.name: it is a source file");
  // The folder that holds a source is the same folder seen through a bind mount.
  fs::create_directories(t.dir.File("view"));
  if (::mount((r + "VTS_005").c_str(), t.dir.File("view").c_str(), nullptr, MS_BIND, nullptr) == 0) {
    EXPECT_TRUE(sources.HeldBy(t.dir.File("view")) && sources.HeldBy(t.dir.File("view/HVDVD_TS/")));
    EXPECT_EQ(::umount2(t.dir.File("view").c_str(), MNT_DETACH), 0);
  }
}

// An output folder emptied for a run keeps the run's lock, which no emptiness
// test counts; one run holds the folder at a time.
TEST(Clean, TheRunsLockStaysAndHoldsTheFolder) {
  TempDir dir;
  const std::string out = dir.File("out");
  FolderLock lock, second;
  std::string why;
  ASSERT_TRUE(lock.Take(out, why)) << why;
  EXPECT_FALSE(second.Take(out + "/", why));
  EXPECT_NE(why.find("in use by another run (process " + std::to_string(::getpid()) + ")"), std::string::npos) << why;
  Touch(out + "/a.m2v");
  EXPECT_TRUE(EmptyFolder(out, kLockFileName));
  EXPECT_TRUE(IsFolderEmpty(out, kLockFileName) && !IsFolderEmpty(out));
  lock.Release();
  EXPECT_TRUE(IsFolderEmpty(out));
}

TEST(Clean, IntermediateAndScanFilesAfterARun) {
  Trap t;
  const std::string& r = t.root;
  for (const char* d : {"VMG/Menu", "VTS_001/Menu", "VTS_001/Titles", "VTS_012/Titles"})
    fs::create_directories(r + d);
  for (const char* f : {"VMG/v.sup", "VMG/v.dat", "VMG/Menu/m.sup", "VMG/Menu/m.dat", "VMG/Menu/m.vnf",
                        "VMG/Menu/m.times", "VMG/Menu/m.m2v", "VTS_001/Menu/a.sup", "VTS_001/Menu/a.vnf",
                        "VTS_001/Titles/b.sup", "VTS_001/Titles/b.dat", "VTS_001/Titles/b.times",
                        "VTS_001/Titles/b.m2v", "VTS_012/Titles/c.dat", "VTS_012/Titles/c.vnf"})
    Touch(r + f);
  fs::create_directory_symlink(t.outside, r + "VTS_003");
  fs::create_directories(r + "VTS_004");
  fs::create_directory_symlink(t.outside, r + "VTS_004/Menu");

  // Scan caches go after every run; a folder that holds a source keeps all it holds.
  Touch(r + "VTS_001/Titles/b.m2v.ipos");
  fs::create_directories(r + "VTS_002/Menu");
  Touch(r + "VTS_002/Menu/list.times");
  Touch(r + "VTS_002/Menu/x.vnf");
  FileSet sources;
  sources.Add(r + "VTS_002/Menu/list.times");
  EXPECT_TRUE(CleanScanCaches(r, sources));
  EXPECT_FALSE(Exists(r + "VTS_001/Titles/b.m2v.ipos"));
  EXPECT_TRUE(Exists(r + "VTS_002/Menu/list.times") && Exists(r + "VTS_002/Menu/x.vnf"));
  EXPECT_TRUE(Exists(r + "VTS_001/Titles/b.times"));  // no cache: only a finished run's clean-up takes it
  EXPECT_TRUE(CleanScanFiles(r));
  EXPECT_FALSE(Exists(r + "VMG/Menu/m.sup"));
  EXPECT_FALSE(Exists(r + "VMG/Menu/m.dat"));
  EXPECT_FALSE(Exists(r + "VMG/Menu/m.vnf"));
  EXPECT_FALSE(Exists(r + "VMG/Menu/m.times"));
  EXPECT_TRUE(Exists(r + "VMG/Menu/m.m2v"));
  EXPECT_TRUE(Exists(r + "VTS_001/Menu/a.sup"));  // title-set subpictures stay here
  EXPECT_TRUE(Exists(r + "VTS_001/Titles/b.sup"));
  EXPECT_FALSE(Exists(r + "VTS_001/Menu/a.vnf"));
  EXPECT_FALSE(Exists(r + "VTS_001/Titles/b.times"));
  EXPECT_FALSE(Exists(r + "VTS_012/Titles/c.vnf"));
  EXPECT_TRUE(Exists(r + "VMG/v.sup"));

  EXPECT_TRUE(CleanMenuTitleFolders(r));
  EXPECT_FALSE(Exists(r + "VMG/v.sup"));
  EXPECT_FALSE(Exists(r + "VMG/v.dat"));
  EXPECT_FALSE(Exists(r + "VTS_001/Menu/a.sup"));
  EXPECT_FALSE(Exists(r + "VTS_001/Titles/b.sup"));
  EXPECT_FALSE(Exists(r + "VTS_001/Titles/b.dat"));
  EXPECT_FALSE(Exists(r + "VTS_012/Titles/c.dat"));
  EXPECT_TRUE(Exists(r + "VTS_001/Titles/b.m2v"));

  // Nothing reached through the links.
  for (const char* f : {"/precious.sup", "/precious.vnf", "/Menu/precious.vnf", "/Menu/precious.sup",
                        "/Titles/precious.dat"})
    EXPECT_TRUE(Exists(t.outside + f)) << f;
}

}  // namespace
}  // namespace tess::core
