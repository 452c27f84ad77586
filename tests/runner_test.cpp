// velk-run through its command line, run as its own process: what a person sees on each
// stream and the exit status, for good runs and for every kind of bad input and plug-in.
#include <fcntl.h>
#include <json/reader.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runner/session.h"
#include "test_support.h"
#include "velk_run_command.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

struct Outcome {
  int status = -1;  // the exit status, or 128 and the signal that ended it
  std::string log;  // standard output: the plug-in's log, or --help and --decode
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

// Where a run's standard streams go besides the test's own pipes, and what else it inherits.
struct Streams {
  int in = -2;   // -2: a pipe from the test; -1: closed; else this descriptor
  int out = -2;  // -2: a pipe to the test; else this descriptor (/dev/full)
  int err = -2;  // -2: a socket to the test that keeps each write apart; else this descriptor
  rlim_t address_space = RLIM_INFINITY;
  int ignored_signal = 0;  // a signal the run starts with ignored, as exec passes that on
};

// velk-run as a child process. Standard error is a sequenced-packet socket, so every write
// velk-run makes arrives as one piece: each must hold whole lines.
class VelkRun {
 public:
  explicit VelkRun(const std::vector<std::string>& arguments, const Streams& streams = {}) {
    std::vector<std::string> words = {VELK_RUN_COMMAND};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    int in[2] = {streams.in, -1}, out[2] = {-1, streams.out}, err[2] = {-1, streams.err};
    if (streams.in == -2) {
      EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
    }
    if (streams.out == -2) {
      EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    }
    if (streams.err == -2) {
      EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, err), 0);
    }
    // A run that ends before it has read its input must not end the test with it.
    signal(SIGPIPE, SIG_IGN);
    pid_ = fork();
    if (pid_ == 0) {
      signal(SIGPIPE, SIG_DFL);
      if (in[0] < 0)
        close(0);
      else
        dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(err[1], 2);
      const rlimit limit{streams.address_space, streams.address_space};
      setrlimit(RLIMIT_AS, &limit);
      const rlimit no_core{0, 0};  // a crash of the plug-in is what many of these runs are
      setrlimit(RLIMIT_CORE, &no_core);
      if (streams.ignored_signal != 0) signal(streams.ignored_signal, SIG_IGN);
      // The sanitizers' own handlers would report the plug-in's crashes in place of velk-run.
      setenv("ASAN_OPTIONS",
             "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:"
             "handle_sigtrap=0",
             1);
      execv(argv[0], argv.data());
      _exit(127);
    }
    if (streams.in == -2) close(in[0]), input_ = in[1];
    if (streams.out == -2) close(out[1]), output_ = out[0];
    if (streams.err == -2) close(err[1]), errors_ = err[0];
  }
  ~VelkRun() {
    if (pid_ > 0) Finish();
  }

  // Input that a run which has ended cannot take any more is dropped.
  void Write(const std::string& text) {
    const ssize_t written = write(input_, text.data(), text.size());
    if (written < 0 && errno == EPIPE) return;
    EXPECT_EQ(written, static_cast<ssize_t>(text.size())) << std::strerror(errno);
  }
  void CloseInput() {
    if (input_ >= 0) close(input_);
    input_ = -1;
  }

  // The next write on standard error, or "" when none comes within the deadline.
  std::string NextWrite() {
    while (writes_.empty() && Drain()) {
    }
    if (writes_.empty()) return "";
    std::string write = writes_.front();
    writes_.erase(writes_.begin());
    return write;
  }

  // With `close_input` false, the run's standard input stays open until the run has ended.
  Outcome Finish(bool close_input = true) {
    if (close_input) CloseInput();
    while (Drain()) {
    }
    CloseInput();
    Outcome outcome;
    int status = 0;
    if (output_ >= 0 || errors_ >= 0) {
      ADD_FAILURE() << "velk-run did not end within the deadline";
      kill(pid_, SIGKILL);
    }
    waitpid(pid_, &status, 0);
    pid_ = -1;
    for (int fd : {output_, errors_}) {
      if (fd >= 0) close(fd);
    }
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.log = log_;
    for (const std::string& write : all_writes_) {
      EXPECT_EQ(write.back(), '\n') << "a write of part of a line: " << write;
      outcome.err += write;
    }
    std::istringstream lines(outcome.err);
    for (std::string line; std::getline(lines, line);) {
      Json::Value event;
      std::istringstream text(line);
      if (!line.empty() && line.front() == '{' &&
          Json::parseFromStream(Json::CharReaderBuilder(), text, &event, nullptr)) {
        outcome.events.push_back(event);
      } else if (line.rfind("qemu: uncaught target signal", 0) != 0) {  // the emulator's own
        outcome.message += line + "\n";
      }
    }
    return outcome;
  }

 private:
  // Takes what has arrived on standard output and standard error; false once both are closed
  // or nothing came for a minute (emulated runs are slow).
  bool Drain() {
    pollfd watched[2] = {{output_, POLLIN, 0}, {errors_, POLLIN, 0}};
    if (output_ < 0 && errors_ < 0) return false;
    if (poll(watched, 2, 60000) <= 0) return false;
    char buffer[256 * 1024];
    if (watched[0].revents != 0) {
      const ssize_t got = read(output_, buffer, sizeof(buffer));
      if (got > 0) log_.append(buffer, static_cast<std::size_t>(got));
      if (got <= 0) close(output_), output_ = -1;
    }
    if (watched[1].revents != 0) {
      const ssize_t got = recv(errors_, buffer, sizeof(buffer), 0);
      if (got > 0) writes_.emplace_back(buffer, static_cast<std::size_t>(got));
      if (got > 0) all_writes_.push_back(writes_.back());
      if (got <= 0) close(errors_), errors_ = -1;
    }
    return true;
  }

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  int errors_ = -1;
  std::string log_;
  std::vector<std::string> writes_;
  std::vector<std::string> all_writes_;
};

Outcome RunVelk(const std::vector<std::string>& arguments, const std::string& input = "",
                const Streams& streams = {}) {
  VelkRun run(arguments, streams);
  if (streams.in == -2) run.Write(input);
  return run.Finish();
}

std::vector<std::string> Plugin(std::vector<std::string> rest) {
  rest.insert(rest.begin(), {"--plugin", VELK_PLUGIN_PATH});
  return rest;
}

std::string Faulty(const std::string& fault) {
  return std::string(VELK_FAULTY_PLUGIN_DIR) + "/velk_faulty_" + fault + ".so";
}

int Count(const Outcome& outcome, const std::string& call) {
  int n = 0;
  for (const Json::Value& event : outcome.events) n += event["call"].asString() == call;
  return n;
}

std::size_t Lines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(RunnerTest, ExampleRunPublishesAndSavesEachReadingOnce) {
  const Outcome run =
      RunVelk(Plugin({"--data-id", "17", "--config",
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

  // The documented form: members in byte-wise order, no blanks, floats with nine significant
  // digits and ".0", the rule name's UTF-8 as it is.
  EXPECT_THAT(run.err,
              StartsWith("{\"call\":\"InitSetting\",\"result\":true}\n{\"call\":\"get_ttime\","));
  EXPECT_THAT(run.err, HasSubstr(R"({"call":"SendSP","data_id":17,"length":15,"publish":false,)"
                                 R"("record":"110000000000a041)"));
  EXPECT_THAT(run.err,
              HasSubstr(R"({"call":"Reset"})"
                        "\n"
                        R"({"call":"CheckThreshold","key":"value","level":1,"name":"温度",)"
                        R"("value":20.0})"));
  EXPECT_THAT(run.err, HasSubstr(R"("value":-40.0})"));
}

TEST(RunnerTest, ReadsStandardInputSkippingBlankAndCommentLines) {
  // Without --config the device still gets a configuration, which stamps the identifier.
  const Outcome run = RunVelk(Plugin({"--data-id", "5"}), "# counts\n1000\n\n  1500  \n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(
      run.log,
      "VelkTemperature process 1000\nrvSize is 1\nVelkTemperature process 1500\nrvSize is 1\n");
  EXPECT_EQ(Count(run, "SaveDeviceHistory"), 2);
  for (const Json::Value& event : run.events) {
    if (event.isMember("data_id")) {
      EXPECT_EQ(event["data_id"].asUInt(), 5u) << event["call"].asString();
    }
  }
}

TEST(RunnerTest, EventLinesAreEscapedJson) {
  const TempFile config(
      R"({"appSetting":{"b_mode":"3"},"thresholdSetting":{"q\"uote\\back\nline":{}}})");
  const Outcome run = RunVelk(Plugin({"--config", config.path(), "1000"}));
  ASSERT_EQ(run.status, 0) << run.err;
  // Every line on standard error parsed as one JSON object, and the rule name kept its bytes.
  EXPECT_EQ(run.events.size(), Lines(run.err));
  bool saw_rule = false;
  for (const Json::Value& event : run.events) {
    if (event["call"] == "CheckThreshold" && event["key"] == "value") {
      EXPECT_EQ(event["name"].asString(), "温度");
      saw_rule = true;
    }
  }
  EXPECT_TRUE(saw_rule);
}

TEST(RunnerTest, BadLineOnStandardInputStopsAfterTheReadingsBeforeIt) {
  const Outcome run = RunVelk(Plugin({}), "1000\n# fine\n1500\nwarm\n2000\n");
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
    const Outcome refused = RunVelk(Plugin({}), bad.input + "2000\n");
    EXPECT_EQ(refused.status, 1) << bad.message;
    EXPECT_THAT(refused.message, StartsWith("velk-run: " + bad.message));
    EXPECT_EQ(Lines(refused.message), 1u) << refused.message;
    EXPECT_EQ(Count(refused, "SaveDeviceHistory"), bad.input.size() > 10) << bad.message;
  }
}

TEST(RunnerTest, StandardInputThatCannotBeReadIsNoEndOfInput) {
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
    Streams streams;
    streams.in = input.fd;
    const Outcome run = RunVelk(Plugin({}), "", streams);
    EXPECT_EQ(run.status, 1) << input.message;
    EXPECT_EQ(run.message, "velk-run: cannot read " + input.message + "\n");
  }
  close(directory);
  close(pipe_ends[0]);
  close(pipe_ends[1]);
}

TEST(RunnerTest, OutputThatCannotBeWrittenFailsTheRun) {
  const int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  const std::string no_space = std::strerror(ENOSPC);
  Streams log_full, err_full;
  log_full.out = full;
  err_full.err = full;
  const struct {
    Streams streams;
    std::vector<std::string> arguments;
    std::string message;  // none when standard error is what failed
  } lost[] = {
      {log_full, Plugin({}),
       "velk-run: cannot write the plug-in's log to standard output; stopped after 1 reading\n"},
      {err_full, Plugin({}), ""},
      {log_full,
       {"--decode", "11000000cdcca441ea070c08051e16"},
       "velk-run: cannot write the decoded record: " + no_space + "\n"},
      {log_full, {"--help"}, "velk-run: cannot write the usage: " + no_space + "\n"},
  };
  for (const auto& output : lost) {
    const Outcome run = RunVelk(output.arguments, "1000\n1500\n", output.streams);
    EXPECT_EQ(run.status, 1) << output.arguments.back();
    EXPECT_EQ(run.message, output.message);
  }
  close(full);
}

TEST(RunnerTest, EachEventGoesOutInOneWriteAsTheCallIsMade) {
  VelkRun run(Plugin({}));
  EXPECT_THAT(run.NextWrite(), StartsWith(R"({"call":"InitSetting")"));
  for (const char* reading : {"1000\n", "1500\n"}) {
    run.Write(reading);
    // The round's six calls, each a write of one line, there before the next reading is given.
    std::string write;
    for (int call = 0; call < 6; ++call) {
      write = run.NextWrite();
      EXPECT_EQ(Lines(write), 1u) << write;
    }
    EXPECT_THAT(write, StartsWith(R"({"call":"SaveDeviceHistory")"));
  }
  EXPECT_EQ(run.Finish().status, 0);
}

TEST(RunnerTest, BadReadingArgumentsAreRefusedBeforeAnyRound) {
  for (const std::string bad : {"abc", "32768", "-32769", "1.5", "0x10", "12abc", " "}) {
    const Outcome run = RunVelk(Plugin({"1000", bad}));
    EXPECT_EQ(run.status, 2) << bad;
    EXPECT_THAT(run.err, HasSubstr("reading '" + bad + "' (argument 2 of the readings)")) << bad;
    EXPECT_THAT(run.err, HasSubstr("no reading was processed"));
    EXPECT_TRUE(run.events.empty()) << bad;
    EXPECT_EQ(run.log, "") << bad;
  }
  for (const std::string good : {"32767", "-32768", "+7", "-0"}) {
    EXPECT_EQ(RunVelk(Plugin({good})).status, 0) << good;
  }
}

TEST(RunnerTest, ConfigurationFileProblemsAreOneLineErrors) {
  const TempFile broken("{\n  \"appSetting\": {\"b_mode\": 3 \"x\"}\n}\n");
  const Outcome invalid = RunVelk(Plugin({"--config", broken.path(), "1000"}));
  EXPECT_EQ(invalid.status, 1);
  EXPECT_THAT(invalid.err, StartsWith("velk-run: config '" + broken.path() +
                                      "' is not valid JSON: Line 2, Column"));
  EXPECT_EQ(Lines(invalid.err), 1u) << invalid.err;
  EXPECT_EQ(invalid.log, "");

  const TempFile two_values("{\"appSetting\": {\"b_mode\": 3}}\n{\"appSetting\": {}}\n");
  // jsoncpp reads a NUL byte as the end of the text.
  const TempFile after_nul(std::string("{}\n\0{\"appSetting\": 3}", 20));
  std::string huge = "[0";
  for (int i = 0; i < 5000000; ++i) huge += ",0";
  const TempFile no_room(huge + "]");
  const std::string directory = ::testing::TempDir();
  const std::string forged = "/nonexistent/\x1b[31m\nvelk-run: forged";
  const struct {
    std::string path;
    std::string message;
    bool limit = false;  // run with an address space too small for the file's value
  } refused[] = {
      {"/nonexistent/velk.json",
       "velk-run: cannot read config '/nonexistent/velk.json': No such file or directory\n"},
      {forged, "velk-run: cannot read config '/nonexistent/\\x1b[31m\\x0avelk-run: forged': "},
      {two_values.path(), "velk-run: config '" + two_values.path() +
                              "' is not valid JSON: Line 2, Column 1: Extra non-whitespace"},
      {after_nul.path(), "velk-run: config '" + after_nul.path() +
                             "' is not valid JSON: Line 2, Column 1: a NUL byte"},
      {directory, "velk-run: cannot read config '" + directory + "': " + std::strerror(EISDIR)},
      {"/dev/zero", "velk-run: config '/dev/zero' is larger than 16777216 bytes, the limit"},
      {no_room.path(), "velk-run: config '" + no_room.path() + "' does not fit in memory\n", true},
  };
  for (const auto& config : refused) {
    Streams streams;
    if (config.limit) {
      if (!VELK_RUN_LIMITS_ADDRESS_SPACE) continue;
      streams.address_space = 256 << 20;
    }
    const Outcome run = RunVelk(Plugin({"--config", config.path, "1000"}), "", streams);
    EXPECT_EQ(run.status, 1) << config.path;
    EXPECT_THAT(run.err, StartsWith(config.message));
    EXPECT_EQ(Lines(run.err), 1u) << run.err;
    EXPECT_EQ(run.log, "") << config.path;
  }
}

TEST(RunnerTest, PluginThatCannotBeLoadedOrHasNoEntryPoint) {
  // A library the loader would find on its search path is no file in this directory.
  const std::string not_a_plugin = VELK_NOT_A_PLUGIN_PATH;
  const std::string library_name = not_a_plugin.substr(not_a_plugin.rfind('/') + 1);
  // Of this run alone: suites running at once share the temporary directory.
  const std::string fifo =
      ::testing::TempDir() + "velk-run-fifo-" + std::to_string(getpid()) + ".so";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
  std::ifstream plugin_file(VELK_PLUGIN_PATH, std::ios::binary);
  const std::string plugin_bytes((std::istreambuf_iterator<char>(plugin_file)), {});
  const TempFile cut_short(plugin_bytes.substr(0, 4096));  // headers whole, segments not
  const struct {
    std::string plugin;
    int status;
    std::string message;
  } faults[] = {
      {"", 2, "velk-run: --plugin needs a file, not ''"},
      {"/nonexistent/velk_temperature.so", 1,
       "velk-run: cannot load plug-in '/nonexistent/velk_temperature.so': No such file"},
      {"/nonexistent/\x1b]0;title\x07\nvelk-run: forged.so", 1,
       "velk-run: cannot load plug-in '/nonexistent/\\x1b]0;title\\x07\\x0avelk-run: forged.so': "},
      {library_name, 1, "velk-run: cannot load plug-in './" + library_name + "': "},
      {fifo, 1, "velk-run: cannot load plug-in '" + fifo + "': not a regular file\n"},
      {cut_short.path(), 128 + SIGBUS,
       "velk-run: the plug-in crashed (SIGBUS) during the loading of '" + cut_short.path() + "'\n"},
      {not_a_plugin, 1, "velk-run: plug-in '" + not_a_plugin + "' has no get_providers: "},
      {Faulty("null_device"), 1,
       "velk-run: plug-in '" + Faulty("null_device") +
           "': create() of its device provider gave no device\n"},
      {Faulty("throws_int"), 1,
       "velk-run: plug-in '" + Faulty("throws_int") +
           "': get_providers failed: an exception that is not a std::exception\n"},
      {Faulty("throws_error"), 1,
       "velk-run: plug-in '" + Faulty("throws_error") +
           "': get_providers failed: 'no providers today'\n"},
      {Faulty("data_entry"), 1,
       "velk-run: plug-in '" + Faulty("data_entry") +
           "' has no get_providers: it is data, not a function\n"},
      // The loader's message names a symbol of 2000 bytes: shown cut, like any message.
      {Faulty("undefined_symbol"), 1,
       "velk-run: cannot load plug-in '" + Faulty("undefined_symbol") + "': "},
  };
  for (const auto& fault : faults) {
    const Outcome run = RunVelk({"--plugin", fault.plugin, "1000"});
    EXPECT_EQ(run.status, fault.status) << fault.plugin;
    EXPECT_THAT(run.message, StartsWith(fault.message));
    EXPECT_TRUE(run.events.empty()) << "nothing was loaded";
    EXPECT_EQ(Lines(run.message), 1u) << run.message;
    EXPECT_LT(run.message.size(), 1024u + 2 * fault.plugin.size() + 100) << run.message;
  }
  std::remove(fifo.c_str());
}

// A plug-in that throws its own exceptions, refuses a step, dies of a signal, exits, or does
// what the host cannot see coming: the events of the step it was in, then one line for each
// failure, the first kept when a second follows; nothing lost, nothing false, and never
// status 0 for a failure. A signal still ends the run as it would have without velk-run.
TEST(RunnerTest, MisbehavingPluginIsReportedAsItIs) {
  const TempFile throws(R"({"throw": "bad \u001b settings"})");
  const TempFile refuses(R"({"refuse": true})");
  const std::string crashed = "velk-run: the plug-in crashed (";
  const std::string on_line_2 =
      ") during the reading on line 2 of standard input; the 1 reading before it was "
      "processed\n";
  // A library that dlclose cannot unload runs its static destructors at velk-run's exit; under
  // musl, dlclose unloads none.
#if defined(__GLIBC__)
  const std::string at_unloading = "during the unloading of '" + Faulty("misbehaving_device") + "'";
#else
  const std::string at_unloading = "during its static destructors at exit";
#endif
  const std::string at_exit = "during its static destructors at exit";
  const std::string replacement = "\xef\xbf\xbd";  // U+FFFD
  enum Setting { kHoldInput = 1, kIgnoreTrap = 2, kLogFull = 4, kUnique = 8 };
  const struct {
    std::vector<std::string> arguments;  // after --plugin
    std::string input;                   // after a '|', what comes 300 ms later
    int status;
    std::string message;  // every line of standard error that is no event
    int resets = -1;      // Reset events, one per step begun
    int settings = 0;
    std::string shows = "";  // on standard output or standard error
  } faults[] = {
      {{"--config", throws.path()},
       "",
       1,
       "velk-run: the configuration '" + throws.path() + "' failed: 'bad \\x1b settings'\n",
       1},
      {{"--config", refuses.path()},
       "",
       1,
       "velk-run: the device refused the configuration '" + refuses.path() + "'\n",
       1},
      {{"--restore", "ee0000000000a041ea070c08051e16"},
       "",
       1,
       "velk-run: the restore of record 'ee0000000000a041ea070c08051e16' failed: "
       "'cached record rejected'\n",
       2},
      {{"--restore", "110000000000a041ea070c08051e16"},
       "",
       1,
       "velk-run: the device refused the restore of record "
       "'110000000000a041ea070c08051e16'\n",
       2},
      {{},
       "0\n7\n",
       1,
       "velk-run: the reading on line 2 of standard input failed: 'reading 7 is out of order'; "
       "the 1 reading before it was processed\n",
       3},
      {{"16"},
       "",
       1,
       "velk-run: the reading of argument 1 failed: no message; no reading was "
       "processed\n"},
      {{}, "0\n1\n", 128 + SIGSEGV, crashed + "SIGSEGV" + on_line_2, 3},
      {{}, "0\n2\n", 128 + SIGABRT, crashed + "SIGABRT" + on_line_2, 3},
      {{}, "0\n3\n", 128 + SIGBUS, crashed + "SIGBUS" + on_line_2, 3},
      {{}, "0\n4\n", 128 + SIGFPE, crashed + "SIGFPE" + on_line_2, 3},
      {{}, "0\n5\n", 128 + SIGILL, crashed + "SIGILL" + on_line_2, 3},
      {{}, "0\n11\n", 128 + SIGTRAP, crashed + "SIGTRAP" + on_line_2, 3},
      {{}, "0\n12\n", 128 + SIGSYS, crashed + "SIGSYS" + on_line_2, 3},
      // Ignored before velk-run started: no failure at all.
      {{"11"}, "", 0, "", 2, kIgnoreTrap},
      // What the plug-in wrote in the steps before a crash is out, however it wrote it.
      {{},
       "17\n1\n",
       128 + SIGSEGV,
       crashed + "SIGSEGV" + on_line_2,
       3,
       0,
       "printf line\ncout line\n"},
      {{"0", "6"},
       "",
       1,
       "velk-run: the plug-in called exit() during the reading of argument 2; the 1 reading "
       "before it was processed\n",
       3},
      {{"0", "8"},
       "",
       1,
       "velk-run: the plug-in called quick_exit() during the reading of argument 2; the 1 "
       "reading before it was processed\n",
       3},
      {{},
       "9\n",
       1,
       "velk-run: the plug-in called exit() between steps; the 1 reading before it was "
       "processed\n",
       2,
       kHoldInput},
      {{},
       "15\n",
       128 + SIGSEGV,
       "velk-run: SIGSEGV while the plug-in was loaded, between steps; the 1 reading before it "
       "was processed\n",
       2,
       kHoldInput},
      // A child the plug-in forks, which calls the host and exits, writes nothing.
      {{"10"}, "", 0, "", 2},
      {{"13"},
       "",
       0,
       "",
       2,
       0,
       R"("key":"bad)" + replacement + replacement + R"((","level":1,"name":")" + replacement +
           replacement + "\""},
      // A signal the plug-in leaves behind interrupts the reads of standard input.
      {{}, "14\n|0\n", 0, "", 3},
      {{"20"},
       "",
       128 + SIGSEGV,
       "velk-run: the plug-in crashed (SIGSEGV) during the destruction of its device\n",
       2},
      {{"20", "7"},
       "",
       128 + SIGSEGV,
       "velk-run: the reading of argument 2 failed: 'reading 7 is out of order'; the 1 reading "
       "before it was processed\n"
       "velk-run: the plug-in crashed (SIGSEGV) during the destruction of its device\n",
       3},
      {{"21"}, "", 1, "velk-run: cannot write the plug-in's log to standard output\n", 2, kLogFull},
      {{"22"}, "", 0, "", 3},  // its destructor calls the host
      {{"23"},
       "",
       128 + SIGSEGV,
       "velk-run: the plug-in crashed (SIGSEGV) " + at_unloading + "\n",
       2},
      {{"24"}, "", 1, "velk-run: the plug-in called exit() " + at_unloading + "\n", 2},
      {{"23"},
       "",
       128 + SIGSEGV,
       "velk-run: the plug-in crashed (SIGSEGV) " + at_exit + "\n",
       2,
       kUnique},
      {{"24"}, "", 1, "velk-run: the plug-in called exit() " + at_exit + "\n", 2, kUnique},
  };
  const int full = open("/dev/full", O_WRONLY);
  for (const auto& fault : faults) {
    const std::string plugin = Faulty(fault.settings & kUnique ? "unique" : "misbehaving_device");
    std::vector<std::string> arguments = {"--plugin", plugin};
    arguments.insert(arguments.end(), fault.arguments.begin(), fault.arguments.end());
    const std::string row = ::testing::PrintToString(fault.arguments) + " " + fault.input;
    Streams streams;
    if (fault.settings & kIgnoreTrap) streams.ignored_signal = SIGTRAP;
    if (fault.settings & kLogFull) streams.out = full;
    VelkRun velk_run(arguments, streams);
    const std::size_t later = fault.input.find('|');
    velk_run.Write(fault.input.substr(0, later));
    if (later != std::string::npos) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      velk_run.Write(fault.input.substr(later + 1));
    }
    const Outcome run = velk_run.Finish(!(fault.settings & kHoldInput));
    EXPECT_EQ(run.status, fault.status) << row;
    EXPECT_EQ(run.message, fault.message) << row;
    if (fault.resets >= 0) {
      EXPECT_EQ(Count(run, "Reset"), fault.resets) << row;
    }
    EXPECT_THAT(run.log + run.err, HasSubstr(fault.shows)) << row;
  }
  close(full);
}

TEST(RunnerTest, RestoreTakesExactlyThirtyHexDigits) {
  const std::string record =
      "1100000000000c42"
      "ea070c08051e16";  // id 17, 35.0
  const Outcome run = RunVelk(Plugin({"--restore", record}), "");
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_GE(run.events.size(), 3u);
  EXPECT_EQ(run.events[2]["call"].asString(), "SendSP");
  EXPECT_EQ(run.events[2]["data_id"].asUInt(), 17u);
  EXPECT_EQ(run.events[2]["value"].asFloat(), 35.0f);
  EXPECT_EQ(run.events[2]["record"].asString().substr(0, 16), "1100000000000c42");

  for (const std::string& bad :
       std::vector<std::string>{"", "1100", record + "00", record.substr(0, 28) + "zz"}) {
    const Outcome refused = RunVelk(Plugin({"--restore", bad, "1000"}));
    EXPECT_EQ(refused.status, 2) << bad;
    EXPECT_THAT(refused.err, HasSubstr("--restore '" + bad + "' is not a record")) << bad;
    EXPECT_TRUE(refused.events.empty());
  }
}

TEST(RunnerTest, DecodeShowsTheRecordFieldsWithoutLoadingAnything) {
  const Outcome run = RunVelk({"--decode", "11000000CDCCA441EA070C08051E16"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(
      run.log,
      R"({"data_id":17,"record":"11000000cdcca441ea070c08051e16","time":"2026-12-08 05:30:22","value":20.6000004})"
      "\n");
  const Outcome bad = RunVelk({"--decode", "11000000"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_THAT(bad.err, HasSubstr("--decode '11000000' is not a record"));

  // No JSON number holds them; what is written reads back as the same value.
  Json::CharReaderBuilder special;
  special["allowSpecialFloats"] = true;
  for (const std::string value : {"0000c07f", "0000807f", "000080ff"}) {
    const Outcome decoded = RunVelk({"--decode", "11000000" + value + "ea070c08051e16"});
    ASSERT_EQ(decoded.status, 0) << value;
    Json::Value read;
    std::istringstream text(decoded.log);
    ASSERT_TRUE(Json::parseFromStream(special, text, &read, nullptr)) << decoded.log;
    const float expected = decoded.log.find("NaN") != std::string::npos ? NAN
                           : value == "0000807f"                        ? INFINITY
                                                                        : -INFINITY;
    EXPECT_TRUE(read["value"].asFloat() == expected ||
                (std::isnan(expected) && std::isnan(read["value"].asFloat())))
        << decoded.log;
  }
}

TEST(RunnerTest, CommandLineMistakesAndHelp) {
  const Outcome help = RunVelk({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.log, StartsWith("usage: velk-run"));

  const struct {
    std::vector<std::string> arguments;
    const char* message;
  } mistakes[] = {
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"--config"}, "--config needs a value"},
      {{"--config", ""}, "--config needs a file, not ''"},
      {{"--config", "a.json", "--config", "b.json"}, "--config is given twice"},
      {{"--data-id", "-1"}, "--data-id '-1' is not a number"},
      {{"--data-id", "4294967296"}, "--data-id '4294967296' is not a number"},
      {{"--decode", "11000000cdcca441ea070c08051e16", "1000"}, "--decode takes no other"},
      {{"--help", "1000"}, "--help takes no other"},
  };
  for (const auto& mistake : mistakes) {
    const Outcome run = RunVelk(mistake.arguments);
    EXPECT_EQ(run.status, 2) << mistake.message;
    EXPECT_THAT(run.err, HasSubstr(mistake.message));
    EXPECT_EQ(Lines(run.err), 1u) << run.err;
    EXPECT_EQ(run.log, "");
  }
}

void OwnHandler(int) {}

// In the process itself: the watch takes only what it needs and puts back what it took. An
// alternate stack where none is usable; a handler only where a fatal signal has its default
// action (an ignored one stays ignored, one with a handler keeps it), run with every other
// signal blocked.
TEST(WatchTest, TakesOnlyWhatItNeedsAndPutsItBack) {
  alignas(16) static char own_stack[256 * 1024];
  stack_t original;
  ASSERT_EQ(sigaltstack(nullptr, &original), 0);
  signal(SIGTRAP, SIG_IGN);
  signal(SIGFPE, OwnHandler);
  for (const bool with_stack : {false, true}) {
    if (with_stack) {
      stack_t usable{};
      usable.ss_sp = own_stack;
      usable.ss_size = sizeof(own_stack);
      ASSERT_EQ(sigaltstack(&usable, nullptr), 0);
    }
    stack_t before, during, after;
    struct sigaction sys, trap, fpe, sys_after, fpe_after;
    sigaltstack(nullptr, &before);
    velk_run::watch::Start("during a test");
    sigaltstack(nullptr, &during);
    sigaction(SIGSYS, nullptr, &sys);
    sigaction(SIGTRAP, nullptr, &trap);
    sigaction(SIGFPE, nullptr, &fpe);
    velk_run::watch::Stop();
    sigaltstack(nullptr, &after);
    sigaction(SIGSYS, nullptr, &sys_after);
    sigaction(SIGFPE, nullptr, &fpe_after);

    const bool usable = !(before.ss_flags & SS_DISABLE) && before.ss_size >= 64 * 1024;
    EXPECT_EQ(usable, with_stack || during.ss_sp == before.ss_sp);
    if (usable) {
      EXPECT_EQ(during.ss_sp, before.ss_sp);
    }
    EXPECT_FALSE(during.ss_flags & SS_DISABLE);
    EXPECT_EQ(after.ss_sp, before.ss_sp);
    EXPECT_EQ(after.ss_flags & SS_DISABLE, before.ss_flags & SS_DISABLE);
    EXPECT_NE(sys.sa_handler, SIG_DFL);
    for (int other = 1; other < NSIG; ++other) {
      sigset_t valid;
      sigemptyset(&valid);
      if (other != SIGKILL && other != SIGSTOP && sigaddset(&valid, other) == 0) {
        EXPECT_TRUE(sigismember(&sys.sa_mask, other)) << "signal " << other;
      }
    }
    EXPECT_EQ(trap.sa_handler, SIG_IGN);
    EXPECT_EQ(fpe.sa_handler, OwnHandler);
    EXPECT_EQ(fpe_after.sa_handler, OwnHandler);
    EXPECT_EQ(sys_after.sa_handler, SIG_DFL);
  }
  signal(SIGTRAP, SIG_DFL);
  signal(SIGFPE, SIG_DFL);
  sigaltstack(&original, nullptr);
}

}  // namespace
