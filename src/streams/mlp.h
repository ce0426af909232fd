#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace tess::core {
struct RunContext;
}

// The format of an MLP or TrueHD lossless audio file, from the major sync
// blocks of its first 32 KB.
namespace tess::streams {

constexpr uint32_t kMlpMajorSync = 0xF8726FBB;
constexpr uint32_t kTrueHdMajorSync = 0xF8726FBA;

class TMLPstream {
 public:
  // Reads the file when it exists; the values stay 0 when no major sync is
  // found. A read error is reported in Run, when one is given.
  explicit TMLPstream(std::string FileName, core::RunContext* Run = nullptr);

  // Takes the fields of the last major sync in Bytes (the file's first bytes).
  void ScanMajorSyncs(std::span<const uint8_t> Bytes);

  std::string FileName;
  int32_t BitsPerSample = 0;  // 16, 20 or 24 (MLP only: TrueHD does not state it)
  int32_t SampleRate = 0;
  int32_t Channels = 0;  // without the LFE channel
  uint8_t LfeOn = 0;
};

}  // namespace tess::streams
