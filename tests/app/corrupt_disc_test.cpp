// A corrupt-disc corpus through the real program: builder discs cut short, with
// bit flips in pack, packet and table headers, zeroed sectors and counts set to
// their maximum. Each run must end (no crash, no hang) with a log line naming
// the damage, and lose nothing but the damaged part: its outputs equal those of
// the same disc with only the damaged packs emptied (or, for damaged tables,
// those of the undamaged disc, domain by domain). Then Stop at many points.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "core/byte_order.h"
#include "core/messages.h"
#include "disc/attribute_texts.h"
#include "disc/ifo_model.h"
#include "demux/demux_support.h"
#include "subpic/services.h"

extern char** environ;

namespace tess::app {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Tree = std::map<std::string, Bytes>;
constexpr size_t kPack = 2048;

std::string ProgramPath() {
  const char* dir = std::getenv("TESS_BIN_DIR");
  if (dir && *dir) return std::string(dir) + "/tessaline";
  return (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "tessaline").string();
}

struct RunEnd {
  int Exit = -1;  // the exit status; -1 for a crash, a signal or a hang
  std::string Log;       // stdout and stderr as they came
  std::string Out, Err;  // each alone
};

// Runs "tessaline Args" from the folder Cwd (empty: this one) with a time
// limit; OnLine sees each log line as it comes (and line 0 at once) and may
// signal the process. A Fault ("TESS_FAIL_OPEN=...", "TESS_FAIL_READ=..." or
// "TESS_FAIL_WRITE=...") makes the program fail opens, reads or writes on
// purpose; any other NAME=VALUE there goes before the environment's own
// ("HOME=..."). After CloseOutAt lines its stdout is closed, as by "| head";
// with -1 it starts with stdout and stderr closed (">&- 2>&-").
RunEnd RunTessaline(std::vector<std::string> Args, const std::string& Cwd = {},
           const std::function<void(pid_t, int)>& OnLine = {}, std::string Fault = {}, int CloseOutAt = 0) {
  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0) return {};
  // A run watched line by line gets little ahead of the lines read: a signal
  // sent at a line finds it still near that line.
  if (OnLine) ::fcntl(out[0], F_SETPIPE_SZ, 4096), ::fcntl(err[0], F_SETPIPE_SZ, 4096);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO})
    if (CloseOutAt < 0) posix_spawn_file_actions_addclose(&actions, fd);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  if (!Cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, Cwd.c_str());
  // The program starts with its stop signals at their defaults and held back, as
  // one sent before it took them would be: one sent at once waits for it.
  posix_spawnattr_t attr;
  sigset_t stops;
  sigemptyset(&stops);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, s);
  posix_spawnattr_init(&attr), posix_spawnattr_setsigmask(&attr, &stops), posix_spawnattr_setsigdefault(&attr, &stops);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const std::string program = ProgramPath();
  std::vector<std::string> args = {program};
  args.insert(args.end(), Args.begin(), Args.end());
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (!Fault.empty()) envp.push_back(Fault.data());
  for (char** e = environ; *e; ++e) envp.push_back(*e);
  envp.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(out[1]), ::close(err[1]);
  RunEnd end;
  if (spawned != 0) {
    ::close(out[0]), ::close(err[0]);
    return end;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  int lines = 0;
  if (OnLine) OnLine(pid, 0);
  // Each line reaches one of the two, flushed whole: read as they come, they
  // make the log in its order.
  pollfd p[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* alone[2] = {&end.Out, &end.Err};
  for (int open = 2; open > 0;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || ::poll(p, 2, static_cast<int>(left.count())) <= 0) break;
    for (int k = 0; k < 2; ++k) {
      if (p[k].fd < 0 || !(p[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      const ssize_t n = ::read(p[k].fd, buf, sizeof buf);
      if (n <= 0) {
        ::close(p[k].fd);
        p[k].fd = -1, --open;
        continue;
      }
      for (ssize_t i = 0; i < n; ++i)
        if (buf[i] == '\n' && OnLine) OnLine(pid, ++lines);
      end.Log.append(buf, static_cast<size_t>(n));
      alone[k]->append(buf, static_cast<size_t>(n));
      if (k == 0 && CloseOutAt > 0 && std::count(end.Out.begin(), end.Out.end(), '\n') >= CloseOutAt) {
        ::close(p[0].fd);
        p[0].fd = -1, --open;
      }
    }
  }
  for (const pollfd& f : p)
    if (f.fd >= 0) ::close(f.fd);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {  // a hang
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ADD_FAILURE() << "the run did not end in time";
      return end;
    }
    ::usleep(1000);
  }
  end.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return end;
}

// "tessaline demux Source Dest" (and Options) into an emptied Dest.
RunEnd Demux(const std::string& Source, const std::string& Dest, const std::string& Settings,
             const std::function<void(pid_t, int)>& OnLine = {}, const std::string& Fault = {},
             const std::vector<std::string>& Options = {}) {
  std::error_code ec;
  fs::remove_all(Dest, ec);
  std::vector<std::string> args = {"demux", Source, Dest, "--settings", Settings};
  args.insert(args.end(), Options.begin(), Options.end());
  return RunTessaline(args, {}, OnLine, Fault);
}

// Every file under Folder by its relative path. The handles in ".dat" records
// (texts of the run's pool, numbered as the run meets them) are left out.
Tree ReadTree(const std::string& Folder) {
  Tree t;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(Folder, ec)) {
    if (!e.is_regular_file()) continue;
    Bytes b = test::ReadFileBytes(e.path().string());
    if (e.path().extension() == ".dat")
      for (size_t r = 0; r + 56 <= b.size(); r += 56)
        for (size_t field : {4, 32, 52}) std::fill_n(b.begin() + static_cast<long>(r + field), 4, 0);
    t[fs::relative(e.path(), Folder).string()] = std::move(b);
  }
  return t;
}

// The elementary-stream outputs and their indexes: what the comparisons hold
// byte for byte. Pictures, track side files and the scan caches are made from
// them afterwards (the caches carry the time they were written).
bool IsStreamOutput(const std::string& Name) {
  static const char* const kEndings[] = {".m2v", ".264", ".vc1", ".ac3", ".dts", ".mlp", ".mpa",
                                         ".wav", ".pcm", ".sup", ".dat", ".hlt2"};
  const std::string ext = fs::path(Name).extension().string();
  return std::any_of(std::begin(kEndings), std::end(kEndings), [&](const char* e) { return ext == e; });
}

Tree StreamOutputs(Tree T) {
  std::erase_if(T, [](const auto& f) { return !IsStreamOutput(f.first); });
  return T;
}

// What a stopped run may leave that the finished run turns into something else
// or removes: raw outputs, indexes and scan caches.
bool IsIntermediate(const std::string& Name) {
  const std::string ext = fs::path(Name).extension().string();
  return ext == ".sup" || ext == ".dat" || ext == ".pcm" || ext == ".vnf" || ext == ".times";
}

// ---- damage, and the same disc with only the damaged part emptied ----

struct Packet {
  size_t At;  // from the pack's start
  uint8_t Sid;
};
std::vector<Packet> PacketsOf(const Bytes& B, size_t Pack) {
  std::vector<Packet> out;
  const uint8_t* p = B.data() + Pack * kPack;
  for (size_t at = 14 + (p[13] & 7); at + 6 <= kPack && p[at] == 0 && p[at + 1] == 0 && p[at + 2] == 1;
       at += 6 + (p[at + 4] << 8 | p[at + 5]))
    out.push_back({at, p[at + 3]});
  return out;
}
// The first pack with at least Count packets, the first of them of stream Sid.
size_t FindPack(const Bytes& B, size_t Count, uint8_t Sid) {
  for (size_t k = 0; k < B.size() / kPack; ++k) {
    const auto ps = PacketsOf(B, k);
    if (ps.size() >= Count && ps[0].Sid == Sid) return k;
  }
  return 0;
}

using Edit = std::function<void(Bytes&)>;
Edit Cut(size_t Size) {
  return [=](Bytes& b) { b.resize(std::min(Size, b.size())); };
}
// Chain written anew over Folder's title chain, as files split at the packs At.
void WriteTitleChain(const std::string& Folder, const Bytes& Chain, std::vector<size_t> At) {
  for (const auto& f : fs::directory_iterator(Folder))
    if (f.path().filename().string().starts_with("hv001t")) fs::remove(f.path());
  At.insert(At.begin(), 0), At.push_back(Chain.size() / kPack);
  for (size_t i = 0; i + 1 < At.size(); ++i)
    test::WriteFileBytes(Folder + "/hv001t0" + std::to_string(i + 1) + ".evo",
                         Bytes(Chain.begin() + long(At[i] * kPack), Chain.begin() + long(At[i + 1] * kPack)));
}
Edit Drop(size_t Size) {
  return [=](Bytes& b) { b.erase(b.begin(), b.begin() + static_cast<long>(std::min(Size, b.size()))); };
}
Edit Zero(size_t Pack) {
  return [=](Bytes& b) { std::fill_n(b.begin() + static_cast<long>(Pack * kPack), kPack, 0); };
}
// Packet Index of the pack (and with Rest every later one) made padding.
Edit Pad(size_t Pack, size_t Index, bool Rest = false) {
  return [=](Bytes& b) {
    const auto ps = PacketsOf(b, Pack);
    for (size_t i = Index; i < ps.size() && (i == Index || Rest); ++i) b[Pack * kPack + ps[i].At + 3] = 0xBE;
  };
}
// A whole pack made one padding packet.
Edit PadPack(size_t Pack) {
  return [=](Bytes& b) {
    uint8_t* p = b.data() + Pack * kPack;
    p[13] &= 0xF8;
    const uint8_t head[6] = {0, 0, 1, 0xBE, (kPack - 20) >> 8, (kPack - 20) & 0xFF};
    std::copy(head, head + 6, p + 14);
    std::fill(p + 20, p + kPack, 0xFF);
  };
}
// Byte At of packet Index (At counted from its start code) set, or ORed with Value.
Edit Set(size_t Pack, size_t Index, size_t At, uint8_t Value, bool Or = false) {
  return [=](Bytes& b) {
    uint8_t& x = b[Pack * kPack + PacketsOf(b, Pack)[Index].At + At];
    x = Or ? (x | Value) : Value;
  };
}
Edit Or(size_t At, uint8_t Value) {
  return [=](Bytes& b) { b[At] |= Value; };
}
Edit SetAt(size_t At, std::vector<uint8_t> Value) {
  return [=](Bytes& b) {
    if (At + Value.size() <= b.size()) std::copy(Value.begin(), Value.end(), b.begin() + static_cast<long>(At));
  };
}
Edit Both(Edit A, Edit B) {
  return [=](Bytes& b) { A(b), B(b); };
}
Edit Fill(uint8_t Value) {
  return [=](Bytes& b) { std::fill(b.begin(), b.end(), Value); };
}

class CorruptDisc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    test::WriteFileBytes(Dir("settings.ini"), {});  // the defaults: a settings file named must be there
    const auto& s = test::SampleStreams();
    tools::DiscBuildOptions o;
    o.Evo.KeepStreamBytes = false;
    tools::DiscSpec spec = tools::MakeSampleDiscSpec();
    disc_ = new tools::DiscBuildSummary(tools::BuildStandardDisc(Dir("disc"), spec, s, o));
    std::vector<std::pair<std::string, tools::DomainSpec>> evos = {{"FEATURE_1.EVO", spec.TitleSets[0].Titles},
                                                                    {"FEATURE_2.EVO", spec.TitleSets[1].Titles}};
    evos[0].second.MaxFileSectors = 0;
    tools::BuildAdvancedDisc(Dir("adv"), "hva00001.VTI", evos, s, o);
    // Every video a still sequence: each becomes a slide show of still files.
    tools::StandardStreams stills = s;
    tools::LoadStreamSource(tools::StreamKind::Mpeg2Video, test::DataFile("streams/m2v_stills.m2v"), stills.Mpeg2);
    tools::BuildStandardDisc(Dir("stills"), spec, stills, o);
    // The same disc whose video manager has a first play and no menus: its other files are the disc's.
    spec.VmgMenu = {};
    tools::BuildStandardDisc(Dir("fp"), spec, s, o);
    fs::copy(Dir("disc"), Dir("renamed"));  // its title chain numbered from 2: nothing of it is missing
    for (char n = '3'; n >= '1'; --n)
      fs::rename(Dir("renamed/hv001t0") + n + ".evo", Dir("renamed/hv001t0") + char(n + 1) + ".evo");
    // Title set 2's titles numbered from 2, their navigation packs without an end address: nothing shows
    // where they begin.
    fs::copy(Dir("disc"), Dir("nonav"));
    Bytes t = test::ReadFileBytes(Dir("disc/hv002t01.evo"));
    for (const auto& v : disc_->Evo.at("vts2-titles").Vobus) SetAt(v.FileSector * kPack + 1303, {0, 0, 0})(t);
    fs::remove(Dir("nonav/hv002t01.evo")), test::WriteFileBytes(Dir("nonav/hv002t02.evo"), t);
    // Title set 1's titles split anew around a file of one pack, which holds no navigation pack.
    fs::copy(Dir("disc"), Dir("onepack"));
    Bytes chain;
    for (const auto& f : disc_->Evo.at("vts1-titles").Files)
      t = test::ReadFileBytes(f.Path), chain.insert(chain.end(), t.begin(), t.end());
    const auto& v = disc_->Evo.at("vts1-titles").Vobus[4];
    WriteTitleChain(Dir("onepack"), chain, {v.Sector + v.Packs - 2u, v.Sector + v.Packs - 1u});
    for (const char* d : {"disc", "adv", "fp", "renamed", "nonav", "onepack"})
      fs::copy(Dir(d), Dir(std::string("work-") + d));
  }
  static void TearDownTestSuite() {
    delete disc_;
    delete dir_;
  }
  static std::string Dir(const std::string& Name) { return dir_->File(Name); }
  static test::TempDir* dir_;
  static tools::DiscBuildSummary* disc_;
};
test::TempDir* CorruptDisc::dir_ = nullptr;
tools::DiscBuildSummary* CorruptDisc::disc_ = nullptr;

enum class Expect {
  Same,          // the outputs of the equivalent disc, name for name and byte for byte
  WholeDomains,  // every output as the undamaged disc's; a domain may be missing whole
  Nothing,       // no output at all
  Begun,         // each output the start of the undamaged disc's, as a stopped run leaves them
  Whole,         // each output the undamaged disc's whole; any may be missing
  OtherSets,     // as Same, but for the damaged file's title set, whose outputs may differ
};

// A run that skipped or only partly read an input fails (1) once it has done
// all else, and names the input; only a whole run is done (0).
struct Damage {
  std::string What;
  std::string File;  // "disc/..." or "adv/..."
  Edit Corrupt;      // null: File is removed
  Edit Equivalent;   // null: the undamaged disc
  const char* LogPiece;
  Expect Rule = Expect::Same;
  int Exit = 1;
  int EquivalentExit = 0;
  std::string Source = {};  // in the work copy, in place of the disc or the list
  std::string Fault = {};   // a failed open, read or write brought about (the file is left as it is)
  std::vector<std::string> Options = {};  // of the damaged run
  // The equivalent runs from this source (in the work copy) instead; the
  // pictures' names are compared then too.
  std::string EquivalentSource = {};
  bool Backup = false;  // File's ".BUP" copy gets the same damage
};

// The pictures of T in the top folders that the files of In lie in.
std::set<std::string> Pictures(const Tree& T, const Tree& In) {
  auto top = [](const std::string& Name) { return fs::path(Name).begin()->string(); };
  std::set<std::string> folders, out;
  for (const auto& f : In) folders.insert(top(f.first));
  for (const auto& f : T)
    if (f.first.ends_with(".bmp") && folders.count(top(f.first))) out.insert(f.first);
  return out;
}

TEST_F(CorruptDisc, DamageCostsOnlyTheDamagedPartAndIsLogged) {
  const std::string ini = Dir("settings.ini");
  ASSERT_EQ(Demux(Dir("work-disc"), Dir("ref-disc"), ini).Exit, 0);
  ASSERT_EQ(Demux(Dir("work-adv/hva00001.VTI"), Dir("ref-adv"), ini).Exit, 0);
  const Tree reference[2] = {StreamOutputs(ReadTree(Dir("ref-disc"))), StreamOutputs(ReadTree(Dir("ref-adv")))};
  ASSERT_GT(reference[0].size(), 40u);
  ASSERT_GT(reference[1].size(), 8u);

  // Packs of the title chain's first file found by what they hold, and
  // navigation packs by the builder's map (one in the angle block).
  const Bytes t01 = test::ReadFileBytes(Dir("disc/hv001t01.evo"));
  const size_t video = FindPack(t01, 1, 0xE0), mixed = FindPack(t01, 4, 0xBD), audio = FindPack(t01, 1, 0xC0);
  const auto& vobus = disc_->Evo.at("vts1-titles").Vobus;
  const auto angle = std::find_if(vobus.begin(), vobus.end(), [](const auto& v) { return v.Angle == 2; });
  ASSERT_NE(angle, vobus.end());
  const std::string angleFile = "disc/" + fs::path(disc_->Evo.at("vts1-titles").Files[angle->File].Path).filename().string();
  const size_t nav = vobus[1].FileSector, angleNav = angle->FileSector;
  const size_t tail = vobus[4].Sector + vobus[4].Packs - 22u, fp = disc_->Evo.at("fp").Vobus[1].FileSector;
  const auto& vts1 = disc_->Ifo.TitleSets[0];
  const size_t pgcit = vts1.StartSectors.at(tools::IfoTable::VTS_PGCIT) * kPack;
  const size_t menus = vts1.StartSectors.at(tools::IfoTable::MenuPGCI_UT) * kPack;
  const size_t vmgMenus = disc_->Ifo.Vmg.StartSectors.at(tools::IfoTable::MenuPGCI_UT) * kPack;
  const size_t titleSearch = disc_->Ifo.Vmg.StartSectors.at(tools::IfoTable::TT_SRPT) * kPack;
  const size_t attributes = disc_->Ifo.Vmg.StartSectors.at(tools::IfoTable::VTS_ATRT) * kPack;
  const size_t chain = vts1.TitlePGCs.at(0).FilePos;
  const char* kCut = "holds only";
  const char* kBadPack = "MPEG is not correct";
  const char* kSkipped = "table skipped";
  const Edit frenchTitles =
      Both(Or(disc::vtsi::TitleVideoAttr, 0x02), SetAt(disc::kTitleSubpicAttrOffset + 2, {'f', 'r'}));
  // A title set whose information file and backup are link loops.
  fs::copy(Dir("disc"), Dir("work-loop"));
  for (const std::string f : {"hv001i01.IFO", "hv001i01.BUP"})
    fs::remove(Dir("work-loop/" + f)), fs::create_symlink(f, Dir("work-loop/" + f));
  const std::string loop = "hv001i01.BUP: " + std::string(std::strerror(ELOOP));
  auto readError = [](size_t At) { return "TESS_FAIL_READ=hv001i01.IFO@" + std::to_string(At); };
  const std::string badVmg = "reading error! " + Dir("work-disc/hv000i01.IFO") + ". Its backup copy " +
                             Dir("work-disc/hv000i01.BUP") + " is there";

  const std::vector<Damage> table = {
      // EVO files cut short: in a navigation pack, in data packs, at a pack's end, to one byte.
      // Cut at a pack's end, a file still loses what its cells place after it.
      {"t01 cut in a navigation pack", "disc/hv001t01.evo", Cut(nav * kPack + 700), Cut(nav * kPack), kCut,
       Expect::Same, 1, 1},
      {"t01 cut in a data pack", "disc/hv001t01.evo", Cut(video * kPack + 1), Cut(video * kPack), kCut, Expect::Same,
       1, 1},
      {"t01 cut near its end", "disc/hv001t01.evo", Cut(t01.size() - 1), Cut(t01.size() - kPack), kCut, Expect::Same,
       1, 1},
      // A VOB cut short inside an angle block keeps a subpicture unit whose cell
      // never reached the script: the run says so and ends as failed.
      {"t02 cut in the angle block", angleFile, Cut(angleNav * kPack + 2047), Cut(angleNav * kPack), kCut,
       Expect::Same, 1, 1},
      {"t03 cut", "disc/hv001t03.evo", Cut(100 * kPack + 1000), Cut(100 * kPack), kCut, Expect::Same, 1, 1},
      // The file where the gap lies is named: the navigation packs after it show it, or the missing one after it.
      {"t01 one pack short", "disc/hv001t01.evo", Cut(t01.size() - kPack), Cut(t01.size() - kPack),
       "hv001t01.evo: cut short, 1 sector missing at its end", Expect::Same, 1, 1},
      {"last file of a chain missing", "disc/hv001t03.evo", nullptr, nullptr,
       "hv001t03.evo: missing, or hv001t02.evo is cut short", Expect::OtherSets},
      // A file no cell table covers, cut at a pack's end: by its last VOBU, in either scan.
      {"first-play file cut at a pack's end, every pack scanned", "disc/hv000m01.evo", Cut(30 * kPack),
       Cut(30 * kPack), "hv000m01.evo: cut short", Expect::Same, 1, 1, {}, {}, {"--set", "FullScan=1"}},
      {"loose EVO file cut at a pack's end", "adv/FEATURE_2.EVO", Cut(120 * kPack), Cut(120 * kPack),
       "FEATURE_2.EVO: cut short, its last VOBU goes on", Expect::Same, 1, 1, "adv/FEATURE_2.EVO"},
      {"listed file read as the one before's next file, cut at a pack's end", "adv/FEATURE_2.EVO", Cut(200 * kPack),
       Cut(200 * kPack), "FEATURE_2.EVO: cut short", Expect::Same, 1, 1},
      {"title set 2's titles cut to one byte", "disc/hv002t01.evo", Cut(1), Cut(0), kCut, Expect::Same, 1, 1},
      {"title set 2's titles emptied", "disc/hv002t01.evo", Cut(0), Cut(0), "hv002t01.evo is empty.", Expect::Same,
       1, 1},
      // Before a file of no navigation pack, the block numbers cannot tell which of the two lost the sectors.
      {"file before one without a navigation pack cut", "onepack/hv001t01.evo", Cut(tail * kPack), Cut(tail * kPack),
       "hv001t01.evo or hv001t02.evo: cut short, 20 sectors", Expect::Same, 1, 1, "onepack"},
      // A loose chain is read as one: its files held against each other, as a disc's are.
      {"loose chain's file cut at a VOBU boundary", "disc/hv001t01.evo", Cut(vobus[3].FileSector * kPack),
       Cut(vobus[3].FileSector * kPack), "hv001t01.evo: cut short", Expect::Same, 1, 1, "disc/hv001t01.evo"},
      // A first file that lost its start, held against the first cell: of a title chain and of a first play.
      {"title chain's first VOBUs lost", "disc/hv001t01.evo", Drop(vobus[1].FileSector * kPack),
       Drop(vobus[1].FileSector * kPack), "hv001t01.evo: 113 sectors missing at its start", Expect::Same, 1, 1},
      {"first play's first VOBU lost", "disc/hv000m01.evo", Drop(fp * kPack), Drop(fp * kPack),
       "hv000m01.evo: 31 sectors missing at its start", Expect::Same, 1, 1},
      {"menu cut", "disc/hv001m01.evo", Cut(3 * kPack + 5), Cut(3 * kPack), kCut, Expect::Same, 1, 1},
      {"listed EVO file cut", "adv/FEATURE_1.EVO", Cut(50 * kPack + 9), Cut(50 * kPack), kCut, Expect::Same, 1, 1},
      // Zeroed sectors.
      {"zeroed navigation pack", "disc/hv001t01.evo", Zero(nav), PadPack(nav), kBadPack},
      {"zeroed navigation pack in the angle block", angleFile, Zero(angleNav), PadPack(angleNav), kBadPack},
      {"zeroed first pack", "disc/hv000m02.evo", Zero(0), PadPack(0), kBadPack},
      {"zeroed video pack", "disc/hv001t01.evo", Zero(video), PadPack(video), "packs is not an MPEG pack"},
      {"zeroed pack of four packets", "disc/hv001t01.evo", Zero(mixed), PadPack(mixed), kBadPack},
      // Bit flips and maximal values in pack and packet headers.
      {"pack start code", "disc/hv001t01.evo", SetAt(video * kPack + 3, {0xBB}), PadPack(video), kBadPack},
      {"pack stuffing at its maximum", "disc/hv001t01.evo", Or(audio * kPack + 13, 7), PadPack(audio),
       "No packet start code"},
      {"packet length at its maximum", "disc/hv001t01.evo", Both(Set(mixed, 1, 4, 0xFF), Set(mixed, 1, 5, 0xFF)),
       Pad(mixed, 1, true), ": 1 damaged packet was dropped"},
      {"packet start code", "disc/hv001t01.evo", Set(mixed, 2, 2, 0x81), Pad(mixed, 2, true), "No packet start code"},
      {"header length at its maximum", "disc/hv001t01.evo", Set(mixed, 0, 8, 0xFF), Pad(mixed, 0),
       "does not fit its packet"},
      {"every optional header field flagged", "disc/hv001t01.evo", Set(video, 0, 7, 0x3F, true), Pad(video, 0),
       "announces more fields"},
      {"navigation packet length at its maximum", "disc/hv001t01.evo",
       Both(Set(nav, 1, 4, 0xFF), Set(nav, 1, 5, 0xFF)), Pad(nav, 1, true), "runs past its pack"},
      {"search packet too short for its ids", "disc/hv001t01.evo", Both(Set(nav, 2, 4, 0), Set(nav, 2, 5, 20)),
       Set(nav, 2, 6, 2), "too short for its ids"},
      // Information files: a bad identifier takes the backup copy; damaged
      // tables are skipped with a line each.
      {"title set identifier", "disc/hv001i01.IFO", SetAt(0, {'X'}), nullptr, "Loading hv001i01.BUP", Expect::Same, 0},
      // Both copies bad: the title set's EVO files, found by its number, are still read whole.
      {"title set and backup identifiers", "disc/hv002i01.IFO", SetAt(0, {'X'}), nullptr,
       "hv002i01.BUP: neither is a readable information file; title set 2's EVO files were read", Expect::Same, 1, 0,
       {}, {}, {}, {}, true},
      // A read error anywhere in a title set's information file takes the backup copy too.
      {"read error past the identifier", "disc/hv001i01.IFO", Cut(SIZE_MAX), nullptr, "Loading hv001i01.BUP",
       Expect::Same, 0, 0, {}, readError(12)},
      {"read error in the first sector", "disc/hv001i01.IFO", Cut(SIZE_MAX), nullptr, "Loading hv001i01.BUP",
       Expect::Same, 0, 0, {}, readError(700)},
      {"read error at the first sector's last byte", "disc/hv001i01.IFO", Cut(SIZE_MAX), nullptr,
       "Loading hv001i01.BUP", Expect::Same, 0, 0, {}, readError(2047)},
      {"read error, and the backup's identifier", "disc/hv001i01.BUP", SetAt(0, {'X'}), nullptr,
       "hv001i01.IFO and hv001i01.BUP: neither is a readable information file", Expect::OtherSets, 1, 0, {},
       readError(100)},
      {"information file and backup link loops", "disc/hv001m01.evo", Cut(SIZE_MAX), nullptr, loop.c_str(),
       Expect::OtherSets, 1, 0, "loop"},
      {"a listed title set without files", "disc/hv000i01.IFO", SetAt(attributes + 1, {3}), nullptr,
       "hv003i01.IFO and hv003i01.BUP: neither is a readable information file"},
      // A title-set table that leaves out a title set the rest of the disc shows: the backup's is read,
      // and where it leaves it out too, so is what remains (also for --vts).
      {"a title set left out of the title-set table", "disc/hv000i01.IFO", SetAt(attributes + 1, {1}), nullptr,
       "File hv000i01.IFO is not correct. Loading hv000i01.BUP", Expect::Same, 0},
      {"no title-set table in either copy", "disc/hv000i01.IFO", SetAt(disc::vmgi::VTS_ATRT, {0, 0, 0, 0}), nullptr,
       "title set 2 was not read: hv000i01.IFO has no title-set table", Expect::WholeDomains, 1, 0, {}, {}, {}, {},
       true},
      {"--vts naming a title set both copies leave out", "disc/hv000i01.IFO", SetAt(attributes + 1, {1}), nullptr,
       "--vts 2: the source has no title set 2 that could be read", Expect::Nothing, 1, 0, {}, {}, {"--vts", "2"}, {},
       true},
      {"a title set's information file alone", "disc/hv001i01.IFO", [](Bytes&) {}, nullptr, "/VTS_001/Titles/t001_v",
       Expect::WholeDomains, 0, 0, "disc/hv001i01.IFO"},
      // Its titles with another display permission and French subpictures: their pictures' folders
      // are named as on the whole disc.
      {"a title set's information file alone, its own attributes", "disc/hv001i01.IFO", frenchTitles, frenchTitles,
       "/VTS_001/Titles/t001_v", Expect::WholeDomains, 0, 0, "disc/hv001i01.IFO", {}, {}, "disc"},
      {"video manager identifier", "disc/hv000i01.IFO", SetAt(11, {0}), nullptr, badVmg.c_str(), Expect::Nothing},
      {"title set cut short", "disc/hv001i01.IFO", Cut(3000), nullptr, kSkipped, Expect::WholeDomains},
      {"program chain table past the file", "disc/hv001i01.IFO", SetAt(204, {0x80}), nullptr, kSkipped,
       Expect::WholeDomains},
      {"program chains at their maximum", "disc/hv001i01.IFO", SetAt(pgcit, {0xFF, 0xFF}), nullptr, kSkipped,
       Expect::WholeDomains},
      {"menu language units at their maximum", "disc/hv001i01.IFO", SetAt(menus, {0xFF, 0xFF}), nullptr, kSkipped,
       Expect::WholeDomains},
      {"video manager menu language units at their maximum", "disc/hv000i01.IFO", SetAt(vmgMenus, {0xFF, 0xFF}),
       nullptr, "HV000M02.EVO; it is not demultiplexed", Expect::WholeDomains},
      // No damage: a video manager without menus plays its first play's cells, or none at all.
      {"a first play and no menus", "fp/hv000m01.evo", [](Bytes&) {}, nullptr, "/VMG/FirstPGC/Menu/vmg_v001c001",
       Expect::WholeDomains, 0, 0, "fp"},
      {"a first-play file and no cell at all", "fp/hv000i01.IFO", SetAt(disc::vmgi::FirstPlayPGC, {0, 0, 0, 0}),
       nullptr, "nothing to demultiplex in it", Expect::WholeDomains, 0, 0, "fp"},
      {"cells of a chain at their maximum", "disc/hv001i01.IFO", SetAt(chain + 2, {0xFF, 0xFF}), nullptr,
       "program chain 1", Expect::WholeDomains},
      {"titles at their maximum", "disc/hv000i01.IFO", SetAt(titleSearch, {0xFF, 0xFF}), nullptr, kSkipped,
       Expect::WholeDomains},
      // The ".VTI" list: its count at its maximum, cut short, a name that names no file.
      {"list count at its maximum", "adv/hva00001.VTI", SetAt(2 * kPack, {0xFF, 0xFF, 0xFF, 0xFF}), nullptr,
       "Invalid file format", Expect::Nothing},
      {"list cut short", "adv/hva00001.VTI", Cut(190), nullptr, "Invalid file format", Expect::Nothing},
      {"a name in the list", "adv/hva00001.VTI", SetAt(2 * kPack + 4 * 4 + 320 + 2 + 12, {'Q'}), nullptr,
       "does not exist"},
      // A name that is no file name costs its entry, not the list: the same as a missing file.
      {"a bad name in the list", "adv/hva00001.VTI", SetAt(2 * kPack + 4 * 4 + 2 + 3, {'/'}),
       SetAt(2 * kPack + 4 * 4 + 2 + 12, {'Q'}), "names no file: \"FEA/URE_1.EVO\"", Expect::Same, 1, 1},
      // EVO files empty, missing or of no MPEG pack at all (said in 20 lines and one that counts the rest).
      {"menu file emptied", "disc/hv002m01.evo", Cut(0), nullptr, "hv002m01.evo: the file holds no pack",
       Expect::WholeDomains},
      {"menu file missing", "disc/hv002m01.evo", nullptr, nullptr, "hv002m01.evo: missing", Expect::WholeDomains},
      {"video manager menu file missing", "disc/hv000m02.evo", nullptr, nullptr, "hv000m02.evo: missing",
       Expect::WholeDomains},
      {"first-play file missing", "disc/hv000m01.evo", nullptr, nullptr, "hv000m01.evo: missing", Expect::WholeDomains},
      // One that cannot be opened is skipped as an empty one: the rest of its chain is read.
      {"a title file that cannot be opened", "disc/hv001t02.evo", Cut(SIZE_MAX), Cut(0),
       "hv001t02.evo: Permission denied; it was not read", Expect::Same, 1, 1, {}, "TESS_FAIL_OPEN=hv001t02.evo"},
      {"menu file of no MPEG pack", "disc/hv001m01.evo", Fill(0x47), nullptr,
       "MPEG is not correct in 41 more packs of HV001M01.EVO", Expect::WholeDomains},
      // Read errors (EIO) in the source and in the outputs the run reads back, and a disk that fills up
      // while a video is written and in the title subpictures' pictures.
      {"read error in a menu", "disc/hv001m01.evo", Cut(SIZE_MAX), nullptr, "Read error while demux file",
       Expect::Begun, 1, 0, {}, "TESS_FAIL_READ=hv001m01.evo@" + std::to_string(3 * kPack)},
      {"read error in the videos", "disc/hv001m01.evo", Cut(SIZE_MAX), nullptr, "Unable to read from file",
       Expect::Begun, 1, 0, {}, "TESS_FAIL_READ=_e0.m2v@4096"},
      {"read error in the DTS audio", "disc/hv001m01.evo", Cut(SIZE_MAX), nullptr, "Read error in file",
       Expect::Begun, 1, 0, {}, "TESS_FAIL_READ=_88.dts@3000"},
      {"disk full while demultiplexing", "disc/hv001m01.evo", Cut(SIZE_MAX), nullptr, "Removed the unfinished output",
       Expect::Whole, 1, 0, {}, "TESS_FAIL_WRITE=_e0.m2v@65536"},
      {"disk full in the post-processing", "disc/hv001m01.evo", Cut(SIZE_MAX), nullptr, "The run stops",
       Expect::Whole, 1, 0, {}, "TESS_FAIL_WRITE=_0001.bmp@100"},
      // Outputs read back: the information pass's format and header readers, and the title subpictures' index
      // and units.
      {"read error at the start of the AC-3 audio", "disc/hv001m01.evo", Cut(SIZE_MAX), nullptr,
       "Read error in file", Expect::Same, 1, 0, {}, "TESS_FAIL_READ=_c0.ac3@0"},
      {"an AC-3 output that cannot be opened again", "disc/hv001m01.evo", Cut(SIZE_MAX), nullptr,
       "_c0.ac3: Permission denied", Expect::Same, 1, 0, {}, "TESS_FAIL_OPEN=_c0.ac3"},
      {"read error in the MLP audio", "disc/hv001m01.evo", Cut(SIZE_MAX), nullptr, "_b0.mlp: Input/output error",
       Expect::Same, 1, 0, {}, "TESS_FAIL_READ=_b0.mlp@0"},
      {"read error in a title subpicture index", "disc/hv001m01.evo", Cut(SIZE_MAX), nullptr,
       "x003.dat: Input/output error", Expect::Whole, 1, 0, {}, "TESS_FAIL_READ=x003.dat@0"},
      {"read error in a title subpicture stream", "disc/hv001m01.evo", Cut(SIZE_MAX), nullptr,
       "x003_20.sup: Input/output error", Expect::Whole, 1, 0, {}, "TESS_FAIL_READ=x003_20.sup@100"},
      // A chain of three files without its first is read from its second; the VOBs that begin in the
      // first are cut short. One numbered from 2 is whole.
      {"first file of a chain missing", "disc/hv001t01.evo", nullptr, nullptr,
       "hv001t01.evo: missing; its chain was read from hv001t02.evo on", Expect::OtherSets},
      {"a chain numbered from 2", "renamed/hv001t02.evo", [](Bytes&) {}, nullptr, "The title chain starts at hv001t02",
       Expect::Same, 0, 0, "renamed"},
      {"a chain numbered from 2 without a navigation pack", "nonav/hv002t02.evo", [](Bytes&) {}, nullptr,
       "hv002t01.evo: missing; its chain was read from hv002t02.evo on", Expect::OtherSets, 1, 0, "nonav"},
      // ... and in the side files, an index's first record, a video info cache and the saved log.
      {"disk full in a track's side file", "disc/hv001m01.evo", Cut(SIZE_MAX), nullptr,
       "Removed the unfinished output", Expect::Whole, 1, 0, {}, "TESS_FAIL_WRITE=-t_0.data@232"},
      {"disk full in a title subpicture index", "disc/hv001m01.evo", Cut(SIZE_MAX), nullptr,
       "Removed the unfinished output", Expect::Whole, 1, 0, {}, "TESS_FAIL_WRITE=t001_v001x003.dat@0"},
      {"disk full in a title subpicture written by name", "disc/hv001m01.evo", Cut(SIZE_MAX), nullptr,
       "Removed the unfinished output", Expect::Whole, 1, 0, {}, "TESS_FAIL_WRITE=t001_v001x003_20.sup@1000",
       {"--set", "MemoryManager=2"}},
      {"disk full in a video info cache", "disc/hv001m01.evo", Cut(SIZE_MAX), nullptr, "Removed the unfinished output",
       Expect::Whole, 1, 0, {}, "TESS_FAIL_WRITE=.vnf@100"},
      {"disk full when the log is saved", "disc/hv001m01.evo", Cut(SIZE_MAX), nullptr, "Tessaline.log (No space",
       Expect::Whole, 1, 0, {}, "TESS_FAIL_WRITE=Tessaline.log@0", {"--set", "AutoSaveLog=1"}},
  };

  for (const Damage& d : table) {
    SCOPED_TRACE(d.What);
    const bool adv = d.File.rfind("adv/", 0) == 0;
    const std::string clean = Dir(d.File), work = Dir("work-" + d.File);
    const std::string source = !d.Source.empty() ? Dir("work-" + d.Source) : adv ? Dir("work-adv/hva00001.VTI") : Dir("work-disc");
    const Bytes original = test::ReadFileBytes(clean);
    auto runWith = [&](const Edit& E, const std::string& Out) {
      Bytes b = original;
      if (E) E(b);
      test::WriteFileBytes(work, b);
      if (!E) fs::remove(work);
      const bool other = Out != "out" && !d.EquivalentSource.empty();
      return Demux(other ? Dir("work-" + d.EquivalentSource) : source, Dir(Out), ini, {}, Out == "out" ? d.Fault : "",
                   Out == "out" ? d.Options : std::vector<std::string>{});
    };
    const std::string backup = work.substr(0, work.size() - 4) + ".BUP";
    const Bytes backupBytes = d.Backup ? test::ReadFileBytes(backup) : Bytes();
    if (d.Backup) test::WriteFileBytes(backup, [&] { Bytes b = backupBytes; return d.Corrupt(b), b; }());
    const RunEnd damaged = runWith(d.Corrupt, "out");
    if (d.Backup) test::WriteFileBytes(backup, backupBytes);
    EXPECT_EQ(damaged.Exit, d.Exit) << damaged.Log;
    EXPECT_NE(damaged.Log.find(d.LogPiece), std::string::npos) << damaged.Log;
    EXPECT_EQ(damaged.Log.find("a later file of the chain"), std::string::npos) << "the file is named";
    // What could be done was done, the post-processing too (unless a failed write stopped the run), and
    // the run names what it left, each on a line of its own kind: the inputs it skipped, the write that
    // failed (no input) with the outputs removed for it, or a log that could not be saved, which fails a
    // run that did all else. A failed run never shows the success line.
    const bool stopped = d.Fault.starts_with("TESS_FAIL_WRITE");
    const bool logLost = d.Fault.find("Tessaline.log") != std::string::npos;
    const char* named = logLost ? "its log could not be saved" : stopped ? "it could not write to " : "Skipped or only";
    for (const char* piece : {"Finishing data format extraction", named})
      EXPECT_TRUE(d.Exit == 0 || d.Rule == Expect::Nothing || (stopped && !logLost && *piece == 'F') ||
                  damaged.Log.find(piece) != std::string::npos) << piece;
    EXPECT_FALSE(stopped && damaged.Log.find("Skipped or only partly read") != std::string::npos) << damaged.Log;
    // A skipped input ends no later step early: the title sets read whole keep no ".sup" or ".dat".
    const std::string damagedSet = "VTS_" + fs::path(d.File).filename().string().substr(2, 3) + "/";
    for (const auto& [name, bytes] : ReadTree(Dir("out")))
      EXPECT_FALSE(!stopped && d.Rule != Expect::Nothing && name.find("/Titles/t0") != std::string::npos &&
                   !name.starts_with(damagedSet) && (name.ends_with(".sup") || name.ends_with(".dat"))) << name;
    // A file that met the failed write is gone, whatever it was.
    if (stopped) {
      const std::string suffix = d.Fault.substr(d.Fault.find('=') + 1, d.Fault.rfind('@') - d.Fault.find('=') - 1);
      const size_t offset = std::stoul(d.Fault.substr(d.Fault.rfind('@') + 1));
      for (const auto& [name, bytes] : ReadTree(Dir("out")))
        EXPECT_FALSE(name.ends_with(suffix) && bytes.size() >= offset) << name << " is left with " << bytes.size();
    }
    const Tree gotAll = ReadTree(Dir("out"));
    const Tree got = StreamOutputs(gotAll);
    Tree want = reference[adv ? 1 : 0];
    if (d.Equivalent) {
      const RunEnd equivalent = runWith(d.Equivalent, "equivalent");
      EXPECT_EQ(equivalent.Exit, d.EquivalentExit);
      // A failure names its reason there too (a subpicture unit whose cell no track shows).
      EXPECT_TRUE(d.EquivalentExit == 0 || equivalent.Log.find("Skipped or only partly read: ") != std::string::npos)
          << equivalent.Log;
      const Tree wantAll = ReadTree(Dir("equivalent"));
      want = StreamOutputs(wantAll);
      if (!d.EquivalentSource.empty()) {
        EXPECT_FALSE(Pictures(gotAll, got).empty());
        EXPECT_EQ(Pictures(gotAll, got), Pictures(wantAll, got));
      }
    }
    test::WriteFileBytes(work, original);

    if (d.Rule == Expect::Nothing) {
      EXPECT_TRUE(got.empty());
      continue;
    }
    if (d.Rule == Expect::Begun || d.Rule == Expect::Whole) {
      for (const auto& [name, bytes] : got) {
        const auto w = want.find(name);
        if (IsIntermediate(name)) continue;
        ASSERT_TRUE(w != want.end()) << name << " is no output of the run";
        const bool begun = bytes.size() <= w->second.size() && std::equal(bytes.begin(), bytes.end(),
                                                                          w->second.begin());
        // The audio export cuts WAV files again at the end of a run: a WAV need only agree with its size.
        const bool wav = name.ends_with(".wav") && bytes.size() >= 44 && core::ReadLE32(&bytes[4]) + 8u == bytes.size();
        EXPECT_TRUE(wav || (d.Rule == Expect::Whole ? bytes == w->second : begun)) << name;
      }
      continue;
    }
    auto spared = [&](const std::string& Name) { return d.Rule == Expect::OtherSets && Name.starts_with(damagedSet); };
    for (const auto& [name, bytes] : got) {
      const auto w = want.find(name);
      EXPECT_TRUE(spared(name) || (w != want.end() && w->second == bytes)) << name;
    }
    for (const auto& [name, bytes] : want) {
      if (got.count(name) || spared(name)) continue;
      // A missing output is allowed only with its whole domain, whose table was skipped.
      const std::string domain = fs::path(name).parent_path().string();
      const bool wholeDomain = std::none_of(got.begin(), got.end(), [&](const auto& g) {
        return fs::path(g.first).parent_path().string() == domain;
      });
      EXPECT_TRUE(d.Rule == Expect::WholeDomains && wholeDomain) << name << " is missing";
    }
  }
}

// A valid title chain split anywhere comes out as the chain in one file, read
// loose or as a disc: the checks of a chain's files take no valid split for a cut.
TEST_F(CorruptDisc, ChainSplitAnywhereComesOutAsWhole) {
  tools::DiscSpec spec = tools::MakeSampleDiscSpec({.TitleSets = 1});
  spec.TitleSets[0].Titles.MaxFileSectors = 0;
  spec.TitleSets[0].Menu = {};
  tools::DiscBuildOptions o;
  o.Evo.KeepStreamBytes = false, o.TitleStreams = {};  // video, AC-3 and subpictures
  const auto sum = tools::BuildStandardDisc(Dir("split"), spec, test::SampleStreams(), o);
  const Bytes chain = test::ReadFileBytes(Dir("split/hv001t01.evo"));
  std::vector<std::vector<size_t>> splits = {{}};  // the packs where later files begin; the whole file first
  const auto& vobus = sum.Evo.at("vts1-titles").Vobus;
  for (size_t k = 1; k < vobus.size(); ++k) {  // at every VOBU boundary, and in turn a pack before or after it,
    const size_t s = vobus[k].Sector, n = vobus[k].Packs;  // mid-VOBU or a middle file inside the VOBU
    const std::vector<size_t> other[] = {{s - 1}, {s + 1}, {s + n / 2}, {s + 1, s + n - 1}};
    splits.insert(splits.end(), {{s}, other[k % 4]});
  }
  Tree whole[2];
  for (const auto& at : splits) {
    SCOPED_TRACE(::testing::PrintToString(at));
    WriteTitleChain(Dir("split"), chain, at);
    for (int road = 0; road < 2; ++road) {
      const RunEnd end =
          Demux(Dir(road ? "split/hv001i01.IFO" : "split/hv001t01.evo"), Dir("split-out"), Dir("settings.ini"));
      ASSERT_EQ(end.Exit, 0) << end.Log;
      if (at.empty()) whole[road] = ReadTree(Dir("split-out"));
      EXPECT_TRUE(ReadTree(Dir("split-out")) == whole[road]) << (road ? "disc" : "loose");
    }
  }
}

// Destinations and loose files a user tries, one row each: the user's own files
// in DEST stay whatever the answer and wherever the program runs from, a source
// kept inside DEST is never deleted nor written over, nor are outputs written or
// folders made in a folder that holds it, however its path is written, one run
// at a time holds DEST, outputs of one name add up, and a file without
// navigation packs names its outputs. Whatever the end of a run, it
// leaves neither its lock nor a scan cache behind, and writes no ".times".
TEST_F(CorruptDisc, DestinationsAndLooseFilesAUserTries) {
  const std::string ini = Dir("settings.ini"), place = Dir("place"), feature = Dir("work-adv/FEATURE_2.EVO");
  ASSERT_EQ(Demux(feature, Dir("single"), ini).Exit, 0);
  const Bytes video = test::ReadFileBytes(Dir("single/FEATURE_2_e0.m2v")), wav = test::ReadFileBytes(Dir("single/FEATURE_2_a0.wav"));
  fs::create_directory_symlink(Dir("work-adv"), Dir("copy"));  // the same files under other names
  fs::create_directory_symlink(place + "/VMG", Dir("vmg-link"));
  const bool ffmpeg = test::HaveFfmpeg();  // it makes DVD packs without navigation packs
  if (ffmpeg)
    test::CommandOutput("ffmpeg -v error -y -f lavfi -i testsrc=size=720x480:rate=30000/1001:duration=1 -f lavfi -i "
                        "sine=duration=1 -c:v mpeg2video -c:a mp2 -f vob '" + Dir("-clip.evo") + "'");
  auto file = [&](const std::string& Name) { return test::ReadFileBytes(place + "/" + Name); };
  // A list longer than the title-set dialog: only the positions named are demultiplexed.
  std::vector<std::string> many = {"--vts", "1,120"};
  fs::create_directory(Dir("many"));
  for (int i = 1; i <= 150; ++i) {
    many.push_back(Dir("many/f" + std::to_string(1000 + i).substr(1) + ".evo"));
    fs::create_symlink(feature, many.back());
  }
  many.push_back(place);
  // A source copied into DEST, and the check that each of its files is as it was.
  auto keep = [&](const std::string& From, const std::string& Sub) {
    return [=] {
      fs::create_directories(place + "/" + Sub);
      fs::copy(Dir(From), place + "/" + Sub, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
      test::WriteFileBytes(place + "/" + Sub + "/user-notes.txt", {'n'});
    };
  };
  auto intact = [&](const std::string& From, const std::string& Sub) {
    return [=] {
      for (const auto& [name, bytes] : ReadTree(Dir(From))) EXPECT_TRUE(file(Sub + "/" + name) == bytes) << name;
      EXPECT_TRUE(file(Sub + "/user-notes.txt") == Bytes{'n'});
    };
  };
  // The slide shows' disc, whole and stopped in its post-processing.
  const RunEnd slides = Demux(Dir("stills"), Dir("slides"), ini);
  ASSERT_EQ(slides.Exit, 0);
  const auto firstSlide = slides.Log.begin() + static_cast<long>(slides.Log.find("Found Slide Show file"));
  const int slideLine = 10 + static_cast<int>(std::count(slides.Log.begin(), firstSlide, '\n'));
  RunEnd end, second;
  pid_t run = 0;
  std::string lockText;
  bool untouched = false, skip = false;
  std::set<std::string> notTheRuns;  // files of the run's own names that are the user's
  // The list in DEST with its second entry under another name.
  const auto listEntryNamed = [&](const std::string& Name) {
    keep("adv", "")();
    fs::rename(place + "/FEATURE_2.EVO", place + "/" + Name);
    Bytes list = file("hva00001.VTI");
    const std::string from = "FEATURE_2.EVO";
    std::copy(Name.begin(), Name.end(), std::search(list.begin(), list.end(), from.begin(), from.end()));
    test::WriteFileBytes(place + "/hva00001.VTI", list);
    notTheRuns.insert(place + "/" + Name);
  };
  // DEST seen at a second place too, or a file system mounted in it (for root only).
  const auto mounted = [&](const char* Source, const std::string& At) {
    fs::create_directories(At);
    skip = ::mount(Source, At.c_str(), Source ? nullptr : "tmpfs", Source ? MS_BIND : 0, nullptr) != 0;
    if (skip) std::printf("skipped: mount at %s: %s\n", At.c_str(), std::strerror(errno));
  };
  const auto unmounted = [](const std::string& At) { return ::umount2(At.c_str(), MNT_DETACH) == 0; };
  struct Row {
    std::string What;
    std::vector<std::string> Args;
    std::string Cwd;
    std::function<void()> Check;
    int Exit = 0;
    std::function<void()> Setup = {};
    std::function<void(pid_t, int)> OnLine = {};
    std::string Fault = {};
    int CloseOutAt = 0;
  };
  const auto logs = [&](const std::string& Text) { EXPECT_NE(end.Log.find(Text), std::string::npos) << end.Log; };
  // However a run ends, the log it saves ends with its verdict.
  const auto savedVerdict = [&](std::string_view Verdict) {
    return [&, Verdict] {
      const Bytes b = file("Tessaline.log");
      EXPECT_TRUE(std::string(b.begin(), b.end()).ends_with(std::string(Verdict) + "\r\n")) << Verdict;
    };
  };
  const std::vector<std::string> saving = {"--set", "AutoSaveLog=1", Dir("work-disc"), place};
  const std::string linesLost = "its log could not be written to standard output: " + std::string(std::strerror(EPIPE));
  const auto stopSaved = savedVerdict(core::msg::CurrentOperationWasAbortedByTheUser);
  // Why a run failed stays on the screen when its log is sent elsewhere.
  const auto onStderrOnly = [&](const std::string& Text) {
    EXPECT_NE(end.Err.find(Text), std::string::npos) << end.Err;
    EXPECT_EQ(end.Out.find(Text), std::string::npos) << end.Out;
  };
  const std::vector<Row> table = {
      {"answered No", {Dir("work-disc"), place}, "",  // what an earlier run wrote goes
       [&] {
         EXPECT_FALSE(fs::exists(place + "/VMG/old.m2v") || fs::exists(place + "/Tessaline.log"));
         logs(std::string(core::msg::DeletePreviousProjectFolder));
       }},
      // A folder that cannot be made or emptied says why.
      {"DEST a file", {Dir("work-disc"), Dir("a-file")}, "", [&] { onStderrOnly(Dir("a-file") + "/: it is a file"); },
       1, [&] { test::WriteFileBytes(Dir("a-file"), {'x'}); }},
      {"a subfolder that leads out of DEST",
       {"--set", "DestinationMode=2", "--set", "DestinationSubfolder=/a/..", Dir("work-disc"), place}, "", [&] {
         onStderrOnly(std::string(core::msg::SpecifyDestinationPath));
         onStderrOnly("DestinationSubfolder '/a/..' ends in '..'");
       }, 1},
      {"DestinationMode=2 without a subfolder", {"--set", "DestinationMode=2", Dir("work-disc"), place}, "",
       [&] { onStderrOnly("' names no folder: the run goes into DEST itself"); }},
      // A question that warns goes with its answer where the errors go: DEST kept, a read not tried again.
      {"questions that warn", {Dir("work-disc"), place}, "", [&] {
         onStderrOnly("Do you want to delete this folder ? -> No");
         onStderrOnly("Try one more ? -> Cancel");
       }, 1, {}, {}, "TESS_FAIL_READ=hv001m01.evo@6144"},
      {"DEST of too long a name", {Dir("work-disc"), Dir(std::string(300, 'x'))}, "",
       [&] { logs(std::string("/: ") + std::strerror(ENAMETOOLONG)); }, 1},
      {"DEST in a read-only folder", {Dir("work-disc"), Dir("read-only/out")}, "",
       [&] { logs("read-only/out/: " + std::string(std::strerror(EACCES))); }, 1, [&] {
         fs::create_directories(Dir("read-only"));
         fs::permissions(Dir("read-only"), fs::perms::owner_read | fs::perms::owner_exec);
       }},
      {"a file in the way of an output folder", {Dir("work-disc"), place}, "",
       [&] { logs(place + "/VTS_001: it is a file"); }, 1, [&] { test::WriteFileBytes(place + "/VTS_001", {'x'}); }},
      {"DEST of fewer than four characters, answered Yes", {"--yes", Dir("work-disc"), "ab"}, "place",
       [&] { logs("folder ab/: a path of fewer than four characters is never deleted"); }, 0,
       [&] { fs::create_directories(place + "/ab/VMG"); }},
      // --yes empties only a DEST of what runs write; one that holds the source through a link is not.
      {"DEST holding the user's files and a link to the source, answered Yes",
       {"--yes", place + "/link/work-disc", place}, "", [&] {
         onStderrOnly("--yes does not empty " + place + "/: it holds a.log, which no run of this program wrote.");
       }, 0, [&] { fs::create_directory_symlink(Dir(""), place + "/link"); }},
      {"the working folder, answered Yes", {"--yes", Dir("work-disc"), place}, "place", [] {}},
      {"a folder holding the working folder, answered Yes", {"--yes", Dir("work-disc"), place}, "place/notes", [] {}},
      // A disc's run would write into the folder that holds it: refused.
      {"a disc kept in VTS_001 of DEST, answered No", {place + "/VTS_001", place}, "", intact("disc", "VTS_001"), 1,
       keep("disc", "VTS_001")},
      {"a disc kept in VTS_001 of DEST, answered Yes", {"--yes", place + "/VTS_001", place}, "",
       intact("disc", "VTS_001"), 1, keep("disc", "VTS_001")},
      {"a disc kept in VMG, named through a link", {"--yes", Dir("vmg-link"), place}, "", intact("disc", "VMG"), 1,
       keep("disc", "VMG")},
      {"a disc kept in VTS_001/HVDVD_TS", {"--yes", place + "/VTS_001", place}, "", intact("disc", "VTS_001/HVDVD_TS"),
       1, keep("disc", "VTS_001/HVDVD_TS")},
      {"an output folder that is a link to the source's folder", {Dir("work-disc"), place}, "", [&] {
         logs("Removed the link " + place + "/VTS_001; what it leads to is untouched");
         EXPECT_FALSE(fs::exists(Dir("work-disc/Titles")) || fs::is_symlink(place + "/VTS_001"));
       }, 0, [&] { fs::create_directory_symlink(Dir("work-disc"), place + "/VTS_001"); }},
      {"a subfolder of DEST that is a link to the source's folder",
       {"--set", "DestinationMode=2", "--set", "DestinationSubfolder=sub", Dir("work-disc"), place}, "",
       [&] { logs("/sub/, which holds the source: the run is refused"); }, 1,
       [&] { fs::create_directory_symlink(Dir("work-disc"), place + "/sub"); }},
      {"a folder holding the home folder, answered Yes", {"--yes", Dir("work-disc"), Dir("home")}, "",
       [&] { logs(": it holds the home folder"); }, 0, [&] { fs::create_directories(Dir("home/VMG/me")); }, {},
       "HOME=" + Dir("home/VMG/me")},
      {"a settings file in VTS_001 of DEST", {"--settings", place + "/VTS_001/s.ini", Dir("work-disc"), place}, "",
       [&] { EXPECT_TRUE(file("VTS_001/s.ini") == test::ReadFileBytes(ini)); }, 0,
       [&] { fs::create_directories(place + "/VTS_001"), fs::copy_file(ini, place + "/VTS_001/s.ini"); }},
      {"a DestinationMode=2 subfolder of a DEST that holds the source",
       {"--set", "DestinationMode=2", "--set", "DestinationSubfolder=sub", place + "/hva00001.VTI", place}, "",
       [&] { EXPECT_FALSE(fs::exists(place + "/sub")); }, 1, keep("adv", "")},
      {"VMG/FirstPGC of DEST a mount of the source's folder", {Dir("work-disc"), place}, "", [&] {
         EXPECT_TRUE(unmounted(place + "/VMG/FirstPGC"));
         EXPECT_FALSE(fs::exists(Dir("work-disc/Menu")));
       }, 1, [&] { mounted(Dir("work-disc").c_str(), place + "/VMG/FirstPGC"); }},
      {"a loose EVO file kept in VTS_002", {"--yes", place + "/VTS_002/./FEATURE_2.EVO", place}, "",
       intact("adv", "VTS_002"), 0, keep("adv", "VTS_002")},
      {"a .VTI list kept in VMG beside a file named like an index", {"--yes", place + "/VMG/hva00001.VTI", place}, "",
       [&] {
         intact("adv", "VMG")();
         EXPECT_TRUE(file("VMG/FEATURE_1.dat") == Bytes{1});
       }, 0, [&] { keep("adv", "VMG")(), test::WriteFileBytes(place + "/VMG/FEATURE_1.dat", {1}); }},
      // The second entry of the list named as the first one's index: it is not written over,
      // nor is anything written among the list's files.
      {"DEST the folder of a .VTI list whose entry takes an output's name", {place + "/hva00001.VTI", place}, "",
       [&] {
         const std::string refused = "would be written into " + place + "/, which holds the source";
         EXPECT_NE(end.Log.find(refused), std::string::npos);
         EXPECT_TRUE(file("FEATURE_1.dat") == test::ReadFileBytes(Dir("adv/FEATURE_2.EVO")));
       },
       1, [&] { listEntryNamed("FEATURE_1.dat"); }},
      // ... or the saved log's, or a scan cache's: the log is not saved, the cache not made.
      {"DEST the folder of a .VTI list whose entry takes the log's name", {"--set", "AutoSaveLog=1",
       place + "/hva00001.VTI", place}, "", [&] {
         EXPECT_TRUE(file("Tessaline.log") == test::ReadFileBytes(Dir("adv/FEATURE_2.EVO")));
         EXPECT_EQ(end.Log.find(core::runmsg::AllOperationsWereCompletedSuccessfully), std::string::npos);
       }, 1, [&] { listEntryNamed("Tessaline.log"); }},
      {"DEST the folder of a .VTI list whose entry takes a scan cache's name", {place + "/hva00001.VTI", place}, "",
       [&] { EXPECT_TRUE(file("FEATURE_1_e0.m2v.vnf") == test::ReadFileBytes(Dir("adv/FEATURE_2.EVO"))); }, 1,
       [&] { listEntryNamed("FEATURE_1_e0.m2v.vnf"); }},
      // The lock file a second name of another file: it is not written, and the run is refused.
      {"a lock file that is a hard link", {Dir("work-disc"), place}, "", [&] {
         logs(".tessaline.lock has 2 names");
         EXPECT_TRUE(test::ReadFileBytes(Dir("victim")) == Bytes{'v'});
       }, 1, [&] {
         test::WriteFileBytes(Dir("victim"), {'v'});
         fs::create_hard_link(Dir("victim"), place + "/.tessaline.lock");
         notTheRuns.insert(place + "/.tessaline.lock");
       }},
      // DEST holds the disc's folder, which is named through a bind mount of DEST.
      {"a disc in DEST named through a bind mount, answered No", {Dir("view/VTS_001"), place}, "", [&] {
         EXPECT_TRUE(unmounted(Dir("view")));
         intact("disc", "VTS_001")();
       }, 1, [&] { keep("disc", "VTS_001")(), mounted(place.c_str(), Dir("view")); }},
      {"a disc in DEST named through a bind mount, answered Yes", {"--yes", Dir("view/VTS_001"), place}, "", [&] {
         EXPECT_TRUE(unmounted(Dir("view")));
         intact("disc", "VTS_001")();
       }, 1, [&] { keep("disc", "VTS_001")(), mounted(place.c_str(), Dir("view")); }},
      // Emptying DEST stops at its file system's edge, and says where; a DestinationMode=2 run's folder goes.
      {"a file system mounted in DEST, answered Yes", {"--yes", Dir("work-disc"), place + "/VMG"}, "", [&] {
         logs("can not delete VTS_001: it is a mount point");
         EXPECT_TRUE(fs::exists(place + "/VMG/VTS_001/f") && !fs::exists(place + "/VMG/sub"));
         EXPECT_TRUE(unmounted(place + "/VMG/VTS_001"));
       }, 0, [&] {
         fs::remove(place + "/VMG/old.m2v"), fs::create_directories(place + "/VMG/sub/VTS_002");
         mounted(nullptr, place + "/VMG/VTS_001");
         if (!skip) test::WriteFileBytes(place + "/VMG/VTS_001/f", {'x'});
       }},
      // A second run while the first is held still: refused, and nothing of the first one's changes.
      {"a second run into DEST", {Dir("work-disc"), place}, "", [&] {
         EXPECT_EQ(second.Exit, 1);
         EXPECT_NE(second.Log.find("is in use by another run"), std::string::npos) << second.Log;
         EXPECT_TRUE(untouched);
       },
       0, {}, [&](pid_t Pid, int Line) {
         if (Line != 20) return;
         siginfo_t stop{};
         ::kill(Pid, SIGSTOP);
         ::waitid(P_PID, static_cast<id_t>(Pid), &stop, WSTOPPED | WEXITED | WNOWAIT);
         const Tree before = ReadTree(place);
         second = RunTessaline({"demux", "--yes", "--settings", ini, Dir("work-disc"), place});
         untouched = ReadTree(place) == before;
         ::kill(Pid, SIGCONT);
       }},
      // Started with stdout and stderr closed, the run's lock file holds its process number alone.
      {"stdout and stderr closed", {Dir("work-disc"), place}, "",
       [&] { EXPECT_EQ(lockText, std::to_string(run) + "\n"); }, 0, {}, [&](pid_t Pid, int) {
         for (int ms = 0; ms < 60000 && !fs::exists(place + "/VTS_001/Titles"); ++ms) ::usleep(1000);
         siginfo_t stop{};
         ::kill(run = Pid, SIGSTOP), ::waitid(P_PID, static_cast<id_t>(Pid), &stop, WSTOPPED | WEXITED | WNOWAIT);
         const Bytes lock = file(".tessaline.lock");
         lockText.assign(lock.begin(), lock.end()), ::kill(Pid, SIGCONT);
       }, {}, -1},
      {"the lock of a run killed on the way", {Dir("work-disc"), place}, "", [] {}, 0, [&] {
         RunTessaline({"demux", "--settings", ini, Dir("work-disc"), place}, "",
                      [](pid_t Pid, int Line) {
                        if (Line == 20) ::kill(Pid, SIGKILL);
                      });
         EXPECT_TRUE(fs::exists(place + "/.tessaline.lock"));
       }},
      // A later title file left from another disc lies past the cells: it is read, and named.
      {"a stray later title file", {Dir("stray"), place}, "", [&] { logs("HV001T04.EVO begins at block"); }, 0, [&] {
         if (!fs::exists(Dir("stray"))) fs::copy(Dir("disc"), Dir("stray"));
         fs::copy(Dir("disc/hv002t01.evo"), Dir("stray/hv001t04.evo"), fs::copy_options::overwrite_existing);
       }},
      {"slide shows", {Dir("stills"), place}, "",
       [&] { EXPECT_TRUE(fs::exists(place + "/VMG/FirstPGC/Menu/vmg_v001c001_e0_0002.m2v")); }},
      {"slide shows stopped", {Dir("stills"), place}, "", [] {}, 130, {},
       [&](pid_t Pid, int Line) {
         if (Line == slideLine) ::kill(Pid, SIGINT);
       }},
      {"slide shows failed", {Dir("stills"), place}, "", [] {}, 1, {}, {}, "TESS_FAIL_READ=_88.dts@3000"},
      // A stop sent before the program could take it, the terminal closed, and a closed pipe (whose run
      // goes on to its end, and fails for the lines it could not write).
      {"SIGTERM at once", saving, "", stopSaved, 130, {}, [](pid_t P, int L) { L == 0 && ::kill(P, SIGTERM); }},
      {"SIGHUP", saving, "", stopSaved, 130, {}, [](pid_t P, int L) { L == 20 && ::kill(P, SIGHUP); }},
      {"stdout a pipe closed after 5 lines", saving, "", [&] {
         savedVerdict(linesLost + ".")();
         onStderrOnly("write error on standard output: " + std::string(std::strerror(EPIPE)));
         onStderrOnly("the run itself finished; its log is saved as " + place + "/Tessaline.log");
       }, 1, {}, {}, {}, 5},
      // Title subpictures whose units could not all be drawn stay in their ".sup" files, with their indexes.
      {"a title subpicture stream met by a read error", {Dir("work-disc"), place}, "", [&] {
         EXPECT_GT(file("VTS_001/Titles/t001_v001x003_20.sup").size(), 0u);
         EXPECT_GT(file("VTS_001/Titles/t001_v001x003.dat").size(), 0u);
       }, 1, {}, {}, "TESS_FAIL_READ=x003_20.sup@100"},
      // The title subpictures made into nothing else stay in their ".sup" files, with their indexes.
      {"SUPMode=0", {"--set", "SUPMode=0", Dir("work-disc"), place}, "", [&] {
         const std::string titles = "VTS_001/Titles/t001_v001x003";
         EXPECT_GT(file(titles + "_20.sup").size(), 0u);
         EXPECT_EQ(file(titles + ".dat").size() % subpic::kSupIndexRecordSize, 0u);
         EXPECT_GT(file(titles + ".dat").size(), 0u);
         EXPECT_FALSE(fs::exists(place + "/" + titles));
       }},
      {"two loose EVO files of one name", {feature, Dir("copy/FEATURE_2.EVO"), place}, "", [&] {
         Bytes twice = video;
         twice.insert(twice.end(), video.begin(), video.end());
         EXPECT_TRUE(file("FEATURE_2_e0.m2v") == twice);
         EXPECT_EQ(file("FEATURE_2_a0.wav").size(), 2 * wav.size() - 44);  // one header, the samples of both
       }},
      {"a list run again over its own side files, and over what a stopped run left of one",
       {Dir("work-adv/hva00001.VTI"), place}, "", [&] {
         const Bytes items = file("FEATURE_1-t_0.data"), segments = file("FEATURE_1-t_0.track");
         ASSERT_FALSE(items.empty() || segments.empty());
         for (const bool stale : {false, true}) {
           if (stale) test::WriteFileBytes(place + "/FEATURE_1-t_0.data", Bytes(items.begin(), items.begin() + 100));
           EXPECT_EQ(RunTessaline({"demux", "--settings", ini, Dir("work-adv/hva00001.VTI"), place}).Exit, 0);
           EXPECT_TRUE(file("FEATURE_1-t_0.data") == items && file("FEATURE_1-t_0.track") == segments);
         }
       }},
      {"-- and an ffmpeg-made EVO file without navigation packs", {"--", "-clip.evo", place}, ".", [&] {
         EXPECT_TRUE(file("-clip_e0.m2v") == test::FfmpegStream(Dir("-clip.evo"), "0x1e0"));
       }},
      {"a user's slide-show times beside a loose EVO's video", {feature, place}, "",
       [&] { EXPECT_TRUE(file("FEATURE_2_e0.m2v.times") == Bytes(8, 1)); }, 0,
       [&] { test::WriteFileBytes(place + "/FEATURE_2_e0.m2v.times", Bytes(8, 1)); }},
      {"150 loose EVO files, positions 1 and 120 chosen", many, "", [&] {
         std::set<std::string> videos;
         for (const auto& e : fs::directory_iterator(place))
           if (e.path().extension() == ".m2v") videos.insert(e.path().filename().string());
         EXPECT_EQ(videos, (std::set<std::string>{"f001_e0.m2v", "f120_e0.m2v"}));
       }},
  };
  for (const Row& r : table) {
    SCOPED_TRACE(r.What);
    if (!ffmpeg && r.What.find("ffmpeg") != std::string::npos) continue;
    if (::geteuid() == 0 && r.What.find("read-only") != std::string::npos) continue;  // no permission stops root
    fs::remove_all(place);
    fs::create_directories(place + "/VMG"), fs::create_directories(place + "/notes");
    for (const char* f : {"VMG/old.m2v", "Tessaline.log", "keep.txt", "a.log", "b.scp", "c.scn", "notes/n.txt"})
      test::WriteFileBytes(place + "/" + f, {'x'});
    notTheRuns.clear();
    if (r.Setup) r.Setup();
    if (std::exchange(skip, false)) continue;
    std::set<fs::path> userTimes;  // the run writes none
    for (const auto& e : fs::recursive_directory_iterator(place))
      if (e.path().extension() == ".times") userTimes.insert(e.path());
    std::vector<std::string> all = {"demux", "--settings", ini};
    all.insert(all.end(), r.Args.begin(), r.Args.end());
    end = RunTessaline(all, r.Cwd.empty() ? "" : Dir(r.Cwd), r.OnLine, r.Fault, r.CloseOutAt);
    EXPECT_EQ(end.Exit, r.Exit) << end.Log;
    for (const char* f : {"keep.txt", "a.log", "b.scp", "c.scn", "notes/n.txt"}) EXPECT_TRUE(fs::exists(place + "/" + f));
    for (const auto& e : fs::recursive_directory_iterator(place)) {
      const std::string ext = e.path().extension().string();
      const bool cache = ext == ".vnf" || ext == ".ipos" || ext == ".lock" || (ext == ".times" && !userTimes.count(e.path()));
      EXPECT_FALSE(cache && !notTheRuns.count(e.path().string())) << e.path();
    }
    r.Check();
  }
}

// Stop (SIGINT, SIGTERM or SIGHUP) at many points of a run: the run ends with 130 (or 0 when it
// was done before the stop took effect), every output is closed whole (the start
// of what the whole run writes, or a raw output the run had not turned into its
// final form yet), no temporary file is left and the source is untouched.
TEST_F(CorruptDisc, StopAnywhereLeavesAConsistentTree) {
  const std::string ini = Dir("settings.ini");
  const RunEnd whole = Demux(Dir("disc"), Dir("whole"), ini);
  ASSERT_EQ(whole.Exit, 0);
  const Tree complete = ReadTree(Dir("whole"));
  const int lines = static_cast<int>(std::count(whole.Log.begin(), whole.Log.end(), '\n'));
  const Tree source = ReadTree(Dir("disc"));
  int stopped = 0, late = 0;
  // The later steps print few lines and work between them: each of the last lines is a moment of its own.
  for (int at = 1; at <= lines; at += at < lines - 9 ? 3 : 1) {
    const int signal = at / 3 % 3 == 0 ? SIGINT : at / 3 % 3 == 1 ? SIGTERM : SIGHUP;
    SCOPED_TRACE("stop after log line " + std::to_string(at) + " by " + ::strsignal(signal));
    const RunEnd end = Demux(Dir("disc"), Dir("stopped"), ini, [&](pid_t Pid, int Line) {
      if (Line == at) ::kill(Pid, signal);
    });
    // A stop while the source loads (the first line) comes long before the end.
    ASSERT_TRUE(end.Exit == 130 || (end.Exit == 0 && at > 1)) << end.Exit << "\n" << end.Log;
    stopped += end.Exit == 130;
    late += end.Exit == 130 && end.Log.find(core::msg::StartingDataFormatExtraction) != std::string::npos;
    // Every stop has its verdict: the stop line, or the success line of a run that ended before it.
    const bool done = end.Log.find(core::runmsg::AllOperationsWereCompletedSuccessfully) != std::string::npos;
    EXPECT_TRUE(end.Exit == 0 ? done : !done && end.Log.find("aborted by the user") != std::string::npos) << end.Log;
    for (const auto& [name, bytes] : ReadTree(Dir("stopped"))) {
      EXPECT_EQ(name.find(".tmp"), std::string::npos) << name << " is a temporary file left behind";
      const auto w = complete.find(name);
      if (IsIntermediate(name)) continue;
      ASSERT_TRUE(w != complete.end()) << name << " is no output of the run";
      // The audio export cuts WAV files again at the end of a run: a stopped
      // run's WAV need only be whole, its header agreeing with its size.
      if (name.ends_with(".wav") && bytes.size() >= 44) {
        EXPECT_EQ(core::ReadLE32(bytes.data() + 4) + 8u, bytes.size()) << name;
        continue;
      }
      EXPECT_TRUE(bytes.size() <= w->second.size() && std::equal(bytes.begin(), bytes.end(), w->second.begin()))
          << name;
    }
  }
  EXPECT_GT(stopped, lines / 6);  // most stops take effect
  EXPECT_GT(late, 0);             // some of them in the post-processing
  EXPECT_TRUE(ReadTree(Dir("disc")) == source);
}

}  // namespace
}  // namespace tess::app
