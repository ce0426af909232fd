#include "core/log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace tess::core {
namespace {

using test::CoreProject;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

std::vector<uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

struct Loaded {
  int32_t Kind;
  std::string Text;
  bool operator==(const Loaded&) const = default;
};
std::vector<Loaded> Lines(const platform::LogModel& m) {
  std::vector<Loaded> out;
  for (const auto& l : m.Lines) out.push_back({l.Kind, l.Caption});
  return out;
}

// A log window list with a normal line abc and a warning def, as LogAddItem makes them.
void FillAbcDef(CoreProject& p) {
  LogAddItem(p.Form, 0, "abc", p.Form.LogWindow.Log);
  LogAddItem(p.Form, 2, "def", p.Form.LogWindow.Log);
}

TEST(LogSaving, SaveAsWritesKindLettersAndLoadsBack) {
  CoreProject p;
  TempDir dir;
  FillAbcDef(p);
  const std::string file = dir.File("a.log");
  ASSERT_TRUE(p.Form.LogWindow.SaveAsAction(p.Form, file));
  EXPECT_EQ(ReadFileBytes(file), Bytes("N abc\r\nW def\r\n"));

  ASSERT_TRUE(LogLoadFromFile(p.Form, file, p.Form.InfoForm.Log));
  EXPECT_EQ(Lines(p.Form.InfoForm.Log), (std::vector<Loaded>{{0, "abc"}, {2, "def"}}));
  EXPECT_EQ(p.Form.InfoForm.Log.Lines[0].Image, -1);
  EXPECT_EQ(p.Form.InfoForm.Log.Lines[1].Image, 0);
  // The adds through LogAddItem count warnings: the window's def and the loaded one.
  EXPECT_EQ(p.Form.InfoForm.WarningCount, 2);
}

TEST(LogSaving, SaveToFileTakesTheLetterFromTheImage) {
  CoreProject p;
  TempDir dir;
  FillAbcDef(p);
  LogAddItem(p.Form, 1, "ghi", p.Form.LogWindow.Log);
  LogAddItem(p.Form, 7, "jkl", p.Form.LogWindow.Log);  // a kind without an image
  const std::string file = dir.File("b.log");
  ASSERT_TRUE(LogSaveToFile(p.Form, file));
  EXPECT_EQ(ReadFileBytes(file), Bytes(" abc\r\nW def\r\nI ghi\r\n jkl\r\n"));

  // Lines without a letter load back as kind 0 with their whole text.
  platform::LogModel back;
  ASSERT_TRUE(LogLoadFromFile(p.Form, file, back));
  EXPECT_EQ(Lines(back), (std::vector<Loaded>{{0, "abc"}, {2, "def"}, {1, "ghi"}, {0, "jkl"}}));
}

TEST(LogSaving, SavingReplacesAnOlderFileWithoutLeavingTemporaries) {
  CoreProject p;
  TempDir dir;
  const std::string file = dir.File("c.log");
  WriteFileBytes(file, Bytes("N old line that is longer than the new log\r\n"));
  FillAbcDef(p);
  ASSERT_TRUE(p.Form.LogWindow.SaveAsAction(p.Form, file));
  EXPECT_EQ(ReadFileBytes(file), Bytes("N abc\r\nW def\r\n"));
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path())) ++entries;
  EXPECT_EQ(entries, 1u);
}

TEST(LogSaving, FileErrorsAreReportedNotThrown) {
  CoreProject p;
  TempDir dir;
  FillAbcDef(p);
  const size_t before = p.Form.LogWindow.Log.Count();
  EXPECT_FALSE(LogSaveToFile(p.Form, dir.File("missing/x.log")));
  EXPECT_TRUE(p.LogContains("Can not open file " + dir.File("missing/x.log")));
  EXPECT_EQ(p.Form.LogWindow.Log.Lines.back().Colour, platform::kColourRed);

  // A folder in the way of the rename: the save fails, nothing is left behind.
  std::filesystem::create_directory(dir.File("taken.log"));
  std::filesystem::create_directory(dir.File("taken.log/inside"));
  EXPECT_FALSE(p.Form.LogWindow.SaveAsAction(p.Form, dir.File("taken.log")));
  EXPECT_TRUE(p.LogContains("Error in file " + dir.File("taken.log")));
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path())) ++entries;
  EXPECT_EQ(entries, 1u);

  // A file that cannot be opened leaves the list as it was.
  platform::LogModel list;
  LogAddItem(p.Form, 0, "kept", list);
  EXPECT_FALSE(LogLoadFromFile(p.Form, dir.File("none.log"), list));
  EXPECT_EQ(Lines(list), (std::vector<Loaded>{{0, "kept"}}));
  EXPECT_FALSE(p.Form.LogWindow.OpenAction(p.Form, dir.File("none.log")));
  EXPECT_GT(p.Form.LogWindow.Log.Count(), before);
  // So does a read error, said with the file's name.
  WriteFileBytes(dir.File("bad.log"), Bytes("N one\r\nN two\r\n"));
  ::setenv("TESS_FAIL_READ", "bad.log@9", 1);
  EXPECT_FALSE(LogLoadFromFile(p.Form, dir.File("bad.log"), list));
  ::unsetenv("TESS_FAIL_READ");
  EXPECT_EQ(Lines(list), (std::vector<Loaded>{{0, "kept"}}));
  EXPECT_TRUE(p.LogContains("Error in file " + dir.File("bad.log") + " (Input/output error)"));
}

TEST(LogLoading, LineEndsAreDroppedButNeverText) {
  CoreProject p;
  TempDir dir;
  struct Case {
    const char* Content;
    std::vector<Loaded> Expected;
  };
  const std::vector<Case> cases = {
      {"N abc\nI def\nW gh\n", {{0, "abc"}, {1, "def"}, {2, "gh"}}},             // LF alone
      {"N abc\r\nW de", {{0, "abc"}, {2, "de"}}},                                // last line unterminated
      {"N abc\r\nI x\r", {{0, "abc"}, {1, "x"}}},                                // last line ends in CR
      {"N a\r\n\r\nN b\r\n", {{0, "a"}}},                                        // an empty line ends the log
      {"X foo\r\nN bar\r\nN\r\n", {{0, "bar"}, {0, ""}}},                        // unknown letter, bare letter
      {"  12:00:01   run started\r\nW   12:00:02   odd\r\n", {{0, " 12:00:01   run started"}, {2, "  12:00:02   odd"}}},
      {"", {}},
  };
  for (const auto& c : cases) {
    const std::string file = dir.File("in.log");
    WriteFileBytes(file, Bytes(c.Content));
    platform::LogModel list;
    ASSERT_TRUE(LogLoadFromFile(p.Form, file, list)) << c.Content;
    EXPECT_EQ(Lines(list), c.Expected) << c.Content;
  }
}

TEST(LogLoading, OpenCommandAddsRawLinesToTheLogWindow) {
  CoreProject p;
  TempDir dir;
  p.Form.Log(0, "before");
  const std::string file = dir.File("open.log");
  WriteFileBytes(file, Bytes("I first\r\nW second\r\n"));
  ASSERT_TRUE(p.Form.LogWindow.OpenAction(p.Form, file));
  // Emptied first; the texts are kept unchanged, without a time stamp.
  EXPECT_EQ(Lines(p.Form.LogWindow.Log), (std::vector<Loaded>{{1, "first"}, {2, "second"}}));
  EXPECT_TRUE(p.Form.LogWindow.Log.Lines.back().Selected);
  EXPECT_FALSE(p.Form.LogWindow.Log.Lines.front().Selected);
}

TEST(LogAutoSave, FollowsTheOptionAndLoadsBackWhole) {
  CoreProject p;
  TempDir dir;
  OutputSettings out;
  out.Folder = dir.Path() + "/";
  p.Form.Log(0, "Starting ...");
  p.Form.Log(1, "Demuxing...");
  p.Form.Log(2, "Warning: AC3 file x is not correct!");
  const std::string file = dir.File("Tessaline.log");

  out.AutoSaveLog = kAutoSaveNever;
  EXPECT_EQ(AutoSaveRunLog(p.Form, out, RunEnd::Finished), AutoSaveResult::NotDue);
  // "At the finish": every run that ends, however it ended; not a run that
  // never began.
  out.AutoSaveLog = kAutoSaveAtFinish;
  EXPECT_EQ(AutoSaveRunLog(p.Form, out, RunEnd::NotStarted), AutoSaveResult::NotDue);
  EXPECT_FALSE(std::filesystem::exists(file));
  for (RunEnd how : {RunEnd::Stopped, RunEnd::Failed, RunEnd::Finished}) {
    std::filesystem::remove(file);
    EXPECT_EQ(AutoSaveRunLog(p.Form, out, how), AutoSaveResult::Saved);
  }
  ASSERT_TRUE(std::filesystem::exists(file));

  const auto original = Lines(p.Form.LogWindow.Log);
  platform::LogModel back;
  ASSERT_TRUE(LogLoadFromFile(p.Form, file, back));
  EXPECT_EQ(Lines(back), original);

  // "Always": also a run whose source could not be opened, into an output
  // folder that does not exist yet.
  out.AutoSaveLog = kAutoSaveAlways;
  out.Folder = dir.File("not/yet/");
  EXPECT_EQ(AutoSaveRunLog(p.Form, out, RunEnd::NotStarted), AutoSaveResult::Saved);
  EXPECT_TRUE(std::filesystem::exists(dir.File("not/yet/Tessaline.log")));

  // No output folder to save into: refused and said so.
  out.Folder.clear();
  EXPECT_EQ(AutoSaveRunLog(p.Form, out, RunEnd::Failed), AutoSaveResult::Failed);
  EXPECT_TRUE(p.LogContains("Can not open file Tessaline.log"));
}

TEST(LogListOperations, CutCopyDeleteSelectAll) {
  CoreProject p;
  auto& list = p.Form.LogWindow.Log;
  auto fill = [&] {
    list.Clear();
    LogAddItem(p.Form, 0, "a", list);
    LogAddItem(p.Form, 2, "b", list);
    LogAddItem(p.Form, 0, "c", list);
    LogAddItem(p.Form, 1, "d", list);
    LogAddItem(p.Form, 0, "e", list);
    // LogAddItem leaves only the newest line selected; choose b and d instead.
    for (auto& l : list.Lines) l.Selected = l.Caption == "b" || l.Caption == "d";
  };
  auto captions = [&] {
    std::string s;
    for (const auto& l : list.Lines) s += l.Caption;
    return s;
  };

  fill();
  p.Form.LogWindow.CopyAction(p.Form);
  EXPECT_EQ(p.Form.Clipboard.Text, "W b\r\nI d\r\n");
  EXPECT_EQ(captions(), "abcde");

  p.Form.Clipboard.Text = "stale";
  p.Form.LogWindow.CutAction(p.Form);
  EXPECT_EQ(p.Form.Clipboard.Text, "W b\r\nI d\r\n");
  EXPECT_EQ(captions(), "ace");

  fill();
  p.Form.LogWindow.DeleteAction();
  EXPECT_EQ(captions(), "ace");
  EXPECT_EQ(p.Form.Clipboard.Text, "W b\r\nI d\r\n");

  p.Form.LogWindow.SelectAllAction();
  EXPECT_EQ(list.SelectedCount(), 3u);
  p.Form.LogWindow.CutAction(p.Form);
  EXPECT_EQ(p.Form.Clipboard.Text, "N a\r\nN c\r\nN e\r\n");
  EXPECT_EQ(list.Count(), 0u);

  p.Form.LogWindow.CutAction(p.Form);
  EXPECT_EQ(p.Form.Clipboard.Text, "");
}

TEST(LogListOperations, AddItemSelectsTheNewLineAndStopsWhileAborted) {
  CoreProject p;
  platform::LogModel list;
  list.VisibleRows = 1;
  LogAddItem(p.Form, 1, "one", list);
  EXPECT_EQ(list.ColumnWidth, list.Width - 5);
  LogAddItem(p.Form, 2, "two", list);
  EXPECT_FALSE(list.Lines[0].Selected || list.Lines[0].Focused);
  EXPECT_TRUE(list.Lines[1].Selected && list.Lines[1].Focused);
  EXPECT_EQ(list.Lines[1].Image, 0);
  EXPECT_EQ(list.Lines[0].Image, 1);
  EXPECT_EQ(list.ScrollOffset, 200);
  EXPECT_EQ(list.ColumnWidth, list.Width - 23);  // more lines than rows: room for the scroll bar
  EXPECT_EQ(p.Form.InfoForm.WarningCount, 1);
  p.Form.Abort = 1;
  LogAddItem(p.Form, 2, "three", list);
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(p.Form.InfoForm.WarningCount, 1);
}

TEST(LogWindow, CountShowsDisplayedAndSelected) {
  CoreProject p;
  auto& list = p.Form.LogWindow.Log;
  for (const char* t : {"1", "2", "3", "4", "5"}) LogAddItem(p.Form, 0, t, list);
  list.Lines[0].Selected = true;  // the newest one is selected already
  EXPECT_EQ(p.Form.LogWindow.CountAction(p.Form), "5 Messages Displayed\r\n2 Messages Selected");
}

TEST(LogWindow, AttachedWithinTwentyPixelsOfTheMainWindowsBottom) {
  CoreProject p;
  p.Window->Top = 100;
  p.Window->Height = 400;  // bottom edge at 500
  struct Case {
    int32_t Top;
    uint8_t Attached;
  };
  for (const Case c : {Case{519, 1}, Case{520, 0}, Case{500, 1}, Case{481, 1}, Case{480, 0}, Case{0, 0}}) {
    p.Form.LogWindow.WindowPositionChanged(p.Form, c.Top);
    EXPECT_EQ(p.Window->LogAttached, c.Attached) << c.Top;
  }
}

TEST(InfoWindow, KeepsNothingItIsGivenDirectly) {
  CoreProject p;
  auto& info = p.Form.InfoForm;
  info.AddLog(2, "x");
  info.AddLogColored(2, "y", 255);
  EXPECT_EQ(info.LogStartingVts(true, 2, true, true),
            (std::vector<std::string>{"Starting Titles in VTS #2:", "** AudioCorrection Mode present. **",
                                      "** Main Mode present. **"}));
  EXPECT_EQ(info.LogStartingVts(true, 1, false, false),
            (std::vector<std::string>{"Starting Titles in VTS #1:", "** VobID Mode present. **"}));
  EXPECT_EQ(info.LogStartingVts(false, 5, true, true), (std::vector<std::string>{"Starting Menus in VTS #5:"}));
  EXPECT_EQ(info.Log.Count(), 0u);
  EXPECT_EQ(info.WarningCount, 0);
  EXPECT_EQ(p.Form.LogWindow.Log.Count(), 0u);
}

}  // namespace
}  // namespace tess::core
