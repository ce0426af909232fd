#include "streams/video_oracle.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "support/test_support.h"

namespace tess::test {

bool HaveFfmpeg() {
  return std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") == 0;
}

std::string RunCommand(const std::string& Command) {
  std::string out;
  if (FILE* p = ::popen(Command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

std::string Quote(const std::string& Path) { return "'" + Path + "'"; }

namespace {

std::map<std::string, std::string> Fields(const std::string& Line) {
  std::map<std::string, std::string> f;
  std::stringstream in(Line);
  std::string item;
  while (std::getline(in, item, '|')) {
    const size_t eq = item.find('=');
    if (eq != std::string::npos) f[item.substr(0, eq)] = item.substr(eq + 1);
  }
  return f;
}

}  // namespace

TProbe Probe(const std::string& File) {
  TProbe p;
  const std::string out = RunCommand(
      "ffprobe -v error -select_streams v:0 -show_entries "
      "stream=codec_name,width,height,display_aspect_ratio,sample_aspect_ratio,field_order:"
      "frame=pict_type,repeat_pict,top_field_first,pkt_duration_time,pkt_pos -of compact " +
      Quote(File));
  std::stringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("frame|", 0) == 0) p.Frames.push_back(Fields(line));
    if (line.rfind("stream|", 0) == 0) p.Stream = Fields(line);
  }
  return p;
}

int64_t TProbe::Fields() const {
  int64_t n = 0;
  for (const auto& f : Frames) n += 2 + (f.count("repeat_pict") ? std::stoll(f.at("repeat_pict")) : 0);
  return n;
}

int64_t TProbe::Count(const std::string& Key, const std::string& Value) const {
  int64_t n = 0;
  for (const auto& f : Frames) n += f.count(Key) && f.at(Key) == Value;
  return n;
}

double TProbe::FrameRate() const {
  double seconds = 0;
  for (const auto& f : Frames) seconds += std::stod(f.at("pkt_duration_time"));
  return seconds > 0 ? static_cast<double>(Fields()) / 2 / seconds : 0;
}

std::vector<std::string> FrameHashes(const std::string& File) {
  const std::string out =
      RunCommand("ffmpeg -v error -i " + Quote(File) + " -fps_mode passthrough -f framemd5 - 2>/dev/null");
  std::vector<std::string> hashes;
  std::stringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    hashes.push_back(line.substr(line.rfind(',') + 1));
  }
  return hashes;
}

std::string CopySample(const std::string& Dir, const std::string& Name) {
  const std::string to = Dir + "/" + Name;
  std::filesystem::copy_file(DataFile("streams/" + Name), to, std::filesystem::copy_options::overwrite_existing);
  return to;
}

namespace {
const uint8_t kPrefix[] = {0, 0, 1};
}

std::vector<uint8_t> WithLongUserData(const std::vector<uint8_t>& Video, size_t Size, size_t* At) {
  std::vector<uint8_t> block = {0, 0, 1, 0xB2};
  const uint8_t pattern[] = {0, 0, 2, 0x55, 0, 0, 0, 2, 0xFF, 0, 7, 0, 0};
  for (size_t i = 0; block.size() < Size + 4; ++i) block.push_back(pattern[i % sizeof pattern] ^ static_cast<uint8_t>(i / 97 % 2 * 0x40));
  const uint8_t gop[] = {0, 0, 1, 0xB8};
  const auto at = std::search(std::search(Video.begin(), Video.end(), gop, gop + 4) + 1, Video.end(), gop, gop + 4);
  if (At) *At = static_cast<size_t>(at - Video.begin());
  std::vector<uint8_t> out(Video.begin(), at);
  out.insert(out.end(), block.begin(), block.end());
  out.insert(out.end(), at, Video.end());
  return out;
}

std::vector<uint8_t> WithoutUserData(const std::vector<uint8_t>& Video) {
  std::vector<uint8_t> out;
  auto from = Video.begin(), code = Video.begin();
  while ((code = std::search(code, Video.end(), kPrefix, kPrefix + 3)) != Video.end()) {
    if (Video.end() - code >= 4 && code[3] == 0xB2) {
      out.insert(out.end(), from, code);
      from = code = std::search(code + 4, Video.end(), kPrefix, kPrefix + 3);
    } else {
      code += 3;
    }
  }
  out.insert(out.end(), from, Video.end());
  return out;
}

}  // namespace tess::test
