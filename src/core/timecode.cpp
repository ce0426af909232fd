#include "core/timecode.h"

#include <cmath>
#include <cstdlib>

#include "core/byte_order.h"
#include "core/number_text.h"
#include "platform/rounding.h"

namespace tess::core {

using platform::RoundEven;

namespace {

TTimeCode MakeTimeCode(int64_t Seconds, int64_t Frames) {
  return {static_cast<uint8_t>(Seconds / 3600), static_cast<uint8_t>((Seconds / 60) % 60),
          static_cast<uint8_t>(Seconds % 60), static_cast<uint8_t>(Frames)};
}

// The first frame of a whole second: the one rounding that both directions of
// the frame-count conversion share, so that they stay each other's inverse.
int64_t FirstFrameOfSecond(int64_t Seconds, double Rate) { return RoundEven(static_cast<double>(Seconds) * Rate); }

}  // namespace

// ---------------------------------------------------------------- bytes

uint8_t GetByteAt(int Index, const uint8_t* Buffer) { return Buffer[Index]; }

uint32_t ReadBigEndian(int Start, int Count, const uint8_t* Buffer) {
  uint32_t v = 0;
  for (int i = 0; i < Count; ++i) v = (v << 8) | Buffer[Start + i];
  return v;
}

// ---------------------------------------------------------------- 90 kHz times

uint64_t PtsToTicks(const uint8_t* P) {
  return (static_cast<uint64_t>((P[0] >> 1) & 7) << 30) | (static_cast<uint64_t>(ReadBE16(P + 1) >> 1) << 15) |
         (ReadBE16(P + 3) >> 1);
}

double PtsToMilliseconds(const uint8_t* P) { return TicksToMs(static_cast<int64_t>(PtsToTicks(P))); }

uint32_t PtsToLow32(const uint8_t* P) { return static_cast<uint32_t>(PtsToTicks(P)); }

double TicksToMilliseconds(const uint8_t* P) { return TicksToMs(ReadBE32(P)); }

// ---------------------------------------------------------------- conversions

int64_t TimeCodeToFrameCount(TTimeCode TC, double Rate) {
  const int64_t seconds = TC.Hours * 3600 + TC.Minutes * 60 + TC.Seconds;
  return FirstFrameOfSecond(seconds, Rate) + TC.Frames;
}

TTimeCode FramesToTimeCode(int64_t Frames, double Rate) {
  // Rate x 100 as an integer keeps 29.97 exact: 2997 hundredths.
  const int64_t r = RoundEven(Rate * 100);
  const int64_t perSecond = RoundEven(Rate);
  if (r <= 0 || perSecond <= 0 || Frames < 0) return {};
  int64_t seconds = Frames * 100 / r;
  // The frame within the second is counted from the second's first frame as
  // TimeCodeToFrameCount finds it; rounding the fractional distance instead
  // would give two frames one time code where a second starts on a half frame.
  int64_t ff = Frames - FirstFrameOfSecond(seconds, Rate);
  while (ff < 0 && seconds > 0) ff = Frames - FirstFrameOfSecond(--seconds, Rate);
  while (ff >= perSecond) ff = Frames - FirstFrameOfSecond(++seconds, Rate);
  if (ff < 0) ff = 0;
  return MakeTimeCode(seconds, ff);
}

TTimeCode AddTimeCodes(TTimeCode A, TTimeCode B, double Rate) {
  TTimeCode out;
  const int64_t r = RoundEven(Rate * 100);
  if (r <= 0) return out;
  const int64_t f = (A.Frames + B.Frames) * 100;
  out.Frames = static_cast<uint8_t>(RoundEven(static_cast<double>(f % r) / 100));
  int64_t c = f / r;
  int64_t x = A.Seconds + B.Seconds + c;
  out.Seconds = static_cast<uint8_t>(x % 60);
  c = x / 60;
  x = c + A.Minutes + B.Minutes;
  out.Minutes = static_cast<uint8_t>(x % 60);
  c = x / 60;
  out.Hours = static_cast<uint8_t>((c + A.Hours + B.Hours) % 60);  // hours wrap at 60, not 24
  return out;
}

void TimeCodeStepForward(TTimeCode& TC, double Rate) {
  const int64_t last = RoundEven(Rate) - 1;
  if (TC.Frames < last) {
    ++TC.Frames;
    return;
  }
  TC.Frames = 0;
  if (TC.Seconds < 59) {
    ++TC.Seconds;
    return;
  }
  TC.Seconds = 0;
  if (TC.Minutes < 59) {
    ++TC.Minutes;
    return;
  }
  TC.Minutes = 0;
  TC.Hours = TC.Hours >= 23 ? 0 : static_cast<uint8_t>(TC.Hours + 1);
}

void TimeCodeStepBack(TTimeCode& TC, double Rate) {
  // Hours stop at 0, so one frame before 00:00:00:00 is the last frame of the
  // first hour.
  if (TC.Frames > 0) {
    --TC.Frames;
    return;
  }
  TC.Frames = static_cast<uint8_t>(std::max<int64_t>(RoundEven(Rate - 1), 0));
  if (TC.Seconds > 0) {
    --TC.Seconds;
    return;
  }
  TC.Seconds = 59;
  if (TC.Minutes > 0) {
    --TC.Minutes;
    return;
  }
  TC.Minutes = 59;
  if (TC.Hours > 0) --TC.Hours;
}

TTimeCode ScaleTimeCode(TTimeCode TC, double Factor, double Rate) {
  if (TC.IsZero()) return {};
  const int64_t frames =
      RoundEven(static_cast<double>(TimeCodeToFrameCount(TC, Rate)) * Factor - 1);
  return FramesToTimeCode(std::max<int64_t>(frames, 0), Rate);
}

TTimeCode MillisecondsToTimecode(double Ms, double Rate) {
  const bool negative = Ms < 0;
  // Half a millisecond is added before anything is taken from the count.
  double m = std::fabs(Ms) + 0.5;
  const int64_t wholeRate = static_cast<int64_t>(std::trunc(Rate));
  if (wholeRate == 29) m *= 0.999;
  // One rounded count, in microseconds, from which every field is taken: at
  // 29.97 and 30 whole milliseconds, at other rates the fraction is kept.
  const int64_t us = (wholeRate == 29 || wholeRate == 30) ? RoundEven(m) * 1000 : RoundEven(m * 1000);
  const int64_t seconds = us / 1000000;
  const double f = static_cast<double>(us % 1000000) / 1000;  // milliseconds within the second
  int64_t ff = RoundEven(f * Rate / 1000);
  // At 50 the frames are fields, two to a time-code frame.
  double stepRate = Rate;
  if (RoundEven(Rate) == 50) {
    ff /= 2;
    stepRate = Rate / 2;
  }
  const int64_t perSecond = RoundEven(stepRate);
  TTimeCode tc = MakeTimeCode(seconds, 0);
  if (perSecond > 0 && ff >= perSecond) {
    tc.Frames = static_cast<uint8_t>(perSecond - 1);
    TimeCodeStepForward(tc, stepRate);
  } else {
    tc.Frames = static_cast<uint8_t>(std::max<int64_t>(ff, 0));
  }
  if (negative) tc.Hours = static_cast<uint8_t>(-tc.Hours);
  return tc;
}

TTimeCode SamplesToTimeCode(bool Exact, double FrameRate, int64_t SampleRate, int64_t Samples) {
  if (SampleRate <= 0 || Samples < 0) return {};
  const double samples = static_cast<double>(Samples);
  double rate = static_cast<double>(SampleRate);
  double perFrame;
  double frameRate = FrameRate;
  if (FrameRate == 25) {
    perFrame = rate / FrameRate;
  } else if (RoundEven(FrameRate) == 30 && Exact) {
    perFrame = rate / 29.97;
  } else if (RoundEven(FrameRate) == 30) {
    rate = rate * 30 / 29.97;
    perFrame = rate / 30;
    frameRate = 30;
  } else {
    return {};
  }
  const double whole = std::trunc(samples / rate);
  const int64_t n = RoundEven((samples - whole * rate) / perFrame);
  // The frame that holds the position; a position inside the first half frame
  // gives frame -1, which is shown as the first frame.
  return FramesToTimeCode(std::max<int64_t>(RoundEven(whole * frameRate) + n - 1, 0), frameRate);
}

TTimeCode SamplesToTimeCodeInt(int32_t SampleRate, double FrameRate, int64_t Samples) {
  return SamplesToTimeCode(false, FrameRate, SampleRate, Samples);
}

// ---------------------------------------------------------------- texts

std::string TimeCodeToText(TTimeCode TC) { return TimecodeToString(TC, '.'); }

std::string TimeCodeWithRateText(TTimeCode TC, double Rate) {
  const char* rate = std::trunc(Rate) == 29 ? "29.97 fps)" : Rate == 25 ? "25 fps)" : "30 fps)";
  return TimeCodeToText(TC) + " (" + rate;
}

std::string TimeCodeWithStandardText(TTimeCode TC, int RateCode) {
  return TimeCodeToText(TC) + " (" + (RateCode == 30 ? "NTSC)" : "PAL)");
}

std::string FrameRateToText(double Rate) {
  if (Rate == 29.97) return "29.97";
  return std::to_string(RoundEven(Rate));
}

// ---------------------------------------------------------------- on the project's rate

int64_t TimecodeToFrames(double DiscRate, TTimeCode TC) { return TimeCodeToFrameCount(TC, DiscRate); }

TTimeCode FramesToTimecode(double DiscRate, int64_t Frames) {
  return FramesToTimeCode(Frames, DiscRate);
}

int64_t TimecodeToFramesAt(TTimeCode TC, double Rate) { return TimeCodeToFrameCount(TC, Rate); }

TTimeCode FramesToTimecodeAt(int64_t Frames, double Rate) { return FramesToTimeCode(Frames, Rate); }

TTimeCode AddTimecodes(double DiscRate, TTimeCode A, TTimeCode B) {
  return AddTimeCodes(A, B, DiscRate);
}

TTimeCode TimecodeDifference(double DiscRate, TTimeCode A, TTimeCode B) {
  // Both sides at the whole-number rate, so the difference counts whole frames.
  const double rate = static_cast<double>(RoundEven(DiscRate));
  const int64_t diff = TimeCodeToFrameCount(A, rate) - TimeCodeToFrameCount(B, rate);
  return FramesToTimeCode(std::max<int64_t>(diff, 0), rate);
}

void IncTimecodeFrame(double DiscRate, TTimeCode& TC) { TimeCodeStepForward(TC, DiscRate); }

void DecTimecodeFrame(double DiscRate, TTimeCode& TC) { TimeCodeStepBack(TC, DiscRate); }

std::string TimecodeWithRateText(double DiscRate, TTimeCode TC) {
  return TimeCodeWithRateText(TC, DiscRate);
}

std::string TimecodeToString(TTimeCode TC, char Sep) {
  return IntToStrZeroPad(TC.Hours, 2) + ":" + IntToStrZeroPad(TC.Minutes, 2) + ":" + IntToStrZeroPad(TC.Seconds, 2) +
         std::string(1, Sep) + IntToStrZeroPad(TC.Frames, 2);
}

std::string TimecodeToStringRate(double DiscRate, TTimeCode TC) {
  return TimecodeToString(TC, DiscRate == 25 ? ';' : ':');
}


}  // namespace tess::core
