// The information texts of ffmpeg-made samples: each compared whole with its
// golden text (tests/data/streams/info), and its figures with ffprobe's.
// TESS_UPDATE_GOLDEN=1 rewrites the golden texts from what the program says.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "core/timecode.h"
#include "streams/ffmpeg_oracle.h"
#include "streams/m2v_cache.h"
#include "streams/media_info.h"

namespace tess::streams {
namespace {

using test::DataFile;

struct InfoRow {
  const char* Sample;
  const char* Name;    // the copy's name: MLP is known by its extension alone
  bool Cached;         // video: described with its ".vnf" cache
  const char* Ext;     // what the sniffer says
  bool Described;      // false: "Unknown file format"
};

const InfoRow kRows[] = {
    {"a_48k_6ch.ac3", "a_48k_6ch.ac3", false, ".ac3", true},
    {"a_44k_1ch.ac3", "a_44k_1ch.ac3", false, ".ac3", true},
    {"a_32k_2ch.ac3", "a_32k_2ch.ac3", false, ".ac3", true},
    {"audio_48k_2ch.eac3", "audio_48k_2ch.eac3", false, ".ac3", true},
    {"a_44k_1ch.eac3", "a_44k_1ch.eac3", false, ".ac3", true},
    {"a_48k_6ch.eac3", "a_48k_6ch.eac3", false, ".ac3", true},
    {"a_48k_6ch.dts", "a_48k_6ch.dts", false, ".dts", true},
    {"a_44k_1ch.dts", "a_44k_1ch.dts", false, ".dts", true},
    {"audio_48k_2ch.dts", "audio_48k_2ch.dts", false, ".dts", true},
    {"a_44k_1ch.mp2", "a_44k_1ch.mp2", false, ".mpa", true},
    {"audio_48k_2ch.mp2", "audio_48k_2ch.mp2", false, ".mpa", true},
    {"w_48k_2ch_list.wav", "w_48k_2ch_list.wav", false, ".wav", true},
    {"w_44k_1ch_16.wav", "w_44k_1ch_16.wav", false, ".wav", true},
    {"a_44k_6ch_16.mlp", "a_44k_6ch_16.mlp", false, "", true},
    {"a_96k_1ch_24.mlp", "a_96k_1ch_24.mlp", false, "", true},
    {"audio_48k_2ch.thd", "truehd.mlp", false, "", true},
    {"m2v_pal_wide.m2v", "m2v_pal_wide.m2v", true, ".m2v", true},
    {"m2v_ntsc_interlaced.m2v", "m2v_ntsc_interlaced.m2v", true, ".m2v", true},
    {"m2v_film_telecine.m2v", "m2v_film_telecine.m2v", true, ".m2v", true},
    {"m2v_half_d1.m2v", "m2v_half_d1.m2v", true, ".m2v", true},  // 704 wide
    {"m2v_captions.m2v", "m2v_captions.m2v", true, ".m1v", true},
    {"m1v_pal.m1v", "m1v_pal.m1v", true, ".m1v", true},
    {"m1v_ntsc.m1v", "m1v_ntsc.m1v", false, ".m1v", true},
    {"m2v_still.m2v", "m2v_still.m2v", false, ".m2v", true},
    {"video_720x480.m2v", "video_720x480.m2v", false, ".m2v", true},
    // Not described: MPEG-1 Layer III behind an ID3 tag, MPEG-2 Layer II, an
    // extensible WAV, MLP under another name, H.264.
    {"a_44k_2ch.mp3", "a_44k_2ch.mp3", false, "", false},
    {"a_24k_2ch.mp2", "a_24k_2ch.mp2", false, "", false},
    {"w_48k_6ch_ext.wav", "w_48k_6ch_ext.wav", false, ".wav", false},
    {"a_44k_6ch_16.mlp", "mlp_stream.bin", false, "", false},
    {"h264_ntsc_aud.264", "h264_ntsc_aud.264", false, ".264", false},
};

// The row's text, its file name line reduced to the copy's name (the temporary
// folder differs from run to run) and its CR LF line ends to LF.
std::string DescribeCopy(core::RunContext& Run, const InfoRow& Row, const test::TempDir& Dir) {
  const std::string copy = Dir.File(Row.Name);
  std::filesystem::copy_file(DataFile(std::string("streams/") + Row.Sample), copy);
  if (Row.Cached) {
    TM2VInfoRecord record;
    EXPECT_TRUE(GetM2VInfoRecord(Run, copy, nullptr, nullptr, record, nullptr));
  }
  EXPECT_EQ(DetectStreamFileType(copy), Row.Ext);
  std::string text = GetMediaInfoText(Run, copy, false, nullptr);
  std::string out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(lines.eof() || (!line.empty() && line.back() == '\r')) << "a line not ended by CR LF";
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with("File name: ")) line = std::string("File name: ") + Row.Name;
    out += line + "\n";
  }
  return out;
}

std::string GoldenName(const InfoRow& Row) {
  return DataFile(std::string("streams/info/") + Row.Name + (Row.Cached ? ".vnf" : "") + ".txt");
}

TEST(MediaInfo, TextsEqualTheirGoldenTexts) {
  test::CoreProject project;
  const bool update = std::getenv("TESS_UPDATE_GOLDEN") != nullptr;
  for (const InfoRow& row : kRows) {
    SCOPED_TRACE(row.Name);
    test::TempDir dir;
    const std::string text = DescribeCopy(project.Form, row, dir);
    if (!row.Described) {
      EXPECT_EQ(text, std::string(kUnknownFileFormat) + "\n");
      continue;
    }
    if (update) std::ofstream(GoldenName(row), std::ios::binary) << text;
    std::ifstream golden(GoldenName(row), std::ios::binary);
    EXPECT_EQ(text, std::string(std::istreambuf_iterator<char>(golden), std::istreambuf_iterator<char>()));
  }
}

// ffprobe's figures of the first stream, as texts.
std::map<std::string, std::string> Probe(const std::string& File) {
  const test::ToolRun run = test::RunTool(
      "ffprobe -v error -count_packets -count_frames -show_entries "
      "stream=codec_name,sample_rate,channels,channel_layout,bit_rate,bits_per_sample,bits_per_raw_sample,"
      "nb_read_packets,nb_read_frames,duration_ts,width,height,display_aspect_ratio,r_frame_rate "
      "-of default=nw=1 " +
      test::Quoted(File));
  std::map<std::string, std::string> figures;
  std::istringstream lines(run.Out);
  for (std::string line; std::getline(lines, line);)
    if (const size_t eq = line.find('='); eq != std::string::npos && line.substr(eq + 1) != "N/A")
      figures.emplace(line.substr(0, eq), line.substr(eq + 1));
  return figures;
}

// The value of the line that starts with Label, or empty.
std::string Value(const std::string& Text, const std::string& Label) {
  const size_t at = Text.find("\n" + Label);
  if (at == std::string::npos) return {};
  const size_t from = at + 1 + Label.size();
  return Text.substr(from, Text.find('\n', from) - from);
}

double Number(const std::string& Text) { return Text.empty() ? -1 : std::stod(Text); }

TEST(MediaInfo, FiguresAgreeWithFfprobe) {
  REQUIRE_FFMPEG();
  test::CoreProject project;
  for (const InfoRow& row : kRows) {
    if (!row.Described) continue;
    SCOPED_TRACE(row.Name);
    test::TempDir dir;
    const std::string text = DescribeCopy(project.Form, row, dir);
    auto probe = Probe(dir.File(row.Name));
    auto expectFigure = [&](const std::string& Label, double Ours, const std::string& Key, double Scale = 1) {
      if (Ours < 0 || !probe.contains(Key)) return;
      EXPECT_EQ(Ours, std::stod(probe[Key]) * Scale) << Label << " against " << Key;
    };
    if (probe["codec_name"].starts_with("mpeg")) {
      EXPECT_EQ(Value(text, "Encode Type: MPEG "), probe["codec_name"].substr(4, 1));
      EXPECT_EQ(Value(text, "Size: "), probe["width"] + " x " + probe["height"]);
      std::string aspect = Value(text, "Aspect Ratio: ");
      aspect = aspect.substr(0, aspect.find(" ("));
      std::erase(aspect, ' ');
      if (probe["codec_name"] == "mpeg2video") {
        EXPECT_EQ(aspect, probe["display_aspect_ratio"]);
      }
      // ffprobe gives the field rate of a stream flagged for pulldown.
      const bool pulldown = Value(text, "Is PullDown: ") == "Yes";
      const std::string rate = probe["r_frame_rate"];
      const double fps = std::stod(rate) / std::stod(rate.substr(rate.find('/') + 1)) / (pulldown ? 2 : 1);
      EXPECT_NEAR(Number(Value(text, "Frame Rate: ")), fps, 0.01);
      expectFigure("Bit rate", Number(Value(text, "Bit rate: ")), "bit_rate");
      const std::string duration = Value(text, "Duration:              ");
      if (!duration.empty() && !pulldown) {
        const core::TTimeCode tc{static_cast<uint8_t>(std::stoi(duration.substr(0, 2))),
                                 static_cast<uint8_t>(std::stoi(duration.substr(3, 2))),
                                 static_cast<uint8_t>(std::stoi(duration.substr(6, 2))),
                                 static_cast<uint8_t>(std::stoi(duration.substr(9, 2)))};
        expectFigure("Duration", static_cast<double>(core::TimeCodeToFrameCount(tc, std::round(fps))),
                     "nb_read_frames");
      }
      continue;
    }
    expectFigure("Sample Rate", Number(Value(text, "Sample Rate: ")), "sample_rate");
    expectFigure("Frames", Number(Value(text, "Frames: ")), "nb_read_packets");
    // Samples: per packet of the format, or (WAV) the stream's length.
    const std::string ext = std::filesystem::path(row.Name).extension();
    const double perPacket = ext == ".dts" ? 512 : ext == ".mp2" ? 1152 : 1536;
    if (ext == ".wav") {
      expectFigure("Samples", Number(Value(text, "Samples: ")), "duration_ts");
    } else {
      expectFigure("Samples", Number(Value(text, "Samples: ")), "nb_read_packets", perPacket);
    }
    // Channels: "System: Dolby 5.1" counts six; MLP counts without the LFE channel.
    if (const std::string system = Value(text, "System: "); !system.empty()) {
      const std::string layout = system.substr(system.rfind(' ') + 1);
      expectFigure("System", std::stoi(layout) + std::stoi(layout.substr(layout.find('.') + 1)), "channels");
    }
    if (const std::string channels = Value(text, "Channels: "); channels.find(' ') == std::string::npos) {
      const bool lfe = probe["channel_layout"].find(".1") != std::string::npos && ext == ".mlp";
      expectFigure("Channels", Number(channels) + lfe, "channels");
    }
    // TrueHD does not state its sample size: 0 there.
    const std::string bits = Value(text, "Quantization: ");
    expectFigure("Quantization", bits.starts_with("0 ") ? -1 : Number(bits.substr(0, bits.find(' '))),
                 ext == ".wav" ? "bits_per_sample" : "bits_per_raw_sample");
    // Bit rates. DTS names a few rates (754.5 kbit/s, 1509.75 kbit/s) by the
    // payload the encoder really gets, where ffprobe names the nominal rate.
    for (const char* label : {"Bit Rate: ", "Bitrate: ", "Bit rate: "}) {
      const std::string rate = Value(text, label);
      const double perSecond = Number(rate.substr(0, rate.find(' '))) * (rate.ends_with("Kbps") ? 1000 : 1);
      if (ext != ".dts" || perSecond == std::round(perSecond / 1000) * 1000) expectFigure(label, perSecond, "bit_rate");
    }
  }
}

}  // namespace
}  // namespace tess::streams
