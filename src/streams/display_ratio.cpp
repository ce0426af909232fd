#include "streams/display_ratio.h"

#include <array>
#include <filesystem>

#include "core/run_context.h"
#include "disc/attribute_decode.h"
#include "disc/attribute_texts.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "platform/paths.h"
#include "streams/m2v_stream.h"

namespace tess::streams {

namespace {

// Display size that the 540 correction writes.
constexpr uint32_t kHalfD1Width = 540;
constexpr uint32_t kHalfD1Height = 576;
constexpr uint32_t kVideoFormatPal = 1;
constexpr uint32_t kAspectCode4x3 = 2;

uint16_t DomainVideoAttr(const disc::DiscModel& Disc, bool Titles, int32_t TitleSet) {
  if (TitleSet < 0 || TitleSet >= Disc.TitleSetCount || static_cast<size_t>(TitleSet) >= Disc.IFOFiles.size())
    return 0;
  const disc::TIFOFile& f = Disc.IFOFiles[static_cast<size_t>(TitleSet)];
  if (f.Kind == disc::ifoVMG) return disc::VideoAttrWordAt(f.VMGI_MAT.data(), disc::vmgi::MenuVideoAttr);
  return disc::VideoAttrWordAt(f.VTSI_MAT.data(), Titles ? disc::vtsi::TitleVideoAttr : disc::vtsi::MenuVideoAttr);
}

enum class TStillChoice { Motion, Still, Either };

int32_t CountAspects(const disc::RunRegistries& Reg, bool Titles, int32_t TitleSet, TStillChoice Choice) {
  int64_t wide = 0, normal = 0, panScan = 0;
  for (const disc::TVideoStreamEntry& e : Reg.VideoStreams) {
    if (e.DomainIndex != TitleSet) continue;
    // First-play and video-manager streams (domain number -1) belong to neither.
    if (Titles ? e.DomainNumber < 1 : e.DomainNumber != 0) continue;
    const bool still = e.StillMark != 0;
    if ((Choice == TStillChoice::Motion && still) || (Choice == TStillChoice::Still && !still)) continue;
    if (e.AspectText == "16 : 9") ++wide;
    if (e.AspectText == "4 : 3") ++normal;
    if (e.AspectText == "4 : 3 (Pan-scan)") ++panScan;
  }
  int32_t result = kAspect16x9;
  if (normal >= wide && normal >= panScan) result = kAspect4x3;
  if (panScan >= wide && panScan >= normal) result = kAspectPanScan;
  if (wide >= normal && wide >= panScan) result = kAspect16x9;
  return result;
}

// The measuring walk that every correction starts with; the summary's apply
// bytes are left clear for the caller to set.
struct TCorrection {
  TCorrection(core::RunContext& Run, const std::string& FileName, uint8_t* Abort,
              const std::function<void()>& OnProgress, bool LimitBitRate)
      : Stream(Run, FileName) {
    Stream.SetProgressBar(&Run.ProgressBar1);
    Stream.OnProgress = OnProgress;
    Stream.AbortFlag = Abort ? Abort : &Run.Abort;
    Stream.Scan(true, false);
    Stream.FillVideoSummary(SeqHeader, Display, SeqExt, PicExt, Gop);
    Stream.BitRateLimit = LimitBitRate;
  }
  // The measuring walk met the end of what could be read before the file's
  // end, or was stopped: nothing is corrected from it.
  bool Stopped() const { return *Stream.AbortFlag != 0 || Stream.ReadFailed(); }

  TM2VStream Stream;
  TSeqHeaderSettings SeqHeader;
  TDisplayExtSettings Display;
  TSeqExtSettings SeqExt;
  TPicExtSettings PicExt;
  TGopSettings Gop;
};

bool CorrectInPlace(core::RunContext& Run, const std::string& FileName, uint8_t* Abort,
                    const std::function<void()>& OnProgress, bool LimitBitRate, int32_t TargetAspectMode) {
  try {
    TCorrection c(Run, FileName, Abort, OnProgress, LimitBitRate);
    if (c.Stopped()) return false;
    c.Stream.TargetAspectMode = TargetAspectMode;
    return c.Stream.ScanVobVideoShared(c.SeqHeader, c.SeqExt, c.PicExt, c.Gop, c.Display);
  } catch (const core::EParserFileException&) {
    return false;
  }
}

}  // namespace

int32_t VideoAspectMode(const disc::DiscModel& Disc, bool Titles, int32_t TitleSet) {
  const uint16_t attr = DomainVideoAttr(Disc, Titles, TitleSet);
  std::array<uint8_t, 12> d{};
  disc::DecodeVideoAttr(attr, d);
  if (d[2] == 0 && d[3] == 0) return kAspectPanScan;
  return d[2];
}

int32_t CountMotionVideoAspects(const disc::RunRegistries& Reg, bool Titles, int32_t TitleSet) {
  return CountAspects(Reg, Titles, TitleSet, TStillChoice::Motion);
}
int32_t CountStillVideoAspects(const disc::RunRegistries& Reg, bool Titles, int32_t TitleSet) {
  return CountAspects(Reg, Titles, TitleSet, TStillChoice::Still);
}
int32_t CountAllVideoAspects(const disc::RunRegistries& Reg, bool Titles, int32_t TitleSet) {
  return CountAspects(Reg, Titles, TitleSet, TStillChoice::Either);
}

bool ScanM2VFile(core::RunContext& Run, const std::string& FileName, uint8_t* Abort,
                 const std::function<void()>& OnProgress, bool LimitBitRate) {
  return CorrectInPlace(Run, FileName, Abort, OnProgress, LimitBitRate, 0);
}

bool ScanM2VFileMode2(core::RunContext& Run, const std::string& FileName, uint8_t* Abort,
                      const std::function<void()>& OnProgress, bool LimitBitRate) {
  return CorrectInPlace(Run, FileName, Abort, OnProgress, LimitBitRate, 2);
}

bool ScanM2VFileTo540(core::RunContext& Run, const std::string& FileName, uint8_t* Abort,
                      const std::function<void()>& OnProgress, bool LimitBitRate) {
  const std::string copy = FileName + ".ps";
  bool complete = false;
  uint8_t* stop = Abort ? Abort : &Run.Abort;
  try {
    TCorrection c(Run, FileName, Abort, OnProgress, LimitBitRate);
    if (c.Stopped()) return false;
    c.SeqHeader.Apply = 1;
    c.SeqHeader.AspectCode = kAspectCode4x3;
    c.Display.Apply = 1;
    c.Display.Insert = 1;
    c.Display.VideoFormat = kVideoFormatPal;
    c.Display.DisplayHorizontalSize = kHalfD1Width;
    c.Display.DisplayVerticalSize = kHalfD1Height;
    complete = c.Stream.ScanVobVideo(copy, c.SeqHeader, c.SeqExt, c.PicExt, c.Gop, c.Display);
  } catch (const core::EParserFileException&) {
    complete = false;
  }
  std::error_code ec;
  if (complete && *stop == 0) std::filesystem::rename(copy, platform::ResolveInputPath(FileName), ec);
  if (!complete || *stop != 0 || ec) {
    Run.RemoveOwnFile(copy);
    return false;
  }
  return true;
}

}  // namespace tess::streams
