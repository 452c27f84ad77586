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

TEST(RunnerTest, RestoreIsTheFirstRound) {
  const std::string record = "1100000000000c42ea070c08051e16";  // id 17, 35.0
  const Outcome run = RunVelk(Plugin({"--restore", record}), "");
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_GE(run.events.size(), 3u);
  EXPECT_EQ(run.events[2]["call"].asString(), "SendSP");
  EXPECT_EQ(run.events[2]["data_id"].asUInt(), 17u);
  EXPECT_EQ(run.events[2]["value"].asFloat(), 35.0f);
  EXPECT_EQ(run.events[2]["record"].asString().substr(0, 16), "1100000000000c42");
  EXPECT_THAT(RunVelk({"--help"}).log, StartsWith("usage: velk-run"));
}

TEST(RunnerTest, DecodeShowsTheRecordFieldsWithoutLoadingAnything) {
  const Outcome run = RunVelk({"--decode", "11000000CDCCA441EA070C08051E16"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(
      run.log,
      R"({"data_id":17,"record":"11000000cdcca441ea070c08051e16","time":"2026-12-08 05:30:22","value":20.6000004})"
      "\n");
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

std::vector<std::string> Misbehaving(std::vector<std::string> rest, const char* fault = "") {
  rest.insert(rest.begin(), {"--plugin", Faulty(*fault ? fault : "misbehaving_device")});
  return rest;
}

// Every way a run can go wrong, from the command line to a plug-in that throws, refuses a step,
// dies of a signal, exits, or does what the host cannot see coming, and what a person sees:
// the events of the step it was in, then one line for each failure (the first kept when a
// second follows), outside text escaped and cut, nothing lost, nothing false, never status 0
// for a failure, and a signal ending the run as it would have without velk-run.
TEST(RunnerTest, EveryFailureIsReportedAsItIs) {
  enum Setting {
    kHoldInput = 1,  // standard input stays open until the run ends
    kIgnoreTrap = 2,
    kLogFull = 4,
    kErrorsFull = 8,
    kSmallMemory = 16,
    kInputNonBlocking = 32,  // "1000\n", then nothing to read yet
    kInputDirectory = 64,
    kInputClosed = 128,
  };
  struct Fault {
    std::vector<std::string> arguments;
    std::string input;  // after a '|', what comes 300 ms later
    int status;
    // Every line of standard error that is no event; without a last newline, the start of one.
    std::string message;
    int resets = -1;  // Reset events: the readings' rounds, and a step begun of the faulty device
    int settings = 0;
    std::string shows = "";  // on standard output or standard error
  };
  const TempFile throws(R"({"throw": "bad \u001b settings"})");
  const TempFile refuses(R"({"refuse": true})");
  const TempFile broken("{\n  \"appSetting\": {\"b_mode\": 3 \"x\"}\n}\n");
  const TempFile two_values("{\"appSetting\": {\"b_mode\": 3}}\n{\"appSetting\": {}}\n");
  const TempFile after_nul(std::string("{}\n\0{\"appSetting\": 3}", 20));  // jsoncpp stops at NUL
  std::string huge = "[0";
  for (int i = 0; i < 5000000; ++i) huge += ",0";
  const TempFile no_room(huge + "]");
  const std::string directory = ::testing::TempDir();
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
  const std::string usage = " (velk-run --help shows the usage)\n";
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
  const std::string no_space = std::strerror(ENOSPC);
  std::vector<Fault> faults = {
      // The command line: nothing is loaded or run.
      {{"--frobnicate"}, "", 2, "velk-run: unknown option '--frobnicate'" + usage},
      {{"--config"}, "", 2, "velk-run: --config needs a value" + usage},
      {{"--config", ""}, "", 2, "velk-run: --config needs a file, not ''" + usage},
      {{"--plugin", ""}, "", 2, "velk-run: --plugin needs a file, not ''" + usage},
      {{"--config", "a.json", "--config", "b.json"},
       "",
       2,
       "velk-run: --config is given twice" + usage},
      {{"--data-id", "-1"}, "", 2, "velk-run: --data-id '-1' is not a number"},
      {{"--data-id", "4294967296"}, "", 2, "velk-run: --data-id '4294967296' is not a number"},
      {{"--decode", "11000000cdcca441ea070c08051e16", "1000"},
       "",
       2,
       "velk-run: --decode takes no other arguments" + usage},
      {{"--help", "1000"}, "", 2, "velk-run: --help takes no other arguments" + usage},
      {{"--decode", "11000000"}, "", 2, "velk-run: --decode '11000000' is not a record"},
      // Standard input: what was read before a bad line had its rounds.
      {Plugin({}), "1000\n# fine\n1500\nwarm\n2000\n", 1,
       "velk-run: line 4 of standard input: 'warm' is not a reading (an integer from -32768 to "
       "32767); the 2 readings before it were processed\n",
       2},
      {Plugin({}), std::string("5\0garbage\n2000\n", 15), 1,
       "velk-run: line 1 of standard input: '5\\x00garbage' is not a", 0},
      {Plugin({}), "1000\n\x1b[2J" + std::string(60, 'x') + "\n2000\n", 1,
       "velk-run: line 2 of standard input: '\\x1b[2J" + std::string(36, 'x') +
           "...' (64 bytes) is not a",
       1},
      // A line past the limit is refused before it is whole.
      {Plugin({}), "1000\n" + std::string(5000, '7') + "\n2000\n", 1,
       "velk-run: line 2 of standard input is longer than 4096 bytes, the limit", 1},
      {Plugin({}), "", 1,
       "velk-run: cannot read line 2 of standard input: " + std::string(std::strerror(EAGAIN)) +
           "; the 1 reading before it was processed\n",
       1, kInputNonBlocking},
      {Plugin({}), "", 1,
       "velk-run: cannot read line 1 of standard input: " + std::string(std::strerror(EISDIR)) +
           "; no reading was processed\n",
       0, kInputDirectory},
      {Plugin({}), "", 1,
       "velk-run: cannot read line 1 of standard input: " + std::string(std::strerror(EBADF)) +
           "; no reading was processed\n",
       0, kInputClosed},
      // Output that cannot be written.
      {Plugin({}), "1000\n1500\n", 1,
       "velk-run: cannot write the plug-in's log to standard output; stopped after 1 reading\n", 1,
       kLogFull},
      {Plugin({}), "1000\n1500\n", 1, "", -1, kErrorsFull},  // the status alone tells
      {{"--decode", "11000000cdcca441ea070c08051e16"},
       "",
       1,
       "velk-run: cannot write the decoded record: " + no_space + "\n",
       -1,
       kLogFull},
      {{"--help"}, "", 1, "velk-run: cannot write the usage: " + no_space + "\n", -1, kLogFull},
      // The configuration.
      {Plugin({"--config", broken.path(), "1000"}), "", 1,
       "velk-run: config '" + broken.path() + "' is not valid JSON: Line 2, Column"},
      {Plugin({"--config", "/nonexistent/velk.json", "1000"}), "", 1,
       "velk-run: cannot read config '/nonexistent/velk.json': No such file or directory\n"},
      {Plugin({"--config", "/nonexistent/\x1b[31m\nvelk-run: forged", "1000"}), "", 1,
       "velk-run: cannot read config '/nonexistent/\\x1b[31m\\x0avelk-run: forged': "},
      {Plugin({"--config", two_values.path(), "1000"}), "", 1,
       "velk-run: config '" + two_values.path() +
           "' is not valid JSON: Line 2, Column 1: Extra non-whitespace"},
      {Plugin({"--config", after_nul.path(), "1000"}), "", 1,
       "velk-run: config '" + after_nul.path() +
           "' is not valid JSON: Line 2, Column 1: a NUL byte"},
      {Plugin({"--config", directory, "1000"}), "", 1,
       "velk-run: cannot read config '" + directory + "': " + std::strerror(EISDIR)},
      {Plugin({"--config", "/dev/zero", "1000"}), "", 1,
       "velk-run: config '/dev/zero' is larger than 16777216 bytes, the limit"},
      {Plugin({"--config", no_room.path(), "1000"}), "", 1,
       "velk-run: config '" + no_room.path() + "' does not fit in memory\n", -1, kSmallMemory},
      // The plug-in's file.
      {{"--plugin", "/nonexistent/velk_temperature.so", "1000"},
       "",
       1,
       "velk-run: cannot load plug-in '/nonexistent/velk_temperature.so': No such file"},
      {{"--plugin", "/nonexistent/\x1b]0;title\x07\nvelk-run: forged.so", "1000"},
       "",
       1,
       "velk-run: cannot load plug-in '/nonexistent/\\x1b]0;title\\x07\\x0avelk-run: forged.so': "},
      {{"--plugin", library_name, "1000"},
       "",
       1,
       "velk-run: cannot load plug-in './" + library_name + "': "},
      {{"--plugin", fifo, "1000"},
       "",
       1,
       "velk-run: cannot load plug-in '" + fifo + "': not a regular file\n"},
      {{"--plugin", cut_short.path(), "1000"},
       "",
       128 + SIGBUS,
       "velk-run: the plug-in crashed (SIGBUS) during the loading of '" + cut_short.path() + "'\n"},
      {{"--plugin", not_a_plugin, "1000"},
       "",
       1,
       "velk-run: plug-in '" + not_a_plugin + "' has no get_providers: "},
      {Misbehaving({"1000"}, "null_device"), "", 1,
       "velk-run: plug-in '" + Faulty("null_device") +
           "': create() of its device provider gave no device\n"},
      {Misbehaving({"1000"}, "throws_int"), "", 1,
       "velk-run: plug-in '" + Faulty("throws_int") +
           "': get_providers failed: an exception that is not a std::exception\n"},
      {Misbehaving({"1000"}, "throws_error"), "", 1,
       "velk-run: plug-in '" + Faulty("throws_error") +
           "': get_providers failed: 'no providers today'\n"},
      {Misbehaving({"1000"}, "data_entry"), "", 1,
       "velk-run: plug-in '" + Faulty("data_entry") +
           "' has no get_providers: it is data, not a function\n"},
      // The loader's message names a symbol of 2000 bytes: shown cut, like any message.
      {Misbehaving({"1000"}, "undefined_symbol"), "", 1,
       "velk-run: cannot load plug-in '" + Faulty("undefined_symbol") + "': "},
      // The device's steps.
      {Misbehaving({"--config", throws.path()}), "", 1,
       "velk-run: the configuration '" + throws.path() + "' failed: 'bad \\x1b settings'\n", 1},
      {Misbehaving({"--config", refuses.path()}), "", 1,
       "velk-run: the device refused the configuration '" + refuses.path() + "'\n", 1},
      {Misbehaving({"--restore", "ee0000000000a041ea070c08051e16"}), "", 1,
       "velk-run: the restore of record 'ee0000000000a041ea070c08051e16' failed: "
       "'cached record rejected'\n",
       2},
      {Misbehaving({"--restore", "110000000000a041ea070c08051e16"}), "", 1,
       "velk-run: the device refused the restore of record "
       "'110000000000a041ea070c08051e16'\n",
       2},
      {Misbehaving({}), "0\n7\n", 1,
       "velk-run: the reading on line 2 of standard input failed: 'reading 7 is out of order'; "
       "the 1 reading before it was processed\n",
       3},
      {Misbehaving({"16"}), "", 1,
       "velk-run: the reading of argument 1 failed: no message; no reading was processed\n"},
      {Misbehaving({}), "0\n1\n", 128 + SIGSEGV, crashed + "SIGSEGV" + on_line_2, 3},
      {Misbehaving({}), "0\n2\n", 128 + SIGABRT, crashed + "SIGABRT" + on_line_2, 3},
      {Misbehaving({}), "0\n3\n", 128 + SIGBUS, crashed + "SIGBUS" + on_line_2, 3},
      {Misbehaving({}), "0\n4\n", 128 + SIGFPE, crashed + "SIGFPE" + on_line_2, 3},
      {Misbehaving({}), "0\n5\n", 128 + SIGILL, crashed + "SIGILL" + on_line_2, 3},
      {Misbehaving({}), "0\n11\n", 128 + SIGTRAP, crashed + "SIGTRAP" + on_line_2, 3},
      {Misbehaving({}), "0\n12\n", 128 + SIGSYS, crashed + "SIGSYS" + on_line_2, 3},
      // Ignored before velk-run started: no failure at all.
      {Misbehaving({"11"}), "", 0, "", 2, kIgnoreTrap},
      // What the plug-in wrote in the steps before a crash is out, however it wrote it.
      {Misbehaving({}), "17\n1\n", 128 + SIGSEGV, crashed + "SIGSEGV" + on_line_2, 3, 0,
       "printf line\ncout line\n"},
      {Misbehaving({}), "15\n", 128 + SIGSEGV,
       "velk-run: SIGSEGV while the plug-in was loaded, between steps; the 1 reading before it "
       "was processed\n",
       2, kHoldInput},
      {Misbehaving({"0", "6"}), "", 1,
       "velk-run: the plug-in called exit() during the reading of argument 2; the 1 reading "
       "before it was processed\n",
       3},
      {Misbehaving({"0", "8"}), "", 1,
       "velk-run: the plug-in called quick_exit() during the reading of argument 2; the 1 "
       "reading before it was processed\n",
       3},
      {Misbehaving({}), "9\n", 1,
       "velk-run: the plug-in called exit() between steps; the 1 reading before it was "
       "processed\n",
       2, kHoldInput},
      // A child the plug-in forks, which calls the host and exits, writes nothing.
      {Misbehaving({"10"}), "", 0, "", 2},
      {Misbehaving({"13"}), "", 0, "", 2, 0,
       R"("key":"bad)" + replacement + replacement + R"((","level":1,"name":")" + replacement +
           replacement + "\""},
      // A signal the plug-in leaves behind interrupts the reads of standard input.
      {Misbehaving({}), "14\n|0\n", 0, "", 3},
      {Misbehaving({"20"}), "", 128 + SIGSEGV,
       "velk-run: the plug-in crashed (SIGSEGV) during the destruction of its device\n", 2},
      {Misbehaving({"20", "7"}), "", 128 + SIGSEGV,
       "velk-run: the reading of argument 2 failed: 'reading 7 is out of order'; the 1 reading "
       "before it was processed\n"
       "velk-run: the plug-in crashed (SIGSEGV) during the destruction of its device\n",
       3},
      {Misbehaving({"21"}), "", 1, "velk-run: cannot write the plug-in's log to standard output\n",
       2, kLogFull},
      {Misbehaving({"22"}), "", 0, "", 3},  // its destructor calls the host
      {Misbehaving({"23"}), "", 128 + SIGSEGV,
       "velk-run: the plug-in crashed (SIGSEGV) " + at_unloading + "\n", 2},
      {Misbehaving({"24"}), "", 1, "velk-run: the plug-in called exit() " + at_unloading + "\n", 2},
      {Misbehaving({"23"}, "unique"), "", 128 + SIGSEGV,
       "velk-run: the plug-in crashed (SIGSEGV) " + at_exit + "\n", 2},
      {Misbehaving({"24"}, "unique"), "", 1,
       "velk-run: the plug-in called exit() " + at_exit + "\n", 2},
  };
  // Reading arguments are all checked before any round runs.
  for (const std::string bad : {"abc", "32768", "-32769", "1.5", "0x10", "12abc", " "}) {
    faults.push_back({Plugin({"1000", bad}), "", 2,
                      "velk-run: reading '" + bad +
                          "' (argument 2 of the readings) is not an integer from -32768 to 32767; "
                          "no reading was processed" +
                          usage});
  }
  for (const std::string good : {"32767", "-32768", "+7", "-0"}) {
    faults.push_back({Plugin({good}), "", 0, "", 1});
  }
  for (const std::string bad : {"", "1100", "1100000000000c42ea070c08051e1600", "zz"}) {
    faults.push_back({Plugin({"--restore", bad, "1000"}), "", 2,
                      "velk-run: --restore '" + bad + "' is not a record"});
  }

  const int full = open("/dev/full", O_WRONLY);
  const int root = open("/", O_RDONLY);
  int waiting[2];
  ASSERT_EQ(pipe(waiting), 0);
  ASSERT_EQ(write(waiting[1], "1000\n", 5), 5);
  ASSERT_EQ(fcntl(waiting[0], F_SETFL, O_NONBLOCK), 0);
  for (const Fault& fault : faults) {
    const std::string row = ::testing::PrintToString(fault.arguments) + " " + fault.input;
    Streams streams;
    if (fault.settings & kIgnoreTrap) streams.ignored_signal = SIGTRAP;
    if (fault.settings & kLogFull) streams.out = full;
    if (fault.settings & kErrorsFull) streams.err = full;
    if (fault.settings & kInputNonBlocking) streams.in = waiting[0];
    if (fault.settings & kInputDirectory) streams.in = root;
    if (fault.settings & kInputClosed) streams.in = -1;
    if (fault.settings & kSmallMemory) {
      if (!VELK_RUN_LIMITS_ADDRESS_SPACE) continue;  // sanitizers and emulators need more
      streams.address_space = 256 << 20;
    }
    VelkRun velk_run(fault.arguments, streams);
    const std::size_t later = fault.input.find('|');
    if (streams.in == -2) velk_run.Write(fault.input.substr(0, later));
    if (later != std::string::npos) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      velk_run.Write(fault.input.substr(later + 1));
    }
    const Outcome run = velk_run.Finish(!(fault.settings & kHoldInput));
    EXPECT_EQ(run.status, fault.status) << row;
    if (fault.message.empty() || fault.message.back() == '\n') {
      EXPECT_EQ(run.message, fault.message) << row;
    } else {
      EXPECT_THAT(run.message, StartsWith(fault.message)) << row;
      EXPECT_EQ(Lines(run.message), 1u) << row << run.message;
    }
    EXPECT_LT(run.message.size(), 2 * 1024u + 500) << row;  // paths and messages are cut
    if (fault.resets >= 0) {
      EXPECT_EQ(Count(run, "Reset"), fault.resets) << row;
    }
    if (fault.status == 2) {
      EXPECT_TRUE(run.events.empty() && run.log.empty()) << row;
    }
    EXPECT_THAT(run.log + run.err, HasSubstr(fault.shows)) << row;
  }
  for (const int fd : {full, root, waiting[0], waiting[1]}) close(fd);
  std::remove(fifo.c_str());
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
