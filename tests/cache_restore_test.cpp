// Restoring a cached record: only a whole 15-byte record is taken, and it runs a round.
#include <climits>
#include <cstdint>
#include <string>

#include "devices/velk_temperature.h"
#include "test_support.h"

namespace {

using velk_test::CapturedStdout;
using velk_test::HexOf;

// Identifier 0x01020304, value 55.5f (0x425e0000), and a time that the restore replaces.
const unsigned char kCached[15] = {0x04, 0x03, 0x02, 0x01, 0x00, 0x00, 0x5e, 0x42,
                                   0xd0, 0x07, 0x01, 0x01, 0x00, 0x00, 0x00};

class CacheRestoreTest : public velk_test::JournalTest {
 protected:
  CacheRestoreTest() {
    device_.data_.id = 9;
    device_.data_ready_ = false;
    device_.value_ = 12.5f;
    device_.changed_ = true;
  }

  void ExpectUntouched(const std::string& record_before) {
    EXPECT_EQ(HexOf(device_.data_), record_before);
    EXPECT_FALSE(device_.data_ready_);
    EXPECT_TRUE(device_.last_time_.is_not_a_date_time());
    EXPECT_TRUE(journal().Calls().empty());
  }

  VelkTemperature device_;
};

TEST_F(CacheRestoreTest, WholeRecordIsTakenAndPublishedWithTheTimeOfTheRestore) {
  CapturedStdout out;
  EXPECT_TRUE(device_.LoadFromCache(kCached, 15));

  const std::string record = HexOf(device_.data_);
  EXPECT_EQ(record.substr(0, 16), "0403020100005e42");
  EXPECT_NE(record.substr(16), "d0070101000000") << "the cached time is replaced";
  EXPECT_TRUE(device_.data_ready_);
  EXPECT_EQ(device_.value_, 12.5f) << "a restore does not touch value_";
  EXPECT_TRUE(device_.changed_);
  EXPECT_EQ(out.Text(), "rvSize is 1\n");
  EXPECT_THAT(journal().CallNames(),
              ::testing::ElementsAre("get_ttime", "SendSP", "Reset", "CheckThreshold",
                                     "DoBatchCheckThreshold", "SaveDeviceHistory"));
  const auto& calls = journal().Calls();
  EXPECT_EQ(calls[1]["record"].asString(), record);
  EXPECT_EQ(calls[1]["data_id"].asUInt(), 0x01020304u);
  EXPECT_EQ(calls[1]["value"].asFloat(), 55.5f);
  // The device's own rule still sees the value it held before the restore.
  EXPECT_EQ(calls[3]["value"].asFloat(), 12.5f);
  EXPECT_EQ(calls[5]["record"].asString(), record);
}

TEST_F(CacheRestoreTest, AnyOtherLengthIsRefusedAndChangesNothing) {
  const std::string before = HexOf(device_.data_);
  const int lengths[] = {-1, 0, 14, 16, INT_MIN, INT_MAX};
  unsigned char buffer[32] = {0xff};
  CapturedStdout out;
  for (int length : lengths) {
    // Only lengths up to the buffer are ever read; the others must not be read at all.
    EXPECT_FALSE(device_.LoadFromCache(buffer, length)) << "length " << length;
  }
  ExpectUntouched(before);
  EXPECT_EQ(out.Text(), "");
}

TEST_F(CacheRestoreTest, NullBufferOfRecordLengthIsRefused) {
  const std::string before = HexOf(device_.data_);
  CapturedStdout out;
  EXPECT_FALSE(device_.LoadFromCache(nullptr, 15));
  ExpectUntouched(before);
  EXPECT_EQ(out.Text(), "");
}

TEST_F(CacheRestoreTest, StringFormIsAByteBufferWithEmbeddedZeros) {
  const std::string cached(reinterpret_cast<const char*>(kCached), sizeof(kCached));
  ASSERT_EQ(cached.size(), 15u);
  ASSERT_NE(cached.find('\0'), std::string::npos);
  CapturedStdout out;
  VDeviceInterface& device = device_;
  EXPECT_TRUE(device.LoadFromCache(cached));
  EXPECT_EQ(HexOf(device_.data_).substr(0, 16), "0403020100005e42");
  EXPECT_TRUE(device_.data_ready_);
}

TEST_F(CacheRestoreTest, StringFormRefusesOtherLengths) {
  const std::string before = HexOf(device_.data_);
  const std::string wrong[] = {"", std::string(14, '\0'), std::string(16, 'x')};
  CapturedStdout out;
  for (const std::string& bytes : wrong) {
    EXPECT_FALSE(device_.LoadFromCache(bytes)) << "length " << bytes.size();
  }
  ExpectUntouched(before);
}

// The string form hands its length on as an int: a length that the int cannot hold is refused
// first, where the conversion would wrap it (2^32 + 15 bytes would pass for a whole record).
// Asserted on the decision itself: a string that long takes 4 GiB.
TEST(CacheLengthTest, OnlyLengthsAnIntHoldsAreHandedOn) {
  EXPECT_TRUE(VDeviceInterface::FitsCacheLength(15));
  EXPECT_TRUE(VDeviceInterface::FitsCacheLength(static_cast<std::size_t>(INT_MAX)));
  if (static_cast<std::uintmax_t>(INT_MAX) < SIZE_MAX) {
    EXPECT_FALSE(VDeviceInterface::FitsCacheLength(static_cast<std::size_t>(INT_MAX) + 1));
  }
  const std::uint64_t wraps_to_a_record = (std::uint64_t{1} << 32) + 15;
  if (wraps_to_a_record <= SIZE_MAX) {
    EXPECT_FALSE(VDeviceInterface::FitsCacheLength(static_cast<std::size_t>(wraps_to_a_record)));
  }
}

TEST_F(CacheRestoreTest, FailedRoundAfterARestoreKeepsTheRestoredRecord) {
  journal().ThrowOn("SendSP");
  CapturedStdout out;
  EXPECT_THROW(device_.LoadFromCache(kCached, 15), std::runtime_error);
  EXPECT_EQ(HexOf(device_.data_).substr(0, 16), "0403020100005e42");
  EXPECT_TRUE(device_.data_ready_);
  EXPECT_THAT(journal().CallNames(), ::testing::ElementsAre("get_ttime", "SendSP"));
}

}  // namespace
