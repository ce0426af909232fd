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
      SubpicSettings settings;
      settings.PictureFormat = format == 1 ? TPictureFormat::Png : TPictureFormat::Bmp;
      const std::string sup = dir.File("unit.sup");
      std::filesystem::copy_file(test::DataFile(std::string("subpic/") + s.Name + ".sup"), sup,
                                 std::filesystem::copy_options::overwrite_existing);
      TPictureSize size;  // 0 x 0: the decoder picks the screen
      const auto r = DecodeSupOutput(p.Form, settings, sup, dir.File("unit.bmp"), size, Palette());
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

// The parameters of Command in the first control sequence of the file's first
// unit (an SD unit), found by walking the sequence.
size_t ParamsOf(const std::vector<uint8_t>& B, uint8_t Command) {
  const size_t lengths[] = {0, 0, 0, 2, 2, 6, 4};
  size_t at = ((B[2] << 8) | B[3]) + 4;
  while (B[at] != Command) at += 1 + lengths[B[at]];
  return at + 1;
}

// An SD unit whose control sequences each hide the next one's header in the
// tail of a colour-change command, so that every sequence reads on through all
// the later ones to the end code of the last.
void OverlappingSequences(std::vector<uint8_t>& B) {
  constexpr size_t kSequences = 200, kStep = 11;
  B.assign(4, 0);
  for (size_t i = 0; i + 1 < kSequences; ++i) {
    const size_t next = B.size() + kStep;
    B.insert(B.end(), {0, 0, uint8_t(next >> 8), uint8_t(next), 0x07, 0, 10, 0x0F, 0xFF, 0xFF, 0xFF});
  }
  const size_t last = B.size();
  B.insert(B.end(), {0, 0, uint8_t(last >> 8), uint8_t(last), 0xFF});
  B[0] = uint8_t(B.size() >> 8), B[1] = uint8_t(B.size()), B[3] = 4;
}

struct Fault {
  const char* What;
  void (*Mutate)(std::vector<uint8_t>&);  // null: no file at all
  TPictureSize Size;
  bool Whole;
  uint32_t Pictures;
  const char* Logged;  // a piece of the report; empty: nothing logged
};

// Damaged copies of a real two-unit file: each fault is reported, what can be
// decoded still is, nothing is read or written out of bounds (the sanitizer
// build checks that), and the file counts as whole only when nothing was lost.
TEST(SupDecoder, DamagedFilesAreReportedAndDecodedAsFarAsTheyGo) {
  const Fault faults[] = {
      {"intact", [](std::vector<uint8_t>&) {}, {}, true, 2, ""},
      {"empty file", [](std::vector<uint8_t>& B) { B.clear(); }, {}, true, 0, ""},
      {"missing file", nullptr, {}, false, 0, ""},
      {"cut inside the second unit", [](std::vector<uint8_t>& B) { B.resize(B.size() - 100); }, {}, false, 1, "does not fit"},
      {"first size past the file", [](std::vector<uint8_t>& B) { B[0] = B[1] = 0xFF; }, {}, false, 0, "does not fit"},
      {"three bytes after the units", [](std::vector<uint8_t>& B) { B.insert(B.end(), {1, 2, 3}); }, {}, false, 2, "no whole unit header"},
      {"control table outside the unit", [](std::vector<uint8_t>& B) { B[2] = B[3] = 0xFF; }, {}, false, 1, "lies outside the unit"},
      {"top field past the unit", [](std::vector<uint8_t>& B) { const size_t p = ParamsOf(B, 6); B[p] = B[0], B[p + 1] = uint8_t(B[1] - 1); },
       {}, false, 2, "ends before the picture's last line"},
      {"area wider than the screen", [](std::vector<uint8_t>& B) { const size_t p = ParamsOf(B, 5); B[p + 1] |= 0x0F, B[p + 2] = 0xFF; },
       {}, false, 1, "larger than the screen"},
      {"area ending before it starts", [](std::vector<uint8_t>& B) { const size_t p = ParamsOf(B, 5); B[p + 1] &= 0xF0, B[p + 2] = 0; },
       {}, false, 1, "is empty"},
      {"sequence linking backwards", [](std::vector<uint8_t>& B) { const size_t c = (B[2] << 8) | B[3]; B[c + 2] = 0, B[c + 3] = 4; },
       {}, false, 2, "links to 4"},
      {"sequences read over and over", OverlappingSequences, {}, false, 0, "over and over"},
      {"unknown command", [](std::vector<uint8_t>& B) { B[ParamsOf(B, 5) - 1] = 0x0A; }, {}, false, 1, "unknown command 0x0A"},
      {"screen smaller than the picture", [](std::vector<uint8_t>&) {}, {720, 400}, false, 2, "reaches past the 720 x 400 screen"},
      {"screen left of the picture", [](std::vector<uint8_t>&) {}, {8, 480}, false, 2, "reaches past the 8 x 480 screen"},
  };
  for (const auto& f : faults) {
    SCOPED_TRACE(f.What);
    DiscProject p;
    TempDir dir;
    const std::string sup = dir.File("unit.sup");
    if (f.Mutate) {
      auto bytes = test::ReadFileBytes(test::DataFile("subpic/spumux_ntsc.sup"));
      f.Mutate(bytes);
      test::WriteFileBytes(sup, bytes);
    }
    TPictureSize size = f.Size;
    const auto r = DecodeSupOutput(p.Form, SubpicSettings{}, sup, dir.File("unit.bmp"), size, Palette());
    EXPECT_EQ(r.Whole, f.Whole);
    EXPECT_EQ(r.Info.PictureCount, f.Pictures);
    const std::string logged = f.Logged;
    if (logged.empty()) {
      EXPECT_TRUE(p.LogTexts().empty());
    } else {
      EXPECT_TRUE(p.LogContains(logged)) << (p.LogTexts().empty() ? "" : p.LogTexts().front());
    }
    // Every picture counted was written, and none beside them.
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) files += e.path().extension() == ".bmp";
    EXPECT_EQ(files, f.Pictures);
    if (!f.Mutate || f.Pictures == 0) {
      EXPECT_EQ(r.Info.DurationMs, 0u);
    }
  }
  // A picture the disk has no room for stops the run, as any failed write does.
  DiscProject p;
  TempDir dir;
  TPictureSize size{};
  ::setenv("TESS_FAIL_WRITE", "unit.bmp@0", 1);
  DecodeSupOutput(p.Form, SubpicSettings{}, test::DataFile("subpic/spumux_ntsc.sup"), dir.File("unit.bmp"), size, Palette());
  ::unsetenv("TESS_FAIL_WRITE");
  EXPECT_TRUE(p.Form.WriteStopped);
}

// A unit assembled by hand, for what no encoder at hand makes: HD units and
// effects. Sequences hold their delay and commands; the links are filled in.
std::vector<uint8_t> AssembleUnit(bool Hd, const std::vector<uint8_t>& Picture,
                                  const std::vector<std::vector<uint8_t>>& Sequences) {
  const size_t header = Hd ? 10 : 4, link = Hd ? 4 : 2;
  std::vector<uint8_t> u(header, 0);
  u.insert(u.end(), Picture.begin(), Picture.end());
  const size_t table = u.size();
  auto put = [&u](size_t At, uint64_t V, size_t N) {
    for (size_t i = 0; i < N; ++i) u[At + i] = static_cast<uint8_t>(V >> (8 * (N - 1 - i)));
  };
  for (size_t i = 0; i < Sequences.size(); ++i) {
    const size_t at = u.size();
    u.insert(u.end(), Sequences[i].begin(), Sequences[i].begin() + 2);
    u.insert(u.end(), link, 0);
    u.insert(u.end(), Sequences[i].begin() + 2, Sequences[i].end());
    put(at + 2, i + 1 < Sequences.size() ? u.size() : at, link);
  }
  put(Hd ? 2 : 0, u.size(), Hd ? 4 : 2);
  put(Hd ? 6 : 2, table, Hd ? 4 : 2);
  return u;
}

// An HD unit with its own palette and 8- and 2-bit runs, and SD units whose
// contrast fades and whose colour-change region moves down the picture.
TEST(SupDecoder, HdUnitsAndEffects) {
  if (!Have("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  // Area 100..103 x 50..51. Top line: a run of 4 in colour 200; bottom line:
  // colour 3 (2-bit) to the line's end.
  std::vector<uint8_t> hdStart = {0, 0, 0x83};
  std::vector<uint8_t> palette(768, 0);
  palette[3 * 200] = 235, palette[3 * 200 + 1] = palette[3 * 200 + 2] = 128;  // white
  palette[3 * 3] = 16, palette[3 * 3 + 1] = palette[3 * 3 + 2] = 128;        // black
  hdStart.insert(hdStart.end(), palette.begin(), palette.end());
  hdStart.push_back(0x84);
  hdStart.push_back(0x0F);  // entry 0 transparent: the outside of the picture
  hdStart.insert(hdStart.end(), 127, 0xFF);
  for (uint8_t b : {0x85, 0x06, 0x40, 0x67, 0x03, 0x20, 0x33, 0x86, 0, 0, 0, 10, 0, 0, 0, 12, 0x01, 0xFF}) hdStart.push_back(b);
  const auto hd = AssembleUnit(true, {0xF2, 0x08, 0xB8, 0x00}, {hdStart, {0, 90, 0x02, 0xFF}});

  // Area 10..11 x 10..11 in code 1 throughout; contrast 15 falling to 4.
  const std::vector<uint8_t> sdPicture = {0x90, 0x90};
  const std::vector<uint8_t> sdArea = {0x05, 0x00, 0xA0, 0x0B, 0x00, 0xA0, 0x0B, 0x06, 0, 4, 0, 5};
  std::vector<uint8_t> fadeStart = {0, 0, 0x03, 0x32, 0x10, 0x04, 0xFF, 0xF0, 0x01};
  fadeStart.insert(fadeStart.end(), sdArea.begin(), sdArea.end());
  fadeStart.push_back(0xFF);
  const auto fade = AssembleUnit(false, sdPicture, {fadeStart, {0, 10, 0x04, 0xCC, 0xC0, 0xFF}, {0, 20, 0x04, 0x88, 0x80, 0xFF},
                                                    {0, 30, 0x04, 0x44, 0x40, 0xFF}, {0, 40, 0x02, 0xFF}});
  // A colour change over lines 10..N from column 0, N growing 10, 11, 12.
  auto region = [](uint8_t Delay, uint8_t Last) {
    return std::vector<uint8_t>{0, Delay, 0x07, 0, 16, 0, 10, 0x10, Last, 0, 0, 0x45, 0x67, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF};
  };
  std::vector<uint8_t> scrollStart = region(0, 10);
  scrollStart.insert(scrollStart.end() - 1, fadeStart.begin() + 2, fadeStart.end() - 1);
  const auto scroll = AssembleUnit(false, sdPicture, {scrollStart, region(10, 11), region(20, 12), {0, 40, 0x02, 0xFF}});

  struct Row {
    const char* What;
    std::vector<uint8_t> Bytes;
    size_t Fades, Scrolls;
  };
  const Row rows[] = {{"hd", hd, 0, 0}, {"fade", fade, 1, 0}, {"scroll", scroll, 0, 1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.What);
    DiscProject p;
    const SubpicSettings png{TPictureFormat::Png};
    TempDir dir;
    test::WriteFileBytes(dir.File("unit.sup"), row.Bytes);
    TPictureSize size;
    const auto r = DecodeSupOutput(p.Form, png, dir.File("unit.sup"), dir.File("unit.bmp"), size, Palette());
    EXPECT_TRUE(r.Whole);
    EXPECT_TRUE(p.LogTexts().empty()) << p.LogTexts().front();
    EXPECT_EQ(r.Info.PictureCount, 1u);
    EXPECT_EQ(r.Info.Fades.size(), row.Fades);
    EXPECT_EQ(r.Info.Scrolls.size(), row.Scrolls);
    if (row.Scrolls) {
      EXPECT_EQ(r.Info.Scrolls[0].Type, 1);  // downwards
    }
    if (row.What != std::string("hd")) continue;
    EXPECT_EQ(r.Info.DurationMs, 1024u);
    EXPECT_EQ(size.Width, 1920);
    const auto rgba = ReadBack(dir.File("unit.png"), "rgba", dir);
    ASSERT_EQ(rgba.size(), 1920u * 1080 * 4);
    auto pixel = [&](size_t X, size_t Y) { return std::vector<uint8_t>(&rgba[(Y * 1920 + X) * 4], &rgba[(Y * 1920 + X) * 4 + 4]); };
    for (size_t x = 100; x < 104; ++x) {
      EXPECT_EQ(pixel(x, 50), (std::vector<uint8_t>{255, 255, 255, 255})) << x;
      EXPECT_EQ(pixel(x, 51), (std::vector<uint8_t>{0, 0, 0, 255})) << x;
    }
    EXPECT_EQ(pixel(99, 50)[3], 0);
  }
}

}  // namespace
}  // namespace tess::subpic
