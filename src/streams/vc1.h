#pragma once
#include <cstdint>
#include <string>

namespace tess::core {
struct RunContext;
}
namespace tess::platform {
struct ProgressBar;
}

namespace tess::streams {

// An advanced-profile VC-1 sequence header, decoded from the bytes after its
// start code (00 00 01 0F).
struct TVC1SequenceHeader {
  uint32_t PROFILE = 0, LEVEL = 0, COLORDIFF_FORMAT = 0, FRMRTQ_POSTPROC = 0, BITRTQ_POSTPROC = 0, POSTPROCFLAG = 0;
  uint32_t MAX_CODED_WIDTH = 0, MAX_CODED_HEIGHT = 0;  // in pixels
  uint32_t PULLDOWN = 0, INTERLACE = 0, TFCNTRFLAG = 0, FINTERPFLAG = 0, RESERVED = 0, PSF = 0;
  uint32_t DISPLAY_EXT = 0;
  uint32_t DISP_HORIZ_SIZE = 0, DISP_VERT_SIZE = 0;  // in pixels
  uint32_t ASPECT_RATIO_FLAG = 0, ASPECT_RATIO = 0, ASPECT_HORIZ_SIZE = 0, ASPECT_VERT_SIZE = 0;
  uint32_t FRAMERATE_FLAG = 0, FRAMERATEIND = 0, FRAMERATENR = 0, FRAMERATEDR = 0, FRAMERATEEXP = 0;
  uint32_t COLOR_FORMAT_FLAG = 0, COLOR_PRIM = 0, TRANSFER_CHAR = 0, MATRIX_COEF = 0;
  uint32_t HRD_PARAM_FLAG = 0;

  // False when the bytes end before the fields they announce.
  bool Decode(const uint8_t* Data, size_t Size);
  // The frame rate the header gives (0 when it gives none).
  double FrameRate() const;
  // "16:9", "4:3" or empty, from the aspect code and the display width.
  std::string AspectText(uint32_t DisplayWidth) const;
};

// Describes a VC-1 elementary stream (".vc1"): its sequence header and the
// number of frames (by frame start codes).
class TVC1Stream {
 public:
  TVC1Stream(core::RunContext& Run, const std::string& FileName, const uint8_t* AbortFlag,
             platform::ProgressBar* ProgressBar);
  // False when the file cannot be read or holds no sequence header.
  bool Analyze();

  TVC1SequenceHeader Header;
  uint32_t FrameCount = 0;
  uint32_t DisplayWidth = 0;
  uint32_t DisplayHeight = 0;
  double FrameRate = 0;
  std::string AspectText;

 private:
  core::RunContext& Run_;
  std::string FileName_;
  const uint8_t* AbortFlag_;
  platform::ProgressBar* ProgressBar_;
};

}  // namespace tess::streams
