// The demultiplexer against the floor of its work: the demultiplexing of a title
// chain of two EVO files (MPEG-2 video, four audio streams, two subpicture
// streams) into its raw elementary streams, and in the same run a plain
// sequential copy of the same files to the same disk. Prints both throughputs,
// their ratio and the demultiplexer's peak memory, then the time of the whole
// "tessaline demux" command, whose post-processing (WAV files, pictures, the
// information pass, the audio export) reads and writes the outputs again.
// TESS_BENCH_BYTES sets the chain's size (default 1 GiB; for example 256M).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "demux/demux_context.h"
#include "disc/ifo_set.h"
#include "disc_builder.h"
#include "state/project_state.h"

#ifndef TESS_BINARY
#define TESS_BINARY "tessaline"
#endif

using namespace tess;
namespace fs = std::filesystem;

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
constexpr int kRounds = 6;

uint64_t BenchBytes() {
  const char* v = std::getenv("TESS_BENCH_BYTES");
  if (!v || !*v) return 1ull << 30;
  char* end = nullptr;
  double n = std::strtod(v, &end);
  if (*end == 'G' || *end == 'g') n *= 1024.0 * 1024 * 1024;
  if (*end == 'M' || *end == 'm') n *= 1024.0 * 1024;
  return static_cast<uint64_t>(n);
}

// One title set whose title chain of two VOBs (three cells each) is fitted to
// Bytes and split into two files.
bool BuildChain(const std::string& Folder, uint64_t Bytes, const tools::StandardStreams& S,
                std::vector<std::string>& Files) {
  using tools::MakeEvoStream;
  const std::vector<tools::EvoStream> streams = {
      MakeEvoStream(S.Mpeg2),  MakeEvoStream(S.Ac3), MakeEvoStream(S.Dts), MakeEvoStream(S.Mpa),
      MakeEvoStream(S.Lpcm16), MakeEvoStream(S.Subpicture, 0), MakeEvoStream(S.Subpicture, 1)};
  tools::DiscSpec disc;
  tools::TitleSetSpec ts;
  ts.MenuVideoAttr = ts.TitleVideoAttr = 0x004C;
  for (uint8_t m : {0x00, 0xC0, 0x40, 0x80}) ts.TitleAudioAttrs.push_back({m, 0x01, 'e', 'n', 0, 0, 0, 0});
  ts.TitleSubpicAttrs = {{0x01, 0, 'e', 'n', 0, 1}, {0x01, 0, 'f', 'r', 0, 1}};
  tools::ProgramChainSpec pgc;
  for (uint16_t vob = 1; vob <= 2; ++vob)
    for (uint8_t cell = 1; cell <= 3; ++cell) {
      tools::CellSpec c;
      c.VobId = vob;
      c.CellId = cell;
      pgc.Cells.push_back(static_cast<int>(ts.Titles.Cells.size()));
      ts.Titles.Cells.push_back(c);
    }
  for (int i = 0; i < 4; ++i) pgc.AudioControl[static_cast<size_t>(i)] = static_cast<uint16_t>(0x8000 | (i << 8));
  pgc.SubpicControl[0] = 0x80000000u;
  pgc.SubpicControl[1] = 0x81010101u;
  ts.Titles.PGCs.push_back(pgc);
  if (!tools::FitDomainToSize(ts.Titles, streams, Bytes)) return false;
  // Past 60 % of the sectors the chain goes on in its second file.
  ts.Titles.MaxFileSectors = static_cast<uint32_t>(Bytes / tools::kPackSize * 3 / 5);
  disc.TitleSets.push_back(std::move(ts));

  tools::EvoBuildOptions evo;
  evo.KeepStreamBytes = false;
  const auto sum = tools::BuildDomainEvos(Folder, disc.TitleSets[0].Titles, tools::DiscFileName(1, "t"), 1, streams, evo);
  if (!sum.Ok) {
    std::fprintf(stderr, "cannot build the chain: %s\n", sum.Error.c_str());
    return false;
  }
  tools::WriteIfoSet(Folder, disc);
  for (const auto& f : sum.Files) Files.push_back(f.Path);
  return true;
}

double Seconds(std::chrono::steady_clock::time_point Since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - Since).count();
}

// Copies the files into Folder in 1 MiB blocks; seconds taken, or -1.
double CopyFiles(const std::vector<std::string>& Files, const std::string& Folder) {
  fs::create_directories(Folder);
  std::vector<char> buffer(1 << 20);
  const auto start = std::chrono::steady_clock::now();
  for (const auto& f : Files) {
    const int in = ::open(f.c_str(), O_RDONLY);
    const int out = ::open((Folder + "/" + fs::path(f).filename().string()).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) return -1;
    ssize_t n;
    while ((n = ::read(in, buffer.data(), buffer.size())) > 0)
      if (::write(out, buffer.data(), static_cast<size_t>(n)) != n) return -1;
    ::close(in);
    if (::close(out) != 0) return -1;
  }
  return Seconds(start);
}

// Runs the demultiplexer on the disc; seconds taken (or -1) and its peak memory.
double RunDemux(const std::string& Disc, const std::string& Out, const std::string& Settings, long& PeakKiB) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::execl(TESS_BINARY, TESS_BINARY, "demux", Disc.c_str(), Out.c_str(), "--settings", Settings.c_str(),
            static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  const double s = Seconds(start);
  PeakKiB = usage.ru_maxrss;
  return s;
}

// The demultiplexing alone, in a child process: the title chain split into its
// elementary streams as they come out of the packs, nothing finished after.
double RunDemuxPhase(const std::string& Disc, const std::string& Out, long& PeakKiB) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    auto form = std::make_unique<state::TForm1>();
    if (disc::LoadIFOSet(*form, *form, Disc + "/hv000i01.IFO") < 1) std::_Exit(1);
    form->VTSListForm.ApplyOK({});
    form->Options.DestinationPath = Out;
    bool ok = true;
    for (int32_t i = 1; i < form->TitleSetCount; ++i) {
      demux::TIFOData ctx(*form, i, demux::kPgcTitle);
      ctx.OutputBase = Out + "/";
      form->CurrentDemux = &ctx;
      ok = ctx.DemuxTitles() && ok;
      form->CurrentDemux = nullptr;
    }
    std::_Exit(ok ? 0 : 1);
  }
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  const double s = Seconds(start);
  PeakKiB = usage.ru_maxrss;
  return s;
}

}  // namespace

int main() {
  const uint64_t bytes = BenchBytes();
  const std::string root = (fs::temp_directory_path() / "tessaline-demux-bench").string();
  fs::remove_all(root);
  fs::create_directories(root + "/disc");
  tools::StandardStreams sources;
  std::string error;
  if (!tools::LoadStandardStreams(tools::DefaultStreamsFolder(), sources, &error)) {
    std::fprintf(stderr, "cannot load the sample streams: %s\n", error.c_str());
    return 1;
  }
  std::vector<std::string> files;
  std::printf("building a %.0f MiB title chain in %s ...\n", static_cast<double>(bytes) / kMiB, root.c_str());
  if (!BuildChain(root + "/disc", bytes, sources, files)) return 1;
  uint64_t input = 0;
  for (const auto& f : files) input += fs::file_size(f);

  // Each timed step starts with no dirty pages left by the one before, and the
  // two take turns going first; the best of each counts.
  double copy = 1e30, demux = 1e30;
  long peak = 0;
  for (int round = 0; round < kRounds; ++round) {
    for (int step = 0; step < 2; ++step) {
      const bool copyNow = (step == 0) == (round % 2 == 0);
      fs::remove_all(root + (copyNow ? "/copy" : "/out"));
      ::sync();
      long kib = 0;
      const double t = copyNow ? CopyFiles(files, root + "/copy") : RunDemuxPhase(root + "/disc", root + "/out", kib);
      if (t < 0) {
        std::fprintf(stderr, "the %s failed\n", copyNow ? "copy" : "demultiplexing");
        return 1;
      }
      (copyNow ? copy : demux) = std::min(copyNow ? copy : demux, t);
      peak = std::max(peak, kib);
    }
  }
  const double in = static_cast<double>(input) / kMiB;
  std::printf("input: %zu files, %.1f MiB\n", files.size(), in);
  std::printf("copy:  %8.1f MiB/s (%.2f s)\n", in / copy, copy);
  std::printf("demux: %8.1f MiB/s (%.2f s)\n", in / demux, demux);
  std::printf("ratio: %.2f (target 0.70 or more)\n", copy / demux);
  std::printf("demux peak memory: %.1f MiB (target under 64 MiB)\n", static_cast<double>(peak) / 1024.0);
  fs::remove_all(root + "/out");
  ::sync();
  long wholeKib = 0;
  const double whole = RunDemux(root + "/disc", root + "/out", root + "/settings.ini", wholeKib);
  if (whole >= 0)
    std::printf("whole tessaline demux with its post-processing: %.2f s, peak memory %.1f MiB\n", whole,
                static_cast<double>(wholeKib) / 1024.0);
  if (!std::getenv("TESS_BENCH_KEEP")) fs::remove_all(root);
  return 0;
}
