// velk-run through its command line, in-process: what a person sees on each stream and the
// exit status, for good runs and for every kind of bad input.
#include <fcntl.h>
#include <json/reader.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runner/cli.h"
#include "runner/descriptor_input.h"
#include "test_support.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

struct Outcome {
  int status;
  std::string log;  // the plug-in's standard output
  std::string out;  // the runner's own output (--help, --decode)
  std::string err;
  std::vector<Json::Value> events;  // the JSON lines of err
  std::string message;              // the other lines of err
};

// A file in the test's temporary directory, removed when it goes.
class TempFile {
 public:
  explicit TempFile(const std::string& content) : path_(::testing::TempDir() + "velk-run-XXXXXX") {
    const int fd = mkstemp(&path_[0]);
    EXPECT_GE(fd, 0) << std::strerror(errno);
    if (fd >= 0) close(fd);
    std::ofstream(path_, std::ios::binary) << content;
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The stream that goes to /dev/full for a run: the plug-in's log, the runner's own output
// or standard error.
enum class Full { kNone, kLog, kOut, kErr };

class RunnerTest : public velk_test::JournalTest {
 protected:
  Outcome Run(std::vector<std::string> arguments, const std::string& input = "",
              Full full = Full::kNone) {
    std::istringstream in(input);
    return RunWith(arguments, in, full);
  }

  Outcome RunWith(std::vector<std::string> arguments, std::istream& in, Full full = Full::kNone) {
    std::ofstream device_full("/dev/full");
    std::ostringstream out;
    std::ostringstream err;
    Outcome outcome;
    {
      velk_test::CapturedStdout log;
      if (full == Full::kLog) std::cout.rdbuf(device_full.rdbuf());
      std::ostream& to_out = full == Full::kOut ? device_full : static_cast<std::ostream&>(out);
      std::ostream& to_err = full == Full::kErr ? device_full : static_cast<std::ostream&>(err);
      outcome.status = velk_run::RunCli(arguments, in, to_out, to_err);
      outcome.log = log.Text();
    }
    outcome.out = out.str();
    outcome.err = err.str();
    std::istringstream lines(outcome.err);
    for (std::string line; std::getline(lines, line);) {
      Json::Value event;
      std::istringstream text(line);
      if (!line.empty() && line.front() == '{' &&
          Json::parseFromStream(Json::CharReaderBuilder(), text, &event, nullptr)) {
        outcome.events.push_back(event);
      } else {
        outcome.message += line + "\n";
      }
    }
    return outcome;
  }

  static std::vector<std::string> Plugin(std::vector<std::string> rest) {
    rest.insert(rest.begin(), {"--plugin", VELK_PLUGIN_PATH});
    return rest;
  }

  static int Count(const Outcome& outcome, const std::string& call) {
    int n = 0;
    for (const Json::Value& event : outcome.events) n += event["call"].asString() == call;
    return n;
  }
};

TEST_F(RunnerTest, ExampleRunPublishesAndSavesEachReadingOnce) {
  const Outcome run =
      Run(Plugin({"--data-id", "17", "--config",
                  std::string(VELK_EXAMPLES_DIR) + "/temperature.json", "1000", "2001", "-5"}));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.log,
            "InitSetting 17 b_mode_:3\n"
            "here 1\n"
            "here 2\n"
            "here humidity\n"
            "17 ID is missing\n"
            "mobile:humidity:0401002;;2; level:0 value:0\n"
            "here value\n"
            "mobile:value:0401001;1;1; level:0 value:0\n"
            "VelkTemperature process 1000\nrvSize is 1\n"
            "VelkTemperature process 2001\nrvSize is 1\n"
            "VelkTemperature process -5\nrvSize is 1\n");
  EXPECT_EQ(Count(run, "SendSP"), 3);
  EXPECT_EQ(Count(run, "SaveDeviceHistory"), 3);
  EXPECT_EQ(Count(run, "InitSetting"), 1);

  std::vector<float> published;
  for (const Json::Value& event : run.events) {
    const std::string call = event["call"].asString();
    if (call != "SendSP" && call != "SaveDeviceHistory") continue;
    EXPECT_EQ(event["record"].asString().size(), 30u);
    EXPECT_EQ(event["length"].asUInt(), 15u);
    EXPECT_EQ(event["time"].asString().size(), 19u) << "YYYY-MM-DD HH:MM:SS";
    EXPECT_EQ(event["data_id"].asUInt(), 17u) << "the settings stamp the identifier";
    if (call == "SendSP") {
      EXPECT_EQ(event["sp_id"].asInt(), 5529);
      published.push_back(event["value"].asFloat());
    }
  }
  EXPECT_EQ(published, (std::vector<float>{20.0f, 80.0f, -40.0f}));
}

TEST_F(RunnerTest, ReadsStandardInputSkippingBlankAndCommentLines) {
  const Outcome run = Run(Plugin({}), "# counts\n1000\n\n  1500  \n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(
      run.log,
      "VelkTemperature process 1000\nrvSize is 1\nVelkTemperature process 1500\nrvSize is 1\n");
  EXPECT_EQ(Count(run, "SaveDeviceHistory"), 2);
}

TEST_F(RunnerTest, EventLinesAreEscapedJson) {
  const TempFile config(
      R"({"appSetting":{"b_mode":"3"},"thresholdSetting":{"q\"uote\\back\nline":{}}})");
  const Outcome run = Run(Plugin({"--config", config.path(), "1000"}));
  ASSERT_EQ(run.status, 0) << run.err;
  // Every line on standard error parsed as one JSON object, and the rule name kept its bytes.
  EXPECT_EQ(run.events.size(),
            static_cast<std::size_t>(std::count(run.err.begin(), run.err.end(), '\n')));
  bool saw_rule = false;
  for (const Json::Value& event : run.events) {
    if (event["call"] == "CheckThreshold" && event["key"] == "value") {
      EXPECT_EQ(event["name"].asString(), "温度");
      saw_rule = true;
    }
  }
  EXPECT_TRUE(saw_rule);
}

TEST_F(RunnerTest, BadLineOnStandardInputStopsAfterTheReadingsBeforeIt) {
  const Outcome run = Run(Plugin({}), "1000\n# fine\n1500\nwarm\n2000\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("line 4 of standard input: 'warm' is not a reading"));
  EXPECT_THAT(run.err, HasSubstr("the 2 readings before it were processed"));
  EXPECT_EQ(Count(run, "SaveDeviceHistory"), 2);
  EXPECT_THAT(run.log, ::testing::Not(HasSubstr("2000")));

  // Shown quoted, escaped and shortened; a line past the limit is refused before it is whole.
  const struct {
    std::string input;
    std::string message;
  } bad_lines[] = {
      {std::string("5\0garbage\n", 10), "line 1 of standard input: '5\\x00garbage' is not a"},
      {"1000\n\x1b[2J" + std::string(60, 'x') + "\n",
       "line 2 of standard input: '\\x1b[2J" + std::string(36, 'x') + "...' (64 bytes) is not a"},
      {"1000\n" + std::string(5000, '7') + "\n",
       "line 2 of standard input is longer than 4096 bytes, the limit"},
  };
  for (const auto& bad : bad_lines) {
    const Outcome refused = Run(Plugin({}), bad.input + "2000\n");
    EXPECT_EQ(refused.status, 1) << bad.message;
    EXPECT_THAT(refused.message, StartsWith("velk-run: " + bad.message));
    EXPECT_EQ(std::count(refused.message.begin(), refused.message.end(), '\n'), 1)
        << refused.message;
    EXPECT_EQ(Count(refused, "SaveDeviceHistory"), bad.input.size() > 10) << bad.message;
  }
}

TEST_F(RunnerTest, StandardInputThatCannotBeReadIsNoEndOfInput) {
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  ASSERT_EQ(write(pipe_ends[1], "1000\n", 5), 5);
  ASSERT_EQ(fcntl(pipe_ends[0], F_SETFL, O_NONBLOCK), 0);
  const int directory = open("/", O_RDONLY);
  const struct {
    int fd;
    std::string message;
  } unreadable[] = {
      {pipe_ends[0], "line 2 of standard input: " + std::string(std::strerror(EAGAIN)) +
                         "; the 1 reading before it was processed"},
      {directory, "line 1 of standard input: " + std::string(std::strerror(EISDIR)) +
                      "; no reading was processed"},
      {-1, "line 1 of standard input: " + std::string(std::strerror(EBADF)) +
               "; no reading was processed"},
  };
  for (const auto& input : unreadable) {
    velk_run::DescriptorInput descriptor(input.fd);
    std::istream in(&descriptor);
    const Outcome run = RunWith(Plugin({}), in);
    EXPECT_EQ(run.status, 1) << input.message;
    EXPECT_EQ(run.message, "velk-run: cannot read " + input.message + "\n");
  }
  close(directory);
  close(pipe_ends[0]);
  close(pipe_ends[1]);
}

TEST_F(RunnerTest, OutputThatCannotBeWrittenFailsTheRun) {
  const std::string full = std::strerror(ENOSPC);
  const struct {
    Full full;
    std::vector<std::string> arguments;
    std::string message;  // none when standard error is what failed
  } lost[] = {
      {Full::kLog, Plugin({}),
       "velk-run: cannot write the plug-in's log to standard output; stopped after 1 reading\n"},
      {Full::kErr, Plugin({}), ""},
      {Full::kOut,
       {"--decode", "11000000cdcca441ea070c08051e16"},
       "velk-run: cannot write the decoded record: " + full + "\n"},
      {Full::kOut, {"--help"}, "velk-run: cannot write the usage: " + full + "\n"},
  };
  for (const auto& output : lost) {
    const Outcome run = Run(output.arguments, "1000\n1500\n", output.full);
    EXPECT_EQ(run.status, 1) << output.arguments.back();
    EXPECT_EQ(run.message, output.message);
  }
}

// Takes each write as one piece.
class WriteRecorder : public std::streambuf {
 public:
  std::vector<std::string> writes;

 protected:
  std::streamsize xsputn(const char* text, std::streamsize size) override {
    writes.emplace_back(text, static_cast<std::size_t>(size));
    return size;
  }
  int_type overflow(int_type c) override {
    writes.emplace_back(1, traits_type::to_char_type(c));
    return c;
  }
};

// Gives one line per read, noting how many writes had reached `events` at each.
class LinePerRead : public std::streambuf {
 public:
  LinePerRead(std::vector<std::string> lines, const WriteRecorder& events)
      : lines_(std::move(lines)), events_(events) {}
  std::vector<std::size_t> writes_seen;

 protected:
  int_type underflow() override {
    writes_seen.push_back(events_.writes.size());
    if (next_ == lines_.size()) return traits_type::eof();
    std::string& line = lines_[next_++];
    setg(&line[0], &line[0], &line[0] + line.size());
    return traits_type::to_int_type(line[0]);
  }

 private:
  std::vector<std::string> lines_;
  std::size_t next_ = 0;
  const WriteRecorder& events_;
};

TEST_F(RunnerTest, EachReadingsEventsGoOutInOneWriteBeforeTheNextReading) {
  WriteRecorder events;
  std::ostream err(&events);
  LinePerRead lines({"1000\n", "1500\n"}, events);
  std::istream in(&lines);
  std::ostringstream out;
  velk_test::CapturedStdout log;
  ASSERT_EQ(velk_run::RunCli(Plugin({}), in, out, err), 0);

  EXPECT_EQ(lines.writes_seen, (std::vector<std::size_t>{0, 1, 2}));
  ASSERT_EQ(events.writes.size(), 2u);
  for (const std::string& write : events.writes) {
    EXPECT_EQ(std::count(write.begin(), write.end(), '\n'), 6) << write;
    EXPECT_EQ(write.back(), '\n');
    EXPECT_THAT(write, HasSubstr("\"call\":\"SaveDeviceHistory\""));
  }
}

TEST_F(RunnerTest, BadReadingArgumentsAreRefusedBeforeAnyRound) {
  for (const std::string bad : {"abc", "32768", "-32769", "1.5", "0x10", "12abc", " "}) {
    const Outcome run = Run(Plugin({"1000", bad}));
    EXPECT_EQ(run.status, 2) << bad;
    EXPECT_THAT(run.err, HasSubstr("reading '" + bad + "' (argument 2 of the readings)")) << bad;
    EXPECT_THAT(run.err, HasSubstr("no reading was processed"));
    EXPECT_TRUE(run.events.empty()) << bad;
    EXPECT_EQ(run.log, "") << bad;
  }
  for (const std::string good : {"32767", "-32768", "+7", "-0"}) {
    EXPECT_EQ(Run(Plugin({good})).status, 0) << good;
  }
}

TEST_F(RunnerTest, HostFailureNamesTheReadingAndWhatWentThrough) {
  journal().ThrowOn("SaveDeviceHistory", 2);
  const Outcome run = Run(Plugin({}), "1000\n1500\n2000\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("reading 1500 on line 2 of standard input failed: "
                                 "scripted failure of SaveDeviceHistory; "
                                 "the 1 reading before it was processed"));
}

TEST_F(RunnerTest, ConfigurationFileProblemsAreOneLineErrors) {
  const Outcome missing = Run(Plugin({"--config", "/nonexistent/velk.json", "1000"}));
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err,
            "velk-run: cannot read config /nonexistent/velk.json: No such file or directory\n");

  const TempFile broken("{\n  \"appSetting\": {\"b_mode\": 3 \"x\"}\n}\n");
  const Outcome invalid = Run(Plugin({"--config", broken.path(), "1000"}));
  EXPECT_EQ(invalid.status, 1);
  EXPECT_THAT(invalid.err, StartsWith("velk-run: config " + broken.path() +
                                      " is not valid JSON: Line 2, Column"));
  EXPECT_EQ(std::count(invalid.err.begin(), invalid.err.end(), '\n'), 1) << invalid.err;
  EXPECT_EQ(invalid.log, "");

  const TempFile two_values("{\"appSetting\": {\"b_mode\": 3}}\n{\"appSetting\": {}}\n");
  const std::string directory = ::testing::TempDir();
  const struct {
    std::string path;
    std::string message;
  } refused[] = {
      {two_values.path(), "velk-run: config " + two_values.path() +
                              " is not valid JSON: Line 2, Column 1: Extra non-whitespace"},
      {directory, "velk-run: cannot read config " + directory + ": " + std::strerror(EISDIR)},
      {"/dev/zero", "velk-run: config /dev/zero is larger than 16777216 bytes, the limit"},
  };
  for (const auto& config : refused) {
    const Outcome run = Run(Plugin({"--config", config.path, "1000"}));
    EXPECT_EQ(run.status, 1) << config.path;
    EXPECT_THAT(run.err, StartsWith(config.message));
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.log, "") << config.path;
  }
}

TEST_F(RunnerTest, PluginThatCannotBeLoadedOrHasNoEntryPoint) {
  const Outcome missing = Run({"--plugin", "/nonexistent/velk_temperature.so", "1000"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.err,
              StartsWith("velk-run: cannot load plug-in /nonexistent/velk_temperature.so: "));

  const Outcome no_entry = Run({"--plugin", VELK_NOT_A_PLUGIN_PATH, "1000"});
  EXPECT_EQ(no_entry.status, 1);
  EXPECT_THAT(no_entry.err, HasSubstr("has no get_providers"));

  // A library the loader would find on its search path is no file in this directory.
  const std::string library_name = std::string(VELK_NOT_A_PLUGIN_PATH)
                                       .substr(std::string(VELK_NOT_A_PLUGIN_PATH).rfind('/') + 1);
  auto faulty = [](const std::string& fault) {
    return std::string(VELK_FAULTY_PLUGIN_DIR) + "/velk_faulty_" + fault + ".so";
  };
  const struct {
    std::string plugin;
    int status;
    std::string message;
  } faults[] = {
      {"", 2, "velk-run: --plugin needs a file, not ''\n"},
      {library_name, 1, "velk-run: cannot load plug-in ./" + library_name + ": "},
      {faulty("null_device"), 1,
       "velk-run: plug-in " + faulty("null_device") +
           ": create() of its device provider gave no device\n"},
      {faulty("throws_int"), 1,
       "velk-run: plug-in " + faulty("throws_int") +
           ": get_providers failed: an exception that is not a std::exception\n"},
      {faulty("throws_error"), 1,
       "velk-run: plug-in " + faulty("throws_error") +
           ": get_providers failed: no providers today\n"},
      {faulty("data_entry"), 1,
       "velk-run: plug-in " + faulty("data_entry") +
           " has no get_providers: it is data, not a function\n"},
  };
  for (const auto& fault : faults) {
    const Outcome run = Run({"--plugin", fault.plugin, "1000"});
    EXPECT_EQ(run.status, fault.status) << fault.plugin;
    EXPECT_THAT(run.err, StartsWith(fault.message));
  }
}

TEST_F(RunnerTest, RestoreTakesExactlyThirtyHexDigits) {
  const std::string record =
      "1100000000000c42"
      "ea070c08051e16";  // id 17, 35.0
  const Outcome run = Run(Plugin({"--restore", record}), "");
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_GE(run.events.size(), 2u);
  EXPECT_EQ(run.events[1]["call"].asString(), "SendSP");
  EXPECT_EQ(run.events[1]["data_id"].asUInt(), 17u);
  EXPECT_EQ(run.events[1]["value"].asFloat(), 35.0f);
  EXPECT_EQ(run.events[1]["record"].asString().substr(0, 16), "1100000000000c42");

  for (const std::string& bad :
       std::vector<std::string>{"", "1100", record + "00", record.substr(0, 28) + "zz"}) {
    const Outcome refused = Run(Plugin({"--restore", bad, "1000"}));
    EXPECT_EQ(refused.status, 2) << bad;
    EXPECT_THAT(refused.err, HasSubstr("--restore '" + bad + "' is not a record")) << bad;
    EXPECT_TRUE(refused.events.empty());
  }
}

TEST_F(RunnerTest, DecodeShowsTheRecordFieldsWithoutLoadingAnything) {
  const Outcome run =
      Run({"--plugin", "/nonexistent.so", "--decode", "11000000CDCCA441EA070C08051E16"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(
      run.out,
      R"({"data_id":17,"record":"11000000cdcca441ea070c08051e16","time":"2026-12-08 05:30:22","value":20.6000004})"
      "\n");
  const Outcome bad = Run({"--decode", "11000000"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_THAT(bad.err, HasSubstr("--decode '11000000' is not a record"));

  // No JSON number holds them; what is written reads back as the same value.
  Json::CharReaderBuilder special;
  special["allowSpecialFloats"] = true;
  for (const std::string value : {"0000c07f", "0000807f", "000080ff"}) {
    const Outcome decoded = Run({"--decode", "11000000" + value + "ea070c08051e16"});
    ASSERT_EQ(decoded.status, 0) << value;
    Json::Value read;
    std::istringstream text(decoded.out);
    ASSERT_TRUE(Json::parseFromStream(special, text, &read, nullptr)) << decoded.out;
    const float expected = decoded.out.find("NaN") != std::string::npos ? NAN
                           : value == "0000807f"                        ? INFINITY
                                                                        : -INFINITY;
    EXPECT_TRUE(read["value"].asFloat() == expected ||
                (std::isnan(expected) && std::isnan(read["value"].asFloat())))
        << decoded.out;
  }
}

TEST_F(RunnerTest, CommandLineMistakesAndHelp) {
  const Outcome help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, StartsWith("usage: velk-run"));

  const struct {
    std::vector<std::string> arguments;
    const char* message;
  } mistakes[] = {
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"--config"}, "--config needs a value"},
      {{"--data-id", "-1"}, "--data-id '-1' is not a number"},
      {{"--data-id", "4294967296"}, "--data-id '4294967296' is not a number"},
  };
  for (const auto& mistake : mistakes) {
    const Outcome run = Run(mistake.arguments);
    EXPECT_EQ(run.status, 2) << mistake.message;
    EXPECT_THAT(run.err, HasSubstr(mistake.message));
  }
}

}  // namespace
