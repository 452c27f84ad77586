// The reading-to-temperature conversion and the change flag, driven through process().
#include <cmath>
#include <cstring>
#include <limits>

#include "devices/velk_temperature.h"
#include "test_support.h"

namespace {

using velk_test::CapturedStdout;

// The conversion worked out in double precision, rounding to single precision after each
// step as the device must. Double has more than twice the bits of float, so each rounded
// step equals the correctly rounded single-precision operation; a build that fuses the
// multiply and subtract, or keeps excess precision, disagrees somewhere in the sweep.
float ExpectedTemperature(int raw) {
  double t = static_cast<float>(static_cast<double>(raw) * 5.0);
  t = static_cast<float>(t / 10000.0);
  t = static_cast<float>(t * 120.0);
  t = static_cast<float>(t - 40.0);
  if (t > 80.0) return 80.0f;
  if (t < -40.0) return -40.0f;
  return static_cast<float>(t);
}

// No recorder: the sweep runs 65536 rounds, and their host calls are not what is checked here.
class ConversionTest : public ::testing::Test {
 protected:
  VelkTemperature device_;
};

TEST_F(ConversionTest, EveryRawReadingConvertsStepByStepAndLandsInTheRecord) {
  CapturedStdout out;
  int mismatches = 0;
  for (int raw = std::numeric_limits<short>::min(); raw <= std::numeric_limits<short>::max();
       ++raw) {
    device_.value_ = 20.0f;
    const float expected = ExpectedTemperature(raw);
    const float returned = device_.process(static_cast<short>(raw));
    float in_record;
    std::memcpy(&in_record, reinterpret_cast<const unsigned char*>(&device_.data_) + 4, 4);
    // Exact comparisons: every bit of the result is specified.
    const bool ok = returned == expected && device_.value_ == expected && in_record == expected &&
                    device_.changed_ == (std::fabs(expected - 20.0) >= 2.0);
    if (!ok && ++mismatches <= 5) {
      ADD_FAILURE() << "raw " << raw << ": returned " << returned << ", value_ " << device_.value_
                    << ", record " << in_record << ", expected " << expected << ", changed_ "
                    << device_.changed_;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST_F(ConversionTest, ConversionStaysCloseToTheNominalSlopeInsideTheRange) {
  // Guards the constants: 0.06 degrees per count from -40 at count 0.
  CapturedStdout out;
  for (int raw = 0; raw <= 2000; ++raw) {
    const float t = device_.process(static_cast<short>(raw));
    EXPECT_NEAR(t, raw * 0.06 - 40.0, 1e-4) << "raw " << raw;
  }
}

struct KnownReading {
  short raw;
  float expected;
};

TEST_F(ConversionTest, KnownReadingsAndClamps) {
  const KnownReading cases[] = {
      {0, -40.0f},    {1000, 20.0f}, {1500, 50.0f},    {2000, 80.0f}, {1999, 79.94f}, {2001, 80.0f},
      {32767, 80.0f}, {-1, -40.0f},  {-32768, -40.0f}, {700, 2.0f},   {1, -39.94f},   {-2, -40.0f},
  };
  CapturedStdout out;
  for (const KnownReading& c : cases) {
    EXPECT_FLOAT_EQ(device_.process(c.raw), c.expected) << "raw " << c.raw;
  }
  // Exact where the steps are exact.
  EXPECT_EQ(device_.process(1000), 20.0f);
  EXPECT_EQ(device_.process(2001), 80.0f);
  EXPECT_EQ(device_.process(-32768), -40.0f);
}

struct ChangeCase {
  float previous;
  short raw;
  bool changed;
};

TEST_F(ConversionTest, ChangeFlagIsSetByAMoveOfAtLeastTheStep) {
  const ChangeCase cases[] = {
      {0.0f, 700, true},      // converts to exactly 2.0: the step is inclusive
      {0.0f, 699, false},     // 1.94
      {20.0f, 1033, false},   // 21.98
      {20.0f, 1034, true},    // 22.04
      {20.0f, 967, false},    // 18.02
      {20.0f, 966, true},     // 17.96
      {80.0f, 32767, false},  // clamped to where it was
      {-40.0f, 2000, true},
  };
  CapturedStdout out;
  for (const ChangeCase& c : cases) {
    device_.value_ = c.previous;
    device_.changed_ = !c.changed;
    device_.process(c.raw);
    EXPECT_EQ(device_.changed_, c.changed) << "from " << c.previous << " raw " << c.raw;
  }
}

TEST_F(ConversionTest, SecondIdenticalReadingClearsTheChangeFlag) {
  CapturedStdout out;
  device_.value_ = 0.0f;
  device_.process(1500);
  EXPECT_TRUE(device_.changed_);
  device_.process(1500);
  EXPECT_FALSE(device_.changed_);
}

TEST_F(ConversionTest, EachReadingIsLoggedBeforeItsRound) {
  CapturedStdout out;
  device_.process(-32768);
  device_.process(1234);
  EXPECT_EQ(out.Text(),
            "VelkTemperature process -32768\nrvSize is 1\n"
            "VelkTemperature process 1234\nrvSize is 1\n");
}

}  // namespace
