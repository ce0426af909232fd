#include "subpic/services.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "core/byte_order.h"
#include "core/messages.h"
#include "disc/highlights.h"
#include "disc/string_pool.h"
#include "platform/file_io.h"
#include "platform/rounding.h"

namespace tess::subpic {

// ---- pooled texts ----

uint32_t AddDataString(disc::RunRegistries& Reg, std::string_view Text) { return Reg.DataStrings.Add(Reg.StringPool, Text); }

// ---- the subpicture index record ----

void EncodeSupIndexRecord(const TSupIndexRecord& R, uint8_t* Out) {
  using namespace core;
  WriteLE32(Out + 0, R.StreamId);
  WriteLE32(Out + 4, R.FolderText);
  WriteLE32(Out + 8, R.Offset);
  WriteLE16(Out + 12, R.VideoAttr);
  Out[14] = R.DomainKind;
  WriteLE32(Out + 15, R.VobId);
  WriteLE32(Out + 19, R.CellId);
  Out[23] = 0;
  WriteLE32(Out + 24, R.Pts);
  WriteLE32(Out + 28, R.NavPackCount);
  WriteLE32(Out + 32, R.LanguageText);
  WriteLEDouble(Out + 36, R.StartMs);
  WriteLE32(Out + 44, static_cast<uint32_t>(R.DomainIndex));
  WriteLE32(Out + 48, static_cast<uint32_t>(R.DomainNumber));
  WriteLE32(Out + 52, R.ContextText);
}

TSupIndexRecord DecodeSupIndexRecord(const uint8_t* In) {
  using namespace core;
  TSupIndexRecord r;
  r.StreamId = ReadLE32(In + 0);
  r.FolderText = ReadLE32(In + 4);
  r.Offset = ReadLE32(In + 8);
  r.VideoAttr = ReadLE16(In + 12);
  r.DomainKind = In[14];
  r.VobId = ReadLE32(In + 15);
  r.CellId = ReadLE32(In + 19);
  r.Pts = ReadLE32(In + 24);
  r.NavPackCount = ReadLE32(In + 28);
  r.LanguageText = ReadLE32(In + 32);
  r.StartMs = ReadLEDouble(In + 36);
  r.DomainIndex = static_cast<int32_t>(ReadLE32(In + 44));
  r.DomainNumber = static_cast<int32_t>(ReadLE32(In + 48));
  r.ContextText = ReadLE32(In + 52);
  return r;
}

namespace {

void ReportDatError(core::RunContext& Run, std::string_view Message, const std::string& DatFileName,
                    std::string_view Reason, bool Box) {
  const std::string text = std::string(Message) + DatFileName;
  Run.Log(core::kLogWarning, Reason.empty() ? text : text + " (" + std::string(Reason) + ")", platform::kColourRed);
  if (Box && Run.ShowErrorMsg && Run.Prompt) Run.Prompt->Inform(text, core::msg::Error);
}

}  // namespace

bool MakeSupIndexRecord(core::RunContext& Run, const std::string& DatFileName, const TSubpictureUnitInfo& Unit,
                        uint32_t StreamId, uint32_t FolderText, uint64_t Offset, double StartMs, int32_t DomainIndex,
                        int32_t DomainNumber, uint32_t ContextText, TSupIndexRecord& r) {
  // The record keeps 32 bits of offset; a larger one would point into the wrong
  // unit, so it is refused rather than cut.
  if (Offset > UINT32_MAX) {
    ReportDatError(Run, core::msg::ErrorInFile, DatFileName, "unit offset beyond 4 GiB", false);
    return false;
  }
  r = TSupIndexRecord{};
  r.StreamId = StreamId;
  r.FolderText = FolderText;
  r.Offset = static_cast<uint32_t>(Offset);
  r.VideoAttr = Unit.VideoAttr;
  r.DomainKind = Unit.DomainKind;
  r.VobId = Unit.VobId;
  r.CellId = Unit.CellId;
  r.Pts = static_cast<uint32_t>(Unit.Pts);
  r.NavPackCount = Unit.NavPackCount;
  r.LanguageText = Unit.LanguageText;
  r.StartMs = (std::isnan(StartMs) || StartMs < 0) ? 0.0 : StartMs;
  r.DomainIndex = DomainIndex;
  r.DomainNumber = DomainNumber;
  r.ContextText = ContextText;
  return true;
}

bool AppendSubpictureToSup(core::RunContext& Run, disc::RunRegistries& Reg, TSubPicBase1& /*SubPicBase*/,
                           const std::string& DatFileName,
                           const TSubpictureUnitInfo& Unit, uint32_t StreamId, uint32_t FolderText,
                           uint64_t Offset, double StartMs, int32_t DomainIndex, int32_t DomainNumber,
                           uint32_t ContextText) {
  TSupIndexRecord r;
  if (!MakeSupIndexRecord(Run, DatFileName, Unit, StreamId, FolderText, Offset, StartMs, DomainIndex, DomainNumber,
                          ContextText, r))
    return false;
  uint8_t bytes[kSupIndexRecordSize];
  EncodeSupIndexRecord(r, bytes);

  const int fd = ::open(DatFileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    ReportDatError(Run, core::msg::CanNotOpenFile, DatFileName, std::strerror(errno), true);
    return false;
  }
  struct stat st {};
  const off_t before = ::fstat(fd, &st) == 0 ? st.st_size : -1;
  bool ok = platform::WriteFull(fd, bytes, sizeof bytes);
  int err = ok ? 0 : errno;
  // A half-written record would shift every later record of the index: cut the
  // file back to its last whole record.
  if (!ok && before >= 0) {
    [[maybe_unused]] const int cut = ::ftruncate(fd, before);
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ReportDatError(Run, core::msg::ErrorInFile, DatFileName, std::strerror(err), true);
    Run.StopForWriteError(DatFileName);
    return false;
  }
  if (std::find(Reg.DatFiles.begin(), Reg.DatFiles.end(), DatFileName) == Reg.DatFiles.end())
    Reg.DatFiles.push_back(DatFileName);
  return true;
}

// ---- time codes ----

core::TTimeCode MsToTimecode(const disc::DiscModel& Disc, uint32_t Ms) {
  using platform::RoundEven;
  // Without a known rate a frame lasts 40 ms: 25 frames per second, and the same
  // rate bounds the frame number so that no time code shows frame 25.
  const bool known = std::isfinite(Disc.FrameRate) && Disc.FrameRate > 0;
  const double rate = known ? Disc.FrameRate : 25.0;
  const uint32_t inSecond = Ms % 1000;
  int64_t frames = RoundEven(inSecond / (1000.0 / rate));
  const uint32_t seconds = Ms / 1000;
  core::TTimeCode tc;
  tc.Hours = static_cast<uint8_t>(std::min<uint32_t>(seconds / 3600, 255));
  tc.Minutes = static_cast<uint8_t>(seconds / 60 % 60);
  tc.Seconds = static_cast<uint8_t>(seconds % 60);
  const bool carry = frames == RoundEven(rate);
  if (carry) --frames;
  tc.Frames = static_cast<uint8_t>(std::max<int64_t>(frames, 0));
  if (carry) core::TimeCodeStepForward(tc, rate);
  return tc;
}

// ---- title-name lists ----

bool TitleNameListContains(const disc::DiscModel& Disc, const disc::RunRegistries& Reg, std::string_view Text) {
  return disc::VTSNameListsContain(Disc, Reg, Text);
}

void TitleNameListAdd(const disc::DiscModel& Disc, disc::RunRegistries& Reg, std::string_view Text, int32_t Index) {
  disc::AddVTSName(Disc, Reg, Text, Index);
}

std::string TitleNameListFind(const disc::DiscModel& Disc, const disc::RunRegistries& Reg, std::string_view Text) {
  return disc::FindVTSName(Disc, Reg, Text);
}

}  // namespace tess::subpic
