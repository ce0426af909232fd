// The whole "tessaline demux" against the floor of its work. On a title chain
// of two EVO files (MPEG-2 video, AC-3, DTS, LPCM and two subpicture streams)
// it times, in one run and taking turns, four things that read the same input:
//   copy   a plain sequential copy of the EVO files to the same disk;
//   demux  the demultiplexing alone: the packs split into their elementary
//          streams, nothing finished after;
//   whole  the whole command, as a user runs it (WAV files, pictures, the
//          information pass and the audio export included);
//   ffmpeg ffmpeg's stream copy of the same streams, one output per stream.
// It prints each one's throughput, the three ratios the program aims at and
// the peak memory of the program's runs.
//
// The chain plays like a disc's: its video is made here with ffmpeg at about
// 17 Mbit/s (the sample stream of the tests, at 0.6 Mbit/s, when ffmpeg is
// missing), so that the video is most of the input, and the two subpicture
// streams show a unit every 1.8 s, about 500 pictures in a 1 GiB chain.
//
// TESS_BENCH_BYTES sets the chain's size (default 1 GiB; for example 256M),
// TESS_BENCH_ROUNDS the rounds (default 3; the best time of each counts),
// TESS_BENCH_DIR the folder (default the temporary folder). TESS_BENCH_KEEP
// keeps the chain and the last outputs, TESS_BENCH_REUSE takes a chain kept
// before, TESS_BENCH_STEPS runs only the steps it names (for example
// "copy,demux"), TESS_BENCH_VERBOSE prints every time. Every run writes into
// a new folder of its own and its outputs are deleted as soon as it is timed:
// outputs kept would fill the page cache and slow every later write, while on
// ext4 files created in a folder just emptied of thousands take far longer to
// create (the allocator passes over the recently freed inodes).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "demux/demux_context.h"
#include "disc/ifo_set.h"
#include "disc_builder.h"
#include "platform/paths.h"
#include "platform/ui_models.h"
#include "state/run_settings.h"
#include "state/run_state.h"

#ifndef TESS_BINARY
#define TESS_BINARY "tessaline"
#endif

using namespace tess;
namespace fs = std::filesystem;

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
// A subpicture unit every 1.8 s on each of the two streams.
constexpr uint32_t kSubpictureTicks = 162000;

uint64_t EnvSize(const char* Name, uint64_t Default) {
  const char* v = std::getenv(Name);
  if (!v || !*v) return Default;
  char* end = nullptr;
  double n = std::strtod(v, &end);
  if (*end == 'G' || *end == 'g') n *= 1024.0 * 1024 * 1024;
  if (*end == 'M' || *end == 'm') n *= 1024.0 * 1024;
  return static_cast<uint64_t>(n);
}

// What a run used besides its time: the peak memory of its process and the
// processor time it took (user and system), which a busy machine stretches
// less than the time on the clock.
struct TUsage {
  long PeakKiB = 0;
  double CpuSeconds = 0;
};

double CpuSecondsOf(const struct rusage& U) {
  return static_cast<double>(U.ru_utime.tv_sec + U.ru_stime.tv_sec) +
         static_cast<double>(U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e6;
}

// Runs Argv as a child with its output thrown away; seconds taken (or -1 when
// it failed) and what it used.
double RunChild(const std::vector<std::string>& Argv, TUsage& Used) {
  std::vector<char*> args;
  for (const auto& a : Argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::execvp(args[0], args.data());
    std::_Exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  Used = {usage.ru_maxrss, CpuSecondsOf(usage)};
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A video of about 17 Mbit/s made by ffmpeg into Path; false when ffmpeg is
// not at hand or failed.
bool MakeDiscRateVideo(const std::string& Path) {
  TUsage used;
  return RunChild({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                   "testsrc2=size=720x480:rate=30000/1001,noise=alls=12:allf=t", "-t", "4", "-c:v", "mpeg2video",
                   "-q:v", "5", "-g", "15", "-bf", "2", "-f", "mpeg2video", Path},
                  used) >= 0 &&
         fs::exists(Path) && fs::file_size(Path) > 0;
}

// One title set whose title chain of two VOBs (three cells each) is fitted to
// Bytes and split into two files.
bool BuildChain(const std::string& Folder, uint64_t Bytes, const std::vector<tools::EvoStream>& Streams,
                std::vector<std::string>& Files) {
  tools::DiscSpec disc;
  tools::TitleSetSpec ts;
  ts.MenuVideoAttr = ts.TitleVideoAttr = 0x004C;
  for (uint8_t m : {0x00, 0xC0, 0x40}) ts.TitleAudioAttrs.push_back({m, 0x01, 'e', 'n', 0, 0, 0, 0});
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
  for (int i = 0; i < 3; ++i) pgc.AudioControl[static_cast<size_t>(i)] = static_cast<uint16_t>(0x8000 | (i << 8));
  pgc.SubpicControl[0] = 0x80000000u;
  pgc.SubpicControl[1] = 0x81010101u;
  ts.Titles.PGCs.push_back(pgc);
  std::string why;
  if (!tools::FitDomainToSize(ts.Titles, Streams, Bytes, &why)) {
    std::fprintf(stderr, "cannot size the chain: %s\n", why.c_str());
    return false;
  }
  // Past 60 % of the sectors the chain goes on in its second file.
  ts.Titles.MaxFileSectors = static_cast<uint32_t>(Bytes / tools::kPackSize * 3 / 5);
  disc.TitleSets.push_back(std::move(ts));

  tools::EvoBuildOptions evo;
  evo.KeepStreamBytes = false;
  const auto sum = tools::BuildDomainEvos(Folder, disc.TitleSets[0].Titles, tools::DiscFileName(1, "t"), 1, Streams, evo);
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
double CopyFiles(const std::vector<std::string>& Files, const std::string& Folder, TUsage& Used) {
  fs::create_directories(Folder);
  std::vector<char> buffer(1 << 20);
  struct rusage before {};
  ::getrusage(RUSAGE_SELF, &before);
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
  const double seconds = Seconds(start);
  struct rusage after {};
  ::getrusage(RUSAGE_SELF, &after);
  Used.CpuSeconds = CpuSecondsOf(after) - CpuSecondsOf(before);
  return seconds;
}

// What the demultiplexer's environment is made of.
struct DemuxForm : core::RunContext, disc::DiscModel, disc::RunRegistries, state::RunState {
  state::RunSettings Settings;
  demux::TDemuxEnv Env() { return demux::MakeDemuxEnv(*this, *this, *this, *this, Settings); }
};

// The demultiplexing alone, in a child process: the title chain split into its
// elementary streams as they come out of the packs, nothing finished after.
double RunDemuxPhase(const std::string& Disc, const std::string& Out, TUsage& Used) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    auto form = std::make_unique<DemuxForm>();
    platform::GridModel overview;
    if (disc::LoadIFOSet(*form, *form, *form, Disc + "/hv000i01.IFO", overview) < 1) std::_Exit(1);
    form->VTSListForm.ApplyOK({});
    form->Settings.Output.Folder = platform::IncludeTrailingSlash(Out);
    bool ok = true;
    for (int32_t i = 1; i < form->TitleSetCount; ++i) {
      demux::TIFOData ctx(form->Env(), form->Settings.Demux, i, demux::kPgcTitle);
      ctx.Outputs.OutputBase = Out + "/";
      ok = ctx.DemuxTitles() && ok;
    }
    std::_Exit(ok ? 0 : 1);
  }
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  const double s = Seconds(start);
  Used = {usage.ru_maxrss, CpuSecondsOf(usage)};
  return s;
}

// ffmpeg's stream copy of every stream of the chain into a file of its own
// (the LPCM into a WAV file, as the program makes it).
std::vector<std::string> FfmpegCommand(const std::vector<std::string>& Files, const std::string& Out) {
  std::string input = "concat:";
  for (size_t i = 0; i < Files.size(); ++i) input += (i ? "|" : "") + Files[i];
  return {"ffmpeg", "-nostdin", "-v", "quiet", "-y", "-i", input,
          "-map", "0:i:0x1e0", "-c", "copy", "-f", "mpeg2video", Out + "/video.m2v",
          "-map", "0:i:0xc0", "-c", "copy", "-f", "ac3", Out + "/audio.ac3",
          "-map", "0:i:0x88", "-c", "copy", "-f", "dts", Out + "/audio.dts",
          "-map", "0:i:0xa0", "-c:a", "pcm_s16le", "-f", "wav", Out + "/audio.wav",
          "-map", "0:i:0x20", "-c", "copy", "-f", "nut", Out + "/sub0.nut",
          "-map", "0:i:0x21", "-c", "copy", "-f", "nut", Out + "/sub1.nut"};
}

double LoadAverage() {
  double load[1] = {0};
  return ::getloadavg(load, 1) == 1 ? load[0] : -1;
}

}  // namespace

int main() {
  const uint64_t bytes = EnvSize("TESS_BENCH_BYTES", 1ull << 30);
  const int rounds = static_cast<int>(std::max<uint64_t>(1, EnvSize("TESS_BENCH_ROUNDS", 3)));
  const char* dir = std::getenv("TESS_BENCH_DIR");
  const std::string root = ((dir && *dir) ? fs::path(dir) : fs::temp_directory_path()) / "tessaline-demux-bench";
  const bool reuse = std::getenv("TESS_BENCH_REUSE") && fs::exists(root + "/disc/hv001t02.evo");
  if (!reuse) fs::remove_all(root);
  fs::create_directories(root + "/disc");
  std::ofstream(root + "/settings.ini", std::ios::app).close();  // the defaults, in a file of the bench's own
  std::vector<std::string> files;
  std::string made = "kept";
  if (reuse) {
    files = {root + "/disc/hv001t01.evo", root + "/disc/hv001t02.evo"};
  } else {
    tools::StandardStreams sources;
    std::string error;
    if (!tools::LoadStandardStreams(tools::DefaultStreamsFolder(), sources, &error)) {
      std::fprintf(stderr, "cannot load the sample streams: %s\n", error.c_str());
      return 1;
    }
    tools::StreamSource video;
    const std::string videoPath = root + "/video.m2v";
    const bool discRate = MakeDiscRateVideo(videoPath) &&
                          tools::LoadStreamSource(tools::StreamKind::Mpeg2Video, videoPath, video, &error);
    if (!discRate) {
      std::printf("ffmpeg made no video: the chain carries the 0.6 Mbit/s sample video\n");
      video = sources.Mpeg2;
    }
    made = discRate ? "17 Mbit/s" : "sample";
    const tools::StreamSource subpictures = tools::MakeSubpictureSource(4, kSubpictureTicks);
    using tools::MakeEvoStream;
    const std::vector<tools::EvoStream> streams = {MakeEvoStream(video),          MakeEvoStream(sources.Ac3),
                                                   MakeEvoStream(sources.Dts),    MakeEvoStream(sources.Lpcm16),
                                                   MakeEvoStream(subpictures, 0), MakeEvoStream(subpictures, 1)};
    std::printf("building a %.0f MiB title chain in %s ...\n", static_cast<double>(bytes) / kMiB, root.c_str());
    if (!BuildChain(root + "/disc", bytes, streams, files)) return 1;
  }
  uint64_t input = 0;
  for (const auto& f : files) input += fs::file_size(f);

  enum { kCopy, kDemux, kWhole, kFfmpeg, kSteps };
  const char* names[kSteps] = {"copy", "demux", "whole", "ffmpeg"};
  double best[kSteps] = {1e30, 1e30, 1e30, 1e30};
  double bestCpu[kSteps] = {1e30, 1e30, 1e30, 1e30};
  long peak[kSteps] = {0, 0, 0, 0};
  bool ffmpegOk = true;
  const double loadBefore = LoadAverage();
  for (int round = 0; round < rounds; ++round) {
    // The steps take turns going first; each starts with no dirty pages left
    // by the one before.
    for (int k = 0; k < kSteps; ++k) {
      const int step = (k + round) % kSteps;
      if (step == kFfmpeg && !ffmpegOk) continue;
      if (const char* only = std::getenv("TESS_BENCH_STEPS"); only && !std::strstr(only, names[step])) continue;
      const std::string out = root + "/out-" + std::to_string(round) + "-" + names[step];
      fs::remove_all(out);  // left by an earlier run kept
      fs::create_directories(out);
      ::sync();
      TUsage used;
      double t = -1;
      switch (step) {
        case kCopy: t = CopyFiles(files, out, used); break;
        case kDemux: t = RunDemuxPhase(root + "/disc", out, used); break;
        case kWhole:
          t = RunChild({TESS_BINARY, "demux", root + "/disc", out, "--settings", root + "/settings.ini"}, used);
          break;
        case kFfmpeg: t = RunChild(FfmpegCommand(files, out), used); break;
      }
      if (t < 0 && step == kFfmpeg) {
        std::printf("ffmpeg's stream copy failed or ffmpeg is missing: no comparison with it\n");
        ffmpegOk = false;
        continue;
      }
      if (t < 0) {
        std::fprintf(stderr, "the %s run failed\n", names[step]);
        return 1;
      }
      if (std::getenv("TESS_BENCH_VERBOSE"))
        std::printf("round %d %-7s %.2f s (processor %.2f s)\n", round + 1, names[step], t, used.CpuSeconds);
      best[step] = std::min(best[step], t);
      bestCpu[step] = std::min(bestCpu[step], used.CpuSeconds);
      peak[step] = std::max(peak[step], used.PeakKiB);
      if (round + 1 < rounds || !std::getenv("TESS_BENCH_KEEP")) fs::remove_all(out);
    }
  }
  const double loadAfter = LoadAverage();
  const double in = static_cast<double>(input) / kMiB;
  std::printf("input: %zu files, %.1f MiB (%s video); load average %.2f before, %.2f after\n", files.size(), in,
              made.c_str(), loadBefore, loadAfter);
  for (int s = 0; s < kSteps; ++s) {
    if (s == kFfmpeg && !ffmpegOk) continue;
    std::printf("%-7s %8.1f MiB/s (%.2f s, processor %.2f s)", names[s], in / best[s], best[s], bestCpu[s]);
    if (peak[s] > 0) std::printf(", peak memory %.1f MiB", static_cast<double>(peak[s]) / 1024.0);
    std::printf("\n");
  }
  // Each ratio of throughputs, and the same by processor time.
  const auto ratio = [&](int Of, int To, const char* Text, const char* Target) {
    if (best[Of] >= 1e30 || best[To] >= 1e30) return;
    std::printf("%s %.2f (%s; by processor time %.2f)\n", Text, best[To] / best[Of], Target, bestCpu[To] / bestCpu[Of]);
  };
  ratio(kWhole, kCopy, "whole / copy:   ", "target 0.70 or more");
  ratio(kDemux, kCopy, "demux / copy:   ", "target 0.90 or more");
  if (ffmpegOk) ratio(kWhole, kFfmpeg, "whole vs ffmpeg:", "times as fast, target 2 or more");
  std::printf("peak memory: %.1f MiB (target under 64 MiB)\n",
              static_cast<double>(std::max(peak[kDemux], peak[kWhole])) / 1024.0);
  if (!std::getenv("TESS_BENCH_KEEP")) fs::remove_all(root);
  return 0;
}
