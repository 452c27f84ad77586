// Settings loading: the whole log transcript of a configuration, what it leaves in the device's
// and the host's maps, and that the host's own settings handling runs last, once, on the same
// unchanged configuration, whatever shape that configuration has.
#include <climits>
#include <iterator>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include <json/reader.h>

#include "devices/velk_temperature.h"
#include "test_support.h"

namespace {

using ::testing::ElementsAre;
using velk_test::CapturedStdout;

Json::Value Parse(const std::string& text) {
  Json::Value value;
  std::string errors;
  const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
  EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &value, &errors))
      << text << ": " << errors;
  return value;
}

class SettingsTest : public velk_test::JournalTest {
 protected:
  SettingsTest() { device_.data_id_ = 17; }

  // Loads the configuration and returns everything written to standard output.
  std::string Load(const std::string& config_text) {
    const Json::Value config = Parse(config_text);
    CapturedStdout out;
    result_ = device_.InitSetting(config);
    return out.Text();
  }

  VelkTemperature device_;
  bool result_ = false;
};

struct TranscriptCase {
  const char* config;
  const char* transcript;
  int mode;  // b_mode_ afterwards, starting from the constructor's 1
};

// One call on a new device each: the identifier is stamped, the transcript is whole, the
// configuration is left as it was, and the host's handling runs exactly once.
void ExpectTranscripts(const TranscriptCase* begin, const TranscriptCase* end) {
  for (const TranscriptCase* c = begin; c != end; ++c) {
    velk_test::Journal journal;
    VelkTemperature device;
    device.data_id_ = 17;
    const Json::Value config = Parse(c->config);
    const Json::Value original = config;
    CapturedStdout out;
    EXPECT_TRUE(device.InitSetting(config)) << c->config;
    EXPECT_EQ(out.Text(), c->transcript) << c->config;
    EXPECT_THAT(out.UnflushedLines(), ::testing::IsEmpty()) << c->config;
    EXPECT_EQ(device.b_mode_, c->mode) << c->config;
    EXPECT_EQ(device.data_.id, 17u) << c->config;
    EXPECT_EQ(config, original) << c->config;
    EXPECT_THAT(journal.CallNames(), ElementsAre("InitSetting"))
        << c->config;
  }
}

TEST_F(SettingsTest, ModeIsReadFromAppSettingAsAtoiReadsItClampedToInt) {
  const TranscriptCase cases[] = {
      {"{}", "", 1},
      {"null", "", 1},
      {R"({"appSetting":{"b_mode":"2"},"thresholdSetting":{"t":{}}})", "InitSetting 17 b_mode_:2\n",
       2},
      {R"({"appSetting":{"b_mode":"abc"}})", "InitSetting 17 b_mode_:0\n", 0},
      {R"({"appSetting":{"b_mode":" 3x"}})", "InitSetting 17 b_mode_:3\nhere 1\n", 3},
      {R"({"appSetting":{"b_mode":3.0}})", "InitSetting 17 b_mode_:3\nhere 1\n", 3},
      {R"({"appSetting":{"b_mode":true}})", "InitSetting 17 b_mode_:0\n", 0},
      {R"({"appSetting":{"b_mode":"-7"}})", "InitSetting 17 b_mode_:-7\n", -7},
      {R"({"appSetting":{"b_mode":null}})", "", 1},
      {R"({"appSetting":{"mode":"3"}})", "", 1},
      {R"({"appSetting":"3","b_mode":"3"})", "", 1},
      {R"({"appSetting":[{"b_mode":"3"}]})", "", 1},
      {R"({"appSetting":{"b_mode":["3"]}})", "", 1},
      {R"({"appSetting":{"b_mode":{"v":"3"}}})", "", 1},
      // Beyond int: clamped, however the number is written.
      {R"({"appSetting":{"b_mode":"2147483647"}})", "InitSetting 17 b_mode_:2147483647\n", INT_MAX},
      {R"({"appSetting":{"b_mode":"2147483648"}})", "InitSetting 17 b_mode_:2147483647\n", INT_MAX},
      {R"({"appSetting":{"b_mode":"99999999999"}})", "InitSetting 17 b_mode_:2147483647\n",
       INT_MAX},
      {R"({"appSetting":{"b_mode":"-99999999999"}})", "InitSetting 17 b_mode_:-2147483648\n",
       INT_MIN},
      {R"({"appSetting":{"b_mode":"-2147483649"}})", "InitSetting 17 b_mode_:-2147483648\n",
       INT_MIN},
      {R"({"appSetting":{"b_mode":"123456789012345678901234567890"}})",
       "InitSetting 17 b_mode_:2147483647\n", INT_MAX},
      {R"({"appSetting":{"b_mode":99999999999}})", "InitSetting 17 b_mode_:2147483647\n", INT_MAX},
      {R"({"appSetting":{"b_mode":18446744073709551615}})", "InitSetting 17 b_mode_:2147483647\n",
       INT_MAX},
      {R"({"appSetting":{"b_mode":-1e12}})", "InitSetting 17 b_mode_:-2147483648\n", INT_MIN},
      // Decimal only: no hexadecimal prefix, and a leading zero is no octal.
      {R"({"appSetting":{"b_mode":"0000000000000000000000003"}})",
       "InitSetting 17 b_mode_:3\nhere 1\n", 3},
      {R"({"appSetting":{"b_mode":"0x3"}})", "InitSetting 17 b_mode_:0\n", 0},
      {R"({"appSetting":{"b_mode":"08"}})", "InitSetting 17 b_mode_:8\n", 8},
      {R"({"appSetting":{"b_mode":"010"}})", "InitSetting 17 b_mode_:10\n", 10},
      // A number's text is read, not its value: 1e20 reads "1e+20".
      {R"({"appSetting":{"b_mode":1e20}})", "InitSetting 17 b_mode_:1\n", 1},
      // Not an object at all: no members, and the host still gets it.
      {"[1,2]", "", 1},
      {R"("appSetting")", "", 1},
      {"42", "", 1},
  };
  ExpectTranscripts(std::begin(cases), std::end(cases));
}

TEST_F(SettingsTest, ThresholdSettingsAreWalkedInMemberOrderInModeThree) {
  const TranscriptCase cases[] = {
      // The reference example: one signal without ID, new to the host's maps.
      {R"({"appSetting":{"b_mode":"3"},
           "thresholdSetting":{"t1":{"NMAlarmID":"A5","SignalNumber":"2"}}})",
       "InitSetting 17 b_mode_:3\nhere 1\nhere 2\nhere t1\n17 ID is missing\n"
       "mobile:t1:A5;;2; level:0 value:0\n",
       3},
      {R"({"appSetting":{"b_mode":"3"},"thresholdSetting":null})",
       "InitSetting 17 b_mode_:3\nhere 1\n", 3},
      {R"({"appSetting":{"b_mode":"3"},"thresholdSetting":{}})",
       "InitSetting 17 b_mode_:3\nhere 1\nhere 2\n", 3},
      // Present but not an object: nothing to visit.
      {R"({"appSetting":{"b_mode":"3"},"thresholdSetting":[{"NMAlarmID":"A"}]})",
       "InitSetting 17 b_mode_:3\nhere 1\nhere 2\n", 3},
      {R"({"appSetting":{"b_mode":"3"},"thresholdSetting":"t1"})",
       "InitSetting 17 b_mode_:3\nhere 1\nhere 2\n", 3},
      {R"({"appSetting":{"b_mode":"3"},"thresholdSetting":5})",
       "InitSetting 17 b_mode_:3\nhere 1\nhere 2\n", 3},
      // Byte-wise order of the names, not the document's; entries that are no object get
      // only their "here" line.
      {R"({"appSetting":{"b_mode":"3"},
           "thresholdSetting":{"b":1,"a1":"x","a":null,"B":[{"ID":"1"}]}})",
       "InitSetting 17 b_mode_:3\nhere 1\nhere 2\nhere B\nhere a\nhere a1\nhere b\n", 3},
      {R"({"appSetting":{"b_mode":"3"},"thresholdSetting":{"k":{}}})",
       "InitSetting 17 b_mode_:3\nhere 1\nhere 2\nhere k\n17 NMAlarmID is missing\n"
       "17 ID is missing\n17 SignalNumber is missing\nmobile:k:;;; level:0 value:0\n",
       3},
      // Numbers and booleans by their text; arrays and objects count as missing.
      {R"({"appSetting":{"b_mode":"3"},
           "thresholdSetting":{"k":{"NMAlarmID":12,"ID":-3.5,"SignalNumber":true}}})",
       "InitSetting 17 b_mode_:3\nhere 1\nhere 2\nhere k\nmobile:k:12;-3.5;true; level:0 value:0\n",
       3},
      {R"({"appSetting":{"b_mode":"3"},
           "thresholdSetting":{"k":{"NMAlarmID":[1],"ID":{"a":1},"SignalNumber":null}}})",
       "InitSetting 17 b_mode_:3\nhere 1\nhere 2\nhere k\n17 NMAlarmID is missing\n"
       "17 ID is missing\n17 SignalNumber is missing\nmobile:k:;;; level:0 value:0\n",
       3},
      {R"({"appSetting":{"b_mode":"3"},"thresholdSetting":{"k":{"ID":" x y ","NMAlarmID":""}}})",
       "InitSetting 17 b_mode_:3\nhere 1\nhere 2\nhere k\n17 SignalNumber is missing\n"
       "mobile:k:; x y ;; level:0 value:0\n",
       3},
  };
  ExpectTranscripts(std::begin(cases), std::end(cases));
}

TEST_F(SettingsTest, ExampleFillsTheDeviceMapsAndEntersTheKeyIntoTheHostMaps) {
  Load(R"({"appSetting":{"b_mode":"3"},
           "thresholdSetting":{"t1":{"NMAlarmID":"A5","SignalNumber":"2"}}})");
  EXPECT_EQ(device_.mobile_info_, (std::map<std::string, std::string>{{"t1", "A5;;2;"}}));
  EXPECT_TRUE(device_.signal_names_.empty());
  EXPECT_EQ(device_.signal_levels_, (std::map<std::string, int>{{"t1", 0}}));
  EXPECT_EQ(device_.signal_values_, (std::map<std::string, float>{{"t1", 0.0f}}));
}

TEST_F(SettingsTest, SignalNameIsStoredOnlyWhenItHasText) {
  const std::string config =
      R"({"appSetting":{"b_mode":"3"},"thresholdSetting":{"a":{"SignalName":"Inlet"},
          "b":{"SignalName":7},"c":{"SignalName":["x"]},"d":{"SignalName":{}},
          "e":{"SignalName":null},"f":{}}})";
  Load(config);
  EXPECT_EQ(device_.signal_names_,
            (std::map<std::string, std::string>{{"a", "Inlet"}, {"b", "7"}}));
  EXPECT_EQ(device_.mobile_info_.size(), 6u);
}

TEST_F(SettingsTest, HostLevelAndValueArePrintedAsTheHostHoldsThem) {
  device_.signal_levels_["t"] = -2;
  device_.signal_values_["t"] = 25.5f;
  const std::string out = Load(
      R"({"appSetting":{"b_mode":"3"},"thresholdSetting":{"t":{"NMAlarmID":"N","ID":"I",
          "SignalNumber":"S"}}})");
  EXPECT_EQ(
      out,
      "InitSetting 17 b_mode_:3\nhere 1\nhere 2\nhere t\nmobile:t:N;I;S; level:-2 value:25.5\n");
  EXPECT_EQ(device_.signal_levels_.size(), 1u);
}

TEST_F(SettingsTest, IdentifiersArePrintedUnsigned) {
  device_.data_id_ = 4294967295u;
  EXPECT_EQ(
      Load(R"({"appSetting":{"b_mode":"3"},"thresholdSetting":{"k":{"ID":1,"SignalNumber":2}}})"),
      "InitSetting 4294967295 b_mode_:3\nhere 1\nhere 2\nhere k\n"
      "4294967295 NMAlarmID is missing\nmobile:k:;1;2; level:0 value:0\n");
  EXPECT_EQ(velk_test::HexOf(device_.data_).substr(0, 8), "ffffffff");
}

TEST_F(SettingsTest, ModeOtherThanThreeLeavesEveryMapAlone) {
  device_.signal_levels_["x"] = 1;
  const std::string out =
      Load(R"({"appSetting":{"b_mode":"1"},"thresholdSetting":{"t":{"SignalName":"n","ID":"1"}}})");
  EXPECT_EQ(out, "InitSetting 17 b_mode_:1\n");
  EXPECT_TRUE(device_.mobile_info_.empty());
  EXPECT_TRUE(device_.signal_names_.empty());
  EXPECT_EQ(device_.signal_levels_, (std::map<std::string, int>{{"x", 1}}));
  EXPECT_TRUE(device_.signal_values_.empty());
}

TEST_F(SettingsTest, LaterCallKeepsTheModeAndEntriesAndOverwritesWhatItVisits) {
  Load(R"({"appSetting":{"b_mode":"3"},"thresholdSetting":{
          "k1":{"SignalName":"one","NMAlarmID":"A"},"k2":{"SignalName":"two","ID":"2"},
          "k3":{"SignalName":"three"}}})");
  const std::string out = Load(R"({"appSetting":{},"thresholdSetting":{
          "k1":{"NMAlarmID":"B","SignalName":null},
          "k3":{"SignalName":"renamed","NMAlarmID":"C","ID":"3","SignalNumber":"9"}}})");
  EXPECT_EQ(out,
            "here 1\nhere 2\nhere k1\n17 ID is missing\n17 SignalNumber is missing\n"
            "mobile:k1:B;;; level:0 value:0\nhere k3\nmobile:k3:C;3;9; level:0 value:0\n");
  EXPECT_EQ(device_.b_mode_, 3);
  EXPECT_EQ(device_.mobile_info_,
            (std::map<std::string, std::string>{{"k1", "B;;;"}, {"k2", ";2;;"}, {"k3", "C;3;9;"}}));
  EXPECT_EQ(device_.signal_names_,
            (std::map<std::string, std::string>{{"k1", "one"}, {"k2", "two"}, {"k3", "renamed"}}));

  // A later mode stops the walk but drops nothing.
  EXPECT_EQ(Load(R"({"appSetting":{"b_mode":"0"},"thresholdSetting":{"k4":{}}})"),
            "InitSetting 17 b_mode_:0\n");
  EXPECT_EQ(device_.mobile_info_.size(), 3u);
}

TEST_F(SettingsTest, ResultIsTheHostsWhateverTheConfiguration) {
  const char* configs[] = {"{}", "[3]",
                           R"({"appSetting":{"b_mode":"3"},"thresholdSetting":{"k":{}, "n":4}})"};
  for (const bool host_result : {true, false}) {
    for (const char* config : configs) {
      journal().Clear();
      journal().SetInitSettingResult(host_result);
      Load(config);
      EXPECT_EQ(result_, host_result) << config;
    }
  }
}

TEST_F(SettingsTest, HostRunsOnceAfterTheDevicesOwnReading) {
  std::string mobile_at_host_call;
  std::string out_at_host_call;
  CapturedStdout out;
  journal().OnCall("InitSetting", [&](DranVDevice& device) {
    mobile_at_host_call = static_cast<VelkTemperature&>(device).mobile_info_["k"];
    out_at_host_call = out.Text();
  });
  const Json::Value config =
      Parse(R"({"appSetting":{"b_mode":"3"},"thresholdSetting":{"k":{"ID":"x"}}})");
  device_.InitSetting(config);
  EXPECT_EQ(mobile_at_host_call, ";x;;");
  EXPECT_EQ(out_at_host_call, out.Text());
  EXPECT_THAT(velk_test::JournalLines(), ElementsAre(R"({"call":"InitSetting","result":true})"));
}

TEST_F(SettingsTest, HostFailureReachesTheCallerAndKeepsWhatWasStored) {
  journal().ThrowOn("InitSetting");
  const Json::Value config =
      Parse(R"({"appSetting":{"b_mode":"3"},"thresholdSetting":{"k":{"SignalName":"n"}}})");
  CapturedStdout out;
  EXPECT_THROW(device_.InitSetting(config), std::runtime_error);
  EXPECT_EQ(device_.data_.id, 17u);
  EXPECT_EQ(device_.b_mode_, 3);
  EXPECT_EQ(device_.mobile_info_.at("k"), ";;;");
  EXPECT_EQ(device_.signal_names_.at("k"), "n");
  EXPECT_EQ(device_.signal_levels_.count("k"), 1u);
}

}  // namespace
