// The track folders on a builder-made EVO file: the track a VOB becomes and
// what a later insertion adds to it; then the subpicture results on a small
// model: which item and segment take a decoding's findings, and side files
// that load back.
#include <gtest/gtest.h>

#include <filesystem>

#include "demux/subpic_results.h"
#include "demux/track_folders.h"
#include "demux_support.h"
#include "subpic/services.h"

namespace tess::demux {
namespace {

using test::DemuxProject;

TEST(TrackFolders, AVobBecomesATrackAndNewCellsAddScenesOnce) {
  const auto& s = test::SampleStreams();
  test::TempDir dir;
  tools::DomainSpec d;
  for (uint8_t c = 1; c <= 3; ++c) d.Cells.emplace_back().CellId = c;
  using tools::MakeEvoStream;
  ASSERT_TRUE(tools::BuildLooseEvo(dir.Path(), "clip.evo", d,
                                   {MakeEvoStream(s.Mpeg2), MakeEvoStream(s.Ac3), MakeEvoStream(s.Lpcm16)})
                  .Ok);
  DemuxProject p;
  p.Form.LooseEvo = 1;
  TIFOData ctx(p.Form.Env(), p.Form.Settings.Demux, 0, kPgcTitle);
  ctx.Plan.DomainFileName = ctx.EvoFileName = ctx.EvoBaseName = dir.File("clip.evo");
  ctx.Plan.VtsNumber = 1;
  ctx.Outputs.OutputBase = dir.Path() + "/";
  ctx.InputStream = core::TVobFileStream::Create(p.Form, ctx.EvoFileName, core::TVobFileStream::kModeRead, false);
  while (ctx.ProcessPack(false) != 0) ++ctx.PackNumber;
  ctx.ProcessPack(true);
  ASSERT_TRUE(ctx.CloseOutputs(TCloseMode::Finish));

  ASSERT_EQ(p.Form.ScriptTracks.size(), 1u);
  const disc::TVideoTrack& t = p.Form.ScriptTracks[0];
  EXPECT_EQ(t.Name, "clip-t");
  EXPECT_EQ(t.FileName, "clip_e0");
  auto sceneNames = [&] {
    std::vector<std::string> names;
    for (const auto& scene : t.Scenes) names.push_back(scene.Name);
    return names;
  };
  EXPECT_EQ(sceneNames(), (std::vector<std::string>{"clip_e0-t-s", "clip_e0-t-s_1", "clip_e0-t-s_2"}));
  // AC-3 0xC0 and LPCM 0xA0 both stand for decoding stream 0; the LPCM output is the later candidate.
  ASSERT_EQ(t.AudioStreams.size(), 1u);
  EXPECT_EQ(t.AudioStreams[0].PlayItems.at(0).FileName, "clip_a0");

  // Cells the track lacks come as scenes numbered on from its count, once.
  for (int pass = 0; pass < 2; ++pass) {
    ctx.Cells.CellTimes.clear();
    for (uint32_t c : {4u, 5u}) ctx.Cells.AddCellTime(1, c, 1, {});
    InsertToTrackFolder(ctx, 1, 5);
  }
  EXPECT_EQ(sceneNames(), (std::vector<std::string>{"clip_e0-t-s", "clip_e0-t-s_1", "clip_e0-t-s_2",
                                                    "clip_e0-t-s_4", "clip_e0-t-s_5"}));
}

TEST(SubpictureResults, TheFilesOwnItemAndFirstSegmentTakeTheFindings) {
  DemuxProject p;
  auto& form = p.Form;
  test::TempDir dir;
  form.Settings.Registry.TitleMakeSup = form.Settings.Demux.TitleMakeSup = form.Settings.Tracks.TitleMakeSup = false;
  form.Settings.Output.Folder = dir.Path() + "/";
  std::filesystem::create_directories(dir.File("VTS_001"));
  disc::TSubpicUnitDescription desc;
  desc.Kind = kPgcMenu;
  desc.StreamNumber = 1;
  disc::TSubPictureItem* item =
      disc::AddSubPictureItem(form, form, form.Settings.Registry, "/o/Menu/m001_v001c001_20.sup", desc, kPgcMenu, 0, 1,
                              0, 0, false);
  const auto registeredColours = item->Dcs.Colours;
  for (int k = 0; k < 2; ++k) {
    disc::TVideoTrack& menu = form.ScriptTracks.emplace_back();
    menu.Domain = kPgcMenu;
    AddSubpicSegment(form.Env(), menu, *item, 0, true, false, 0x20, 1);
  }
  subpic::TCutSupFromFileResult info;
  info.DurationMs = 1500;
  info.PictureCount = 3;
  info.Fades = {{0, 100, 50}};
  // A file that decoded nothing leaves no colours for the item.
  CorrectSubPicture(form, form, "/o/MENU/M001_V001C001_20.SUP", info, false);
  info.Fades.clear();  // the result is released; the item keeps its own list
  EXPECT_EQ(item->DurationMs, 1500u);
  EXPECT_EQ(item->Dcs.PictureCount, 1);  // a menu item shows one picture whatever was counted
  EXPECT_EQ(item->Dcs.Colours, registeredColours);
  ASSERT_TRUE(item->Dcs.Fades && item->Dcs.Fades->size() == 1);
  const core::TTimeCode duration = subpic::MsToTimecode(form, 1500);
  EXPECT_EQ(form.ScriptTracks[0].SubPictureStreams[0].Segments[0].Duration.ToUInt32(), duration.ToUInt32());
  EXPECT_EQ(form.ScriptTracks[1].SubPictureStreams[0].Segments[0].Duration.ToUInt32(), 0u);

  // A title track keeps a stream per id (0x25 alone: six, five empty); with
  // side files the segment leaves memory and loads back from them.
  disc::TVideoTrack& title = form.ScriptTracks.emplace_back();
  title.Domain = kPgcTitle;
  title.IFOIndex = 1;
  title.Name = "t001_v001c001-t";
  ASSERT_TRUE(AddSubpicSegment(form.Env(), title, *item, 7, true, true, 0x25, 6));
  ASSERT_EQ(title.SubPictureStreams.size(), 6u);
  EXPECT_EQ(std::count_if(title.SubPictureStreams.begin(), title.SubPictureStreams.end(),
                          [](const disc::TSubPictureStream& S) { return S.StreamId == 0; }),
            5);
  EXPECT_TRUE(title.SubPictureStreams[5].Segments.empty());
  EXPECT_EQ(SideFileName(form.Settings.Output.Folder, form.LooseEvo, title, 5, ".data"),
            dir.File("VTS_001/t001_v001c001-t_5.data"));
  const auto items = test::ReadFileBytes(SideFileName(form.Settings.Output.Folder, form.LooseEvo, title, 5, ".data"));
  const auto segments =
      test::ReadFileBytes(SideFileName(form.Settings.Output.Folder, form.LooseEvo, title, 5, ".track"));
  ASSERT_EQ(segments.size(), disc::kSubpicSegmentSize);
  disc::TSubPictureItem loaded;
  ASSERT_TRUE(disc::SubPictureItemFromBytes(items.data(), items.size(), loaded));
  EXPECT_EQ(loaded.DurationMs, 1500u);
  EXPECT_EQ(disc::SubPictureItemToBytes(loaded), disc::SubPictureItemToBytes(*item));
  const auto segment = disc::SubpicSegmentFromBytes(segments.data());
  EXPECT_EQ(segment.SortKey, 7u);
  EXPECT_EQ(segment.Duration.ToUInt32(), duration.ToUInt32());
}

// An index that does not fit its files: each bad record is one error line and
// one reason the run fails, the conversion says it failed, and nothing else is
// made of it.
TEST(SubpictureResults, DamagedIndexRecordsAreReportedAndPassedOver) {
  DemuxProject p;
  test::TempDir dir;
  p.Form.Settings.Output.Folder = dir.Path() + "/";
  test::WriteFileBytes(dir.File("t_20.sup"), std::vector<uint8_t>(100, 0));
  std::vector<uint8_t> dat;
  // Not a subpicture stream; a unit past its file's end; a unit of a missing file.
  for (const auto& [sid, offset] : {std::pair{0x80u, 0u}, {0x20u, 500u}, {0x21u, 0u}}) {
    subpic::TSupIndexRecord r;
    r.StreamId = sid;
    r.Offset = offset;
    dat.resize(dat.size() + subpic::kSupIndexRecordSize);
    subpic::EncodeSupIndexRecord(r, dat.data() + dat.size() - subpic::kSupIndexRecordSize);
  }
  dat.resize(dat.size() + 10, 0xEE);  // and a record cut short
  test::WriteFileBytes(dir.File("t.dat"), dat);
  p.Form.DatFiles = {dir.File("t.dat")};
  EXPECT_FALSE(ConvertSubpictureIndexFiles(p.Form.Env(), p.Form.Settings.Demux.Subpictures));
  size_t errors = 0;
  for (const auto& l : p.Form.LogWindow.Log.Lines) errors += l.Colour == platform::kColourRed ? 1 : 0;
  EXPECT_EQ(errors, 4u);
  EXPECT_EQ(p.Form.Skipped.size(), errors) << "each one ends the run with its reason";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
}

}  // namespace
}  // namespace tess::demux
