// The pack demultiplexer against ffmpeg's: every stream of builder-made and
// hand-made EVO files, byte for byte; then the packs that no oracle has an
// answer for (malformed ones), the context's counters and its domain plan.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/byte_order.h"
#include "demux/demux_context.h"
#include "demux/pes_header.h"
#include "disc/highlights.h"
#include "disc/ifo_set.h"
#include "platform/prompt.h"
#include "demux_support.h"

namespace tess::demux {
namespace {

using test::DemuxProject;
using test::SampleStreams;

// ---- hand-made packs ----

std::vector<uint8_t> PesPacket(uint8_t Sid, uint8_t Flags, const std::vector<uint8_t>& Header,
                               const std::vector<uint8_t>& Payload) {
  std::vector<uint8_t> p(9 + Header.size() + Payload.size());
  p[2] = 1, p[3] = Sid, p[6] = 0x81, p[7] = Flags, p[8] = static_cast<uint8_t>(Header.size());
  std::copy(Header.begin(), Header.end(), p.begin() + 9);
  std::copy(Payload.begin(), Payload.end(), p.begin() + 9 + static_cast<long>(Header.size()));
  core::WriteBE16(p.data() + 4, static_cast<uint16_t>(p.size() - 6));
  return p;
}

std::vector<uint8_t> Pts(uint64_t T) {
  return {static_cast<uint8_t>(0x21 | ((T >> 29) & 0x0E)), static_cast<uint8_t>(T >> 22),
          static_cast<uint8_t>(((T >> 14) & 0xFE) | 1), static_cast<uint8_t>(T >> 7),
          static_cast<uint8_t>(((T << 1) & 0xFE) | 1)};
}

// A pack: header with Stuffing bytes, the packets, and a padding packet for the
// rest when Pad is set (else the packets must fill it, or the caller means it).
std::vector<uint8_t> Pack(const std::vector<std::vector<uint8_t>>& Packets, int Stuffing = 0, bool Pad = true) {
  std::vector<uint8_t> p = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 1, 0x89, 0xC3, static_cast<uint8_t>(0xF8 | Stuffing)};
  p.insert(p.end(), static_cast<size_t>(Stuffing), 0xFF);
  for (const auto& k : Packets) p.insert(p.end(), k.begin(), k.end());
  if (Pad && p.size() + 6 <= 2048) {
    const size_t n = 2048 - p.size() - 6;
    p.insert(p.end(), {0, 0, 1, 0xBE, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    p.insert(p.end(), n, 0xFF);
  }
  p.resize(2048, 0);
  return p;
}

std::vector<uint8_t> Bytes(size_t N, uint8_t Seed) {
  std::vector<uint8_t> b(N);
  for (size_t i = 0; i < N; ++i) b[i] = static_cast<uint8_t>(Seed + i * 7);
  return b;
}

// VC-1 packets whose headers carry a time stamp, the stream id extension and
// three stuffing bytes: the payload starts after all of them.
std::vector<uint8_t> StuffedVc1File() {
  const auto& src = SampleStreams().Vc1.Data;
  std::vector<uint8_t> file;
  size_t at = 0;
  for (int k = 0; at < src.size() && k < 40; ++k) {
    std::vector<uint8_t> header = Pts(90000 + 3003u * static_cast<uint32_t>(k));
    header.insert(header.end(), {0x01, 0x81, 0x55, 0xFF, 0xFF, 0xFF});
    const size_t n = std::min<size_t>(src.size() - at, 1500 + static_cast<size_t>(k) * 5);
    const std::vector<uint8_t> payload(src.begin() + static_cast<long>(at), src.begin() + static_cast<long>(at + n));
    at += n;
    auto pack = Pack({PesPacket(0xFD, 0x81, header, payload)}, k % 3);
    file.insert(file.end(), pack.begin(), pack.end());
  }
  return file;
}

// ---- running the demultiplexer over one file ----

struct DemuxRun {
  DemuxProject P;
  std::unique_ptr<TIFOData> Ctx;
  std::string Out;

  DemuxRun(const std::string& File, const std::string& OutFolder, bool FinishChain = true) : Out(OutFolder) {
    P.Form.LooseEvo = 1;
    P.Form.FrameRate = 30;
    Ctx = std::make_unique<TIFOData>(P.Form.Env(), P.Form.Settings.Demux, 0, 2);
    Ctx->Plan.DomainFileName = Ctx->EvoFileName = Ctx->EvoBaseName = File;
    Ctx->Plan.VtsNumber = 1;
    Ctx->Plan.IsTitleSet = 1;
    Ctx->Outputs.OutputBase = OutFolder + "/";
    Ctx->Outputs.NamePart = Ctx->BuildNamePart(0, 0);
    std::filesystem::create_directories(OutFolder);
    Ctx->InputStream = core::TVobFileStream::Create(P.Form, File, core::TVobFileStream::kModeRead, false);
    while (Ctx->ProcessPack(false) != 0) ++Ctx->PackNumber;
    if (FinishChain) Finish();
  }
  void Finish() {
    Ctx->ProcessPack(true);
    Ctx->CloseOutputs(TCloseMode::Finish);
  }
  // The error lines (red) of the run.
  std::vector<std::string> Errors() const {
    std::vector<std::string> out;
    for (const auto& l : P.Form.LogWindow.Log.Lines)
      if (l.Colour == platform::kColourRed) out.push_back(l.Caption);
    return out;
  }
  std::string Output(const std::string& Suffix) const { return Out + "/" + Ctx->Outputs.NamePart + Suffix; }
};

struct Row {
  const char* Sample;
  const char* FfmpegId;
  const char* Suffix;
  int LpcmBits;
};

TEST(PesDemux, EveryStreamMatchesFfmpeg) {
  if (!test::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  const auto& s = SampleStreams();
  test::TempDir dir;
  using tools::MakeEvoStream;
  // Audio and subpictures beside MPEG-2 video over three cells; then the other
  // video kinds; then hand-made VC-1 packets with stuffing in their headers.
  auto build = [&](const std::string& Name, std::vector<tools::EvoStream> Streams) {
    tools::DomainSpec d;
    for (uint8_t c = 1; c <= 3; ++c) {
      tools::CellSpec cell;
      cell.CellId = c;
      d.Cells.push_back(cell);
    }
    const auto sum = tools::BuildLooseEvo(dir.Path(), Name, d, Streams);
    ASSERT_TRUE(sum.Ok) << sum.Error;
  };
  build("every.evo", {MakeEvoStream(s.Mpeg2), MakeEvoStream(s.Ac3), MakeEvoStream(s.Eac3), MakeEvoStream(s.Dts),
                      MakeEvoStream(s.Mlp), MakeEvoStream(s.TrueHd, 1), MakeEvoStream(s.Mpa),
                      MakeEvoStream(s.Lpcm16), MakeEvoStream(s.Lpcm24, 1), MakeEvoStream(s.Subpicture)});
  build("video.evo", {MakeEvoStream(s.H264), MakeEvoStream(s.Vc1), MakeEvoStream(s.Mpeg2, 1)});
  test::WriteFileBytes(dir.File("vc1.evo"), StuffedVc1File());

  const Row rows[] = {
      {"every", "0x1e0", "_e0.m2v", 0},  {"every", "0xc0", "_c0.ac3", 0},   {"every", "0xc8", "_c8.ac3", 0},
      {"every", "0x88", "_88.dts", 0},   {"every", "0xb0", "_b0.mlp", 0},   {"every", "0xb1", "_b1.mlp", 0},
      {"every", "0x1c0", "_c0.mpa", 0},  {"every", "0xa0", "_a0.pcm", 16},  {"every", "0xa1", "_a1.pcm", 24},
      {"every", "0x20", "_20.sup", 0},   {"video", "0x1e2", "_e2.264", 0},  {"video", "0xfd55", "_55.vc1", 0},
      {"video", "0x1e1", "_e1.m2v", 0},  {"vc1", "0xfd55", "_55.vc1", 0},
  };
  std::map<std::string, std::unique_ptr<DemuxRun>> runs;
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.Sample) + " " + r.FfmpegId);
    auto& run = runs[r.Sample];
    const std::string file = dir.File(std::string(r.Sample) + ".evo");
    if (!run) {
      run = std::make_unique<DemuxRun>(file, dir.File(std::string("out_") + r.Sample));
      EXPECT_TRUE(run->Errors().empty()) << run->Errors().front();
      EXPECT_FALSE(run->Ctx->Outputs.OutputFailed);
    }
    std::vector<uint8_t> ours = test::ReadFileBytes(run->Output(r.Suffix));
    if (r.LpcmBits == 24) ours = test::LpcmGroupsToSamples(ours, 2);
    const auto theirs = test::FfmpegStream(file, r.FfmpegId, r.LpcmBits);
    ASSERT_FALSE(theirs.empty());
    EXPECT_EQ(ours.size(), theirs.size());
    EXPECT_TRUE(ours == theirs);
  }
}

// Packs that are wrong in one way each are logged and skipped, and the packs
// after them are taken apart as usual.
TEST(PesDemux, MalformedPacksAreLoggedAndSkipped) {
  test::TempDir dir;
  const auto a = Bytes(100, 1), b = Bytes(200, 2), c = Bytes(300, 3), d = Bytes(400, 4);
  const std::vector<uint8_t> noHeader;
  auto video = [&](const std::vector<uint8_t>& Payload) { return PesPacket(0xE0, 0x80, Pts(90000), Payload); };
  std::vector<std::vector<uint8_t>> packs;
  packs.push_back(Pack({video(a)}));
  // A header length of 200 in a 20-byte packet, then a good packet.
  auto bad = PesPacket(0xE0, 0x00, noHeader, Bytes(17, 9));
  bad[8] = 200;
  packs.push_back(Pack({bad, video(b)}));
  // Garbage where the first packet should start.
  auto garbage = Pack({});
  garbage[14] = 0x12;
  packs.push_back(garbage);
  // A packet that leaves 3 bytes of its pack.
  auto big = video(c);
  big.resize(2034 - 3, 0x5A);
  core::WriteBE16(big.data() + 4, static_cast<uint16_t>(big.size() - 6));
  packs.push_back(Pack({big}, 0, false));
  // A sector that is no pack, and a packet longer than its pack.
  packs.push_back(std::vector<uint8_t>(2048, 0x47));
  auto longer = video(Bytes(50, 5));
  core::WriteBE16(longer.data() + 4, 3000);
  packs.push_back(Pack({longer}, 0, false));
  packs.push_back(Pack({video(d)}, 5));
  std::vector<uint8_t> file;
  for (const auto& p : packs) file.insert(file.end(), p.begin(), p.end());
  file.resize(file.size() + 700, 0);  // a pack cut off by the end of the file
  test::WriteFileBytes(dir.File("bad.evo"), file);

  DemuxRun run(dir.File("bad.evo"), dir.File("out"));
  std::vector<uint8_t> expected = a;
  expected.insert(expected.end(), b.begin(), b.end());
  std::vector<uint8_t> cc(big.begin() + 14, big.end());
  expected.insert(expected.end(), cc.begin(), cc.end());
  expected.insert(expected.end(), d.begin(), d.end());
  EXPECT_TRUE(test::ReadFileBytes(run.Output("_e0.m2v")) == expected);
  EXPECT_EQ(run.Ctx->PackNumber, packs.size() + 1);
  for (const char* line : {"PES header of stream 224 does not fit its packet; the packet is dropped. Pack Number: 1",
                           "No packet start code at byte 14; the rest of the pack is skipped. Pack Number: 2",
                           "Align pack length, Pack Number: 3", "MPEG is not correct. StartCode: 1195853639, Pack Number: 4",
                           "Packet of stream 224 runs past its pack (3000 bytes, 2028 left); it is dropped. Pack Number: 5",
                           "The last pack of bad.evo holds only 700 bytes; it is skipped. Pack Number: 7"})
    EXPECT_TRUE(run.P.LogContains(line)) << line;
  EXPECT_EQ(run.Errors().size(), 6u);
}

// Navigation packets move the VOB and cell ids and are counted; the streams met
// are kept once each, in order; an MPEG audio stream reads no substream byte.
TEST(PesDemux, CountsNavigationPacketsAndStreams) {
  test::TempDir dir;
  auto dsi = [](uint16_t Vob, uint8_t Cell) {
    std::vector<uint8_t> p(6 + 1 + 40, 0);
    p[2] = 1, p[3] = 0xBF, p[6] = 1;
    core::WriteBE16(p.data() + 4, 41);
    core::WriteBE16(p.data() + 7 + 24, Vob);
    p[7 + 27] = Cell;
    return p;
  };
  auto ac3 = PesPacket(0xBD, 0x80, Pts(1000), {0x80, 1, 0, 1, 0x0B, 0x77});
  auto mpa = PesPacket(0xC0, 0x80, Pts(1000), {0xFF, 0xFD, 0x90, 0x00});
  std::vector<uint8_t> file;
  for (const auto& p : {Pack({dsi(2, 1), ac3}), Pack({dsi(3, 1), mpa}), Pack({dsi(3, 2), ac3})})
    file.insert(file.end(), p.begin(), p.end());
  test::WriteFileBytes(dir.File("nav.evo"), file);
  DemuxRun run(dir.File("nav.evo"), dir.File("out"), false);
  EXPECT_EQ(run.Ctx->Cells.NavPackCount, 3u);
  EXPECT_EQ(run.Ctx->Cells.VobIdList, std::vector<uint32_t>({2, 3}));
  run.Finish();
  EXPECT_TRUE(run.Ctx->Cells.VobIdList.empty()) << "emptied by the finish step";
  EXPECT_EQ(run.Ctx->Cells.VobId, 3u);
  EXPECT_EQ(run.Ctx->Cells.CellId, 2u);
  EXPECT_EQ(run.Ctx->Cells.PrevCellId, 1u);
  ASSERT_EQ(run.Ctx->Outputs.SeenStreams.size(), 2u);
  EXPECT_EQ(run.Ctx->Outputs.SeenStreams[0].SubstreamId, 0x80u);
  EXPECT_EQ(run.Ctx->Outputs.SeenStreams[1].StreamId, 0xC0u);
  EXPECT_EQ(run.Ctx->Outputs.SeenStreams[1].SubstreamId, 0u);
  EXPECT_TRUE(test::ReadFileBytes(run.Output("_c0.mpa")) == std::vector<uint8_t>({0xFF, 0xFD, 0x90, 0x00}));
  EXPECT_FALSE(std::filesystem::exists(run.Output("_80.ac3"))) << "substream 0x80 has no writer";
}

// The header on its own: what each kind yields, and why those that do not hold
// are dropped.
TEST(PesHeader, DecodesTheFieldsOrSaysWhyNot) {
  auto withLength = [](std::vector<uint8_t> P, uint16_t L) { return core::WriteBE16(P.data() + 4, L), P; };
  using F = TPesHeaderFault;
  struct {
    std::vector<uint8_t> Packet;
    F Fault;
    int64_t Pts;    // -1 none
    int Extension;  // -1 none
    size_t Payload;  // bytes after the header
  } cases[] = {
      {PesPacket(0xE0, 0x80, Pts(0x1FFFFFFFFull), {1, 2}), F::None, 0x1FFFFFFFF, -1, 2},
      {PesPacket(0xFD, 0x01, {0x01, 0x81, 0x55, 0xFF}, {7}), F::None, -1, 0x55, 1},  // extension 2, one stuffing byte
      {withLength(PesPacket(0xE0, 0x80, Pts(5), {1}), 40), F::NotWhole, -1, -1, 0},
      {withLength(PesPacket(0xE0, 0x00, {}, {}), 2), F::CutShort, -1, -1, 0},
      {PesPacket(0xE0, 0x80, {}, {1, 2, 3, 4, 5}), F::NoRoomForTimeStamp, -1, -1, 0},
      {PesPacket(0xFD, 0x01, {0x01, 0x05, 0x55}, {}), F::FieldsOverrun, -1, -1, 0},
  };
  for (const auto& c : cases) {
    F fault = static_cast<F>(0xFF);
    const auto h = PesHeader::Decode(c.Packet, &fault);
    EXPECT_EQ(fault, c.Fault);
    EXPECT_EQ(h && h->Pts ? static_cast<int64_t>(*h->Pts) : -1, c.Pts);
    EXPECT_EQ(h && h->StreamIdExtension ? *h->StreamIdExtension : -1, c.Extension);
    EXPECT_EQ(h ? c.Packet.size() - h->PayloadOffset() : 0, c.Payload);
  }
}

// A chain's outputs are finished when it ends, each file once with all it was
// given; what cannot be made whole keeps its source, and an output that a write
// error left incomplete goes.
// A domain's plan: its chain lists, and the list a cell is looked up in
// follows the EVO file being read. VOB 1 cell 1 of the sample disc lies in the
// first play, the video manager's menu, title set 1's menu and its title.
TEST(DomainPlan, LooksCellsUpInTheListOfTheFileRead) {
  test::TempDir dir;
  tools::DiscSpec spec = tools::MakeSampleDiscSpec({.TitleSets = 1});
  spec.TitleSets[0].MenuLanguage = {'d', 'e'};
  spec.TitleSets[0].TitleVideoAttr = 0x005C;
  tools::DiscBuildOptions o;
  o.Evo.KeepStreamBytes = false;
  ASSERT_TRUE(tools::BuildStandardDisc(dir.File("disc"), spec, SampleStreams(), o).Ok);
  DemuxProject p;
  platform::GridModel overview;
  ASSERT_EQ(disc::LoadIFOSet(p.Form, p.Form, p.Form, dir.File("disc/hv000i01.IFO"), overview), 1);
  auto lookup = [](const TDomainPlan& Plan, const std::string& Evo) {
    TPGCListEntry e;
    Plan.FindPgcOfCell(Evo, 1, 1, e);
    return std::make_pair(static_cast<int>(e.PgcKind), e.PgcNumber);
  };
  TDomainPlan vmg(p.Form, 0);
  ASSERT_TRUE(vmg.FirstPlayList && vmg.MenuList);
  EXPECT_FALSE(vmg.TitleList);
  EXPECT_EQ(vmg.DomainNumber(), "000");
  EXPECT_EQ(lookup(vmg, "HV000M01.EVO"), std::make_pair(int{kPgcMenu}, 1))
      << "the first play is asked only while its file is read";
  vmg.FirstPlayDomain = 1;
  EXPECT_EQ(lookup(vmg, "HV000M01.EVO"), std::make_pair(int{kPgcFirstPlayLookup}, 0));

  const TDomainPlan set(p.Form, 1);
  EXPECT_EQ(set.DomainNumberValue(), 1);
  EXPECT_FALSE(set.FirstPlayList);
  ASSERT_TRUE(set.TitleList && set.MenuList);
  EXPECT_EQ(set.TitleList->Count(), 2);
  ASSERT_EQ(set.MenuList->Count(), 1);
  EXPECT_EQ(set.MenuList->Entries[0].Language, (std::array<char, 2>{'d', 'e'}));
  EXPECT_EQ(set.DomainVideoAttr(true), 0x005C);
  EXPECT_EQ(set.DomainVideoAttr(false), spec.TitleSets[0].MenuVideoAttr);
  EXPECT_EQ(lookup(set, dir.File("disc/hv001m01.evo")), std::make_pair(int{kPgcMenu}, 1));
  EXPECT_EQ(lookup(set, dir.File("disc/hv001t02.evo")), std::make_pair(int{kPgcTitle}, 1));
}

TEST(StreamFinisher, FinishesAtTheChainsEndWhatItCanMakeWhole) {
  test::TempDir dir;
  DemuxProject p;
  std::vector<std::string> informed;
  platform::PolicyPrompt prompt;
  prompt.OnLog = [&](const std::string& Line) { informed.push_back(Line); };
  p.Form.Prompt = &prompt;
  p.Form.LooseEvo = 1;
  TIFOData ctx(p.Form.Env(), p.Form.Settings.Demux, 0, kPgcTitle);
  auto open = [&](const std::string& Name, TIFOData* Other = nullptr) {
    const bool pcm = Name.ends_with(".pcm");
    core::TVobStream* r = (Other ? *Other : ctx).Outputs.StreamTable.Add(0xBD, pcm ? 0xA0 : 0x20, 0);
    r->Stream = core::TVobFileStream::CreateAppend(p.Form, dir.File(Name), core::TVobFileStream::kModeWrite,
                                                  p.Form.Settings.Output);
    r->Stream->FinishSup = !pcm;
    r->Stream->FinishPcm = pcm;
    r->Stream->LpcmBitsPerSample = 16, r->Stream->LpcmChannels = 2, r->Stream->LpcmSampleRate = 48000;
    r->Stream->Write("payload!", 8);
  };
  open("a.pcm"), open("a.sup");
  EXPECT_TRUE(ctx.CloseOutputs(TCloseMode::KeepUnfinished));
  EXPECT_FALSE(std::filesystem::exists(dir.File("a.wav")));
  open("a.pcm");
  EXPECT_FALSE(ctx.CloseOutputs(TCloseMode::Finish)) << "the \".sup\" holds no unit";
  EXPECT_EQ(std::filesystem::file_size(dir.File("a.wav")), 44u + 16u);
  EXPECT_FALSE(std::filesystem::exists(dir.File("a.pcm")));  // DeletePCM
  EXPECT_TRUE(std::filesystem::exists(dir.File("a.sup")));
  EXPECT_TRUE(p.LogContains("Convert file a.pcm from pcm to wav."));
  EXPECT_EQ(p.Form.StatusBar1.Text(3), " Create a.bmp");
  // Without DeletePCM the ".pcm" stays; a WAV left by an earlier run is announced.
  p.Form.Settings.Demux.DeletePcm = false;
  test::WriteFileBytes(dir.File("c.wav"), {9});
  open("c.pcm");
  EXPECT_TRUE(ctx.CloseOutputs(TCloseMode::Finish));
  EXPECT_TRUE(std::filesystem::exists(dir.File("c.pcm")));
  EXPECT_EQ(informed, std::vector<std::string>({"File c.pcm exists!"}));
  {
    // A context that goes away leaves its outputs unfinished.
    TIFOData gone(p.Form.Env(), p.Form.Settings.Demux, 0, kPgcTitle);
    open("d.pcm", &gone);
  }
  EXPECT_EQ(std::filesystem::file_size(dir.File("d.pcm")), 8u);
  // A write that fails stops the run; the output is removed, not finished.
  test::WriteFileBytes(dir.File("f.pcm"), std::vector<uint8_t>(100, 1));
  {
    test::FileSizeLimit limit(100);
    open("f.pcm");
    EXPECT_FALSE(ctx.CloseOutputs(TCloseMode::Finish));
  }
  EXPECT_TRUE(p.Form.WriteStopped);
  EXPECT_FALSE(std::filesystem::exists(dir.File("f.pcm")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("f.wav")));
  EXPECT_TRUE(p.LogContains("Removed the unfinished output " + dir.File("f.pcm")));
}

}  // namespace
}  // namespace tess::demux

namespace tess::demux {
namespace {

// A navigation pack with highlight information becomes one ".hlt2" record; the
// same highlight again is dropped, and a button count past what the record
// holds is cut to it.
TEST(PesDemux, HighlightsOfANavigationPackAreWrittenOnce) {
  test::TempDir dir;
  std::vector<uint8_t> pci(6 + 1 + 790, 0), dsi(6 + 1 + 40, 0);
  pci[2] = dsi[2] = 1, pci[3] = dsi[3] = 0xBF;
  core::WriteBE16(pci.data() + 4, static_cast<uint16_t>(pci.size() - 6));
  core::WriteBE16(dsi.data() + 4, static_cast<uint16_t>(dsi.size() - 6));
  uint8_t* hl = pci.data() + 7 + 96;
  core::WriteBE16(hl, 1);            // new highlight
  core::WriteBE32(hl + 2, 90000);    // start
  core::WriteBE32(hl + 6, 180000);   // end
  hl[14] = 0x10 | 4;                 // one button group, wide
  hl[17] = 40;                       // buttons: more than the record holds
  const uint8_t button[10] = {0x40 | 6, 0x40 | 2, 0x58, 0xC0 | 3, 0x20 | 1, 0x2C, 1, 2, 3, 4};
  std::copy(button, button + 10, pci.data() + 7 + 142);
  dsi[6] = 1;
  core::WriteBE16(dsi.data() + 7 + 24, 1);
  dsi[7 + 27] = 1;
  std::vector<uint8_t> file;
  for (int i = 0; i < 2; ++i) {
    const auto p = Pack({pci, dsi});
    file.insert(file.end(), p.begin(), p.end());
  }
  test::WriteFileBytes(dir.File("menu.evo"), file);
  DemuxRun run(dir.File("menu.evo"), dir.File("out"));
  const auto hlt = test::ReadFileBytes(run.Output(".hlt2"));
  ASSERT_EQ(hlt.size(), 4 + disc::kHighlightItemSize + 36 * disc::kHighlightButtonSize);
  EXPECT_EQ(core::ReadLE32(hlt.data()), 1u);
  uint8_t count = 0;
  const auto item = disc::HighlightItemFromBytes(hlt.data() + 4, count);
  EXPECT_EQ(count, 36);
  EXPECT_EQ(item.StartTime, 90000u);
  EXPECT_EQ(item.EndTime, 180000u);
  const auto b = disc::HighlightButtonFromBytes(hlt.data() + 4 + disc::kHighlightItemSize);
  EXPECT_EQ(b.ColourSet, 1u);
  EXPECT_EQ(b.AutoAction, 3);
  EXPECT_EQ(b.Rects[0].XStart, 6 * 16 + 4);
  EXPECT_EQ(b.Rects[0].XEnd, 2 * 256 + 0x58);
  EXPECT_EQ(b.Rects[0].YStart, 3 * 16 + 2);
  EXPECT_EQ(b.Rects[0].YEnd, 1 * 256 + 0x2C);
  EXPECT_EQ(b.Rects[2].XEnd, b.Rects[0].XEnd) << "one group: its rectangle serves every display mode";
  EXPECT_EQ(b.Up, 1);
  EXPECT_EQ(b.Right, 4);
}

}  // namespace
}  // namespace tess::demux
