#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// ffprobe and ffmpeg as oracles for the video tests: what they report of a
// stream, and the decoded frames as hashes.
namespace tess::test {

bool HaveFfmpeg();
// The command's standard output.
std::string RunCommand(const std::string& Command);
std::string Quote(const std::string& Path);

struct TProbe {
  std::map<std::string, std::string> Stream;              // the first video stream
  std::vector<std::map<std::string, std::string>> Frames;  // in display order
  int64_t Fields() const;                                  // 2 per frame, 3 with a repeated field
  int64_t Count(const std::string& Key, const std::string& Value) const;
  double FrameRate() const;                                // frames from fields over the total duration
};
TProbe Probe(const std::string& File);

// One MD5 per decoded frame, timing left out.
std::vector<std::string> FrameHashes(const std::string& File);

// A copy of a file of tests/data/streams in Dir.
std::string CopySample(const std::string& Dir, const std::string& Name);

// Video with a user-data block of Size bytes of near misses of a start code (00 00 02,
// 00 00 00 02) put in front of its second GOP header (at byte At), and Video less
// every user-data block (from its start code to the next), found the plainest way.
std::vector<uint8_t> WithLongUserData(const std::vector<uint8_t>& Video, size_t Size, size_t* At = nullptr);
std::vector<uint8_t> WithoutUserData(const std::vector<uint8_t>& Video);

}  // namespace tess::test
