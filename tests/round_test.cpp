// One round per reading: which host calls it makes, in which order, with which arguments,
// and what it does with their results and failures.
#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

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
  CapturedStdout out;
  EXPECT_EQ(device_.process(1000), 20.0f);

  EXPECT_THAT(
      JournalLines(),
      ElementsAre(kTime, kPublish20, kReset, kOwnRule20,
                  R"({"call":"DoBatchCheckThreshold","result":false,"rules":["value"]})", kSave20));
  EXPECT_EQ(out.Text(), "VelkTemperature process 1000\nrvSize is 1\n");
  EXPECT_THAT(out.UnflushedLines(), IsEmpty()) << "log lines end with std::endl";
  EXPECT_EQ(device_.round_state_, 1);
  EXPECT_TRUE(device_.data_ready_);
  EXPECT_TRUE(device_.rule_values_.empty());
}

TEST_F(RoundTest, PublishAndHistoryCarryTheSameRecordStampedWithTheRoundsTime) {
  CapturedStdout out;
  device_.process(1500);
  const auto& calls = journal().Calls();
  ASSERT_EQ(calls.size(), 6u);
  const Json::Value& stamp = calls[0];
  const Json::Value& published = calls[1];
  const Json::Value& saved = calls[5];
  EXPECT_EQ(published["record"], saved["record"]);
  EXPECT_EQ(published["record"].asString(), velk_test::HexOf(device_.data_));
  EXPECT_EQ(published["time"], stamp["time"]);
  // The record's time is last_time_ as the host renders it.
  EXPECT_EQ(standin::FormatTime(get_ttime(device_.last_time_)), stamp["time"].asString());
  const auto now = boost::posix_time::second_clock::local_time();
  EXPECT_LE((now - device_.last_time_).total_seconds(), 5);
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
    standin::Recorder::Current()->Record(event, call, nullptr);
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
