#include "core/timecode.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

#include "support/test_support.h"

namespace tess::core {
namespace {

TTimeCode TC(int h, int m, int s, int f) {
  return {static_cast<uint8_t>(h), static_cast<uint8_t>(m), static_cast<uint8_t>(s), static_cast<uint8_t>(f)};
}

std::string Show(TTimeCode t) { return TimecodeToString(t, ':'); }

// The frame split done in integer hundredths of a frame, as the disc rates
// allow; used as an independent check away from the half-frame cases.
TTimeCode HundredthsSplit(int64_t frames, int rateHundredths) {
  const int64_t t = frames * 100;
  const int64_t perSecond = (rateHundredths + 50) / 100;
  int64_t ff = (t % rateHundredths + 50) / 100;  // only used where this is not a half
  int64_t s = t / rateHundredths;
  if (ff == perSecond) {
    ff = 0;
    ++s;
  }
  return TC(static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60), static_cast<int>(s % 60), static_cast<int>(ff));
}

// A 5-byte PES time stamp with its marker bits set.
std::array<uint8_t, 5> EncodePts(uint64_t t) {
  return {static_cast<uint8_t>(0x21 | ((t >> 29) & 0x0E)), static_cast<uint8_t>(t >> 22),
          static_cast<uint8_t>(((t >> 14) & 0xFE) | 1), static_cast<uint8_t>(t >> 7),
          static_cast<uint8_t>(((t << 1) & 0xFE) | 1)};
}

// ---------------------------------------------------------------- frames

TEST(TimeCodeFrames, KnownValues) {
  EXPECT_EQ(Show(FramesToTimeCode(2997, 29.97)), "00:01:40:00");
  EXPECT_EQ(Show(FramesToTimeCode(29, 29.97)), "00:00:00:29");
  EXPECT_EQ(Show(FramesToTimeCode(30, 29.97)), "00:00:01:00");
  EXPECT_EQ(Show(FramesToTimeCode(25, 25)), "00:00:01:00");
  EXPECT_EQ(Show(FramesToTimeCode(90000, 25)), "01:00:00:00");
  EXPECT_EQ(Show(FramesToTimeCode(107999, 30)), "00:59:59:29");
  EXPECT_EQ(TimeCodeToFrameCount(TC(1, 0, 0, 0), 29.97), 107892);
  EXPECT_EQ(TimeCodeToFrameCount(TC(0, 0, 1, 5), 25), 30);
  EXPECT_TRUE(FramesToTimeCode(-1, 25).IsZero());
  EXPECT_TRUE(FramesToTimeCode(100, 0).IsZero());
}

TEST(TimeCodeFrames, RoundTripAtDiscRates) {
  for (double rate : {25.0, 29.97, 30.0}) {
    const int64_t perSecond = rate == 25 ? 25 : 30;
    for (int64_t f = 0; f < 400000; ++f) {
      const TTimeCode t = FramesToTimeCode(f, rate);
      ASSERT_LT(t.Frames, perSecond) << rate << " " << f;
      ASSERT_LT(t.Seconds, 60);
      ASSERT_LT(t.Minutes, 60);
      ASSERT_EQ(TimeCodeToFrameCount(t, rate), f) << rate << " " << Show(t);
    }
  }
}

TEST(TimeCodeFrames, AgreesWithHundredthsSplitExceptOnHalfFrames) {
  for (int hundredths : {2500, 2997, 3000}) {
    for (int64_t f = 0; f < 400000; ++f) {
      if ((f * 100 % hundredths) % 100 == 50) continue;
      ASSERT_EQ(FramesToTimeCode(f, hundredths / 100.0), HundredthsSplit(f, hundredths)) << hundredths << " " << f;
    }
  }
}

TEST(TimeCodeFrames, SecondsStartingOnAHalfFrame) {
  // 50 s at 29.97 is frame 1498.5, which rounds to 1498 (halves to even): the
  // next frames are frames 1, 2, 3 of that second, each with its own code.
  EXPECT_EQ(Show(FramesToTimeCode(1498, 29.97)), "00:00:49:29");
  EXPECT_EQ(Show(FramesToTimeCode(1499, 29.97)), "00:00:50:01");
  EXPECT_EQ(Show(FramesToTimeCode(1500, 29.97)), "00:00:50:02");
  EXPECT_EQ(Show(FramesToTimeCode(1501, 29.97)), "00:00:50:03");
  // 150 s is frame 4495.5, which rounds up to 4496.
  EXPECT_EQ(Show(FramesToTimeCode(4495, 29.97)), "00:02:29:29");
  EXPECT_EQ(Show(FramesToTimeCode(4496, 29.97)), "00:02:30:00");
  EXPECT_EQ(Show(FramesToTimeCode(4497, 29.97)), "00:02:30:01");
}

TEST(TimeCodeFrames, ProjectRateFamily) {
  double rate = 25;
  EXPECT_EQ(TimecodeToFrames(rate, TC(0, 0, 2, 3)), 53);
  EXPECT_EQ(FramesToTimecode(rate, 53), TC(0, 0, 2, 3));
  EXPECT_EQ(TimecodeToFramesAt(TC(0, 0, 2, 3), 30), 63);
  EXPECT_EQ(FramesToTimecodeAt(63, 30), TC(0, 0, 2, 3));
  rate = 29.97;
  // Differences count whole frames at the whole-number rate.
  EXPECT_EQ(TimecodeDifference(rate, TC(0, 1, 0, 0), TC(0, 0, 30, 15)), TC(0, 0, 29, 15));
  EXPECT_TRUE(TimecodeDifference(rate, TC(0, 0, 1, 0), TC(0, 0, 2, 0)).IsZero());
}

// ---------------------------------------------------------------- arithmetic

TEST(TimeCodeArithmetic, AddCarries) {
  EXPECT_EQ(AddTimeCodes(TC(0, 0, 0, 24), TC(0, 0, 0, 1), 25), TC(0, 0, 1, 0));
  EXPECT_EQ(AddTimeCodes(TC(23, 59, 59, 24), TC(0, 0, 0, 1), 25), TC(24, 0, 0, 0));  // hours wrap at 60
  EXPECT_EQ(AddTimeCodes(TC(59, 59, 59, 24), TC(0, 0, 0, 1), 25), TC(0, 0, 0, 0));
  EXPECT_EQ(AddTimeCodes(TC(0, 0, 0, 29), TC(0, 0, 0, 1), 29.97), TC(0, 0, 1, 0));
  const double rate = 30;
  EXPECT_EQ(AddTimecodes(rate, TC(0, 0, 0, 29), TC(0, 0, 0, 29)), TC(0, 0, 1, 28));
}

TEST(TimeCodeArithmetic, AddAndStepsMatchFrameCountsAtWholeRates) {
  std::mt19937 rng(7);
  for (double rate : {25.0, 30.0}) {
    const int64_t dayFrames = static_cast<int64_t>(rate) * 86400;
    std::uniform_int_distribution<int64_t> half(0, dayFrames / 2 - 1);
    for (int i = 0; i < 20000; ++i) {
      const int64_t a = half(rng), b = half(rng);
      const TTimeCode ta = FramesToTimeCode(a, rate), tb = FramesToTimeCode(b, rate);
      ASSERT_EQ(AddTimeCodes(ta, tb, rate), FramesToTimeCode(a + b, rate));
      TTimeCode step = ta;
      TimeCodeStepForward(step, rate);
      ASSERT_EQ(step, FramesToTimeCode(a + 1, rate));
      TimeCodeStepBack(step, rate);
      ASSERT_EQ(step, ta);
    }
  }
}

TEST(TimeCodeArithmetic, StepEnds) {
  TTimeCode t = TC(23, 59, 59, 29);
  TimeCodeStepForward(t, 30);
  EXPECT_EQ(t, TC(0, 0, 0, 0));
  t = TC(0, 0, 0, 0);
  TimeCodeStepBack(t, 25);
  EXPECT_EQ(t, TC(0, 59, 59, 24));  // hours stop at 0
  t = TC(1, 0, 0, 0);
  TimeCodeStepBack(t, 25);
  EXPECT_EQ(t, TC(0, 59, 59, 24));
  t = TC(0, 0, 1, 0);
  TimeCodeStepBack(t, 29.97);
  EXPECT_EQ(t, TC(0, 0, 0, 29));
  double rate = 25;
  t = TC(0, 0, 0, 24);
  IncTimecodeFrame(rate, t);
  EXPECT_EQ(t, TC(0, 0, 1, 0));
  DecTimecodeFrame(rate, t);
  EXPECT_EQ(t, TC(0, 0, 0, 24));
}

TEST(TimeCodeArithmetic, Scale) {
  EXPECT_TRUE(ScaleTimeCode(TC(0, 0, 0, 0), 1.001, 30).IsZero());
  // 1800 frames x 1.001 - 1 = 1800.8, the last frame of the stretched length.
  EXPECT_EQ(ScaleTimeCode(TC(0, 1, 0, 0), 1.001, 30), TC(0, 1, 0, 1));
  EXPECT_EQ(ScaleTimeCode(TC(0, 0, 0, 1), 1.0, 25), TC(0, 0, 0, 0));
}

// ---------------------------------------------------------------- milliseconds

TEST(TimeCodeMilliseconds, RoundTripAtDiscRates) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> jitter(-0.4, 0.4);
  for (int64_t f = 0; f < 3 * 3600 * 25; f += 7) {
    ASSERT_EQ(MillisecondsToTimecode(f * 40.0 + jitter(rng) * 40, 25), FramesToTimeCode(f, 25)) << f;
  }
  for (int64_t f = 0; f < 3 * 3600 * 30; f += 7) {
    ASSERT_EQ(MillisecondsToTimecode(f * 1000.0 / 30, 30), FramesToTimeCode(f, 30)) << f;
    // At 29.97 the clock runs 0.1 % slow: the frames are counted thirty to a second.
    ASSERT_EQ(MillisecondsToTimecode(f * 1000.0 / 29.97, 29.97), FramesToTimeCode(f, 30)) << f;
  }
}

TEST(TimeCodeMilliseconds, HalfAMillisecondIsAddedFirst) {
  EXPECT_EQ(MillisecondsToTimecode(20, 25), TC(0, 0, 0, 1));
  EXPECT_EQ(MillisecondsToTimecode(60, 25), TC(0, 0, 0, 2));
  EXPECT_EQ(MillisecondsToTimecode(100, 25), TC(0, 0, 0, 3));
  EXPECT_EQ(MillisecondsToTimecode(50, 30), TC(0, 0, 0, 2));
  EXPECT_EQ(MillisecondsToTimecode(150, 30), TC(0, 0, 0, 4));
  EXPECT_EQ(MillisecondsToTimecode(1000.5, 30), TC(0, 0, 1, 0));
}

TEST(TimeCodeMilliseconds, CarriesOnceFromOneRoundedValue) {
  // Just under an hour: the carry reaches the hours instead of losing them.
  EXPECT_EQ(MillisecondsToTimecode(3599999.4, 30), TC(1, 0, 0, 0));
  EXPECT_EQ(MillisecondsToTimecode(3599999.9, 25), TC(1, 0, 0, 0));
  // Just under two seconds: one second is added, not two.
  EXPECT_EQ(MillisecondsToTimecode(1999.3, 25), TC(0, 0, 2, 0));
  EXPECT_EQ(MillisecondsToTimecode(1999.6, 25), TC(0, 0, 2, 0));
  EXPECT_EQ(MillisecondsToTimecode(5980.0, 30), TC(0, 0, 5, 29));
  EXPECT_EQ(MillisecondsToTimecode(5983.0, 30), TC(0, 0, 6, 0));
  EXPECT_EQ(MillisecondsToTimecode(5990.0, 30), TC(0, 0, 6, 0));
  EXPECT_EQ(MillisecondsToTimecode(-40, 25), TC(0, 0, 0, 1));
}

TEST(TimeCodeMilliseconds, FieldRateCarriesAtItsOwnRate) {
  EXPECT_EQ(MillisecondsToTimecode(500, 50), TC(0, 0, 0, 12));
  EXPECT_EQ(MillisecondsToTimecode(990, 50), TC(0, 0, 1, 0));
  EXPECT_EQ(MillisecondsToTimecode(59990, 50), TC(0, 1, 0, 0));
  EXPECT_EQ(MillisecondsToTimecode(1000, 25), TC(0, 0, 1, 0));
}

// ---------------------------------------------------------------- samples

TEST(TimeCodeSamples, FrameHoldingThePosition) {
  EXPECT_EQ(SamplesToTimeCode(false, 25, 48000, 48000 * 10), TC(0, 0, 9, 24));
  EXPECT_EQ(SamplesToTimeCode(false, 25, 48000, 48000 * 10 + 1920), TC(0, 0, 10, 0));
  EXPECT_EQ(SamplesToTimeCode(false, 25, 48000, 0), TC(0, 0, 0, 0));  // frame -1 shows as the first
  EXPECT_EQ(SamplesToTimeCodeInt(48048, 30, 48048 * 2), TC(0, 0, 1, 29));
  EXPECT_EQ(SamplesToTimeCode(false, 29.97, 48000, 96096), TC(0, 0, 1, 29));
  // Exact: 60 frames in two seconds at 29.97, then three frames of 1601.6 samples.
  EXPECT_EQ(SamplesToTimeCode(true, 29.97, 48000, 96000 + 4805), TC(0, 0, 2, 2));
  EXPECT_TRUE(SamplesToTimeCode(false, 24, 48000, 480000).IsZero());
  EXPECT_TRUE(SamplesToTimeCode(false, 25, 0, 480000).IsZero());
}

// ---------------------------------------------------------------- 90 kHz

TEST(NinetyKilohertz, PesStamps) {
  std::mt19937_64 rng(11);
  for (int i = 0; i < 10000; ++i) {
    const uint64_t t = rng() & 0x1FFFFFFFFull;
    const auto b = EncodePts(t);
    ASSERT_EQ(PtsToTicks(b.data()), t);
    ASSERT_EQ(PtsToLow32(b.data()), static_cast<uint32_t>(t));
    ASSERT_DOUBLE_EQ(PtsToMilliseconds(b.data()), static_cast<double>(t) / 90.0);
  }
  const auto top = EncodePts(0x100000000ull);
  EXPECT_GE(PtsToMilliseconds(top.data()), 47721858.8);
  EXPECT_EQ(PtsToLow32(top.data()), 0u);
  // Marker bits do not count.
  const uint8_t markers[5] = {0xFF & ~0x0E, 0x00, 0x01, 0x00, 0x01};
  EXPECT_EQ(PtsToTicks(markers), 0u);
}

TEST(NinetyKilohertz, TicksAndBytes) {
  const uint8_t oneSecond[4] = {0x00, 0x01, 0x5F, 0x90};
  EXPECT_DOUBLE_EQ(TicksToMilliseconds(oneSecond), 1000.0);
  const uint8_t bytes[5] = {0x12, 0x34, 0x56, 0x78, 0x9A};
  EXPECT_EQ(ReadBigEndian(1, 3, bytes), 0x345678u);
  EXPECT_EQ(ReadBigEndian(0, 0, bytes), 0u);
  EXPECT_EQ(GetByteAt(4, bytes), 0x9A);
}

// ---------------------------------------------------------------- texts

TEST(TimeCodeTexts, Forms) {
  const TTimeCode t = TC(1, 2, 3, 4);
  EXPECT_EQ(TimeCodeToText(t), "01:02:03.04");
  EXPECT_EQ(TimeCodeWithRateText(t, 29.97), "01:02:03.04 (29.97 fps)");
  EXPECT_EQ(TimeCodeWithRateText(t, 25), "01:02:03.04 (25 fps)");
  EXPECT_EQ(TimeCodeWithRateText(t, 30), "01:02:03.04 (30 fps)");
  EXPECT_EQ(TimeCodeWithStandardText(t, 30), "01:02:03.04 (NTSC)");
  EXPECT_EQ(TimeCodeWithStandardText(t, 25), "01:02:03.04 (PAL)");
  EXPECT_EQ(TimecodeToString(t, '.'), "01:02:03.04");
  double rate = 25;
  EXPECT_EQ(TimecodeToStringRate(rate, t), "01:02:03;04");
  EXPECT_EQ(TimecodeWithRateText(rate, t), "01:02:03.04 (25 fps)");
  rate = 29.97;
  EXPECT_EQ(TimecodeToStringRate(rate, t), "01:02:03:04");
  rate = 30;
  EXPECT_EQ(TimecodeToStringRate(rate, t), "01:02:03:04");
  EXPECT_EQ(TimeCodeToText(TC(123, 0, 0, 0)), "123:00:00.00");
}

TEST(TimeCodeTexts, FrameRates) {
  EXPECT_EQ(FrameRateToText(29.97), "29.97");
  EXPECT_EQ(FrameRateToText(25), "25");
  EXPECT_EQ(FrameRateToText(29.5), "30");  // halves to even
  EXPECT_EQ(FrameRateToText(28.5), "28");
  EXPECT_EQ(FrameRateToText(7), "7");
}

}  // namespace
}  // namespace tess::core
