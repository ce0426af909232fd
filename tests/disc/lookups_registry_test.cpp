#include <gtest/gtest.h>

#include "core/byte_order.h"
#include "disc/attribute_texts.h"
#include "disc/lookups_fixtures.h"
#include "disc/registries.h"
#include "disc/script_model.h"
#include "disc/subpic_streams.h"
#include "support/disc_support.h"

namespace tess::test {
namespace {

std::string MakeFile(const TempDir& Dir, const std::string& Name) {
  const std::string path = Dir.File(Name);
  WriteFileBytes(path, {1, 2, 3});
  return path;
}

// A title set whose title class is 4 (wide, letterbox and pan-scan allowed) and
// whose three title chains list decoding ids 0x20..0x22, 0x20, and 0x25.
void MakeWideTitleSet(test::DiscForm& Form) {
  auto& mat = Form.IFOFiles[1].VTSI_MAT;
  mat[disc::vtsi::TitleVideoAttr] = 0x4C;
  SetSubpicLanguage(mat, disc::kTitleSubpicAttrOffset, 1, 'e', 'n');
  AddTitleChain(Form, 1, 0x81, MakePgc()).SubpicControl[0] = SubpicWord(0x80, 0x00, 0x01, 0x02);
  AddTitleChain(Form, 1, 0x82, MakePgc()).SubpicControl[0] = SubpicWord(0x80, 0x00, 0x00, 0x00);
  AddTitleChain(Form, 1, 0x83, MakePgc()).SubpicControl[0] = SubpicWord(0x80, 0x05, 0x05, 0x05);
}

// ---- the subpicture stream table ----

TEST(SubpicStreamTable, OneChainListsEachDecodingIdWithItsModes) {
  DiscProject p;
  MakeWideTitleSet(p.Form);
  const disc::TPGC* chain = p.Form.IFOFiles[1].VTS_PGCIT.PGCs[0].PGC.get();
  disc::ShowPGCSubpicStreams(p.Form, p.Form, p.Form.SubPicInfoForm, 1, chain, 4);
  const auto& s = p.Form.SubPicInfoForm.Streams;
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].StreamId, 0x20);
  EXPECT_EQ(s[0].StreamNumber, 1);
  EXPECT_EQ(s[0].Wide, 1);
  EXPECT_EQ(s[0].Letterbox + s[0].PanScan, 0);
  EXPECT_EQ(s[0].Language, "English");
  EXPECT_EQ(s[1].StreamId, 0x21);
  EXPECT_EQ(s[1].Letterbox, 1);
  EXPECT_EQ(s[2].StreamId, 0x22);
  EXPECT_EQ(s[2].PanScan, 1);
  EXPECT_EQ(s[2].StreamNumber, 3);
  EXPECT_EQ(p.Form.SubPicInfoForm.TitlesOfSet, -1);
  disc::ShowPGCSubpicStreams(p.Form, p.Form, p.Form.SubPicInfoForm, 1, nullptr, 4);
  EXPECT_TRUE(p.Form.SubPicInfoForm.Streams.empty());
}

TEST(SubpicStreamTable, TitleStreamsKeepTheFullestChainAndFillMissingIds) {
  DiscProject p;
  MakeWideTitleSet(p.Form);
  disc::ShowVTSTitleStreams(p.Form, p.Form, p.Form.SubPicInfoForm, 1);
  const auto& s = p.Form.SubPicInfoForm.Streams;
  // Chain 1 (three entries) is kept; chain 3 lists 0x25, so 0x25, 0x24 and 0x23
  // follow, highest first, with clear flags.
  ASSERT_EQ(s.size(), 6u);
  EXPECT_EQ(s[0].StreamId, 0x20);
  EXPECT_EQ(s[2].StreamId, 0x22);
  const int expectIds[] = {0x25, 0x24, 0x23};
  for (int k = 0; k < 3; ++k) {
    const auto& e = s[static_cast<size_t>(3 + k)];
    EXPECT_EQ(e.StreamId, expectIds[k]);
    EXPECT_EQ(e.StreamNumber, 4 + k);
    EXPECT_EQ(e.Language, "Not Specified");
    EXPECT_EQ(e.Wide + e.Letterbox + e.PanScan, 0);
  }
  EXPECT_EQ(p.Form.SubPicInfoForm.TitlesOfSet, 1);
  ASSERT_NE(p.Form.SubPicInfoForm.FindById(0x24), nullptr);
  EXPECT_EQ(p.Form.SubPicInfoForm.FindById(0x26), nullptr);

  // Shown already: the table is left as it stands.
  p.Form.SubPicInfoForm.Streams.pop_back();
  disc::ShowVTSTitleStreams(p.Form, p.Form, p.Form.SubPicInfoForm, 1);
  EXPECT_EQ(s.size(), 5u);
}

// ---- video registry ----

TEST(VideoRegistry, RegistrationFillsTheEntry) {
  TempDir dir;
  DiscProject p;
  p.Form.FrameRate = 29.97;
  const std::string file = MakeFile(dir, "t001_v001c001_e0.m2v");
  disc::TVideoStreamDescription d;
  d.VideoAttr = 0x0040;  // MPEG-2, NTSC, 4:3, pan-scan flag clear
  d.AspectCode = 2;
  d.BitRate = 7654321;
  d.EndTime = {0, 1, 2, 3};
  d.VobId = 4;
  d.CellId = 2;
  EXPECT_EQ(disc::RegisterVideoStream(p.Form, p.Form, p.Form, p.Form.Registry, dir.File("missing.m2v"), d, {}, 1, 1, {}), nullptr);
  EXPECT_TRUE(p.Form.VideoStreams.empty());

  disc::TVideoStreamEntry* e = disc::RegisterVideoStream(p.Form, p.Form, p.Form, p.Form.Registry, file, d, {}, 1, 7, {});
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(p.Form.VideoStreams.size(), 1u);
  EXPECT_EQ(e->Name, "t001_v001c001_e0");
  EXPECT_EQ(e->Path, file);
  EXPECT_EQ(e->AspectText, "4 : 3 (Pan-scan)");
  EXPECT_EQ(e->CodingText, "MPEG 2");
  EXPECT_EQ(e->Width, 720);
  EXPECT_EQ(e->Height, 480);
  EXPECT_EQ(e->MaxBitRate, 6000000u);
  EXPECT_EQ(e->AvgBitRate, 4000000u);
  EXPECT_EQ(e->BitRate, 7654321u);
  EXPECT_EQ(e->FrameRateFlag, 1);
  EXPECT_EQ(e->Enabled, 1);
  EXPECT_EQ(e->FrameStructureText, "Frame Structure");
  EXPECT_EQ(e->GopText, "15 frames");
  EXPECT_EQ(e->NotApplicableText, "N/A");
  EXPECT_EQ(e->EndTime, (core::TTimeCode{0, 1, 2, 3}));
  EXPECT_EQ(e->DisplayClass, 4);
  EXPECT_EQ(e->DomainNumber, 7);
  EXPECT_EQ(e->VobId, 4u);
  EXPECT_TRUE(p.LogContains(file));

  // The pan-scan flag set: plain 4:3; MPEG-1 is always 4:3 at its own rates;
  // a picture size from the writer wins over the attributes.
  d.VideoAttr = 0x0042;
  EXPECT_EQ(disc::RegisterVideoStream(p.Form, p.Form, p.Form, p.Form.Registry, file, d, {}, 1, 7, {})->AspectText, "4 : 3");
  d.AspectCode = 3;
  EXPECT_EQ(disc::RegisterVideoStream(p.Form, p.Form, p.Form, p.Form.Registry, file, d, {}, 1, 7, {})->AspectText, "16 : 9");
  d.VideoAttr = 0x0410 | 0x0000;  // MPEG-1, PAL, resolution 1
  disc::TVideoStreamEntry* m1 = disc::RegisterVideoStream(p.Form, p.Form, p.Form, p.Form.Registry, file, d, {}, 1, 7, {});
  EXPECT_EQ(m1->AspectText, "4 : 3");
  EXPECT_EQ(m1->CodingText, "MPEG 1");
  EXPECT_EQ(m1->MaxBitRate, 1856000u);
  EXPECT_EQ(m1->Width, 704);
  EXPECT_EQ(m1->Height, 576);
  EXPECT_EQ(m1->TVSystem, 1);
  disc::TVideoStreamEntry* sized = disc::RegisterVideoStream(p.Form, p.Form, p.Form, p.Form.Registry, file, d, {}, 1, 7, {1920, 1080});
  EXPECT_EQ(sized->Width, 1920);
  EXPECT_EQ(sized->Height, 1080);
  // The first entry is where it was.
  EXPECT_EQ(&p.Form.VideoStreams.front(), e);
  EXPECT_EQ(e->AspectText, "4 : 3 (Pan-scan)");
}

TEST(VideoRegistry, FrameRateFlagRules) {
  TempDir dir;
  DiscProject p;
  const std::string file = MakeFile(dir, "v.m2v");
  disc::TVideoStreamDescription d;
  d.FlagByte = 5;
  EXPECT_EQ(disc::RegisterVideoStream(p.Form, p.Form, p.Form, p.Form.Registry, file, d, {1, nullptr}, 0, 0, {})->FrameRateFlag, 0);
  d.FlagByte = 0;
  EXPECT_EQ(disc::RegisterVideoStream(p.Form, p.Form, p.Form, p.Form.Registry, file, d, {1, nullptr}, 0, 0, {})->FrameRateFlag, 1);
  p.Form.FrameRate = 30.0;
  d.FlagByte = 5;
  EXPECT_EQ(disc::RegisterVideoStream(p.Form, p.Form, p.Form, p.Form.Registry, file, d, {2, nullptr}, 0, 0, {})->FrameRateFlag, 1);
  p.Form.Registry.TimeScale1001 = true;
  EXPECT_EQ(disc::RegisterVideoStream(p.Form, p.Form, p.Form, p.Form.Registry, file, d, {2, nullptr}, 0, 0, {})->FrameRateFlag, 0);
  p.Form.FrameRate = 29.97;
  d.FlagByte = 0;
  EXPECT_EQ(disc::RegisterVideoStream(p.Form, p.Form, p.Form, p.Form.Registry, file, d, {2, nullptr}, 0, 0, {})->FrameRateFlag, 1);
}

TEST(VideoRegistry, SubpictureSlotsOfATitleChain) {
  TempDir dir;
  DiscProject p;
  MakeWideTitleSet(p.Form);
  const std::string file = MakeFile(dir, "v.m2v");
  const disc::TPGC* chain = p.Form.IFOFiles[1].VTS_PGCIT.PGCs[0].PGC.get();
  disc::TVideoStreamDescription d;
  d.VideoAttr = 0x004C;
  disc::TVideoStreamEntry* e = disc::RegisterVideoStream(p.Form, p.Form, p.Form, p.Form.Registry, file, d, {2, chain}, 1, 1, {});
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->DisplayModeCode, 1);  // the letterbox byte of stream 1 has bit 0 set
  using Slot = std::array<uint8_t, 4>;
  // Byte 0 pan-scan, 1 letterbox, 2 wide from the table; byte 3 the mode-1 flag of the mask.
  EXPECT_EQ(e->SubpicModes[0], (Slot{0, 0, 1, 1}));
  EXPECT_EQ(e->SubpicModes[1], (Slot{0, 1, 0, 0}));
  EXPECT_EQ(e->SubpicModes[2], (Slot{1, 0, 0, 0}));
  EXPECT_EQ(e->SubpicTexts[0], "English");
  EXPECT_EQ(e->SubpicTexts[5], "Not Specified");
  // Ids above the highest listed take the slot and text of the id before them.
  EXPECT_EQ(e->SubpicModes[20], (Slot{0, 0, 0, 0}));
  EXPECT_EQ(e->SubpicTexts[20], "Not Specified");
  EXPECT_EQ(e->MaxListedSubpicId, 0x25);
}

TEST(VideoRegistry, SubpictureSlotsWithoutListedStreams) {
  TempDir dir;
  DiscProject p;
  AddTitleChain(p.Form, 1, 0x81, MakePgc());
  AddMenuChain(p.Form, 1, 'e', 'n', MakePgc()).SubpicControl[0] = SubpicWord(0x80, 0x02, 0x02, 0x02);
  const std::string file = MakeFile(dir, "v.m2v");
  const disc::TPGC* title = p.Form.IFOFiles[1].VTS_PGCIT.PGCs[0].PGC.get();
  disc::TVideoStreamEntry* e = disc::RegisterVideoStream(p.Form, p.Form, p.Form, p.Form.Registry, file, {}, {2, title}, 1, 1, {});
  for (size_t k = 0; k < 32; ++k) {
    EXPECT_EQ(e->SubpicModes[k], (std::array<uint8_t, 4>{}));
    EXPECT_EQ(e->SubpicTexts[k], "");
  }
  EXPECT_EQ(e->MaxListedSubpicId, 0);

  // A menu chain: the chain's own table; unlisted ids keep their mask.
  const disc::TPGC* menu = p.Form.IFOFiles[1].MenuPGCI_UT.Units[0].PGCs[0].PGC.get();
  disc::TVideoStreamEntry* m = disc::RegisterVideoStream(p.Form, p.Form, p.Form, p.Form.Registry, file, {}, {1, menu}, 1, 0, {});
  EXPECT_EQ(m->MaxListedSubpicId, 0x22);
  EXPECT_EQ(m->SubpicModes[2], (std::array<uint8_t, 4>{1, 1, 1, 0}));
  EXPECT_EQ(m->SubpicModes[0], (std::array<uint8_t, 4>{0, 0, 0, 1}));  // 0x80 & 63 maps mode 1 to 0x20
  EXPECT_EQ(m->SubpicTexts[0], "");
}

// ---- audio registry ----

TEST(AudioRegistry, PcmIsRegisteredUnderItsWavName) {
  TempDir dir;
  DiscProject p;
  const std::string file = MakeFile(dir, "audio.pcm");
  disc::TAudioStreamDescription d;
  d.VideoAttr = 0x0010;                  // PAL
  d.AudioAttr = {0x80, 0x01, 0, 0, 0, 0, 0, 0};  // LPCM, 2 channels
  d.SampleRate = 48000;
  d.SampleSize = 16;
  d.LpcmBytes = {3, 4};
  d.EndTime = {0, 0, 3, 0};
  disc::TAudioStreamEntry* e = disc::AddAudioStream(p.Form, p.Form, p.Form.Registry, file, d, 1, {0, 0, 0, 5}, 2, 0);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Name, "audio");
  EXPECT_EQ(e->Path, dir.File("audio.wav"));
  EXPECT_EQ(e->FormatIndex, 2);
  EXPECT_EQ(e->Channels, 2);
  EXPECT_EQ(e->BitRate, 1536000u);
  EXPECT_EQ(e->SampleRate, 48000u);
  EXPECT_EQ(e->LpcmBytes, (std::array<uint8_t, 2>{3, 4}));
  EXPECT_EQ(e->VideoStandard, 1);
  EXPECT_EQ(e->FrameRateFlag, 1);
  EXPECT_EQ(e->DelayTimeCode, (core::TTimeCode{0, 0, 0, 5}));
  EXPECT_EQ(e->DomainIndex, 2);
  EXPECT_EQ(e->EndTime, (core::TTimeCode{0, 0, 3, 0}));

  // AC-3: no LPCM fields, no bit rate; a title at a rate of 30 with the
  // 1.001 scaling on clears the flag.
  const std::string ac3 = MakeFile(dir, "t_c0.ac3");
  d.AudioAttr = {0x00, 0x05, 'e', 'n', 0, 0, 0, 0};
  p.Form.FrameRate = 30.0;
  p.Form.Registry.TimeScale1001 = true;
  disc::TAudioStreamEntry* a = disc::AddAudioStream(p.Form, p.Form, p.Form.Registry, ac3, d, 2, {}, 1, 1);
  EXPECT_EQ(a->Path, ac3);
  EXPECT_EQ(a->FormatIndex, 0);
  EXPECT_EQ(a->Channels, 6);
  EXPECT_EQ(a->BitRate, 0u);
  EXPECT_EQ(a->SampleRate, 0u);
  EXPECT_EQ(a->FrameRateFlag, 0);
  EXPECT_EQ(disc::AddAudioStream(p.Form, p.Form, p.Form.Registry, ac3, d, 1, {}, 1, 1)->FrameRateFlag, 1);
  EXPECT_EQ(disc::AddAudioStream(p.Form, p.Form, p.Form.Registry, dir.File("none.ac3"), d, 1, {}, 1, 1), nullptr);
  EXPECT_EQ(p.Form.AudioStreams.size(), 3u);
}

TEST(AudioRegistry, GrowsPastTheOldBlockAndKeepsEntriesInPlace) {
  TempDir dir;
  DiscProject p;
  const std::string file = MakeFile(dir, "a_c0.ac3");
  disc::TAudioStreamEntry* first = disc::AddAudioStream(p.Form, p.Form, p.Form.Registry, file, {}, 1, {}, 0, 0);
  for (int i = 0; i < 30500; ++i) ASSERT_NE(disc::AddAudioStream(p.Form, p.Form, p.Form.Registry, file, {}, 1, {}, 0, 0), nullptr);
  EXPECT_EQ(p.Form.AudioStreams.size(), 30501u);
  EXPECT_EQ(&p.Form.AudioStreams.front(), first);
  EXPECT_EQ(first->Name, "a_c0");
}

// ---- registry lookups ----

TEST(RegistryLookups, ByNameAndPrefix) {
  TempDir dir;
  DiscProject p;
  const std::string v1 = MakeFile(dir, "m000_v001c001_e0.m2v");
  const std::string v2 = MakeFile(dir, "t001_v002c001_e0.m2v");
  disc::RegisterVideoStream(p.Form, p.Form, p.Form, p.Form.Registry, v1, {}, {}, 0, 0, {});
  disc::RegisterVideoStream(p.Form, p.Form, p.Form, p.Form.Registry, v2, {}, {}, 1, 1, {});
  EXPECT_EQ(disc::FindVideoStreamByName(p.Form, "")->Path, v1);  // an empty name is a prefix of the first
  ASSERT_NE(disc::FindVideoStreamByName(p.Form, "t001_v002c001"), nullptr);
  EXPECT_EQ(disc::FindVideoStreamByName(p.Form, "t001_v002c001")->Name, "t001_v002c001_e0");
  EXPECT_EQ(disc::FindVideoStreamByName(p.Form, "m000_v001c001_e0")->Path, v1);
  EXPECT_EQ(disc::FindVideoStreamByName(p.Form, "t001_v002c001_e0_x"), nullptr);

  const std::string a = MakeFile(dir, "t001_v002c001_80.ac3");
  disc::AddAudioStream(p.Form, p.Form, p.Form.Registry, a, {}, 2, {}, 1, 1);
  EXPECT_EQ(disc::FindAudioStreamByName(p.Form, ""), nullptr);
  EXPECT_EQ(disc::FindAudioStreamByName(p.Form, "t001_v002c001"), nullptr);
  EXPECT_NE(disc::FindAudioStreamByName(p.Form, "t001_v002c001_80"), nullptr);
  // AC-3 and MPEG audio of one stream share a name: the MPEG audio's entry.
  const std::string mpa = MakeFile(dir, "t001_v002c001_c0.mpa");
  for (const std::string& file : {MakeFile(dir, "t001_v002c001_c0.ac3"), mpa})
    disc::AddAudioStream(p.Form, p.Form, p.Form.Registry, file, {}, 2, {}, 1, 1);
  EXPECT_EQ(disc::FindAudioStreamByName(p.Form, "t001_v002c001_c0")->Path, mpa);

  disc::AddSubPictureItem(p.Form, p.Form, p.Form.Registry, dir.File("m000_v001c001_20.sup"), {}, 1, 0, 0, 0, 0, false);
  EXPECT_EQ(disc::FindSubPictureItemByName(p.Form, ""), nullptr);
  EXPECT_NE(disc::FindSubPictureItemByName(p.Form, "m000_v001c001_20"), nullptr);
  EXPECT_EQ(disc::FindSubPictureItemByName(p.Form, "m000_v001c001"), nullptr);
}

// ---- subpicture items ----

TEST(SubPictureItem, RegistrationImageIsByteExact) {
  DiscProject p;
  p.Form.FrameRate = 29.97;
  disc::TSubpicUnitDescription d;
  d.VideoAttr = 0x004C;  // MPEG-2, NTSC, 16:9, resolution 0
  d.VobId = 3;
  d.CellId = 2;
  d.TimeValue = 0x00112233;
  d.SourceNumber = 7;
  d.StreamNumber = 9;
  d.Kind = 1;
  d.ExtraByte = 0x5A;
  disc::TSubPictureItem* item =
      disc::AddSubPictureItem(p.Form, p.Form, p.Form.Registry, "/out/VMG/m000_v003c002_21.sup", d, 1, 40.0, 1, 0xAABBCCDD, 0x01020304, false);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(p.Form.SubPictureItems.size(), 1u);
  EXPECT_EQ(item->Name, "m000_v003c002_21");
  EXPECT_EQ(item->Path, "/out/VMG/m000_v003c002_21.sup");

  std::vector<uint8_t> want(232, 0);
  want[9] = 3;  // aspect
  PutLE32(want, 24, 720);
  PutLE32(want, 28, 480);
  PutLE32(want, 33, 720);
  PutLE32(want, 37, 480);
  for (size_t off : {44, 45, 46, 56, 64}) want[off] = 255;  // attribute block bytes 3, 4, 5, 15, 23
  want[77] = 3;
  want[85] = 1;
  want[86] = 1;
  PutLE32(want, 95, 719);
  PutLE32(want, 99, 479);
  PutLE32(want, 107, 2);
  PutLE32(want, 111, 719);
  PutLE32(want, 115, 479);  // height - 1: the rate rounds to 30
  PutLE32(want, 119, 2);
  PutLE32(want, 123, 479);
  for (uint32_t c = 0; c < 4; ++c) PutLE32(want, 128 + 4 * c, c + 1);
  want[169] = 1;
  want[170] = 1;
  PutLE32(want, 180, 3);
  PutLE32(want, 184, 2);
  PutLE32(want, 188, 0x00112233);
  const uint8_t forty[8] = {0, 0, 0, 0, 0, 0, 0x44, 0x40};  // 40.0 as a little-endian double
  std::copy(forty, forty + 8, want.begin() + 192);
  PutLE32(want, 200, 7);
  PutLE32(want, 204, 9);
  want[208] = 1;
  want[209] = 0x5A;
  PutLE32(want, 212, 1);
  PutLE32(want, 216, 0xAABBCCDD);
  PutLE32(want, 220, 0x01020304);

  const auto image = disc::SubPictureItemToBytes(*item);
  EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.end()), want);

  // Read back: every field but the texts and list addresses returns.
  disc::TSubPictureItem back;
  ASSERT_TRUE(disc::SubPictureItemFromBytes(image.data(), image.size(), back));
  EXPECT_EQ(disc::SubPictureItemToBytes(back), image);
  EXPECT_TRUE(back.Name.empty());
  EXPECT_EQ(back.DelayMs, 40.0);
  EXPECT_FALSE(disc::SubPictureItemFromBytes(image.data(), 231, back));

  // Later fields land at their offsets too.
  item->SortKey = 0x0A0B0C0D;
  item->Duration = {1, 2, 3, 4};
  item->DurationMs = 3723160;
  item->Dcs.Contrasts = {100, 0, 7, 13};
  item->Dcs.Fades = std::make_shared<disc::TFadeList>(1);
  const auto later = disc::SubPictureItemToBytes(*item);
  EXPECT_EQ(core::ReadLE32(later.data() + 171), 0x0A0B0C0Du);
  EXPECT_EQ(later[175], 1);
  EXPECT_EQ(later[178], 4);
  EXPECT_EQ(core::ReadLE32(later.data() + 224), 3723160u);
  EXPECT_EQ(core::ReadLE32(later.data() + 144), 100u);
  EXPECT_EQ(core::ReadLE32(later.data() + 160), 0u);  // a list is an address: never written
}

TEST(SubPictureItem, SpareItemsLeaveTheTableAlone) {
  DiscProject p;
  p.Form.FrameRate = 25;
  disc::TSubpicUnitDescription d;
  d.VideoAttr = 0x0810;  // PAL, resolution 2 (352 x 576)
  disc::TSubPictureItem* spare = disc::AddSubPictureItem(p.Form, p.Form, p.Form.Registry, "/x/a.sup", d, 1, 0, 1, 0, 0, true);
  EXPECT_EQ(spare, &p.Form.SpareSubPicture);
  EXPECT_TRUE(p.Form.SubPictureItems.empty());
  EXPECT_EQ(spare->Width, 352);
  EXPECT_EQ(spare->Height, 576);
  EXPECT_EQ(spare->Dcs.Area[7], 574);  // height - 2 away from 30 frames
  // A title item while units go to the index files is never a table entry.
  p.Form.Registry.TitleMakeSup = true;
  disc::TSubPictureItem* title = disc::AddSubPictureItem(p.Form, p.Form, p.Form.Registry, "/x/b.sup", d, 2, 0, 1, 0, 0, false);
  EXPECT_EQ(title, &p.Form.SpareSubPicture);
  EXPECT_EQ(title->Name, "b");
  EXPECT_EQ(title->Dcs.PictureCount, 0);
  EXPECT_TRUE(p.Form.SubPictureItems.empty());
  p.Form.Registry.TitleMakeSup = false;
  disc::AddSubPictureItem(p.Form, p.Form, p.Form.Registry, "/x/c.sup", {}, 2, 0, 1, 0, 0, false);
  EXPECT_EQ(p.Form.SubPictureItems.size(), 1u);
  // 352 x 480 is taken as 720 x 480.
  disc::TSubpicUnitDescription half;
  half.VideoAttr = 0x0800;
  EXPECT_EQ(disc::AddSubPictureItem(p.Form, p.Form, p.Form.Registry, "/x/d.sup", half, 1, 0, 1, 0, 0, false)->Width, 720);
}

}  // namespace
}  // namespace tess::test
