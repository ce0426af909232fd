#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tess::core {
struct RunContext;
}

// The MPEG-2 flag rewriter: sets the picture flags of 2:3 (or 3:2) pulldown,
// the frame-rate and aspect codes, progressive flags, GOP time codes and the
// display extension's pan-scan width while it walks a stream, writing the
// changed stream to a target or only measuring it; then writes the video
// information file (target + ".vif") with one record per field for the
// authoring tool.
namespace tess::streams {

struct TPulldownOptions {
  int32_t PanScanMode = 0;  // 1 set the width where a display extension exists, 2 add one, 3 set it to the full width
  bool NoOutput = false;    // measure only; the ".vif" is still written
  bool RemoveSequenceEnds = false;
  bool ForceRepeatFirst = false;  // repeat a field on the first frame
  bool ThreeTwo = false;          // 3:2 instead of 2:3
  int32_t DropFrameMode = 0;      // 1 on, 2 off; either recalculates the time codes
  int32_t FrameProgressiveMode = 0;     // 0 keep, 1 progressive, 2 interlaced
  int32_t SequenceProgressiveMode = 0;  // 1 progressive, otherwise interlaced
  bool KeepTimeCodes = false;
  bool StripRepeatFirstField = false;
  int32_t TopFieldFirstMode = 0;  // 0 by the pattern, 1 always 1, 2 always 0
  int32_t AspectCode = 0;         // 0 keep, else the aspect_ratio_information to write (1 to 4)
  int32_t TargetRate = 3;         // 1 23.976, 2 25, 3 29.97
  bool SetFrameRate = false;      // the target rate without pulldown
  std::function<void(std::string_view)> OnLog;  // the walk's report; may be empty
};

// One picture of the walk, in stream order.
struct TPulldownPicture {
  int64_t Length = 0;               // bytes from its start code to the next picture, GOP or sequence
  int64_t OffsetFromSequence = 0;   // of its start code from its sequence header's
  int64_t GopPosition = 0;
  int64_t SequencePosition = 0;
  uint8_t TopFieldFirst = 0;        // as written
  uint8_t RepeatFirstField = 0;
  uint8_t TypeCode = 0;             // picture_coding_type x 4 + 3
  uint32_t Gop = 0;                 // GOP number, from 1
};

class TPulldown {
 public:
  // Runs the whole conversion of Source into Target (or its measurement).
  TPulldown(core::RunContext& Run, const std::string& Source, const TPulldownOptions& Options,
            const std::string& Target);

  bool SourceRead = false;   // the source could be opened
  bool Mpeg2Video = false;   // a sequence header with its MPEG-2 sequence extension was met
  bool OutputWritten = false;  // the target is complete (not in measuring mode)
  bool VifWritten = false;
  std::vector<TPulldownPicture> Pictures;
  double Frames = 0;
  double Fields = 0;
  uint32_t Gops = 0;
  uint32_t SequenceEnds = 0;
  uint32_t HighestFieldCount = 0;  // fields of the fullest GOP
  uint32_t HighestFieldGop = 0;

 private:
  void Walk(const std::string& Source, const std::string& Target);
  void WriteVif(const std::string& Target);
  void Log(std::string_view Text) const {
    if (Options_.OnLog) Options_.OnLog(Text);
  }

  core::RunContext& Run_;
  TPulldownOptions Options_;
  bool Pulldown_ = true;
  bool RecalculateTimeCodes_ = true;
  bool DropFrame_ = false;
  uint32_t RateCode_ = 4;  // frame_rate_code written: 1 (23.976), 3 (25) or 4 (29.97)
};

// The pulldown tool command on one file: measures it as 23.976 film with
// drop-frame time codes and writes FileName + ".m2v.vif"; no video is written.
// False when the file cannot be read or the ".vif" not written.
bool RunPulldown(core::RunContext& Run, const std::string& FileName);

}  // namespace tess::streams
