#pragma once
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

// ffmpeg and ffprobe as the oracle of the stream tests. CI installs them; a
// machine without them skips the tests that ask.
namespace tess::test {

struct ToolRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

inline ToolRun RunTool(const std::string& Command) {
  TempDir dir;
  const std::string errFile = dir.File("stderr");
  ToolRun run;
  FILE* pipe = ::popen((Command + " 2>" + errFile).c_str(), "r");
  if (!pipe) return run;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) run.Out.append(buf, n);
  run.Status = ::pclose(pipe);
  std::ifstream err(errFile);
  run.Err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  return run;
}

inline bool HaveFfmpeg() {
  static const bool have = RunTool("ffprobe -version >/dev/null && ffmpeg -version >/dev/null").Status == 0;
  return have;
}

#define REQUIRE_FFMPEG() \
  if (!::tess::test::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed"

inline std::string Quoted(const std::string& Path) { return "'" + Path + "'"; }

// ffprobe's key=value figures of the first audio stream; -1 where it says N/A.
inline std::map<std::string, int64_t> ProbeStream(const std::string& File) {
  const ToolRun run = RunTool(
      "ffprobe -v error -count_packets -select_streams a:0 -show_entries "
      "stream=sample_rate,channels,bit_rate,bits_per_raw_sample,nb_read_packets,duration_ts "
      "-of default=nw=1 " +
      Quoted(File));
  std::map<std::string, int64_t> figures;
  std::istringstream lines(run.Out);
  for (std::string line; std::getline(lines, line);) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string value = line.substr(eq + 1);
    figures[line.substr(0, eq)] = value.empty() || value == "N/A" ? -1 : std::stoll(value);
  }
  if (!run.Err.empty()) figures["errors"] = 1;
  return figures;
}

// Byte offsets of the packets ffprobe finds in a raw stream.
inline std::vector<int64_t> PacketOffsets(const std::string& File) {
  const ToolRun run = RunTool("ffprobe -v error -show_entries packet=pos -of csv=p=0 " + Quoted(File));
  std::vector<int64_t> offsets;
  std::istringstream lines(run.Out);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty() && line != "N/A") offsets.push_back(std::stoll(line));
  return offsets;
}

// Decodes File completely, read as the raw stream its extension names; the
// error text, empty when it decoded cleanly.
inline std::string DecodeErrors(const std::string& File) {
  const std::string ext = File.substr(File.rfind('.') + 1);
  const std::string format = ext == "mp2" ? "mp3" : ext;
  const ToolRun run = RunTool("ffmpeg -v error -nostdin -f " + format + " -i " + Quoted(File) + " -f null -");
  return run.Status == 0 ? run.Err : "exit " + std::to_string(run.Status) + ": " + run.Err;
}

}  // namespace tess::test
