#include "disc/registries.h"

#include <algorithm>
#include <limits>

#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "core/byte_order.h"
#include "core/files.h"
#include "core/number_text.h"
#include "disc/attribute_decode.h"
#include "disc/attribute_texts.h"
#include "disc/subpic_streams.h"
#include "platform/paths.h"
#include "platform/rounding.h"

namespace tess::disc {

namespace {

// The file name without folder and extension.
std::string BaseName(const std::string& FileName) {
  return platform::ChangeFileExt(platform::ExtractFileName(FileName), "");
}

void LogRegistration(core::RunContext& Run, const std::string& FileName) {
  platform::LogLine line;
  line.Caption = FileName;
  line.Kind = 1;
  line.Image = 1;
  Run.InfoForm.Log.Add(line);
  Run.Log(core::kLogInfo, FileName);
}

// Slot and text per subpicture id of the chain played when the video output
// was opened: the id's mode mask, overlaid with the display flags that the
// subpicture stream table lists for it.
void FillSubpicModes(core::RunContext& Run, const DiscModel& Disc, RunRegistries& Reg, TVideoStreamEntry& E,
                     const TStreamContext& Ctx, int32_t DomainIndex) {
  const TPGC& pgc = *Ctx.Pgc;
  const uint32_t first = pgc.SubpicControl[0];
  if (first & 0x00000001u) E.DisplayModeCode = 0;
  if (first & 0x00000100u) E.DisplayModeCode = 1;
  if (first & 0x00010000u) E.DisplayModeCode = 3;
  if (first & 0x01000000u) E.DisplayModeCode = 2;

  for (int32_t k = 0; k < 32; ++k) {
    const uint32_t mask = SubpicModeMask(0x20 + k, &pgc);
    auto& slot = E.SubpicModes[static_cast<size_t>(k)];
    for (size_t b = 0; b < 4; ++b) slot[b] = static_cast<uint8_t>(mask >> (8 * b));
  }

  const bool titles = Ctx.PgcKind == kDomainTitles;
  if (titles)
    ShowVTSTitleStreams(Run, Disc, Reg.SubPicInfoForm, DomainIndex);
  else
    ShowPGCSubpicStreams(Run, Disc, Reg.SubPicInfoForm, DomainIndex, &pgc, VTSMenuDisplayMode(Disc, DomainIndex));

  std::array<bool, 32> listed{};
  int32_t maxId = 0;
  for (const TSubPicStreamEntry& s : Reg.SubPicInfoForm.Streams) {
    if (s.StreamId < 0x20 || s.StreamId > 0x3F) continue;
    const size_t k = static_cast<size_t>(s.StreamId - 0x20);
    auto& slot = E.SubpicModes[k];
    slot[0] = s.PanScan;
    slot[1] = s.Letterbox;
    slot[2] = s.Wide;
    E.SubpicTexts[k] = s.Language;
    listed[k] = true;
    maxId = std::max(maxId, s.StreamId);
  }
  if (titles) {
    for (size_t k = 0; k < 32; ++k) {
      if (listed[k]) continue;
      auto& slot = E.SubpicModes[k];
      if (k == 0) {
        slot[0] = slot[1] = slot[2] = 0;
        E.SubpicTexts[k].clear();
      } else {
        for (size_t b = 0; b < 3; ++b) slot[b] = E.SubpicModes[k - 1][b];
        E.SubpicTexts[k] = E.SubpicTexts[k - 1];
      }
    }
  }
  E.MaxListedSubpicId = maxId;
}

}  // namespace

// ---- the subpicture item image ----

std::array<uint8_t, kSubPictureItemSize> SubPictureItemToBytes(const TSubPictureItem& I) {
  using core::WriteLE16;
  using core::WriteLE32;
  std::array<uint8_t, kSubPictureItemSize> out{};
  uint8_t* p = out.data();
  auto u32 = [p](size_t off, uint32_t v) { WriteLE32(p + off, v); };
  auto i32 = [p](size_t off, int32_t v) { WriteLE32(p + off, static_cast<uint32_t>(v)); };
  p[0] = I.Status[0];
  p[1] = I.Status[1];
  WriteLE16(p + 2, I.Reserved2);
  u32(4, 0);  // name: a text address
  p[8] = I.VideoByte8;
  p[9] = I.VideoByte9;
  std::copy(I.Reserved10.begin(), I.Reserved10.end(), p + 10);
  u32(20, 0);  // path: a text address
  i32(24, I.Width);
  i32(28, I.Height);
  p[32] = I.Byte32;
  i32(33, I.Width2);
  i32(37, I.Height2);
  std::copy(I.AttrBlock.begin(), I.AttrBlock.end(), p + 41);
  std::copy(I.Reserved65.begin(), I.Reserved65.end(), p + 65);
  const T_DCS_Stream& d = I.Dcs;
  std::copy(d.Reserved68.begin(), d.Reserved68.end(), p + 68);
  p[76] = d.VideoByte76;
  p[77] = d.VideoByte77;
  std::copy(d.Reserved78.begin(), d.Reserved78.end(), p + 78);
  p[85] = d.Byte85;
  p[86] = d.PictureCount;
  for (size_t k = 0; k < d.Area.size(); ++k) i32(87 + 4 * k, d.Area[k]);
  p[127] = d.Byte127;
  for (size_t k = 0; k < 4; ++k) u32(128 + 4 * k, d.Colours[k]);
  for (size_t k = 0; k < 4; ++k) u32(144 + 4 * k, d.Contrasts[k]);
  u32(160, 0);  // fade list: an address
  u32(164, 0);  // scroll list: an address
  p[168] = I.VideoByte168;
  p[169] = I.Byte169;
  p[170] = I.Byte170;
  u32(171, I.SortKey);
  u32(175, I.Duration.ToUInt32());
  p[179] = I.Byte179;
  u32(180, I.VobId);
  u32(184, I.CellId);
  u32(188, I.TimeValue);
  core::WriteLEDouble(p + 192, I.DelayMs);
  u32(200, I.SourceNumber);
  u32(204, I.StreamNumber);
  p[208] = I.Kind;
  p[209] = I.ExtraByte;
  WriteLE16(p + 210, I.Reserved210);
  i32(212, I.DomainIndex);
  u32(216, I.DomainNumber);
  u32(220, I.NavPackCount);
  u32(224, I.DurationMs);
  u32(228, I.Reserved228);
  return out;
}

bool SubPictureItemFromBytes(const uint8_t* Data, size_t Size, TSubPictureItem& I) {
  using core::ReadLE16;
  using core::ReadLE32;
  if (!Data || Size < kSubPictureItemSize) return false;
  const uint8_t* p = Data;
  auto i32 = [p](size_t off) { return static_cast<int32_t>(ReadLE32(p + off)); };
  I = TSubPictureItem{};
  I.Status = {p[0], p[1]};
  I.Reserved2 = ReadLE16(p + 2);
  I.VideoByte8 = p[8];
  I.VideoByte9 = p[9];
  std::copy(p + 10, p + 20, I.Reserved10.begin());
  I.Width = i32(24);
  I.Height = i32(28);
  I.Byte32 = p[32];
  I.Width2 = i32(33);
  I.Height2 = i32(37);
  std::copy(p + 41, p + 65, I.AttrBlock.begin());
  std::copy(p + 65, p + 68, I.Reserved65.begin());
  T_DCS_Stream& d = I.Dcs;
  std::copy(p + 68, p + 76, d.Reserved68.begin());
  d.VideoByte76 = p[76];
  d.VideoByte77 = p[77];
  std::copy(p + 78, p + 85, d.Reserved78.begin());
  d.Byte85 = p[85];
  d.PictureCount = p[86];
  for (size_t k = 0; k < d.Area.size(); ++k) d.Area[k] = i32(87 + 4 * k);
  d.Byte127 = p[127];
  for (size_t k = 0; k < 4; ++k) d.Colours[k] = ReadLE32(p + 128 + 4 * k);
  for (size_t k = 0; k < 4; ++k) d.Contrasts[k] = ReadLE32(p + 144 + 4 * k);
  I.VideoByte168 = p[168];
  I.Byte169 = p[169];
  I.Byte170 = p[170];
  I.SortKey = ReadLE32(p + 171);
  I.Duration = TTimeCode::FromUInt32(ReadLE32(p + 175));
  I.Byte179 = p[179];
  I.VobId = ReadLE32(p + 180);
  I.CellId = ReadLE32(p + 184);
  I.TimeValue = ReadLE32(p + 188);
  I.DelayMs = core::ReadLEDouble(p + 192);
  I.SourceNumber = ReadLE32(p + 200);
  I.StreamNumber = ReadLE32(p + 204);
  I.Kind = p[208];
  I.ExtraByte = p[209];
  I.Reserved210 = ReadLE16(p + 210);
  I.DomainIndex = i32(212);
  I.DomainNumber = ReadLE32(p + 216);
  I.NavPackCount = ReadLE32(p + 220);
  I.DurationMs = ReadLE32(p + 224);
  I.Reserved228 = ReadLE32(p + 228);
  return true;
}

// ---- registrations ----

void GetPictureSize(RunRegistries& Reg, const std::array<uint8_t, 12>& Decoded, int32_t& Width, int32_t& Height) {
  static constexpr int32_t kWidths[4] = {720, 704, 352, 352};
  const bool pal = Decoded[1] != 0;
  const uint8_t res = Decoded[9];
  if (res < 4) {
    Width = kWidths[res];
    Height = res == 3 ? (pal ? 288 : 240) : (pal ? 576 : 480);
  }
  Reg.PictureWidth = Width;
  Reg.PictureHeight = Height;
}

TVideoStreamEntry* RegisterVideoStream(core::RunContext& Run, const DiscModel& Disc, RunRegistries& Reg,
                                       const RegistrySettings& Settings, const std::string& FileName,
                                       const TVideoStreamDescription& Desc, const TStreamContext& Context,
                                       int32_t DomainIndex, int32_t DomainNumber, TPictureSize Picture) {
  if (!core::IsFile(FileName)) return nullptr;
  std::array<uint8_t, 12> v{};
  DecodeVideoAttr(Desc.VideoAttr, v);
  TVideoStreamEntry e;
  e.Name = BaseName(FileName);
  e.TVSystem = v[1];
  if (Context.PgcKind == kDomainTitles && Disc.FrameRate == 30.0)
    e.FrameRateFlag = Settings.TimeScale1001 ? 0 : 1;
  else
    e.FrameRateFlag = Desc.FlagByte == 0 ? 1 : 0;
  e.StartTime = Desc.StartTime;
  e.EndTime = Desc.EndTime;
  e.Path = FileName;
  if (Picture.Width > 0 && Picture.Height > 0) {
    e.Width = Picture.Width;
    e.Height = Picture.Height;
  } else {
    GetPictureSize(Reg, v, e.Width, e.Height);
  }
  e.Enabled = 1;
  const bool mpeg1 = v[0] == 0;
  e.CodingText = "MPEG " + std::to_string(v[0] + 1);
  e.ResolutionCode = static_cast<uint8_t>(core::ResolutionCode(e.Width, e.Height));
  if (mpeg1) {
    e.AspectText = "4 : 3";
  } else {
    switch (Desc.AspectCode) {
      case 1: e.AspectText = "1 : 1"; break;
      case 2: e.AspectText = (Desc.VideoAttr & 0x02) == 0 ? "4 : 3 (Pan-scan)" : "4 : 3"; break;
      case 3: e.AspectText = "16 : 9"; break;
      default: e.AspectText = "4 : 3"; break;
    }
  }
  e.FrameStructureText = "Frame Structure";
  e.GopText = "15 frames";
  e.NotApplicableText = "N/A";
  e.BitRate = Desc.BitRate;
  e.MaxBitRate = mpeg1 ? 1856000 : 6000000;
  e.AvgBitRate = mpeg1 ? 1856000 : 4000000;
  e.Line21Field1 = v[5];
  e.Line21Field2 = v[6];
  if (Context.Pgc) FillSubpicModes(Run, Disc, Reg, e, Context, DomainIndex);
  e.DisplayClass = DisplayClassOfAttr(Desc.VideoAttr);
  e.DomainIndex = DomainIndex;
  e.DomainNumber = DomainNumber;
  e.VobId = Desc.VobId;
  e.CellId = Desc.CellId;
  Reg.VideoStreams.push_back(std::move(e));
  LogRegistration(Run, FileName);
  return &Reg.VideoStreams.back();
}

TAudioStreamEntry* AddAudioStream(const DiscModel& Disc, RunRegistries& Reg, const RegistrySettings& Settings,
                                  const std::string& FileName, const TAudioStreamDescription& Desc,
                                  int32_t DomainKind, TTimeCode Delay, int32_t DomainIndex, int32_t DomainNumber) {
  if (!core::IsFile(FileName)) return nullptr;
  std::array<uint8_t, 12> v{};
  DecodeVideoAttr(Desc.VideoAttr, v);
  std::array<uint8_t, 11> a{};
  DecodeAudioAttr(Desc.AudioAttr.data(), a);
  TAudioStreamEntry e;
  e.Name = BaseName(FileName);
  e.VideoStandard = core::IsPalStandard(v[1]) ? 1 : 0;
  e.FrameRateFlag = (DomainKind == kDomainTitles && Disc.FrameRate == 30.0 && Settings.TimeScale1001) ? 0 : 1;
  e.StartTime = Desc.StartTime;
  e.EndTime = Desc.EndTime;
  e.Path = platform::ToLowerAscii(platform::ExtractFileExt(FileName)) == ".pcm"
               ? platform::ChangeFileExt(FileName, ".wav")
               : FileName;
  e.FormatIndex = static_cast<uint8_t>(core::AudioCodingModeToIndex(a[0]));
  e.Channels = static_cast<uint8_t>(a[6] + 1);
  if (e.FormatIndex == 2) {
    e.SampleRate = Desc.SampleRate;
    e.SampleSize = Desc.SampleSize;
    e.LpcmBytes = Desc.LpcmBytes;
    e.LpcmValues = Desc.LpcmValues;
    const uint64_t bits = static_cast<uint64_t>(Desc.SampleRate) * Desc.SampleSize * e.Channels;
    e.BitRate = static_cast<uint32_t>(std::min<uint64_t>(bits, std::numeric_limits<uint32_t>::max()));
  }
  e.DelayTimeCode = Delay;
  e.DomainIndex = DomainIndex;
  e.DomainNumber = DomainNumber;
  e.VobId = Desc.VobId;
  e.CellId = Desc.CellId;
  Reg.AudioStreams.push_back(std::move(e));
  return &Reg.AudioStreams.back();
}

TSubPictureItem* AddSubPictureItem(const DiscModel& Disc, RunRegistries& Reg, const RegistrySettings& Settings,
                                   const std::string& FileName, const TSubpicUnitDescription& Desc, int32_t Kind,
                                   double SubpictureDelayMs, int32_t DomainIndex, uint32_t DomainNumber,
                                   uint32_t NavPackCount, bool Spare) {
  std::array<uint8_t, 12> v{};
  DecodeVideoAttr(Desc.VideoAttr, v);
  TSubPictureItem item;
  item.Name = BaseName(FileName);
  item.Path = FileName;
  item.VideoByte8 = v[1];
  item.VideoByte9 = v[2];
  int32_t w = 720, h = 480;
  GetPictureSize(Reg, v, w, h);
  if (w == 352 && h == 480) w = 720;
  item.Width = item.Width2 = w;
  item.Height = item.Height2 = h;
  InitSubpicAttrBlock(item.AttrBlock);
  T_DCS_Stream& d = item.Dcs;
  d.VideoByte76 = v[1];
  d.VideoByte77 = v[2];
  d.Byte85 = 1;
  d.PictureCount = Kind == kDomainTitles ? 0 : 1;
  const int32_t lowEdge = platform::RoundEven(Disc.FrameRate) == 30 ? h - 1 : h - 2;
  d.Area = {0, 0, w - 1, h - 1, 0, 2, w - 1, lowEdge, 2, lowEdge};
  d.Colours = {1, 2, 3, 4};
  item.VideoByte168 = v[9];
  item.Byte169 = 1;
  item.Byte170 = 1;
  item.VobId = Desc.VobId;
  item.CellId = Desc.CellId;
  item.TimeValue = Desc.TimeValue;
  item.DelayMs = SubpictureDelayMs;
  item.SourceNumber = Desc.SourceNumber;
  item.StreamNumber = Desc.StreamNumber;
  item.Kind = Desc.Kind;
  item.ExtraByte = Desc.ExtraByte;
  item.DomainIndex = DomainIndex;
  item.DomainNumber = DomainNumber;
  item.NavPackCount = NavPackCount;
  if (Spare || (Kind == kDomainTitles && Settings.TitleMakeSup)) {
    Reg.SpareSubPicture = std::move(item);
    return &Reg.SpareSubPicture;
  }
  Reg.SubPictureItems.push_back(std::move(item));
  return &Reg.SubPictureItems.back();
}

}  // namespace tess::disc
