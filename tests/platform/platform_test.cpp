#include <gtest/gtest.h>

#include "platform/rounding.h"

namespace tess::platform {
namespace {

TEST(Rounding, HalvesGoToEven) {
  EXPECT_EQ(RoundEven(0.5), 0);
  EXPECT_EQ(RoundEven(1.5), 2);
  EXPECT_EQ(RoundEven(2.5), 2);
  EXPECT_EQ(RoundEven(-0.5), 0);
  EXPECT_EQ(RoundEven(-1.5), -2);
  EXPECT_EQ(RoundEven(29.5), 30);
  EXPECT_EQ(RoundEven(2.4999), 2);
}

}  // namespace
}  // namespace tess::platform
