// Item names of a builder-made disc: unique within each information file, the
// same on every build, and what navigation commands name as their targets.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "disc/ifo_set.h"
#include "disc/name_tree.h"
#include "disc/nav_command_text.h"
#include "ifo_test_disc.h"
#include "support/disc_support.h"

namespace tess::test {
namespace {

// Every name of each file, as the two browser views show them: the chains'
// view, then the tracks' view (its scenes without their VOB and cell ids).
std::vector<std::vector<std::string>> AllNames(DiscForm& Form) {
  Form.NameTree.FillIFOTreeView(Form, Form, Form.TreeView1);
  Form.NameTree.FillCellTreeView(Form, Form, Form.TreeView2);
  std::vector<std::vector<std::string>> out;
  for (const platform::TreeModel* view : {&Form.TreeView1, &Form.TreeView2}) {
    size_t file = 0;
    for (const auto& node : view->Nodes) {
      if (node.Parent < 0 && view == &Form.TreeView1) out.emplace_back();
      if (node.Parent < 0 && ++file && view == &Form.TreeView2) continue;  // each root once
      out.at(file - 1).push_back(node.Text.substr(0, node.Text.find("   (")));
    }
  }
  return out;
}

// A builder-made disc, loaded, with two highlight sets on the first menu cell
// of title set 1 (two buttons of one name).
struct LoadedDisc {
  TempDir Dir;
  DiscProject Project;
  LoadedDisc() {
    tools::WriteIfoSet(Dir.Path(), SampleDisc(2));
    disc::LoadIFOSet(Project.Form, Project.Form, Project.Form, Dir.File("hv000i01.IFO"), Project.Form.StringGrid1);
    disc::TVideoTrack& track = Project.Form.ScriptTracks.emplace_back();
    track.Domain = disc::kDomainMenus;
    for (uint32_t source = 1; source <= 2; ++source) {
      disc::THighlightPlayItem h;
      h.IFOIndex = h.VobId = h.CellId = 1;
      h.SourceNumber = source;
      track.HighlightStreams.emplace_back().Items.push_back(h);
    }
    Project.Form.NameTree.SetIFOs(Project.Form, Project.Form);
  }
};

TEST(NameTree, BuilderDiscNamesAreUniqueAndStable) {
  LoadedDisc disc;
  DiscForm& form = disc.Project.Form;
  const auto names = AllNames(form);
  ASSERT_EQ(names.size(), 3u);
  for (const auto& file : names) {
    const std::set<std::string> distinct(file.begin(), file.end());
    EXPECT_EQ(distinct.size(), file.size()) << file.front();
    EXPECT_GT(file.size(), 10u) << file.front();
  }
  // Built again, and on a fresh load, the names do not change.
  form.NameTree.SetIFOs(form, form);
  EXPECT_EQ(AllNames(form), names);
  LoadedDisc again;
  EXPECT_EQ(AllNames(again.Project.Form), names);

  // A title set loaded on its own names its root and tracks as it does inside
  // its disc.
  DiscProject lone;
  disc::LoadIFOSet(lone.Form, lone.Form, lone.Form, disc.Dir.File("hv001i01.IFO"), lone.Form.StringGrid1);
  lone.Form.NameTree.SetIFOs(lone.Form, lone.Form);
  lone.Form.NameTree.FillCellTreeView(lone.Form, lone.Form, lone.Form.TreeView2);
  std::vector<std::string> tracks;
  for (const auto& node : lone.Form.TreeView2.Nodes) tracks.push_back(node.Text.substr(0, node.Text.find("   (")));
  EXPECT_EQ(tracks.front(), names[1].front());  // the root
  EXPECT_EQ(std::vector<std::string>(tracks.begin() + 1, tracks.end()),
            std::vector<std::string>(names[1].end() - static_cast<long>(tracks.size()) + 1, names[1].end()));

  // Program maps that point past their chain's cells name programs without cells.
  disc::TPGC& main = *form.IFOFiles[1].VTS_PGCIT.PGCs[0].PGC;
  main.ProgramMap = {0, 200, 3};
  main.ProgramCount = 5;
  form.NameTree.SetIFOs(form, form);
  const auto damaged = AllNames(form).at(1);
  EXPECT_EQ(std::set<std::string>(damaged.begin(), damaged.end()).size(), damaged.size());
}

disc::TScriptInfo Chain(int32_t IFOIndex, int32_t LanguageUnit, int32_t Number, uint8_t Domain) {
  disc::TScriptInfo info;
  info.IFOIndex = IFOIndex;
  info.LanguageUnit = LanguageUnit;
  info.PgcNumber = Number;
  info.Domain = Domain;
  return info;
}

TEST(NameTree, CommandTargetsAreNamesOfTheDisc) {
  LoadedDisc disc;
  DiscForm& form = disc.Project.Form;
  form.CurIFOIndex = 1;
  const auto names = AllNames(form);
  std::set<std::string> known;
  for (const auto& file : names) known.insert(file.begin(), file.end());

  const struct {
    disc::TNavCommandBytes Bytes;
    uint8_t Domain;
    int32_t Chain;
  } commands[] = {
      {{0x20, 0x04, 0, 0, 0, 0, 0, 1}, disc::kDomainMenus, 1},      // LinkPGCN
      {{0x20, 0x05, 0, 0, 0, 0, 0, 4}, disc::kDomainTitles, 1},     // LinkPTT
      {{0x20, 0x06, 0, 0, 0, 0, 0, 2}, disc::kDomainTitles, 1},     // LinkPGN
      {{0x20, 0x07, 0, 0, 0, 0, 0, 1}, disc::kDomainMenus, 2},      // LinkCN
      {{0x30, 0x03, 0, 0, 0, 2, 0, 0}, disc::kDomainMenus, 1},      // JumpVTS_TT
      {{0x30, 0x05, 0, 3, 0, 1, 0, 0}, disc::kDomainMenus, 1},      // JumpVTS_PTT
      {{0x30, 0x06, 0, 0, 0, 0x87, 0, 0}, disc::kDomainTitles, 1},  // JumpSS to this title set's menu
      {{0x30, 0x06, 0, 2, 0, 0xC0, 0, 0}, disc::kDomainMenus, 1},   // JumpSS to a VMG chain
      {{0x30, 0x08, 0, 1, 1, 0xC0, 0, 0}, disc::kDomainTitles, 1},  // CallSS to a VMG chain
  };
  std::set<std::string> targets;
  for (const auto& c : commands) {
    const std::string text = disc::NavCommandToText(form, form, form, c.Bytes, Chain(1, 0, c.Chain, c.Domain));
    EXPECT_TRUE(known.count(form.JumpTarget)) << text << " -> " << form.JumpTarget;
    targets.insert(form.JumpTarget);
  }
  EXPECT_EQ(targets.size(), std::size(commands));
  // A title chain is the one of that number in the chain table, whatever title
  // lists it (the sample's third chain belongs to title 1, its second to title 2).
  const auto& chains = form.IFOFiles[1].VTS_PGCIT.PGCs;
  for (uint8_t k = 1; k <= chains.size(); ++k) {
    disc::NavCommandToText(form, form, form, {0x20, 0x04, 0, 0, 0, 0, 0, k}, Chain(1, 0, 1, disc::kDomainTitles));
    const int32_t title = disc::FindTitleNumber(form, 1, (chains[k - 1].Category & 0x7F) - 1);
    EXPECT_NE(form.JumpTarget.find("_T" + std::to_string(title) + "_"), std::string::npos) << form.JumpTarget;
  }

  // Any command in any chain reads without harm, and names only what exists.
  std::mt19937 random(7);
  for (int i = 0; i < 5000; ++i) {
    disc::TNavCommandBytes bytes;
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    const disc::TScriptInfo context = Chain(static_cast<int32_t>(random() % 4) - 1, static_cast<int32_t>(random() % 3) - 1,
                                            static_cast<int32_t>(random() % 5), static_cast<uint8_t>(random() % 3));
    form.CurLanguageUnit = context.LanguageUnit;
    disc::NavCommandToText(form, form, form, bytes, context);
    const std::string& t = form.JumpTarget;
    EXPECT_TRUE(t.empty() || known.count(t) || t == "Unknown name" || t.find("_cell_") != std::string::npos ||
                t.rfind("Title_", 0) == 0)
        << t;
  }
}

}  // namespace
}  // namespace tess::test
