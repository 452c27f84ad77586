// One round per reading: which host calls it makes, in which order, with which arguments,
// and what it does with their results and failures.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <boost/date_time/posix_time/conversion.hpp>
#include <boost/date_time/posix_time/time_formatters.hpp>

#include "devices/velk_temperature.h"
#include "test_support.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using velk_test::CapturedStdout;
using velk_test::JournalLines;

// 20.0f is 0x41a00000: the value field holds it little-endian at bytes 4 to 7.
const char kPublish20[] =
    R"({"call":"SendSP","data_id":7,"length":15,"publish":false,"record":"070000000000a041~",)"
    R"("sp_id":5529,"value":20.0})";
const char kSave20[] =
    R"({"call":"SaveDeviceHistory","data_id":7,"length":15,"record":"070000000000a041~",)"
    R"("value":20.0})";
const char kTime[] = R"({"call":"get_ttime"})";
const char kReset[] = R"({"call":"Reset"})";
const char kOwnRule20[] =
    R"({"call":"CheckThreshold","key":"value","level":1,"name":"温度","value":20.0})";

class RoundTest : public velk_test::JournalTest {
 protected:
  RoundTest() {
    device_.data_.id = 7;
    device_.data_id_ = 7;
  }
  VelkTemperature device_;
};

TEST_F(RoundTest, ReadingRunsTheWholeRoundInOrder) {
  device_.round_state_ = 0;
  device_.data_ready_ = false;
  bool ready_at_publish = false;
  journal().OnCall("SendSP", [&](DranVDevice& d) { ready_at_publish = d.data_ready_; });
  CapturedStdout out;
  EXPECT_EQ(device_.process(1000), 20.0f);

  EXPECT_THAT(
      JournalLines(),
      ElementsAre(kTime, kPublish20, kReset, kOwnRule20,
                  R"({"call":"DoBatchCheckThreshold","result":false,"rules":["value"]})", kSave20));
  EXPECT_EQ(out.Text(), "VelkTemperature process 1000\nrvSize is 1\n");
  EXPECT_THAT(out.UnflushedLines(), IsEmpty()) << "log lines end with std::endl";
  EXPECT_EQ(device_.round_state_, 1);
  EXPECT_TRUE(ready_at_publish) << "the host's publish must see a ready device";
  EXPECT_TRUE(device_.rule_values_.empty());
}

// The process's time zone, as a POSIX TZ string that needs no zone files, for as long as this
// lives; the previous zone comes back even when a check fails.
class TimeZoneScope {
 public:
  explicit TimeZoneScope(const char* zone) {
    if (const char* previous = std::getenv("TZ")) previous_ = previous;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TimeZoneScope() {
    if (previous_) {
      setenv("TZ", previous_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  TimeZoneScope(const TimeZoneScope&) = delete;
  TimeZoneScope& operator=(const TimeZoneScope&) = delete;

 private:
  std::optional<std::string> previous_;
};

// Every field, so all 7 bytes, in the form Boost gives a time: a byte left unwritten shows.
std::string TimeText(const ttime& time) {
  char text[40];
  std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02u", unsigned{time.year},
                unsigned{time.month}, unsigned{time.day}, unsigned{time.hour},
                unsigned{time.minute}, unsigned{time.second});
  return text;
}

TEST_F(RoundTest, PublishAndHistoryCarryTheSameRecordStampedWithTheLocalTimeOfTheRound) {
  // East and west of UTC, so that neither the universal time nor a one-sided bound passes.
  const struct {
    const char* tz;
    long utc_offset;  // seconds the zone's clocks are ahead of UTC
  } zones[] = {{"VLK-5", 5 * 3600}, {"VLK+7", -7 * 3600}};
  for (const auto& zone : zones) {
    const TimeZoneScope in_zone(zone.tz);
    journal().Clear();
    // No real time has these bytes, so a byte the round leaves unwritten cannot match.
    std::memset(&device_.data_.time, 0xff, sizeof(device_.data_.time));
    CapturedStdout out;
    const std::time_t before = std::time(nullptr);
    device_.process(1500);
    const std::time_t after = std::time(nullptr);

    // Local time worked out from the zone's offset, without the C library's zone handling.
    const auto earliest = boost::posix_time::from_time_t(before + zone.utc_offset);
    const auto latest = boost::posix_time::from_time_t(after + zone.utc_offset);
    EXPECT_TRUE(earliest <= device_.last_time_ && device_.last_time_ <= latest)
        << zone.tz << ": last_time_ " << to_simple_string(device_.last_time_) << ", wall clock "
        << to_simple_string(earliest) << " to " << to_simple_string(latest);
    EXPECT_EQ(TimeText(device_.data_.time), to_iso_extended_string(device_.last_time_)) << zone.tz;

    const auto& calls = journal().Calls();
    ASSERT_EQ(calls.size(), 6u) << zone.tz;
    EXPECT_EQ(calls[1]["record"].asString(), velk_test::HexOf(device_.data_)) << zone.tz;
    EXPECT_EQ(calls[5]["record"], calls[1]["record"]) << zone.tz;
  }
}

// A device class that overrides the publish, the reset and the threshold hook, as a device of
// the daemon's may. Each override only notes its call in the journal; the hook queues no rule.
class OverridingDevice : public VelkTemperature {
 public:
  // In the result types that the host's header gives the two operations.
  using SendSPResult = decltype(std::declval<DranVDevice&>().SendSP(0, nullptr, 0u, false));
  using ResetResult = decltype(std::declval<DranVDevice&>().Reset());

  SendSPResult SendSP(int, const unsigned char*, unsigned int, bool) override {
    Note("override SendSP");
    return SendSPResult();
  }
  ResetResult Reset() override {
    Note("override Reset");
    return ResetResult();
  }
  void RunCheckThreshold() override { Note("override RunCheckThreshold"); }

 private:
  static void Note(const char* call) {
    standin::Event event(call);
    standin::Recorder::Current()->Write(event.Line());
  }
};

TEST_F(RoundTest, OverriddenResetAndHookRunButThePublishStaysOnTheHostBase) {
  OverridingDevice device;
  device.data_.id = 7;
  CapturedStdout out;
  device.process(1000);
  EXPECT_THAT(
      JournalLines(),
      ElementsAre(kTime, kPublish20, R"({"call":"override Reset"})",
                  R"({"call":"override RunCheckThreshold"})",
                  R"({"call":"DoBatchCheckThreshold","result":false,"rules":[]})", kSave20));
}

TEST_F(RoundTest, EmptyRuleQueueIsStillCountedAndEvaluated) {
  OverridingDevice device;
  journal().QueueBatchResults({true});
  CapturedStdout out;
  device.process(1000);
  EXPECT_EQ(out.Text(), "VelkTemperature process 1000\nrvSize is 0\n");
  EXPECT_EQ(journal().CallNames()[4], "DoBatchCheckThreshold");
  EXPECT_TRUE(device.need_report_) << "the empty batch's result counts";
}

TEST_F(RoundTest, ProcessReturnsTheValueAsTheRoundLeavesIt) {
  journal().OnCall("SaveDeviceHistory",
                   [](DranVDevice& d) { static_cast<DranAIDevice&>(d).value_ = 55.5f; });
  CapturedStdout out;
  EXPECT_EQ(device_.process(1000), 55.5f);
  EXPECT_EQ(velk_test::HexOf(device_.data_).substr(8, 8), "0000a041")
      << "the record keeps the converted reading";
}

TEST_F(RoundTest, KeyWalkChecksEveryKeyWithAValueAndSkipsTheOthers) {
  device_.ao_keys_ = {"b", "missing", "a", "b"};
  device_.ao_values_ = {{"a", 1.5f}, {"b", -2.25f}};
  CapturedStdout out;
  device_.process(1000);

  EXPECT_THAT(
      JournalLines(),
      ElementsAre(
          kTime, kPublish20, kReset, kOwnRule20,
          R"({"call":"CheckAOReport","key":"b","result":false,"value":-2.25})",
          R"({"call":"CheckThreshold","key":"b","level":1,"name":"","value":-2.25})",
          R"({"call":"CheckAOReport","key":"a","result":false,"value":1.5})",
          R"({"call":"CheckThreshold","key":"a","level":1,"name":"","value":1.5})",
          R"({"call":"CheckAOReport","key":"b","result":false,"value":-2.25})",
          R"({"call":"CheckThreshold","key":"b","level":1,"name":"","value":-2.25})",
          R"({"call":"DoBatchCheckThreshold","result":false,"rules":["value","b","a","b"]})",
          kSave20));
  EXPECT_EQ(out.Lines().back(), "rvSize is 4");
  EXPECT_EQ(device_.ao_values_.count("missing"), 0u) << "a key without a value must not be entered";
  EXPECT_EQ(device_.ao_values_.size(), 2u);
}

TEST_F(RoundTest, KeyRemovedByTheHostDuringItsReportCheckIsEnteredAgainAtZero) {
  device_.ao_keys_ = {"gone"};
  device_.ao_values_ = {{"gone", 9.5f}};
  journal().OnCall("CheckAOReport", [](DranVDevice& d) { d.ao_values_.erase("gone"); });
  CapturedStdout out;
  device_.process(1000);

  const auto lines = JournalLines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[4], R"({"call":"CheckAOReport","key":"gone","result":false,"value":9.5})");
  EXPECT_EQ(lines[5], R"({"call":"CheckThreshold","key":"gone","level":1,"name":"","value":0.0})");
  ASSERT_EQ(device_.ao_values_.count("gone"), 1u);
  EXPECT_EQ(device_.ao_values_["gone"], 0.0f);
}

struct ReportCase {
  const char* name;
  bool stale;                 // need_report_ left by the previous round
  std::vector<bool> reports;  // CheckAOReport results for keys k1, k2
  bool batch;
  bool expected;
};

TEST_F(RoundTest, NeedReportIsRaisedOnlyByThisRoundsReportChecksAndBatch) {
  const ReportCase cases[] = {
      {"nothing fires, stale true is cleared", true, {false, false}, false, false},
      {"first report fires, second still checked", false, {true, false}, false, true},
      {"second report fires", false, {false, true}, false, true},
      {"batch alone", false, {false, false}, true, true},
      {"batch after a report", true, {true, true}, true, true},
  };
  for (const ReportCase& c : cases) {
    journal().Clear();
    device_.ao_keys_ = {"k1", "k2"};
    device_.ao_values_ = {{"k1", 1.0f}, {"k2", 2.0f}};
    device_.need_report_ = c.stale;
    journal().QueueReportResults(c.reports);
    journal().QueueBatchResults({c.batch});
    CapturedStdout out;
    device_.process(1000);
    EXPECT_EQ(device_.need_report_, c.expected) << c.name;
    const auto names = journal().CallNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "CheckAOReport"), 2) << c.name;
    EXPECT_EQ(std::count(names.begin(), names.end(), "DoBatchCheckThreshold"), 1) << c.name;
  }
}

TEST_F(RoundTest, HostFailureMidRoundStopsTheRoundAndKeepsTheQueuedRules) {
  device_.ao_keys_ = {"a"};
  device_.ao_values_ = {{"a", 3.0f}};
  journal().ThrowOn("CheckAOReport");
  {
    CapturedStdout out;
    EXPECT_THROW(device_.process(1000), std::runtime_error);
    EXPECT_EQ(out.Text(), "VelkTemperature process 1000\n") << "no rvSize line after a failure";
  }
  EXPECT_THAT(journal().CallNames(),
              ElementsAre("get_ttime", "SendSP", "Reset", "CheckThreshold", "CheckAOReport"));
  EXPECT_EQ(device_.value_, 20.0f) << "the value is stored before the round";
  ASSERT_EQ(device_.rule_values_.size(), 1u);
  EXPECT_EQ(device_.rule_values_[0].key, "value");

  // The next round evaluates what the failed one queued, together with its own rules.
  journal().Clear();
  CapturedStdout out;
  device_.process(1500);
  EXPECT_EQ(out.Lines().back(), "rvSize is 3");
  const auto lines = JournalLines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[6],
            R"({"call":"DoBatchCheckThreshold","result":false,"rules":["value","value","a"]})");
  EXPECT_EQ(journal().CallNames().back(), "SaveDeviceHistory");
  EXPECT_TRUE(device_.rule_values_.empty());
}

TEST_F(RoundTest, FailureOfTheResetLeavesRoundStateAndLaterStepsUndone) {
  device_.round_state_ = 5;
  device_.need_report_ = true;
  journal().ThrowOn("Reset");
  CapturedStdout out;
  EXPECT_THROW(device_.process(1000), std::runtime_error);
  EXPECT_THAT(journal().CallNames(), ElementsAre("get_ttime", "SendSP", "Reset"));
  EXPECT_EQ(device_.round_state_, 5);
  EXPECT_TRUE(device_.need_report_);
}

TEST_F(RoundTest, FailedHistorySaveLeavesTheRulesForTheNextRound) {
  journal().ThrowOn("SaveDeviceHistory");
  CapturedStdout out;
  EXPECT_THROW(device_.process(1000), std::runtime_error);
  EXPECT_EQ(device_.rule_values_.size(), 1u);
  EXPECT_EQ(journal().CallNames().back(), "SaveDeviceHistory");
}

}  // namespace
