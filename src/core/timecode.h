#pragma once
#include <cstdint>
#include <string>

namespace tess::core {

// A disc time code: hours, minutes, seconds, frames as plain binary numbers (not
// BCD), in this order in memory.
struct TTimeCode {
  uint8_t Hours = 0;
  uint8_t Minutes = 0;
  uint8_t Seconds = 0;
  uint8_t Frames = 0;

  bool operator==(const TTimeCode&) const = default;
  bool IsZero() const { return Hours == 0 && Minutes == 0 && Seconds == 0 && Frames == 0; }
  // The time code packed in 32 bits: hours in the low byte, frames in the high.
  uint32_t ToUInt32() const {
    return Hours | (static_cast<uint32_t>(Minutes) << 8) | (static_cast<uint32_t>(Seconds) << 16) |
           (static_cast<uint32_t>(Frames) << 24);
  }
  static TTimeCode FromUInt32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
  }
};

// Byte reading.
uint8_t GetByteAt(int Index, const uint8_t* Buffer);
uint32_t ReadBigEndian(int Start, int Count, const uint8_t* Buffer);

// 90 kHz times. P points at a 5-byte PES time stamp (or, for ticks, at a
// big-endian 32-bit count).
inline constexpr double kTicksPerMs = 90.0;
// Unrounded: a caller that wants whole milliseconds rounds them itself.
constexpr double TicksToMs(int64_t Ticks) { return static_cast<double>(Ticks) / kTicksPerMs; }
double PtsToMilliseconds(const uint8_t* P);
uint32_t PtsToLow32(const uint8_t* P);
uint64_t PtsToTicks(const uint8_t* P);  // all 33 bits
double TicksToMilliseconds(const uint8_t* P);

// Conversions with an explicit rate. FramesToTimeCode is the exact inverse of
// TimeCodeToFrameCount (also where a second starts on a half frame at 29.97);
// a negative frame count gives 00:00:00:00.
int64_t TimeCodeToFrameCount(TTimeCode TC, double Rate);
TTimeCode FramesToTimeCode(int64_t Frames, double Rate);
TTimeCode AddTimeCodes(TTimeCode A, TTimeCode B, double Rate);  // hours wrap at 60
void TimeCodeStepForward(TTimeCode& TC, double Rate);
void TimeCodeStepBack(TTimeCode& TC, double Rate);  // hours stop at 0: 00:00:00:00 gives 00:59:59:last
TTimeCode ScaleTimeCode(TTimeCode TC, double Factor, double Rate);  // zero stays zero
// Every field from one rounded count; the carry into the seconds uses Rate
// (at 50, the 25 time-code frames of its field pairs).
TTimeCode MillisecondsToTimecode(double Ms, double Rate);
// The frame that holds the sample position (a position in the first half
// frame gives 00:00:00:00); rates other than 25 and about 30 give zero.
TTimeCode SamplesToTimeCode(bool Exact, double FrameRate, int64_t SampleRate, int64_t Samples);
TTimeCode SamplesToTimeCodeInt(int32_t SampleRate, double FrameRate, int64_t Samples);

// Texts.
std::string TimeCodeToText(TTimeCode TC);
std::string TimeCodeWithRateText(TTimeCode TC, double Rate);
std::string TimeCodeWithStandardText(TTimeCode TC, int RateCode);
std::string FrameRateToText(double Rate);

// The same operations at the disc frame rate.
int64_t TimecodeToFrames(double DiscRate, TTimeCode TC);
TTimeCode FramesToTimecode(double DiscRate, int64_t Frames);
int64_t TimecodeToFramesAt(TTimeCode TC, double Rate);
TTimeCode FramesToTimecodeAt(int64_t Frames, double Rate);
TTimeCode AddTimecodes(double DiscRate, TTimeCode A, TTimeCode B);
TTimeCode TimecodeDifference(double DiscRate, TTimeCode A, TTimeCode B);
void IncTimecodeFrame(double DiscRate, TTimeCode& TC);
void DecTimecodeFrame(double DiscRate, TTimeCode& TC);
std::string TimecodeWithRateText(double DiscRate, TTimeCode TC);
std::string TimecodeToString(TTimeCode TC, char Sep);
std::string TimecodeToStringRate(double DiscRate, TTimeCode TC);

}  // namespace tess::core
