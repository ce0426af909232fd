// Every audio reader against ffprobe's figures for real encoder output.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/paths.h"
#include "streams/ac3.h"
#include "streams/dts.h"
#include "streams/ffmpeg_oracle.h"
#include "streams/mlp.h"
#include "streams/mpa.h"

namespace tess::streams {
namespace {

using test::DataFile;

struct Figures {
  int64_t SampleRate = -1, Channels = -1, BitRate = -1, Frames = -1, Bits = -1;
  bool operator==(const Figures&) const = default;
};
void PrintTo(const Figures& f, std::ostream* os) {
  *os << "rate " << f.SampleRate << ", channels " << f.Channels << ", bit rate " << f.BitRate << ", frames " << f.Frames
      << ", bits " << f.Bits;
}

// What our readers say of a file, in ffprobe's terms; -1 where the format
// states no such figure (or ffprobe takes it from elsewhere).
Figures Ours(core::RunContext& Run, const std::string& File) {
  const std::string ext = platform::ExtractFileExt(File);
  Figures f;
  if (ext == ".ac3") {
    f.SampleRate = Ac3SampleRate(Ac3ReadSampleRateCode(File));
    f.Channels = Ac3FullBandwidthChannels(Ac3ReadChannelMode(File)) + Ac3ReadLfeOn(File);
    f.BitRate = Ac3BitRate(Ac3ReadBitRateCode(File));
    f.Frames = Ac3CountFrames(Run, File, false) / kAc3SamplesPerFrame;
  } else if (ext == ".eac3") {
    TEC3Stream s(File);
    EXPECT_TRUE(s.Open());
    EXPECT_TRUE(s.IsEAC3);
    f.SampleRate = static_cast<int64_t>(s.SampleRate);
    f.Channels = Ac3FullBandwidthChannels(s.acmod) + s.LfeOn;
    f.BitRate = s.BitRate;
    f.Frames = Ac3CountFrames(Run, File, false) / (s.Blocks * kAc3SamplesPerBlock);
  } else if (ext == ".dts") {
    DtsHeader h;
    DtsReadHeader(File, false, h);
    DtsInfo info;
    DtsReadInfo(File, info);
    f.SampleRate = DtsReadSampleRate(File);
    f.Channels = DtsChannelCount(info.ChannelArrangement) + info.LfeOn;
    f.BitRate = DtsBitRateOf(h.RateCode);
    f.Frames = DtsCountFrames(Run, File);
  } else if (ext == ".mlp" || ext == ".thd") {
    TMLPstream s(File);
    f.SampleRate = s.SampleRate;
    f.Channels = s.Channels + s.LfeOn;
    if (ext == ".mlp") f.Bits = s.BitsPerSample;
  } else {
    MpaFileInfoRecord info;
    MpaFileInfo(Run, File, true, info);
    f.SampleRate = info.SampleRate;
    f.Channels = MpaChannelCount(info.ChannelMode);
    if (File.find("vbr") == std::string::npos) f.BitRate = info.BitRate * 1000;
    f.Frames = info.Frames;
    TMPAFrame first;
    first.Version = info.Version;
    first.Layer = info.Layer;
    EXPECT_EQ(info.Samples, info.Frames * first.SamplesPerFrame());
  }
  return f;
}

TEST(AudioHeaders, ReadersAgreeWithFfprobe) {
  REQUIRE_FFMPEG();
  test::CoreProject project;
  for (const char* name :
       {"audio_48k_2ch.ac3", "a_48k_6ch.ac3",     "a_44k_1ch.ac3",     "a_32k_2ch.ac3",    "a_48k_6ch.eac3",
        "a_44k_1ch.eac3",    "a_32k_2ch.eac3",    "audio_48k_2ch.dts", "a_48k_6ch.dts",    "a_44k_1ch.dts",
        "a_32k_2ch.dts",     "audio_48k_2ch.mlp", "a_44k_6ch_16.mlp",  "a_96k_1ch_24.mlp", "audio_48k_2ch.thd",
        "a_48k_6ch.thd",     "audio_48k_2ch.mp2", "a_44k_1ch.mp2",     "a_24k_2ch.mp2",    "a_44k_2ch.mp3",
        "a_48k_1ch.mp3",     "a_22k_1ch_vbr.mp3", "a_8k_1ch.mp3"}) {
    SCOPED_TRACE(name);
    const std::string file = DataFile(std::string("streams/") + name);
    // ffprobe's figures for what our readers state; -1 marks what they do not.
    Figures ours = Ours(project.Form, file);
    auto probe = test::ProbeStream(file);
    auto theirs = [&](int64_t Ours, const char* Key) { return Ours < 0 ? -1 : probe[Key]; };
    // The DTS table names two rates by what a 48 kHz frame really carries (754.5
    // and 1509.75 kbit/s) where ffprobe gives the nominal 768 and 1536.
    if (platform::ExtractFileExt(file) == ".dts" && std::abs(ours.BitRate - probe["bit_rate"]) * 50 < ours.BitRate)
      ours.BitRate = probe["bit_rate"];
    EXPECT_EQ(ours, (Figures{theirs(0, "sample_rate"), theirs(0, "channels"), theirs(ours.BitRate, "bit_rate"),
                             theirs(ours.Frames, "nb_read_packets"), theirs(ours.Bits, "bits_per_raw_sample")}));
  }
}

}  // namespace
}  // namespace tess::streams
