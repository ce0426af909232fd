// Writes a synthetic HD DVD for tests and demonstrations.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "disc_builder.h"

using namespace tess::tools;

// The whole usage on stdout, for --help; the sample streams' places are those
// this program looks in.
static int Help() {
  std::printf(
      "usage: tessaline-make-disc FOLDER [--size BYTES] [--title-sets N] [--pal]\n"
      "                           [--advanced] [--streams DIR]\n"
      "       tessaline-make-disc -V | --version\n"
      "       tessaline-make-disc -h | --help\n"
      "  Writes a Standard Content disc (hv000i01.IFO, title sets, EVO chains) into\n"
      "  FOLDER, or with --advanced loose EVO files and an hva00001.VTI list.\n"
      "  FOLDER is new or empty, or holds an earlier disc of this program only,\n"
      "  whose files are removed first; anything else there is refused.\n"
      "  --size grows title set 1's title chain (with --advanced the first EVO file)\n"
      "  to about BYTES (suffixes K, M, G). --pal writes 720x576 video at 25 fps.\n"
      "  --streams DIR takes the sample streams (files made by ffmpeg) from DIR;\n"
      "  without it they are taken from the first of these folders that holds them:\n");
  for (const std::string& folder : StreamsFolderCandidates()) std::printf("    %s\n", folder.c_str());
  std::printf(
      "  An option's value follows it, or is given as --name=value (--size=64M);\n"
      "  -- ends the options (for a FOLDER that starts with \"-\").\n"
      "  Every file written is listed on stdout.\n");
  return 0;
}

// A usage error: one line that says what is wrong, and where the help is.
static int BadUsage(const std::string& Why) {
  std::fprintf(stderr, "tessaline-make-disc: %s\nTry 'tessaline-make-disc --help'.\n", Why.c_str());
  return 2;
}

static bool ParseSize(const char* text, uint64_t& out) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || v < 0) return false;
  double mul = 1;
  if (*end == 'K' || *end == 'k') mul = 1024, ++end;
  else if (*end == 'M' || *end == 'm') mul = 1024.0 * 1024, ++end;
  else if (*end == 'G' || *end == 'g') mul = 1024.0 * 1024 * 1024, ++end;
  // "inf", "nan" and sizes past 2^63 have no byte count.
  if (*end != '\0' || !(v * mul < 9.2e18)) return false;
  out = static_cast<uint64_t>(v * mul);
  return true;
}

// The sample streams from the first of the usual places that holds them all;
// when none does, every place is named with what was wrong there.
static bool LoadFromUsualPlaces(StandardStreams& Sources) {
  std::string looked;
  for (const std::string& folder : StreamsFolderCandidates()) {
    std::string error = "no such folder";
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec) && LoadStandardStreams(folder, Sources, &error)) return true;
    looked += "  " + folder + ": " + error + "\n";
  }
  std::fprintf(stderr, "tessaline-make-disc: no sample streams found; looked in:\n%sGive their folder with --streams DIR.\n",
               looked.c_str());
  return false;
}

int main(int argc, char** argv) {
  if (argc < 2) return BadUsage("a FOLDER is needed");
  std::string folder;
  std::string streams;  // empty: the first of the usual places that holds them
  SampleDiscOptions sample;
  uint64_t size = 0;
  bool advanced = false;
  bool takeOptions = true;  // "--" ends them: a FOLDER may then start with "-"
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (takeOptions && arg == "--") {
      takeOptions = false;
      continue;
    }
    const bool option = takeOptions && arg.size() > 1 && arg[0] == '-';
    // "--name=value" is "--name value".
    const size_t eq = option && arg.starts_with("--") ? arg.find('=') : std::string::npos;
    const std::string a = arg.substr(0, eq);
    const bool needsValue = a == "--size" || a == "--title-sets" || a == "--streams";
    const bool flag = a == "--help" || a == "-h" || a == "--version" || a == "-V" || a == "--pal" || a == "--advanced";
    if (flag && eq != std::string::npos) return BadUsage(a + " takes no value");
    if (needsValue && eq == std::string::npos && i + 1 >= argc) return BadUsage(a + " needs a value");
    const std::string value = !needsValue ? std::string() : eq != std::string::npos ? arg.substr(eq + 1) : argv[++i];
    if (!option) {
      if (!folder.empty()) return BadUsage("one FOLDER only: '" + folder + "' and '" + arg + "'");
      folder = arg;
    } else if (a == "--help" || a == "-h") {
      return Help();
    } else if (a == "--version" || a == "-V") {
      std::printf("tessaline-make-disc (Tessaline %s)\n", TESS_VERSION);
      return 0;
    } else if (a == "--size") {
      if (!ParseSize(value.c_str(), size))
        return BadUsage("--size takes a number of bytes (suffixes K, M, G): '" + value + "'");
    } else if (a == "--title-sets") {
      char* end = nullptr;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || n < 1 || n > 99)
        return BadUsage("--title-sets takes a number from 1 to 99: '" + value + "'");
      sample.TitleSets = static_cast<int>(n);
    } else if (a == "--pal") {
      sample.FrameRate = 25;
    } else if (a == "--advanced") {
      advanced = true;
    } else if (a == "--streams") {
      if (value.empty()) return BadUsage("--streams takes a folder");
      streams = value;
    } else {
      return BadUsage("unknown option '" + arg + "'");
    }
  }
  if (folder.empty()) return BadUsage("a FOLDER is needed");

  StandardStreams sources;
  std::string error;
  if (!streams.empty() && !LoadStandardStreams(streams, sources, &error)) {
    std::fprintf(stderr, "tessaline-make-disc: cannot load the sample streams from %s: %s\n", streams.c_str(),
                 error.c_str());
    return 1;
  }
  if (streams.empty() && !LoadFromUsualPlaces(sources)) return 1;
  if (!ClearDiscFolder(folder, error)) {
    std::fprintf(stderr, "tessaline-make-disc: %s\n", error.c_str());
    return 1;
  }
  DiscBuildOptions options;
  options.Evo.KeepStreamBytes = false;
  options.TitleBytes = size;
  DiscBuildSummary summary;
  if (advanced) {
    // The builder picks the PAL video for a PAL disc; loose EVO files take it here.
    if (sample.FrameRate == 25) sources.Mpeg2 = sources.Mpeg2Pal;
    DiscSpec spec = MakeSampleDiscSpec(sample);
    std::vector<std::pair<std::string, DomainSpec>> evos = {{"FEATURE_1.EVO", spec.TitleSets[0].Titles},
                                                             {"FEATURE_2.EVO", spec.TitleSets.back().Titles}};
    summary = BuildAdvancedDisc(folder, "hva00001.VTI", evos, sources, options);
  } else {
    DiscSpec spec = MakeSampleDiscSpec(sample);
    summary = BuildStandardDisc(folder, spec, sources, options);
  }
  if (!summary.Ok) {
    std::fprintf(stderr, "tessaline-make-disc: %s\n", summary.Error.c_str());
    return 1;
  }
  for (const auto& f : summary.Files) std::printf("%s\n", f.c_str());
  return 0;
}
