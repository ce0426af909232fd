#pragma once
#include <string>
#include <vector>

#include "core/files.h"
#include "core/timecode.h"

namespace tess::core {
struct RunContext;
}

// Cutting one demultiplexed audio file into consecutive segment files, one per
// entry of a list of durations (one per cell or program, say). There is one
// splitter per format; each recognises the source by its first bytes and
// leaves a source of another format alone, so a caller simply calls all four.
// Segments follow each other without gap or overlap; the last takes the rest.
namespace tess::streams {

struct AudioSegmentEntry {
  core::TTimeCode Duration;    // the segment's length at the disc frame rate
  std::string OutputFileName;  // replaced when it exists
};

enum class TSplitOutcome {
  NotThisFormat,  // the source is another format (or unreadable): nothing done
  Done,
  Failed,   // a segment could not be made (logged); the source must be kept
  Stopped,  // the Stop command ended the split; the source must be kept
};

// FrameRate is the disc rate (25, 29.97 or 30); every splitter takes it
// rounded to whole frames, with samples stretched by 1.001 at about 30, and
// puts each cut where the durations summed so far end, so that rounding to
// frames never adds up along the list. Progress (may be empty) gets the bytes
// written so far.
TSplitOutcome SplitAc3File(core::RunContext& Run, const std::string& Source,
                           const std::vector<AudioSegmentEntry>& Entries, double FrameRate,
                           const core::TCopyProgress& Progress);
TSplitOutcome SplitDtsFile(core::RunContext& Run, const std::string& Source,
                           const std::vector<AudioSegmentEntry>& Entries, double FrameRate,
                           const core::TCopyProgress& Progress);
// DeleteTinyOutputs removes segments that hold no sample (a header alone).
TSplitOutcome SplitWavFile(core::RunContext& Run, const std::string& Source,
                           const std::vector<AudioSegmentEntry>& Entries, bool DeleteTinyOutputs, double FrameRate,
                           const core::TCopyProgress& Progress);
TSplitOutcome SplitMpaFile(core::RunContext& Run, const std::string& Source,
                           const std::vector<AudioSegmentEntry>& Entries, double FrameRate,
                           const core::TCopyProgress& Progress);

}  // namespace tess::streams
