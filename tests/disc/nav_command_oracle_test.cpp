// Navigation-command texts against dvdunauthor's reading of a DVD-Video made by
// dvdauthor: every command of every chain, read from the disc's own tables.
#include "disc/nav_command_text.h"
#include "support/disc_support.h"
#include "support/nav_command_oracle.h"

namespace tess::test {
namespace {

TEST(NavCommandText, ReadsEveryCommandAsDvdunauthorDoes) {
  DiscProject project;
  std::vector<Chain> ours;
  size_t commands = 0;
  auto block = [&](const std::vector<NavCommand>& List) {
    std::vector<std::string> texts;
    for (const NavCommand& c : List) texts.push_back(disc::NavCommandToText(project.Form, project.Form, project.Form, c, {}));
    commands += List.size();
    return DvdauthorBlock(texts);
  };
  for (const char* f : kNavCommandFiles)
    for (const RawChain& c : ReadRawChains(f)) ours.push_back({block(c.Pre), block(c.Post), block(c.Cell)});
  ExpectAsDvdunauthorReads(ours);
  EXPECT_GT(commands, 150u);
}

}  // namespace
}  // namespace tess::test
