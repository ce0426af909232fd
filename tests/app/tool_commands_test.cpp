// The info and pulldown commands: their output and their exit status (0 done,
// 1 a file that could not be read or written, 2 bad usage).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <tuple>

#include "app/cli.h"
#include "app/options.h"
#include "disc_builder.h"
#include "support/nav_command_oracle.h"
#include "support/test_support.h"

namespace tess::app {
namespace {

int Tool(std::vector<std::string> Args) {
  Args.insert(Args.begin(), "tessaline");
  std::vector<char*> argv;
  for (auto& a : Args) argv.push_back(a.data());
  return RunCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, InfoDescribesEveryFileAndPulldownWritesItsVif) {
  test::TempDir dir;
  const std::string ac3 = test::DataFile("streams/a_48k_6ch.ac3"), video = dir.File("film.m2v");
  std::filesystem::copy_file(test::DataFile("streams/m2v_film_telecine.m2v"), video);
  const std::string readme = test::DataFile("make_streams.sh");
  testing::internal::CaptureStdout();
  EXPECT_EQ(Tool({"info", ac3, video, readme}), 0);
  const std::string described = testing::internal::GetCapturedStdout();
  EXPECT_NE(described.find("Kbps\nSample Rate: 48000 Hz\n"), std::string::npos);
  // Every file is named with the path it was given, a file of no known format too.
  EXPECT_NE(described.find("File name: " + video + "\n"), std::string::npos) << described;
  EXPECT_NE(described.find("Unknown file format: " + readme + "\n"), std::string::npos) << described;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Tool({"pulldown", video}), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Wrote " + video + ".m2v.vif\n");
  EXPECT_TRUE(std::filesystem::exists(video + ".m2v.vif"));
  // 1: a file that cannot be read (a FIFO is never opened) or meets a read error
  // (brought about: in the sniffed head, in an MLP file known by its name); 2: bad usage.
  ASSERT_EQ(::mkfifo(dir.File("fifo.ac3").c_str(), 0600), 0);
  const std::string mlp = test::DataFile("streams/audio_48k_2ch.mlp");
  const std::tuple<std::vector<std::string>, int, const char*> failures[] = {
      {{"info", ac3, dir.File("missing.ac3")}, 1, ""}, {{"info", dir.File("fifo.ac3")}, 1, ""},
      {{"pulldown", dir.File("missing.m2v")}, 1, ""},  {{"info"}, 2, ""},
      {{"info", "--all", ac3}, 2, ""},                 {{"pulldown", video, video}, 2, ""},
      {{"info", ac3}, 1, "6ch.ac3@5"},                 {{"info", mlp}, 1, "2ch.mlp@0"}};
  for (const auto& [args, status, fault] : failures) {
    if (*fault) ::setenv("TESS_FAIL_READ", fault, 1);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(Tool(args), status) << args.back();
    const std::string out = testing::internal::GetCapturedStdout(), err = testing::internal::GetCapturedStderr();
    ::unsetenv("TESS_FAIL_READ");
    // A file that met a read error is named on stderr, not described from what could be read.
    const bool named = err.find("Read error in file " + args.back()) != std::string::npos;
    EXPECT_TRUE(!*fault || (named && out.find("Information") == std::string::npos)) << out;
  }
}

using test::ShownChains;

// "show" lists every chain's commands as dvdunauthor reads them on the disc that
// dvdauthor made, and the menus' buttons; "settings" keeps what --set gives,
// the file's comments, what nothing reads and its line ends, names what it
// ignores, writes no file whose mode or second name a replacement would pass
// by, and leaves no temporary file when it is stopped.
TEST(CommandLine, ShowListsEveryChainAndSettingsAreKept) {
  test::TempDir dir;
  // A builder disc whose eleven chains carry the commands of dvdauthor's, in
  // dvdunauthor's order; the first title set's menu cell has two buttons.
  tools::DiscSpec spec = tools::MakeSampleDiscSpec();
  tools::TitleSetSpec &vts = spec.TitleSets[0], &vts2 = spec.TitleSets[1];
  for (tools::DomainSpec* menu : {&spec.VmgMenu, &vts.Menu, &vts2.Menu}) {
    menu->PGCs.push_back(menu->PGCs[0]);
    menu->PGCs[1].Category = 0;
  }
  vts.Titles.PGCs.push_back(vts.Titles.PGCs[1]);
  vts.Titles.PGCs[2].Category = 0x02;
  tools::ProgramChainSpec* chains[] = {&spec.FirstPlay.PGCs[0], &spec.VmgMenu.PGCs[0], &spec.VmgMenu.PGCs[1],
                                       &vts.Menu.PGCs[0],       &vts.Menu.PGCs[1],     &vts.Titles.PGCs[0],
                                       &vts.Titles.PGCs[1],     &vts.Titles.PGCs[2],   &vts2.Menu.PGCs[0],
                                       &vts2.Menu.PGCs[1],      &vts2.Titles.PGCs[0]};
  std::vector<test::RawChain> raw;
  for (const char* f : test::kNavCommandFiles)
    for (test::RawChain& c : test::ReadRawChains(f)) raw.push_back(std::move(c));
  ASSERT_EQ(raw.size(), std::size(chains));
  for (size_t i = 0; i < raw.size(); ++i)
    chains[i]->PreCommands = raw[i].Pre, chains[i]->PostCommands = raw[i].Post, chains[i]->CellCommands = raw[i].Cell;
  vts.Menu.Cells[0].ButtonCommands = {{0x20, 0x04, 0, 0, 0, 0, 0, 2}, {0x30, 0x02, 0, 0, 0, 1, 0, 0}};
  tools::StandardStreams sources;
  ASSERT_TRUE(tools::LoadStandardStreams(tools::DefaultStreamsFolder(), sources));
  tools::DiscBuildOptions b;
  b.Evo.KeepStreamBytes = false;
  ASSERT_TRUE(tools::BuildStandardDisc(dir.File("disc"), spec, sources, b).Ok);

  const std::string ini = dir.File("settings.ini"), section = kSettingsKey;
  std::ofstream(ini) << "[Tessaline]\nFullScan=1\n[" << section << "]\nTitleMod=3\n; mine\n";
  // Settings kept as people keep them: a link into a dotfiles folder (through a
  // second link), links in a loop, a file a Windows editor wrote.
  const std::string link = dir.File("link.ini"), loop = dir.File("loop.ini"), bom = dir.File("bom.ini");
  std::filesystem::create_directories(dir.File("dotfiles"));
  std::ofstream(dir.File("dotfiles/tessaline.ini")) << "[" << section << "]\nTitleMode=3\n";
  std::filesystem::permissions(dir.File("dotfiles/tessaline.ini"), std::filesystem::perms::owner_read |
                                                                      std::filesystem::perms::owner_write);
  std::filesystem::create_symlink("dotfiles/tessaline.ini", dir.File("link-2.ini"));
  std::filesystem::create_symlink("link-2.ini", link);
  std::filesystem::create_symlink("loop-2.ini", loop);
  std::filesystem::create_symlink("loop.ini", dir.File("loop-2.ini"));
  std::ofstream(bom) << "\xEF\xBB\xBF[" << section << "]\r\nTitleMode=3\r\n";
  const std::string big = dir.File("big.ini");
  std::ofstream(big).close();
  std::filesystem::resize_file(big, (16u << 20) + 1);
  // Files that a replacement would pass by: read-only by its mode, one of two names.
  const std::string readOnly = dir.File("read-only.ini"), named = dir.File("named.ini");
  const std::string asItWas = "[" + section + "]\nTitleMode=3\n";
  std::ofstream(readOnly) << asItWas;
  std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                             std::filesystem::perms::others_read);
  std::ofstream(named) << asItWas;
  std::filesystem::create_hard_link(named, dir.File("named-2.ini"));
  // Another user's private settings file, for root: it stays the owner's.
  const std::string others = dir.File("others.ini");
  std::ofstream(others) << asItWas;
  const bool root = ::geteuid() == 0 && ::chown(others.c_str(), 4321, 4322) == 0 && ::chmod(others.c_str(), 0600) == 0;
  struct Row {
    std::vector<std::string> Args;
    int Status;
    std::string Out, Err;  // pieces of stdout and stderr
    const char* Fault = nullptr;  // reads of a file ending so fail from the offset on
    bool Full = false;            // stdout is /dev/full
    bool Closed = false;          // stdout is a pipe its reader closed: no error is said
    const char* Absent = nullptr;  // a piece stdout must not hold
  };
  const std::string unwritten = "write error on standard output";
  std::filesystem::create_directories(dir.File("loop"));
  std::filesystem::create_symlink("HVDVD_TS", dir.File("loop/HVDVD_TS"));
  // The disc without the video manager's backup and title set 2's information files; its backup alone.
  std::filesystem::copy(dir.File("disc"), dir.File("no-backups"));
  for (const char* f : {"hv000i01.BUP", "hv002i01.IFO", "hv002i01.BUP"}) std::filesystem::remove(dir.File("no-backups/") + f);
  std::filesystem::create_directories(dir.File("backup-only"));
  std::filesystem::copy(dir.File("disc/hv000i01.BUP"), dir.File("backup-only"));
  std::filesystem::create_directories(dir.File("dvd"));
  std::filesystem::create_directory_symlink(test::DataFile("dvdvideo"), dir.File("dvd/VIDEO_TS"));
  ::setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);  // no default settings file
  const Row rows[] = {
      {{"show", dir.File("disc")}, 0, "m01_v001c001-t-s-menu\n            button 1: LinkPGCN 2  -> LU_En_V1_2\n"
                                      "            button 2: JumpTT 1  -> Title_1\n", ""},
      {{"show", test::DataFile("dvdvideo/VIDEO_TS.IFO")}, 0, "VMG  (VIDEO_TS.IFO)", "is a DVD-Video information file"},
      {{"show", dir.File("none")}, 1, "", "does not exist"},
      // A title set that could not be read is named, not shown; a video manager's backup is named.
      {{"show", dir.File("no-backups")}, 1, "VTS_1", "File hv002i01.BUP does not exist!", nullptr, false, false, "VTS_2"},
      {{"show", dir.File("backup-only")}, 1, "", "Its backup copy " + dir.File("backup-only/hv000i01.BUP")},
      {{"show"}, 2, "", "show needs a SOURCE"},
      // Commands as people type them: help as a command, "--" with nothing after it, a DEST
      // too many, a source mistyped.
      {{"help"}, 0, "SIGTERM or SIGHUP\n", ""},
      {{"settings"}, 0, "; no settings file " + dir.File("config/tessaline/settings.ini") + ": the defaults are shown", ""},
      {{"help", "settings"}, 0, "usage: tessaline settings", ""},
      {{"settings", "--settings", ini, "--"}, 0, "[" + section + "]\n", ""},
      {{"demux", dir.File("disc"), dir.File("dotfiles"), dir.File("none-out")}, 2, "", "demux takes one DEST"},
      {{"demux", dir.File("no-disc"), dir.File("disc"), dir.File("none-out"), "--settings", ini}, 1, "",
       "File " + dir.File("no-disc") + " does not exist!"},
      {{"settings", "--settings", ini, "--set", "TitleMode=4", "--set", "destinationsubfolder=/a/Disc1"}, 0,
       "[" + section + "]\n", "unknown setting 'TitleMod' (did you mean TitleMode"},
      {{"settings", "--settings", ini, "--set", "TitleMode=9"}, 2, "", "TitleMode: 9 is out of range"},
      {{"settings", "--settings", ini}, 0, "TitleMode=4\n", "unknown section [Tessaline] is ignored"},
      // The subfolder the settings keep takes the run, DestinationMode=2 for this run only.
      {{"demux", dir.File("disc"), dir.File("out"), "--settings", ini, "--set", "DestinationMode=2", "--vts", "0"}, 0,
       "Destination Folder: " + dir.File("out") + "/Disc1/\n", ""},
      // A settings file that cannot be read whole is left as it is and nothing runs.
      {{"settings", "--settings", ini, "--set", "TitleMode=2"}, 1, "", "cannot read settings file", "settings.ini@0"},
      {{"demux", dir.File("disc"), dir.File("none-out"), "--settings", ini}, 1, "", "Input/output error", "settings.ini@10"},
      {{"settings", "--settings", link, "--set", "FullScan=1"}, 0, "TitleMode=3\n", ""},
      {{"settings", "--settings", loop, "--set", "FullScan=1"}, 1, "", "loop.ini (its symbolic links lead in a loop)"},
      {{"demux", dir.File("disc"), dir.File("none-out"), "--settings", loop}, 1, "", "links lead in a loop"},
      {{"settings", "--settings", bom, "--set", "FullScan=1"}, 0, "TitleMode=3\n", ""},
      // One far larger than any settings file is refused by its size, before it is read.
      {{"settings", "--settings", big}, 1, "", "big.ini is 16777217 bytes"},
      {{"demux", dir.File("disc"), dir.File("none-out"), "--settings", big}, 1, "", "big.ini is 16777217 bytes"},
      // A settings file named and not there is a mistake, not the defaults; a disc folder that cannot be
      // looked into (a link loop, or one the user may not enter) is named for why.
      {{"demux", dir.File("disc"), dir.File("none-out"), "--settings", dir.File("typo.ini")}, 2, "", "does not exist"},
      {{"settings", "--settings", dir.File("typo.ini")}, 2, "", "does not exist"},
      {{"demux", dir.File("loop"), dir.File("none-out"), "--settings", ini}, 1, "",
       "can not look for hv000i01.IFO in " + dir.File("loop/HVDVD_TS") + ": "},
      // Sources demux does not take, said in one line before anything is written: a DVD-Video by its
      // names, Main mode for loose EVO files, and title sets its damaged information cannot show.
      {{"demux", test::DataFile("dvdvideo/VTS_01_0.IFO"), dir.File("none-out"), "--settings", ini}, 1, "",
       "VTS_01_0.IFO is a DVD-Video information file"},
      {{"demux", dir.File("dvd"), dir.File("none-out"), "--settings", ini}, 1, "", "VIDEO_TS.IFO is a DVD-Video"},
      {{"show", dir.File("dvd/VIDEO_TS")}, 0, "VMG  (VIDEO_TS.IFO)", ""},
      {{"demux", dir.File("disc/hv001t01.evo"), dir.File("none-out"), "--settings", ini, "--main", "1"}, 2, "",
       "--main marks title sets"},
      {{"demux", dir.File("no-backups"), dir.File("none-out"), "--settings", ini, "--vts", "1"}, 1, "",
       "title set 1 that could be read: hv000i01.IFO could not be read whole", "hv000i01.IFO@100"},
      // Output that cannot be written fails the command; a run does all its work first.
      {{"--version"}, 1, "", unwritten, nullptr, true},
      {{"show", dir.File("disc")}, 1, "", unwritten, nullptr, true},
      {{"info", test::DataFile("streams/a_48k_6ch.ac3")}, 1, "", unwritten + ": " + std::strerror(ENOSPC), nullptr, true},
      // A listing whose reader has gone (| head) ends quietly.
      {{"show", dir.File("disc")}, 0, "", "", nullptr, false, true},
      {{"help"}, 0, "", "", nullptr, false, true},
      {{"demux", dir.File("disc"), dir.File("full-out"), "--settings", ini}, 1, "", unwritten, nullptr, true},
      {{"settings", "--settings", readOnly, "--set", "FullScan=1"}, 1, "", "read-only (mode 0444), so it is not"},
      {{"settings", "--settings", named, "--set", "FullScan=1"}, 1, "", "has 2 names (hard links)"},
      {{"settings", "--settings", others, "--set", "FullScan=1"}, 0, "FullScan=1\n", ""},
  };
  std::string listing;
  for (const Row& r : rows) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    if (r.Fault) ::setenv("TESS_FAIL_READ", r.Fault, 1);
    const int captured = ::dup(STDOUT_FILENO), full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    int fds[2];
    if (r.Closed && ::pipe(fds) == 0) ::close(fds[0]), ::dup2(fds[1], STDOUT_FILENO), ::close(fds[1]);
    if (r.Full) ::dup2(full, STDOUT_FILENO);
    const int status = Tool(r.Args);
    ::dup2(captured, STDOUT_FILENO), ::close(captured), ::close(full);
    EXPECT_EQ(status, r.Status) << r.Args.back();
    ::unsetenv("TESS_FAIL_READ");
    const std::string out = testing::internal::GetCapturedStdout(), err = testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find(r.Out), std::string::npos) << out;
    EXPECT_NE(err.find(r.Err), std::string::npos) << err << r.Args.back();
    EXPECT_TRUE(!r.Absent || out.find(r.Absent) == std::string::npos) << out;
    EXPECT_FALSE(r.Closed && err.find(unwritten) != std::string::npos) << err;
    if (listing.empty()) listing = out;
  }
  ::unsetenv("XDG_CONFIG_HOME");
  test::ExpectAsDvdunauthorReads(ShownChains(listing));
  EXPECT_FALSE(std::filesystem::exists(dir.File("none-out")));
  const std::vector<uint8_t> kept = test::ReadFileBytes(ini);
  const std::string text(kept.begin(), kept.end());
  for (const char* piece : {"FullScan=1", "TitleMod=3\n; mine\n", "DestinationSubfolder=/a/Disc1\n", "TitleMode=4\n",
                            "DestinationMode=0\n"})
    EXPECT_NE(text.find(piece), std::string::npos) << piece;
  // The links stay links and their target takes the values, private as it was; the mark stays in front.
  EXPECT_EQ(std::filesystem::status(link).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_TRUE(std::filesystem::is_symlink(link) && std::filesystem::is_symlink(dir.File("link-2.ini")));
  EXPECT_TRUE(std::filesystem::is_symlink(loop) && std::filesystem::is_symlink(dir.File("loop-2.ini")));
  // A file of CR LF lines keeps them.
  for (const auto& [f, end] : {std::pair{dir.File("dotfiles/tessaline.ini"), "\n"}, std::pair{bom, "\r\n"}}) {
    const std::vector<uint8_t> b = test::ReadFileBytes(f);
    const std::string saved(b.begin(), b.end()), title = "TitleMode=3" + std::string(end);
    EXPECT_TRUE(saved.find(title) < saved.find("FullScan=1" + std::string(end)) &&
                saved.find("FullScan=1" + std::string(end)) != std::string::npos)
        << f;
    const auto crs = std::count(saved.begin(), saved.end(), '\r');
    EXPECT_EQ(crs, std::string(end) == "\n" ? 0 : std::count(saved.begin(), saved.end(), '\n')) << f;
  }
  EXPECT_TRUE(test::ReadFileBytes(bom).size() > 3 && test::ReadFileBytes(bom)[0] == 0xEF);
  struct stat owned {};
  EXPECT_TRUE(!root || (::stat(others.c_str(), &owned) == 0 && owned.st_uid == 4321 && owned.st_gid == 4322 &&
                        (owned.st_mode & 07777) == 0600));
  for (const std::string& f : {readOnly, named, dir.File("named-2.ini")})
    EXPECT_TRUE(test::ReadFileBytes(f) == std::vector<uint8_t>(asItWas.begin(), asItWas.end())) << f;

  // A stop while the file is written (brought about once its text is half
  // written) ends the program with the settings saved whole and no temporary
  // file beside them.
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGTERM, SIG_DFL);  // as "settings" has it: the demux rows above took the stop signals
    ::setenv("TESS_FAIL_WRITE", ("stop:" + ini + "@40").c_str(), 1);
    ::_exit(Tool({"settings", "--settings", ini, "--set", "TitleMode=2"}));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
    EXPECT_EQ(e.path().string().find(".tmp-"), std::string::npos) << e.path();
  const std::vector<uint8_t> stopped = test::ReadFileBytes(ini);
  EXPECT_NE(std::string(stopped.begin(), stopped.end()).find("TitleMode=2\n"), std::string::npos);
}

}  // namespace
}  // namespace tess::app
