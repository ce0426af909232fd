#pragma once
#include <string>

#include "core/vob_file_stream.h"
#include "state/project_state.h"

// The run's finishing of closed outputs: a ".pcm" output becomes a WAV file, a
// ".sup" output pictures whose findings go into the script model.
namespace tess::demux {

class TOutputFinisher : public core::TStreamFinisher {
 public:
  explicit TOutputFinisher(state::TForm1& Form) : form_(Form) {}
  // Draws the pictures with the palette of the chain that plays the output's
  // cell, in the output's picture size (the demux context's when it has none).
  bool FinishSup(const core::TVobFileStream& Output, const std::string& BmpName) override;
  // A WAV that this run made already (another EVO file's output of the same
  // name) is not replaced: the output's samples are appended to it.
  bool FinishPcm(const core::TVobFileStream& Output, const std::string& WavName) override;

 private:
  bool AppendToRunWav(const core::TVobFileStream& Output, const std::string& WavName);
  state::TForm1& form_;
};

}  // namespace tess::demux
