#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace tess::core {
struct RunContext;
}
namespace tess::disc {
struct DiscModel;
struct RunRegistries;
}

// The aspect checks over the title sets after a demultiplex, and the three
// corrections of an extracted MPEG video file. Which files to correct is the
// caller's decision.
namespace tess::streams {

// Aspect classes: what a domain's video attributes or its registered streams say.
inline constexpr int32_t kAspect4x3 = 0;
inline constexpr int32_t kAspectPanScan = 1;  // 4:3 without the pan-scan display permission
inline constexpr int32_t kAspect16x9 = 3;

// The aspect class that the disc's video attributes give a domain: the title
// set's titles (Titles) or menus; title set 0 is the video manager's menus.
int32_t VideoAspectMode(const disc::DiscModel& Disc, bool Titles, int32_t TitleSet);

// The aspect class most of a title set's registered video streams carry:
// motion video, still pictures, or either. Titles chooses the title domain's
// streams, else the menus'. Ties go to 16:9, then pan-scan, then 4:3; no stream
// at all gives 16:9.
int32_t CountMotionVideoAspects(const disc::RunRegistries& Reg, bool Titles, int32_t TitleSet);
int32_t CountStillVideoAspects(const disc::RunRegistries& Reg, bool Titles, int32_t TitleSet);
int32_t CountAllVideoAspects(const disc::RunRegistries& Reg, bool Titles, int32_t TitleSet);

// Corrections of one MPEG video file. Abort is the Stop flag to watch (the
// run's when null); OnProgress is called every ten GOPs of each walk.
// In place: every sequence header gets the 4:3 aspect code (16:9 for Mode2) and
// the first header's frame rate; with LimitBitRate (the CorrectVideoBitrate
// setting) a larger bit_rate_value is lowered to 9.8 Mbit/s. True when every
// header was written.
bool ScanM2VFile(core::RunContext& Run, const std::string& FileName, uint8_t* Abort,
                 const std::function<void()>& OnProgress, bool LimitBitRate);
bool ScanM2VFileMode2(core::RunContext& Run, const std::string& FileName, uint8_t* Abort,
                      const std::function<void()>& OnProgress, bool LimitBitRate);
// A 4:3 copy shown 540 wide (a display extension in every sequence) takes the
// file's place, only when the copy is complete and no Stop was asked.
bool ScanM2VFileTo540(core::RunContext& Run, const std::string& FileName, uint8_t* Abort,
                      const std::function<void()>& OnProgress, bool LimitBitRate);

}  // namespace tess::streams
