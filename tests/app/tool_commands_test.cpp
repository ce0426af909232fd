// The info and pulldown commands: their output and their exit status (0 done,
// 1 a file that could not be read or written, 2 bad usage).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/cli.h"
#include "support/test_support.h"

namespace tess::app {
namespace {

int Tool(std::vector<std::string> Args) {
  Args.insert(Args.begin(), "tessaline");
  std::vector<char*> argv;
  for (auto& a : Args) argv.push_back(a.data());
  return RunCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, InfoDescribesEveryFileAndPulldownWritesItsVif) {
  test::TempDir dir;
  const std::string ac3 = test::DataFile("streams/a_48k_6ch.ac3"), video = dir.File("film.m2v");
  std::filesystem::copy_file(test::DataFile("streams/m2v_film_telecine.m2v"), video);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Tool({"info", ac3, video}), 0);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Kbps\nSample Rate: 48000 Hz\n"), std::string::npos);
  EXPECT_EQ(Tool({"pulldown", video}), 0);
  EXPECT_TRUE(std::filesystem::exists(video + ".m2v.vif"));
  // 1: a file that cannot be read (a FIFO is never opened); 2: bad usage.
  ASSERT_EQ(::mkfifo(dir.File("fifo.ac3").c_str(), 0600), 0);
  const std::pair<std::vector<std::string>, int> failures[] = {
      {{"info", ac3, dir.File("missing.ac3")}, 1}, {{"info", dir.File("fifo.ac3")}, 1},
      {{"pulldown", dir.File("missing.m2v")}, 1},  {{"info"}, 2},
      {{"info", "--all", ac3}, 2},                 {{"pulldown", video, video}, 2}};
  for (const auto& [args, status] : failures) EXPECT_EQ(Tool(args), status) << args.back();
}

}  // namespace
}  // namespace tess::app
