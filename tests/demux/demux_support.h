#pragma once
// What the demultiplexer tests share: the sample streams, the parts of the
// demultiplexer's environment under a headless window, and ffmpeg's own
// demultiplexing of a file as the oracle.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/headless_window.h"
#include "disc_builder.h"
#include "support/demux_form.h"
#include "support/test_support.h"

namespace tess::test {

using DemuxProject = BasicProject<DemuxForm>;

// The TitleMakeSup setting, as each consumer takes it.
inline void SetTitleMakeSup(DemuxForm& Form, bool On) {
  Form.Settings.Demux.TitleMakeSup = Form.Settings.Tracks.TitleMakeSup = Form.Settings.Registry.TitleMakeSup = On;
}

inline const tools::StandardStreams& SampleStreams() {
  static tools::StandardStreams s;
  static const bool loaded = [] {
    std::string error;
    const bool ok = tools::LoadStandardStreams(DataFile("streams"), s, &error);
    EXPECT_TRUE(ok) << error;
    return ok;
  }();
  (void)loaded;
  return s;
}

inline bool HaveFfmpeg() { return std::system("command -v ffmpeg >/dev/null 2>&1") == 0; }

// The bytes a command writes to its standard output.
inline std::vector<uint8_t> CommandOutput(const std::string& Command) {
  std::vector<uint8_t> out;
  FILE* f = ::popen(Command.c_str(), "r");
  if (!f) return out;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  ::pclose(f);
  return out;
}

// ffmpeg's demultiplexing of one stream of File, picked by its id as ffmpeg
// numbers it (0x1e0 video, 0xc0 a private-stream substream, 0xfd55 VC-1): the
// packets' bytes as they stand, or for LPCM the decoded samples in the packet's
// sample size, big-endian (or little-endian, as a WAV file holds them).
inline std::vector<uint8_t> FfmpegStream(const std::string& File, const std::string& Id, int LpcmBits = 0,
                                         bool LittleEndian = false) {
  std::string codec = "-c copy -copyinkf -f data";
  const std::string order = LittleEndian ? "le" : "be";
  if (LpcmBits == 16 || LpcmBits == 24) {
    const std::string format = "s" + std::to_string(LpcmBits) + order;
    codec = "-c:a pcm_" + format + " -f " + format;
  }
  return CommandOutput("ffmpeg -v error -fflags +noparse+nofillin -i '" + File + "' -map 0:i:" + Id + " " + codec +
                       " - 2>/dev/null");
}

// Packet-order 24-bit LPCM (per two sample frames the high and middle bytes of
// every sample, then their low bytes) as plain big-endian 24-bit samples.
inline std::vector<uint8_t> LpcmGroupsToSamples(const std::vector<uint8_t>& In, int Channels) {
  std::vector<uint8_t> out;
  const size_t group = static_cast<size_t>(6 * Channels);
  for (size_t g = 0; g + group <= In.size(); g += group) {
    const uint8_t* p = In.data() + g;
    for (int s = 0; s < 2 * Channels; ++s) {
      out.push_back(p[2 * s]);
      out.push_back(p[2 * s + 1]);
      out.push_back(p[4 * Channels + s]);
    }
  }
  return out;
}

}  // namespace tess::test
