// Reading an EVO chain: the plain copy of its bytes (the floor), the sector stream
// pack by pack, and the navigation-pack scout in full and fast mode.
// TESS_BENCH_BYTES sets the chain's size (default 256 MiB; 1G for a 1 GiB chain).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/headless_window.h"
#include "core/run_context.h"
#include "core/vob_file_stream.h"
#include "disc/disc_model.h"
#include "disc/vob_scout.h"
#include "disc_builder.h"

using namespace tess;

namespace {

// What the stream and the scout take: a run context under a headless window
// and the disc model.
struct ScoutForm : core::RunContext, disc::DiscModel {};

struct Chain {
  std::string Folder;
  std::vector<std::string> Files;
  uint64_t Bytes = 0;
};

uint64_t BenchBytes() {
  const char* v = std::getenv("TESS_BENCH_BYTES");
  if (!v || !*v) return 256ull << 20;
  char* end = nullptr;
  double n = std::strtod(v, &end);
  if (*end == 'G' || *end == 'g') n *= 1024.0 * 1024 * 1024;
  if (*end == 'M' || *end == 'm') n *= 1024.0 * 1024;
  return static_cast<uint64_t>(n);
}

const Chain& TheChain() {
  static Chain chain = [] {
    Chain c;
    c.Folder = (std::filesystem::temp_directory_path() / "tessaline-bench-chain").string();
    std::filesystem::remove_all(c.Folder);
    std::filesystem::create_directories(c.Folder);
    tools::StandardStreams sources;
    std::string error;
    if (!tools::LoadStandardStreams(tools::DefaultStreamsFolder(), sources, &error)) {
      std::fprintf(stderr, "cannot load the sample streams: %s\n", error.c_str());
      std::exit(1);
    }
    tools::DomainSpec titles;
    titles.MaxFileSectors = 512 * 1024;  // 1 GiB files, as on a disc
    titles.Cells.push_back({});
    tools::EvoBuildOptions options;
    options.KeepStreamBytes = false;
    const auto streams = tools::MakeDomainStreams(sources, tools::DomainStreams::EveryKind());
    if (!tools::FitDomainToSize(titles, streams, BenchBytes())) {
      std::fprintf(stderr, "cannot size the chain\n");
      std::exit(1);
    }
    auto summary = tools::BuildDomainEvos(c.Folder, titles, "hv001t", 1, streams, options);
    if (!summary.Ok) {
      std::fprintf(stderr, "cannot write the chain: %s\n", summary.Error.c_str());
      std::exit(1);
    }
    for (const auto& f : summary.Files) c.Files.push_back(f.Path);
    std::atexit([] { std::filesystem::remove_all(std::filesystem::temp_directory_path() / "tessaline-bench-chain"); });
    c.Bytes = summary.TotalBytes;
    return c;
  }();
  return chain;
}

void BM_CopyBaseline(benchmark::State& state) {
  const Chain& c = TheChain();
  std::vector<char> block(1 << 20);
  for (auto _ : state) {
    for (const auto& f : c.Files) {
      const int fd = ::open(f.c_str(), O_RDONLY);
      while (::read(fd, block.data(), block.size()) > 0) {
      }
      ::close(fd);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.Bytes));
}

void BM_SectorStreamPacks(benchmark::State& state) {
  const Chain& c = TheChain();
  auto form = std::make_unique<ScoutForm>();
  core::HeadlessWindow window(*form);
  uint8_t pack[2048];
  for (auto _ : state) {
    for (const auto& f : c.Files) {
      auto s = core::TVobFileStream::Create(*form, f, 0, false);
      while (s->Read(pack, sizeof pack) == sizeof pack) benchmark::DoNotOptimize(pack[0]);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.Bytes));
}

void Scout(benchmark::State& state, uint8_t fullScan) {
  const Chain& c = TheChain();
  auto form = std::make_unique<ScoutForm>();
  core::HeadlessWindow window(*form);
  disc::ScanSettings scan;
  scan.FullScan = fullScan != 0;
  for (auto _ : state) {
    auto scout = disc::TVobScaut::Create(c.Files.front());
    scout->Scan(*form, *form, scan, form->StatusProgress);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.Bytes));
}

void BM_ScoutFullScan(benchmark::State& state) { Scout(state, 1); }
void BM_ScoutFastScan(benchmark::State& state) { Scout(state, 0); }

}  // namespace

BENCHMARK(BM_CopyBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SectorStreamPacks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScoutFullScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScoutFastScan)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
