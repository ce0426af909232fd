#include "subpic/sup_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/disc_support.h"

namespace tess::subpic {
namespace {

using test::DiscProject;
using test::TempDir;

// The palette make_subpic.sh re-encoded with; the oracle and the decoder draw with it.
const char* const kPaletteText =
    "000000,ffffff,ff0000,00ff00,0000ff,ffff00,ff00ff,00ffff,808080,800000,008000,000080,c0c0c0,804000,408040,202020";

TSubpicturePalette Palette() {
  TSubpicturePalette p{};
  const std::string text = kPaletteText;
  for (size_t i = 0; i < 16; ++i)
    for (size_t c = 0; c < 3; ++c) p[3 * i + c] = static_cast<uint8_t>(std::stoi(text.substr(7 * i + 2 * c, 2), nullptr, 16));
  return p;
}

bool Have(const char* Tool) { return std::system(("command -v " + std::string(Tool) + " >/dev/null 2>&1").c_str()) == 0; }

std::vector<uint8_t> RunToFile(const std::string& Command, const std::string& Out) {
  EXPECT_EQ(std::system((Command + " > '" + Out + "' 2>/dev/null").c_str()), 0) << Command;
  return test::ReadFileBytes(Out);
}

// A picture file read back by ffmpeg as raw pixels.
std::vector<uint8_t> ReadBack(const std::string& Picture, const char* PixelFormat, const TempDir& Dir) {
  return RunToFile("ffmpeg -nostdin -v error -i '" + Picture + "' -f rawvideo -pix_fmt " + PixelFormat + " -",
                   Dir.File("readback.raw"));
}

struct Sample {
  const char* Name;
  int32_t Width, Height;  // the screen the units were made for
};

// ffmpeg's own decoding of every sample: the shown frames as RGBA and each
// subtitle's display time; then the decoder's pictures, written as PNG and as
// BMP and read back by ffmpeg, must match them pixel for pixel.
TEST(SupDecoder, PicturesMatchFfmpegsDecoding) {
  if (!Have("ffmpeg") || !Have("ffprobe")) GTEST_SKIP() << "ffmpeg not installed";
  const Sample samples[] = {
      {"spumux_ntsc", 720, 480}, {"spumux_pal", 720, 576}, {"ffmpeg_ntsc", 720, 480},
      {"ffmpeg_pal", 720, 576},  {"builder", 720, 480},
  };
  for (const auto& s : samples) {
    SCOPED_TRACE(s.Name);
    TempDir dir;
    const std::string vob = test::DataFile(std::string("subpic/") + s.Name + ".vob");
    const size_t frameBytes = static_cast<size_t>(s.Width) * static_cast<size_t>(s.Height) * 4;
    const auto raw = RunToFile("ffmpeg -nostdin -v error -canvas_size " + std::to_string(s.Width) + "x" +
                                   std::to_string(s.Height) + " -palette " + kPaletteText + " -i '" + vob +
                                   "' -filter_complex '[0:s:0]format=rgba[v]' -map '[v]' -fps_mode passthrough "
                                   "-f rawvideo -",
                               dir.File("oracle.raw"));
    ASSERT_EQ(raw.size() % frameBytes, 0u);
    std::vector<std::vector<uint8_t>> shown;  // frames with something on them
    for (size_t at = 0; at < raw.size(); at += frameBytes) {
      std::vector<uint8_t> frame(raw.begin() + static_cast<long>(at), raw.begin() + static_cast<long>(at + frameBytes));
      if (std::any_of(frame.begin(), frame.end(), [](uint8_t b) { return b != 0; })) shown.push_back(std::move(frame));
    }
    const auto times = RunToFile("ffprobe -v error -show_entries subtitle=end_display_time -of csv=p=0 '" + vob + "'",
                                 dir.File("times.txt"));
    std::istringstream lines(std::string(times.begin(), times.end()));
    int64_t totalMs = 0, units = 0;
    for (int64_t ms; lines >> ms; ++units) totalMs += ms;
    ASSERT_GT(shown.size(), 0u);

    for (const uint8_t format : {1, 0}) {
      SCOPED_TRACE(format == 1 ? "png" : "bmp");
      DiscProject p;
      p.Form.Options.SUPImageFormat = format;
      const std::string sup = dir.File("unit.sup");
      std::filesystem::copy_file(test::DataFile(std::string("subpic/") + s.Name + ".sup"), sup,
                                 std::filesystem::copy_options::overwrite_existing);
      TPictureSize size;  // 0 x 0: the decoder picks the screen
      const auto r = DecodeSupOutput(p.Form, p.Form, sup, dir.File("unit.bmp"), size, Palette());
      EXPECT_TRUE(r.Whole);
      EXPECT_TRUE(p.LogTexts().empty());
      EXPECT_EQ(size.Width, s.Width);
      EXPECT_EQ(size.Height, s.Height);
      ASSERT_EQ(r.Info.PictureCount, shown.size());
      // ffmpeg truncates each unit's time to whole milliseconds.
      EXPECT_NEAR(static_cast<double>(r.Info.DurationMs), static_cast<double>(totalMs), static_cast<double>(units));
      for (uint32_t i = 0; i < r.Info.PictureCount; ++i) {
        const std::string name = SubpicturePictureName(dir.File("unit.bmp"), i + 1, format == 1 ? "png" : "bmp");
        const auto& want = shown[i];
        if (format == 1) {
          EXPECT_TRUE(ReadBack(name, "rgba", dir) == want) << name;
          continue;
        }
        const auto rgb = ReadBack(name, "rgb24", dir);
        ASSERT_EQ(rgb.size() * 4, want.size() * 3) << name;
        size_t differ = 0;
        for (size_t px = 0; px < rgb.size() / 3; ++px)
          for (size_t c = 0; c < 3; ++c) differ += rgb[3 * px + c] != want[4 * px + c];
        EXPECT_EQ(differ, 0u) << name;
      }
    }
  }
}

}  // namespace
}  // namespace tess::subpic
