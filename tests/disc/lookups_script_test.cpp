#include <gtest/gtest.h>

#include "disc/lookups_fixtures.h"
#include "disc/script_model.h"
#include "support/disc_support.h"

namespace tess::test {
namespace {

using core::TTimeCode;

// ---- languages ----

TEST(Languages, NamesKeepTheTableSpellings) {
  EXPECT_EQ(disc::LanguageName("am"), "Ameharic");
  EXPECT_EQ(disc::LanguageName("sh"), "Sebro-Croatian");
  EXPECT_EQ(disc::LanguageName("uk"), "Ukranian");
  EXPECT_EQ(disc::LanguageName("bn"), "Bengali;Bangla");
  EXPECT_EQ(disc::LanguageName("lv"), "Latvian,Lettish");
  EXPECT_EQ(disc::LanguageName("om"), "(Afan)Oromo");
  EXPECT_EQ(disc::LanguageName("ps"), "Pashto,Pushto");
  EXPECT_EQ(disc::LanguageName("tn"), "Setwana");
  EXPECT_EQ(disc::LanguageName("in"), "Indonesian");
  EXPECT_EQ(disc::LanguageName("iw"), "Hebrew");
  EXPECT_EQ(disc::LanguageName("ji"), "Yiddish");
  EXPECT_EQ(disc::LanguageName("yi"), "Yiddish");
  EXPECT_EQ(disc::LanguageName("EN"), "");  // lower-case codes only
  EXPECT_EQ(disc::LanguageName("xx"), "");
}

TEST(Languages, DisplayNamesWithThePadSwitch) {
  EXPECT_EQ(disc::LanguageDisplayName("de", true), "German      ");
  EXPECT_EQ(disc::LanguageDisplayName("de", false), "German");
  EXPECT_EQ(disc::LanguageDisplayName("qq", true), "Not Specified");
  EXPECT_EQ(disc::LanguageDisplayName(std::string_view("\0\0", 2), true), "Not Specified");
  EXPECT_EQ(disc::LanguageDisplayName("bn", true), "Bengali;Bangla");  // 14 characters: no padding
  EXPECT_EQ(disc::LanguageDisplayName("da", true).size(), 12u);

  const uint16_t en = 'e' | ('n' << 8);
  const uint16_t bad = 'q' | ('q' << 8);
  EXPECT_TRUE(disc::IsLanguageCodeValid(en));
  EXPECT_FALSE(disc::IsLanguageCodeValid(bad));
  EXPECT_FALSE(disc::IsLanguageCodeValid(0));
  EXPECT_EQ(disc::LanguageNameFromWord(en, true), "English     ");
  EXPECT_EQ(disc::LanguageNameFromWord(bad, false), "Not Specified");
  EXPECT_EQ(disc::LanguageLetters(en), "En");
  EXPECT_EQ(disc::LanguageLetters(bad), "00");
}

// ---- name builders ----

TEST(ScriptNames, Builders) {
  EXPECT_EQ(disc::SeamlessText(true), "Seamless");
  EXPECT_EQ(disc::SeamlessText(false), "Non-seamless");
  EXPECT_EQ(disc::MenuPgcName(0, 3, "En"), "VMG_En_3");
  EXPECT_EQ(disc::MenuPgcName(2, 1, "Fr"), "LU_Fr_V2_1");
  EXPECT_EQ(disc::TitlePgcName(1, 3, 2), "PGC_V1_T3_2");
  EXPECT_EQ(disc::IntToHexLower(0x2A, 2), "2a");
  EXPECT_EQ(disc::IntToHexLower(0x123, 2), "123");
  EXPECT_EQ(disc::IntToHexLower(0, 4), "0000");
  EXPECT_EQ((disc::TScriptName{"t01_v001c001-t", 0}.DisplayName()), "t01_v001c001-t");
  EXPECT_EQ((disc::TScriptName{"cell", 2}.DisplayName()), "cell_2");

  DiscProject p;
  AddMenuChain(p.Form, 0, 'e', 'n', MakePgc());
  AddMenuChain(p.Form, 0, 'e', 'n', MakePgc());
  AddMenuChain(p.Form, 0, 'q', 'q', MakePgc());
  EXPECT_EQ(disc::VmgPgcNameByIndex(p.Form, 1), "VMG_En_1");
  EXPECT_EQ(disc::VmgPgcNameByIndex(p.Form, 2), "VMG_En_2");
  EXPECT_EQ(disc::VmgPgcNameByIndex(p.Form, 3), "VMG_00_1");
  EXPECT_EQ(disc::VmgPgcNameByIndex(p.Form, 4), "");
  EXPECT_EQ(disc::VmgPgcNameByIndex(p.Form, 0), "");
}

// ---- tracks ----

disc::TVideoTrack& AddTrack(test::DiscForm& Form, const std::string& Name, int32_t Angle = 0) {
  Form.ScriptTracks.emplace_back();
  Form.ScriptTracks.back().Name = Name;
  Form.ScriptTracks.back().AngleNumber = Angle;
  return Form.ScriptTracks.back();
}

TEST(ScriptTracks, AngleBlocks) {
  DiscProject p;
  // A block at the start without a first-angle track, a plain track, a full block.
  for (int a : {2, 3, 0, 1, 2, 3, 0}) AddTrack(p.Form, "t" + std::to_string(p.Form.ScriptTracks.size()), a);
  EXPECT_EQ(disc::FindAngleTrack(p.Form, 5, 2), 4);  // angle 3 asking for angle 2: second of its block
  EXPECT_EQ(disc::FindAngleTrack(p.Form, 3, 3), 5);
  EXPECT_EQ(disc::FindAngleTrack(p.Form, 4, 1), 3);
  EXPECT_EQ(disc::FindAngleTrack(p.Form, 4, 4), 3);  // no such angle: the block's first
  EXPECT_EQ(disc::FindAngleTrack(p.Form, 2, 3), 2);   // outside any block
  EXPECT_EQ(disc::FindAngleTrack(p.Form, 5, 0), 5);
  EXPECT_EQ(disc::FindAngleTrack(p.Form, 1, 2), 0);   // the block runs back to the first track
  EXPECT_EQ(disc::FindAngleTrack(p.Form, 1, 1), 0);  // a block without angle 1 starts at its first track
  EXPECT_EQ(disc::FindAngleTrack(p.Form, 7, 1), -1);
  EXPECT_EQ(disc::FindAngleTrack(p.Form, -1, 1), -1);
}

TEST(ScriptTracks, LookupsByNameFileAndAudio) {
  TempDir dir;
  DiscProject p;
  disc::TVideoTrack& a = AddTrack(p.Form, "m01_v001c001-t");
  a.FileName = "m001_v001c001_e0";
  a.Stills.push_back({});
  a.Stills.back().Name = "m001_v001c001_e0_0002";
  disc::TVideoTrack& b = AddTrack(p.Form, "m01_v002c001-t");
  b.FileName = "m001_v002c001_e0";
  b.AudioStreams.resize(2);
  b.AudioStreams[1].PlayItems.push_back({});
  b.AudioStreams[1].PlayItems.back().FileName = "m001_v002c001_81";

  EXPECT_EQ(disc::IndexOfScriptTrack(p.Form, "m01_v002c001-t"), 1);
  EXPECT_EQ(disc::IndexOfScriptTrack(p.Form, "m01_v002c001"), -1);
  EXPECT_EQ(disc::FindScriptTrackByName(p.Form, "m01_v001c001-t"), &a);
  EXPECT_EQ(disc::FindScriptTrackByFile(p.Form, "m001_v002c001_e0", false), &b);
  EXPECT_EQ(disc::FindScriptTrackByFile(p.Form, "m001_v001c001_e0_0002", false), nullptr);
  EXPECT_EQ(disc::FindScriptTrackByFile(p.Form, "m001_v001c001_e0_0002", true), &a);

  WriteFileBytes(dir.File("m001_v002c001_e0.m2v"), {0});
  disc::TVideoStreamEntry* v = disc::RegisterVideoStream(p.Form, p.Form, p.Form, p.Form.Registry, dir.File("m001_v002c001_e0.m2v"), {}, {}, 1, 0, {});
  EXPECT_EQ(disc::FindVideoStreamOfAudioFile(p.Form, "m001_v002c001_81"), v);
  EXPECT_EQ(disc::FindVideoStreamOfAudioFile(p.Form, "m001_v002c001_80"), nullptr);

  // Highlight items of a cell, only in tracks of the domain asked for.
  a.Domain = 1;
  b.Domain = 2;
  for (disc::TVideoTrack* t : {&a, &b}) {
    t->HighlightStreams.resize(1);
    t->HighlightStreams[0].Items.resize(2);
    for (auto& h : t->HighlightStreams[0].Items) h.IFOIndex = 1, h.VobId = 2, h.CellId = 3;
    t->HighlightStreams[0].Items[1].CellId = 4;
  }
  auto found = disc::FindHighlightItems(p.Form, 1, 2, 3, 1);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0], &a.HighlightStreams[0].Items[0]);
  EXPECT_TRUE(disc::FindHighlightItems(p.Form, 1, 0, 3, 1).empty());
  EXPECT_TRUE(disc::FindHighlightItems(p.Form, 1, 2, 0, 1).empty());
  EXPECT_TRUE(disc::FindHighlightItems(p.Form, 2, 2, 3, 1).empty());
}

TEST(ScriptTracks, CopyIsDeepAndKeepsTheDestinationsOtherLists) {
  DiscProject p;
  disc::TVideoTrack& src = AddTrack(p.Form, "t01_v001c001-t");
  src.FileName = "t001_v001c001_e0";
  src.VobId = 1;
  src.StartOffset = {0, 0, 1, 2};
  src.VideoData[50] = 77;
  src.AudioStreams.resize(1);
  src.AudioStreams[0].Name = "English";
  src.AudioStreams[0].PlayItems.resize(2);
  src.AudioStreams[0].PlayItems[1].FileName = "t001_v001c001_80";
  src.Scenes.resize(3);
  disc::TVideoTrack& dst = AddTrack(p.Form, "other");
  dst.Scenes.resize(1);
  dst.Scenes[0].Name = "kept";
  dst.Stills.resize(2);

  disc::CopyScriptTrack(p.Form, 0, 1);
  EXPECT_EQ(dst.Name, "t01_v001c001-t");
  EXPECT_EQ(dst.FileName, "t001_v001c001_e0");
  EXPECT_EQ(dst.StartOffset, (TTimeCode{0, 0, 1, 2}));
  EXPECT_EQ(dst.VideoData[50], 77u);
  ASSERT_EQ(dst.AudioStreams.size(), 1u);
  EXPECT_EQ(dst.AudioStreams[0].PlayItems[1].FileName, "t001_v001c001_80");
  ASSERT_EQ(dst.Scenes.size(), 1u);
  EXPECT_EQ(dst.Scenes[0].Name, "kept");
  EXPECT_EQ(dst.Stills.size(), 2u);

  // Releasing the source's texts and lists leaves the copy whole.
  src.AudioStreams.clear();
  src.Name.clear();
  src.FileName = "changed";
  EXPECT_EQ(dst.AudioStreams[0].Name, "English");
  EXPECT_EQ(dst.AudioStreams[0].PlayItems.size(), 2u);
  EXPECT_EQ(dst.Name, "t01_v001c001-t");
  EXPECT_EQ(dst.FileName, "t001_v001c001_e0");

  // A slot past the end grows the table; tracks stay where they are.
  disc::CopyScriptTrack(p.Form, 1, 5);
  ASSERT_EQ(p.Form.ScriptTracks.size(), 6u);
  EXPECT_EQ(&p.Form.ScriptTracks[1], &dst);
  EXPECT_EQ(p.Form.ScriptTracks[5].AudioStreams[0].Name, "English");
  disc::CopyScriptTrack(p.Form, -1, 1);
  disc::CopyScriptTrack(p.Form, 0, -1);
  disc::CopyScriptTrack(p.Form, 9, 1);
  EXPECT_EQ(p.Form.ScriptTracks.size(), 6u);
  EXPECT_EQ(dst.Name, "t01_v001c001-t");
}

TEST(ScriptTracks, RecordInitialisation) {
  disc::TVideoStreamEntry v;
  v.Name = "t001_v001c001_e0";
  v.AspectText = "4 : 3 (Pan-scan)";
  v.TVSystem = 1;
  v.FrameRateFlag = 1;
  v.StartTime = {0, 0, 0, 3};
  disc::TVideoTrack t;
  disc::InitVideoTrack(t, v, v.Name, {0, 0, 0, 1});
  EXPECT_EQ(t.DisplayModeText, "Only Panscan");
  EXPECT_EQ(t.Value9, 2);
  EXPECT_EQ(t.FileName, v.Name);
  EXPECT_EQ(t.VideoStandard, 1);
  EXPECT_EQ(t.StartTime, (TTimeCode{0, 0, 0, 3}));
  EXPECT_EQ(t.StartOffset, (TTimeCode{0, 0, 0, 1}));
  v.AspectText = "16 : 9";
  disc::InitVideoTrack(t, v, v.Name, {});
  EXPECT_EQ(t.DisplayModeText, "Not Specified");

  disc::TAudioStreamEntry a;
  a.Name = "t001_v001c001_80";
  a.StartTime = {0, 0, 0, 2};
  a.EndTime = {0, 0, 9, 0};
  a.NoDelay = 1;
  a.VideoStandard = 1;
  disc::TAudioStream s;
  s.PlayItems.resize(3);
  disc::InitAudioStreamRecord(s, a, {0, 0, 0, 7}, 2, "English");
  EXPECT_EQ(s.StreamNumber, 2);
  EXPECT_EQ(s.Kind, 1);
  ASSERT_EQ(s.PlayItems.size(), 1u);
  EXPECT_EQ(s.PlayItems[0].FileName, "t001_v001c001_80");
  EXPECT_EQ(s.PlayItems[0].Delay, (TTimeCode{0, 0, 0, 7}));
  EXPECT_EQ(s.PlayItems[0].Start, (TTimeCode{0, 0, 0, 2}));
  EXPECT_EQ(s.PlayItems[0].Duration, (TTimeCode{0, 0, 9, 0}));
  EXPECT_EQ(s.PlayItems[0].NoDelay, 1);
  EXPECT_EQ(s.PlayItems[0].Merged + s.PlayItems[0].Stub, 0);

  t.Scenes.resize(4);
  disc::AddSeamlessSceneItem(5, 6, t, v, 3);
  ASSERT_EQ(t.Scenes.size(), 1u);
  EXPECT_EQ(t.Scenes[0].Name, "t001_v001c001_e0-t-s");
  EXPECT_EQ(t.Scenes[0].SeamlessText, "Seamless");
  EXPECT_EQ(t.Scenes[0].PaletteIndex, 3);
  EXPECT_EQ(t.Scenes[0].VobId, 5u);
  EXPECT_EQ(t.Scenes[0].CellId, 6u);
  EXPECT_EQ(t.Scenes[0].SeamlessFlag, 0u);
}

TEST(ScriptTracks, SegmentsSortAndTheirFileImage) {
  disc::TSubPictureStreamList list(1);
  for (uint32_t key : {30u, 10u, 20u, 10u}) {
    list[0].Segments.emplace_back();
    list[0].Segments.back().SortKey = key;
    list[0].Segments.back().SourceNumber = key + static_cast<uint32_t>(list[0].Segments.size());
  }
  disc::SortSubpicStreamSegments(list);
  std::vector<uint32_t> keys;
  for (const auto& s : list[0].Segments) keys.push_back(s.SortKey);
  EXPECT_EQ(keys, (std::vector<uint32_t>{10, 10, 20, 30}));
  // Equal keys keep no promised order; this exchange sort leaves the first 10 first.
  EXPECT_EQ(list[0].Segments[0].SourceNumber, 12u);

  disc::TSubPictureSegment s;
  s.Name = "m000_v001c001_20";
  s.SortKey = 0x01020304;
  s.Byte8 = 1;
  s.Byte9 = 3;
  s.Value10 = 0xA0B0C0D0;
  s.Duration = {0, 0, 2, 5};
  s.VobId = 1;
  s.CellId = 2;
  s.Byte32 = 9;
  s.TimeValue = 90000;
  s.SourceNumber = 4;
  const auto b = disc::SubpicSegmentToBytes(s);
  std::vector<uint8_t> want(44, 0);
  PutLE32(want, 4, 0x01020304);
  want[8] = 1;
  want[9] = 3;
  PutLE32(want, 10, 0xA0B0C0D0);
  want[16] = 2;
  want[17] = 5;
  PutLE32(want, 20, 2);
  PutLE32(want, 24, 1);
  PutLE32(want, 28, 2);
  want[32] = 9;
  PutLE32(want, 36, 90000);
  PutLE32(want, 40, 4);
  EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.end()), want);
  EXPECT_EQ(disc::SubpicSegmentToBytes(disc::SubpicSegmentFromBytes(b.data())), b);
}

TEST(ScriptTracks, FrameRateAllows) {
  DiscProject p;
  p.Form.FrameRate = 30;
  EXPECT_TRUE(disc::FrameRateAllows(p.Form, p.Form.Registry, 2));
  p.Form.Registry.TimeScale1001 = true;
  EXPECT_FALSE(disc::FrameRateAllows(p.Form, p.Form.Registry, 2));
  EXPECT_TRUE(disc::FrameRateAllows(p.Form, p.Form.Registry, 1));
  p.Form.FrameRate = 29.97;
  EXPECT_TRUE(disc::FrameRateAllows(p.Form, p.Form.Registry, 2));
}

TEST(TextPool, HandlesStayValidAndReleaseIsSafe) {
  disc::TStringPool pool;
  uint32_t a = 0, b = 0;
  disc::NewPooledPChar(pool, a, "first");
  disc::NewPooledPChar(pool, b, "second");
  for (int i = 0; i < 250000; ++i) pool.Add("x");  // past the old 200,000-slot table
  EXPECT_EQ(pool.Get(a), "first");
  disc::ReassignPooledPChar(pool, a, pool.Get(a) + "!");
  EXPECT_EQ(pool.Get(a), "first!");
  disc::ReleasePooledPointer(pool, b);
  EXPECT_EQ(b, 0u);
  uint32_t never = 9999999;
  disc::ReleasePooledPointer(pool, never);
  EXPECT_EQ(never, 9999999u);
}

}  // namespace
}  // namespace tess::test
