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

#include "streams/ffmpeg_oracle.h"
#include "streams/m2v_cache.h"
#include "streams/media_info.h"

namespace tess::streams {
namespace {

struct InfoRow {
  const char* Sample;
  const char* Ext;      // what the sniffer says
  const char* Name;     // the copy's name: MLP is known by its extension alone
  bool Cached = false;  // video: described with its ".vnf" cache
};
const InfoRow kRows[] = {
    {"a_48k_6ch.ac3", ".ac3", ""}, {"a_44k_1ch.ac3", ".ac3", ""}, {"a_32k_2ch.ac3", ".ac3", ""},
    {"audio_48k_2ch.eac3", ".ac3", ""}, {"a_44k_1ch.eac3", ".ac3", ""}, {"a_48k_6ch.eac3", ".ac3", ""},
    {"a_48k_8ch.eac3", ".ac3", ""},
    {"a_48k_6ch.dts", ".dts", ""}, {"a_44k_1ch.dts", ".dts", ""}, {"audio_48k_2ch.dts", ".dts", ""},
    {"a_44k_1ch.mp2", ".mpa", ""}, {"audio_48k_2ch.mp2", ".mpa", ""}, {"w_48k_2ch_list.wav", ".wav", ""},
    {"w_44k_1ch_16.wav", ".wav", ""}, {"a_44k_6ch_16.mlp", "", ""}, {"a_96k_1ch_24.mlp", "", ""},
    {"audio_48k_2ch.thd", "", "truehd.mlp"}, {"m2v_pal_wide.m2v", ".m2v", "", true},
    {"m2v_ntsc_interlaced.m2v", ".m2v", "", true}, {"m2v_film_telecine.m2v", ".m2v", "", true},
    {"m2v_half_d1.m2v", ".m2v", "", true}, {"m2v_captions.m2v", ".m1v", "", true}, {"m1v_pal.m1v", ".m1v", "", true},
    {"m1v_ntsc.m1v", ".m1v", ""}, {"m2v_still.m2v", ".m2v", ""}, {"video_720x480.m2v", ".m2v", ""},
    // Unknown: MPEG-1 Layer III behind an ID3 tag, MPEG-2 Layer II, an
    // extensible WAV, MLP under another name, H.264.
    {"a_44k_2ch.mp3", "", ""}, {"a_24k_2ch.mp2", "", ""}, {"w_48k_6ch_ext.wav", ".wav", ""},
    {"a_44k_6ch_16.mlp", "", "mlp.bin"}, {"h264_ntsc_aud.264", ".264", ""}};

std::string CopyName(const InfoRow& Row) { return *Row.Name ? Row.Name : Row.Sample; }

// The row's text, with LF for its CR LF line ends and its file name line
// reduced to the copy's name (the temporary folder differs from run to run).
std::string DescribeCopy(core::RunContext& Run, const InfoRow& Row, const std::string& Copy) {
  std::filesystem::copy_file(test::DataFile(std::string("streams/") + Row.Sample), Copy);
  TM2VInfoRecord record;
  if (Row.Cached) {
    EXPECT_TRUE(GetM2VInfoRecord(Run, Copy, nullptr, nullptr, record, nullptr));
  }
  EXPECT_EQ(DetectStreamFileType(Copy), Row.Ext);
  std::string out;
  std::istringstream lines(GetMediaInfoText(Run, Copy, false, nullptr));
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(lines.eof() || line.ends_with('\r')) << "a line not ended by CR LF";
    if (line.ends_with('\r')) line.pop_back();
    out += (line.starts_with("File name: ") ? "File name: " + CopyName(Row) : line) + "\n";
  }
  return out;
}

// "Name<Sep>value" lines as a map: ffprobe's "key=value", the texts' "Label: value".
std::map<std::string, std::string> Fields(const std::string& Text, const std::string& Sep) {
  std::map<std::string, std::string> fields;
  std::istringstream lines(Text);
  for (std::string line; std::getline(lines, line);)
    if (const size_t at = line.find(Sep); at != std::string::npos && line.substr(at + Sep.size()) != "N/A")
      fields.emplace(line.substr(0, at), line.substr(at + Sep.size()));
  return fields;
}

// A plain figure ("48000 Hz", "224 Kbps" in bit/s, "16 bits"); -1 for any other value.
double Figure(const std::string& Value) {
  size_t end = 0;
  const double n = Value.empty() || !std::isdigit(Value[0]) ? -1 : std::stod(Value, &end);
  const std::string unit = n < 0 ? "" : Value.substr(end);
  return unit == " Kbps" ? n * 1000 : unit.empty() || unit == " Hz" || unit == " bits" ? n : -1;
}

void ExpectFfprobesFigures(const std::string& Text, const std::string& File) {
  auto ours = Fields(Text, ": ");
  auto probe = Fields(test::RunTool("ffprobe -v error -count_packets -show_entries stream=codec_name,sample_rate,"
                                    "channels,channel_layout,bit_rate,bits_per_sample,bits_per_raw_sample,"
                                    "nb_read_packets,duration_ts,width,height,display_aspect_ratio,r_frame_rate "
                                    "-of default=nw=1 " + test::Quoted(File)).Out, "=");
  // A figure the stream does not state (TrueHD's sample size) reads 0.
  auto expect = [&](const std::string& Label, double Ours, const std::string& Key, double Scale = 1) {
    if (Ours > 0 && probe.contains(Key)) {
      EXPECT_EQ(Ours, std::stod(probe[Key]) * Scale) << Label;
    }
  };
  if (probe["codec_name"].starts_with("mpeg")) {
    EXPECT_EQ(ours["Size"], probe["width"] + " x " + probe["height"]);
    std::erase(ours["Aspect Ratio"], ' ');
    EXPECT_TRUE(probe["codec_name"] == "mpeg1video" || ours["Aspect Ratio"].starts_with(probe["display_aspect_ratio"]));
    // ffprobe gives the field rate of a stream flagged for pulldown.
    const std::string rate = probe["r_frame_rate"];
    const double fps = std::stod(rate) / std::stod(rate.substr(rate.find('/') + 1));
    EXPECT_NEAR(Figure(ours["Frame Rate"]), fps / (ours["Is PullDown"] == "Yes" ? 2 : 1), 0.01);
    return expect("Bit rate", Figure(ours["Bit rate"]), "bit_rate");
  }
  const std::string ext = std::filesystem::path(File).extension();
  expect("Sample Rate", Figure(ours["Sample Rate"]), "sample_rate");
  expect("Frames", Figure(ours["Frames"]), "nb_read_packets");
  expect("Samples", Figure(ours["Samples"]), ext == ".wav" ? "duration_ts" : "nb_read_packets",
         ext == ".dts" ? 512 : ext == ".mp2" ? 1152 : ext == ".wav" ? 1 : 1536);
  expect("Quantization", Figure(ours["Quantization"]), ext == ".wav" ? "bits_per_sample" : "bits_per_raw_sample");
  // "System: Dolby 5.1" counts six channels; MLP counts them without the LFE.
  if (const size_t dot = ours["System"].find('.'); dot != std::string::npos)
    expect("System", std::stoi(ours["System"].substr(dot - 1)) + std::stoi(ours["System"].substr(dot + 1)), "channels");
  const bool lfe = ext == ".mlp" && probe["channel_layout"].find(".1") != std::string::npos;
  expect("Channels", Figure(ours["Channels"]) + lfe, "channels");
  // DTS names a few rates (754.5 kbit/s, 1509.75 kbit/s) by the payload the
  // encoder really gets, where ffprobe names the nominal rate.
  for (const char* label : {"Bit Rate", "Bitrate", "Bit rate"})
    if (const double rate = Figure(ours[label]); ext != ".dts" || std::fmod(rate, 1000) == 0)
      expect(label, rate, "bit_rate");
}

TEST(MediaInfo, TextsEqualTheirGoldenTextsWithFfprobesFigures) {
  test::CoreProject project;
  for (const InfoRow& row : kRows) {
    SCOPED_TRACE(CopyName(row));
    test::TempDir dir;
    const std::string text = DescribeCopy(project.Form, row, dir.File(CopyName(row)));
    const std::string golden =
        test::DataFile("streams/info/" + CopyName(row) + (row.Cached ? ".vnf" : "") + ".txt");
    if (text == std::string(kUnknownFileFormat) + "\n") {
      EXPECT_FALSE(std::filesystem::exists(golden));
      continue;
    }
    if (std::getenv("TESS_UPDATE_GOLDEN")) std::ofstream(golden, std::ios::binary) << text;
    std::ifstream in(golden, std::ios::binary);
    EXPECT_EQ(text, std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    if (test::HaveFfmpeg()) ExpectFfprobesFigures(text, dir.File(CopyName(row)));
  }
}

// E-AC-3 frames of one block and of six in one stream: each counts as one frame.
TEST(MediaInfo, EAC3FramesOfDifferentBlockCountsCountOneEach) {
  test::CoreProject project;
  test::TempDir dir;
  const std::string one = test::DataFile("streams/a_48k_2ch_1blk.eac3"), six = test::DataFile("streams/audio_48k_2ch.eac3");
  std::vector<uint8_t> both = test::ReadFileBytes(one), more = test::ReadFileBytes(six);
  both.insert(both.end(), more.begin(), more.end());
  test::WriteFileBytes(dir.File("both.eac3"), both);
  auto frames = [&](const std::string& File) { return std::stoll(Fields(EAC3InfoText(project.Form, File), ": ")["Frames"]); };
  EXPECT_EQ(frames(dir.File("both.eac3")), frames(one) + frames(six));
}

}  // namespace
}  // namespace tess::streams
