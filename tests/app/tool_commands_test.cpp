// The info and pulldown commands: what they print or write, and their exit
// status (0 done, 1 a file that could not be read or written, 2 bad usage).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/cli.h"
#include "support/test_support.h"

namespace tess::app {
namespace {

int Tool(std::vector<std::string> Args) {
  static std::string prog = "tessaline";
  std::vector<char*> argv{prog.data()};
  for (auto& a : Args) argv.push_back(a.data());
  return RunCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, InfoDescribesEveryFileAndPulldownWritesItsVif) {
  test::TempDir dir;
  const std::string ac3 = test::DataFile("streams/a_48k_6ch.ac3");
  const std::string video = dir.File("film.m2v");
  std::filesystem::copy_file(test::DataFile("streams/m2v_film_telecine.m2v"), video);
  ASSERT_EQ(::mkfifo(dir.File("fifo.ac3").c_str(), 0600), 0);

  testing::internal::CaptureStdout();
  EXPECT_EQ(Tool({"info", ac3, video}), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Audio AC3 Information:\n\n"), std::string::npos);
  EXPECT_NE(out.find("\nVideo MPG Information:\n"), std::string::npos);
  EXPECT_EQ(out.find('\r'), std::string::npos);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Tool({"info", ac3, dir.File("missing.ac3")}), 1);
  EXPECT_EQ(Tool({"info", dir.File("fifo.ac3")}), 1);  // refused, never opened
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(Tool({"info"}), 2);
  EXPECT_EQ(Tool({"info", "--all", ac3}), 2);

  EXPECT_EQ(Tool({"pulldown", video}), 0);
  EXPECT_TRUE(std::filesystem::exists(video + ".m2v.vif"));
  EXPECT_EQ(Tool({"pulldown", dir.File("missing.m2v")}), 1);
  EXPECT_EQ(Tool({"pulldown"}), 2);
  EXPECT_EQ(Tool({"pulldown", video, video}), 2);
}

}  // namespace
}  // namespace tess::app
