#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace tess::core {
struct RunContext;
}
namespace tess::platform {
struct ProgressBar;
}

// Counting the units of an elementary stream by their start codes, straight
// from the file in large blocks.
namespace tess::streams {

// The block ForEachStartCode reads at a time.
inline constexpr size_t kStartCodeBlockSize = 1 << 20;

// Calls OnUnit for every start-code prefix 00 00 01 in the file, once each
// (also where one straddles two blocks), with the byte after the prefix and
// the one after that (-1 where the file ends first). Reads the file in blocks
// of 1 MiB; moves Bar (when given) by one for every 0x2FFFD bytes read and lets
// the run pump its messages after every block; stops early when *Abort becomes
// non-zero. False when the file cannot be read.
bool ForEachStartCode(core::RunContext& Run, const std::string& FileName, const uint8_t* Abort,
                      platform::ProgressBar* Bar, const std::function<void(int Next, int AfterNext)>& OnUnit);

// Removes the emulation-prevention bytes (the 03 of 00 00 03) of a unit's
// payload, giving the bits the unit's syntax describes.
void RemoveEmulationPrevention(const uint8_t* Data, size_t Size, std::string& Out);

}  // namespace tess::streams
