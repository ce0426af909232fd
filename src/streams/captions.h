#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "core/timecode.h"

namespace tess::core {
struct RunContext;
}

// Line-21 closed captions that DVD-style MPEG-2 video carries in its user data
// (after the GOP header: "CC", 1, 0xF8, an attribute byte, then groups of six
// bytes: a marker and two caption bytes of field 1, a marker and two of field 2).
namespace tess::streams {

class TM2VStream;

// The two caption files of one scan (video name + ".cc1" and ".cc2"), written
// anew by each scan that meets captions.
class TCaptionFiles {
 public:
  TCaptionFiles() = default;
  ~TCaptionFiles() { Close(); }
  TCaptionFiles(const TCaptionFiles&) = delete;
  TCaptionFiles& operator=(const TCaptionFiles&) = delete;

  // Appends one line for Field (1 or 2); the first line of a scan starts the
  // file over with the "Scenarist_SCC V1.0" header. A file that cannot be
  // created is skipped; a failed write stops the run, and the file goes.
  void AddLine(core::RunContext& Run, const std::string& VideoName, int Field, core::TTimeCode Time,
               const std::string& Hex);
  // Ends the scan's files; the next scan writes them anew. When a write error
  // stopped the run, the files still open are unfinished and go.
  void Close();

 private:
  int Handles_[2] = {-1, -1};
  bool Started_[2] = {false, false};
  std::string Names_[2];
  core::RunContext* Run_ = nullptr;
};

// The readable text of a string of caption bytes: characters of the caption
// set, control pairs left out.
void CaptionBytesToText(const std::string& Bytes, std::string& Text);

// What the analyser does with each user-data block: the line-21 switches of
// the summary and, in caption-reading scans, the decoded captions (logged and
// written to the caption files as the stream's modes ask).
void HandleCaptionUserData(TM2VStream& Stream, std::span<const uint8_t> Block);

// Removes every user-data block from the video file: a copy without them is
// made beside it (name + ".cc0") and takes the file's place only when it is
// complete and no Stop was asked. False (the file untouched) otherwise.
bool RemoveM2VUserData(core::RunContext& Run, const std::string& FileName);

}  // namespace tess::streams
