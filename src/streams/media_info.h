#pragma once
#include <cstdint>
#include <string>

namespace tess::core {
struct RunContext;
}
namespace tess::platform {
struct ProgressBar;
}

// Readable descriptions of single elementary-stream files, for the information
// command: the format is recognised from the first bytes (MLP by its name), and
// the text is built from the format's own analyser. Lines are joined by CR LF.
namespace tess::streams {

inline constexpr const char* kUnknownFileFormat = "Unknown file format";

// The extension (with its dot) that the file's first 11 bytes stand for:
// ".ac3" (E-AC-3 too), ".dts", ".mpa", ".wav", ".m2v", ".264", ".vc1", ".m1v";
// empty when nothing matches or the file cannot be read. A read error is
// reported in Run, when one is given.
std::string DetectStreamFileType(const std::string& FileName, core::RunContext* Run = nullptr);

// The description of FileName, or kUnknownFileFormat. ShowDialog puts the text
// in the log as well (as an error when the format is unknown). ProgressBar
// (may be null) follows a video scan. Every reader it uses notes a read error
// in Run, naming the file.
std::string GetMediaInfoText(core::RunContext& Run, const std::string& FileName, bool ShowDialog,
                             platform::ProgressBar* ProgressBar);

// A RIFF/WAVE file with plain PCM samples (format tag 1).
bool IsRiffWaveFile(const std::string& FileName, core::RunContext* Run = nullptr);

// What the AC-3 text takes from the first sync frame's header.
struct Ac3Info {
  int32_t BitRate = 0;  // bits per second, by the bit-rate index
  int32_t ChannelMode = 0;  // acmod
  uint8_t LfeOn = 0;
};
void Ac3ReadInfo(const std::string& FileName, Ac3Info& Info, core::RunContext* Run = nullptr);

// One text per format; each reads the file itself. EAC3InfoText is empty unless
// the file's first frame is E-AC-3.
std::string VideoInfoText(core::RunContext& Run, const std::string& FileName, platform::ProgressBar* ProgressBar);
std::string EAC3InfoText(core::RunContext& Run, const std::string& FileName);
std::string AC3InfoText(core::RunContext& Run, const std::string& FileName);
std::string DTSInfoText(core::RunContext& Run, const std::string& FileName);
std::string MPAInfoText(core::RunContext& Run, const std::string& FileName);
std::string PCMInfoText(const std::string& FileName, core::RunContext* Run = nullptr);
std::string MLPInfoText(const std::string& FileName, core::RunContext* Run = nullptr);

}  // namespace tess::streams
