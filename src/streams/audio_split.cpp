#include "streams/audio_split.h"

#include <algorithm>
#include <filesystem>
#include <functional>

#include "core/run_context.h"
#include "platform/paths.h"
#include "platform/rounding.h"
#include "streams/ac3.h"
#include "streams/dts.h"
#include "streams/media_info.h"
#include "streams/mpa.h"
#include "streams/wav.h"

namespace tess::streams {

namespace {

struct TSegmentCut {
  bool Written = false;
  int64_t Advanced = 0;  // units from the segment's start to where the next one starts
};
// The format's units (frames or samples) that a duration from the start covers.
using TUnitsAt = std::function<int64_t(core::TTimeCode Elapsed, double FrameRate)>;
// Cuts Count units (-1: the rest) from unit Start into Dest.
using TCutSegment = std::function<TSegmentCut(const std::string& Dest, int64_t Start, int64_t Count, int64_t Base)>;
using TAfterSegment = std::function<void(const std::string& Dest)>;

bool IsSameFile(const std::string& A, const std::string& B) {
  std::error_code ec;
  return std::filesystem::equivalent(A, B, ec);
}

// A segment from an earlier run goes first, so that a failed cut cannot leave
// it looking like this run's. Folders are left to make the cut fail, and so is
// a source of that name.
void RemoveOldSegment(core::RunContext& Run, const std::string& FileName) {
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(FileName, ec);
  if (std::filesystem::is_regular_file(status) || std::filesystem::is_symlink(status)) Run.RemoveOwnFile(FileName);
}

void LogNotSplit(core::RunContext& Run, const std::string& Source, const std::string& Why) {
  Run.LogError("Audio file " + Source + " is not split: " + Why);
}

// The loop all four formats share. Each cut ends where the durations summed so
// far end, counted in whole video frames and turned into the format's units
// only then, so that no segment's rounding carries into the next.
TSplitOutcome SplitInSegments(core::RunContext& Run, const std::string& Source,
                              const std::vector<AudioSegmentEntry>& Entries, double FrameRate, const TUnitsAt& UnitsAt,
                              const TCutSegment& Cut, const TAfterSegment& After) {
  const auto rate = static_cast<double>(platform::RoundEven(FrameRate));
  if (rate <= 0) {
    LogNotSplit(Run, Source, "no frame rate.");
    return TSplitOutcome::Failed;
  }
  const std::string source = platform::ResolveInputPath(Source);
  int64_t start = 0, elapsedFrames = 0, progressBase = 0;
  for (size_t i = 0; i < Entries.size(); ++i) {
    const AudioSegmentEntry& entry = Entries[i];
    int64_t count = -1;
    if (i + 1 < Entries.size()) {
      elapsedFrames += core::TimeCodeToFrameCount(entry.Duration, rate);
      const int64_t end = UnitsAt(core::FramesToTimeCode(elapsedFrames, rate), rate);
      count = std::max<int64_t>(end - start, 0);
    }
    if (IsSameFile(entry.OutputFileName, source)) {
      LogNotSplit(Run, Source, "segment " + entry.OutputFileName + " is the source itself.");
      return TSplitOutcome::Failed;
    }
    if (Run.WritesOverSource(entry.OutputFileName)) return TSplitOutcome::Failed;
    RemoveOldSegment(Run, entry.OutputFileName);
    const TSegmentCut cut = Cut(entry.OutputFileName, start, count, progressBase);
    // A write error stops the run too, but the split has failed.
    if (Run.Aborted() && !Run.WriteStopped) return TSplitOutcome::Stopped;
    if (!cut.Written) {
      LogNotSplit(Run, Source, "segment " + entry.OutputFileName + " could not be written.");
      return TSplitOutcome::Failed;
    }
    if (After) After(entry.OutputFileName);
    start += cut.Advanced;
    progressBase += core::GetFileSizeByName(entry.OutputFileName);
  }
  return TSplitOutcome::Done;
}

bool IsFormat(core::RunContext& Run, const std::string& Source, const char* Ext) {
  return DetectStreamFileType(Source, &Run) == Ext;
}

}  // namespace

TSplitOutcome SplitAc3File(core::RunContext& Run, const std::string& Source,
                           const std::vector<AudioSegmentEntry>& Entries, double FrameRate,
                           const core::TCopyProgress& Progress) {
  if (!IsFormat(Run, Source, ".ac3")) return TSplitOutcome::NotThisFormat;
  const int32_t code = Ac3ReadSampleRateCode(Source, &Run);
  // E-AC-3 frames of fewer than six blocks play fewer samples each.
  const int32_t perFrame = Ac3ReadSamplesPerFrame(Source, &Run);
  auto unitsAt = [&](core::TTimeCode Elapsed, double Rate) {
    return Ac3TimeCodeToFrames(code, Elapsed, Rate, perFrame);
  };
  auto cut = [&](const std::string& Dest, int64_t Start, int64_t Count, int64_t Base) {
    return TSegmentCut{Ac3CutByFrames(Run, Source, Dest, Start, Base, Progress, Count), Count};
  };
  return SplitInSegments(Run, Source, Entries, FrameRate, unitsAt, cut, nullptr);
}

TSplitOutcome SplitDtsFile(core::RunContext& Run, const std::string& Source,
                           const std::vector<AudioSegmentEntry>& Entries, double FrameRate,
                           const core::TCopyProgress& Progress) {
  if (!IsFormat(Run, Source, ".dts")) return TSplitOutcome::NotThisFormat;
  const int32_t sampleRate = DtsReadSampleRate(Source, &Run);
  if (sampleRate <= 0) {
    LogNotSplit(Run, Source, "its sample rate is not known.");
    return TSplitOutcome::Failed;
  }
  auto unitsAt = [&](core::TTimeCode Elapsed, double Rate) { return DtsTimeCodeToFrames(Elapsed, sampleRate, Rate); };
  auto cut = [&](const std::string& Dest, int64_t Start, int64_t Count, int64_t Base) {
    return TSegmentCut{DtsCutByFrames(Run, Source, Dest, Start, Base, Progress, Count), Count};
  };
  return SplitInSegments(Run, Source, Entries, FrameRate, unitsAt, cut, nullptr);
}

TSplitOutcome SplitWavFile(core::RunContext& Run, const std::string& Source,
                           const std::vector<AudioSegmentEntry>& Entries, bool DeleteTinyOutputs, double FrameRate,
                           const core::TCopyProgress& Progress) {
  if (!IsFormat(Run, Source, ".wav")) return TSplitOutcome::NotThisFormat;
  WavHeader header;
  if (!WavFindDataChunk(Source, header, &Run) || header.SampleRate == 0) {
    LogNotSplit(Run, Source, "its sample rate is not known.");
    return TSplitOutcome::Failed;
  }
  const auto sampleRate = static_cast<int32_t>(std::min<uint32_t>(header.SampleRate, INT32_MAX));
  auto unitsAt = [&](core::TTimeCode Elapsed, double Rate) { return WavTimeCodeToSamples(Elapsed, sampleRate, Rate); };
  auto cut = [&](const std::string& Dest, int64_t Start, int64_t Count, int64_t Base) {
    return TSegmentCut{WavCutBySamples(Run, Source, Dest, Start, Base, Progress, Count), Count};
  };
  auto after = [&](const std::string& Dest) {
    WavHeader h;
    const bool hasSamples = WavFindDataChunk(Dest, h, &Run) && core::GetFileSizeByName(Dest) > h.DataOffset;
    if (DeleteTinyOutputs && !hasSamples) {
      Run.RemoveOwnFile(Dest);
    } else {
      WavFixHeader(Run, Dest);
    }
  };
  return SplitInSegments(Run, Source, Entries, FrameRate, unitsAt, cut, after);
}

TSplitOutcome SplitMpaFile(core::RunContext& Run, const std::string& Source,
                           const std::vector<AudioSegmentEntry>& Entries, double FrameRate,
                           const core::TCopyProgress& Progress) {
  if (!IsFormat(Run, Source, ".mpa")) return TSplitOutcome::NotThisFormat;
  MpaFileInfoRecord info;
  if (!MpaFileInfo(Run, Source, true, info)) return TSplitOutcome::Failed;  // logged
  if (info.SampleRate <= 0) {
    LogNotSplit(Run, Source, "its sample rate is not known.");
    return TSplitOutcome::Failed;
  }
  auto unitsAt = [&](core::TTimeCode Elapsed, double Rate) { return MpaTimeCodeToSamples(Elapsed, info, Rate); };
  // The cutter ends on the frame boundary nearest the wanted end and says
  // where that is; the next segment starts there.
  auto cut = [&](const std::string& Dest, int64_t Start, int64_t Count, int64_t Base) {
    const TMpaCutResult r = MpaCutBySamples(Run, Source, Dest, Start, Base, Progress, Count);
    return TSegmentCut{r.Written, r.Samples};
  };
  return SplitInSegments(Run, Source, Entries, FrameRate, unitsAt, cut, nullptr);
}

}  // namespace tess::streams
