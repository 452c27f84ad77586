// velk-run as its own process, for what its transcripts (tests/cram/*.t) cannot show: how it
// cuts its output into writes, a signal sent in the middle of a step, a memory limit. Standard
// error is a sequenced-packet socket here, so every write velk-run makes arrives as one piece.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "host_standin/recorder.h"
#include "test_support.h"
#include "velk_run_command.h"

namespace {

using ::testing::StartsWith;

struct Outcome {
  int status = -1;  // the exit status, or 128 and the signal that ended it
  bool signaled = false;
  std::vector<std::string> writes;  // on standard error, one a write
  std::string message;              // the lines of standard error that are no event
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

// velk-run as a child process: standard input a pipe from the test, standard output a pipe to
// it, standard error a socket that keeps each write apart.
class VelkRun {
 public:
  explicit VelkRun(const std::vector<std::string>& arguments,
                   rlim_t address_space = RLIM_INFINITY) {
    std::vector<std::string> words = {VELK_RUN_COMMAND};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    int in[2], out[2], err[2];
    EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, err), 0);
    // A run that ends before it has read its input must not end the test with it.
    signal(SIGPIPE, SIG_IGN);
    pid_ = fork();
    if (pid_ == 0) {
      signal(SIGPIPE, SIG_DFL);
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(err[1], 2);
      const rlimit limit{address_space, address_space};
      setrlimit(RLIMIT_AS, &limit);
      const rlimit no_core{0, 0};
      setrlimit(RLIMIT_CORE, &no_core);
      // The sanitizers' own handlers would report the plug-in's crashes in place of velk-run.
      setenv("ASAN_OPTIONS",
             "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:"
             "handle_sigtrap=0",
             1);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    input_ = in[1];
    output_ = out[0];
    errors_ = err[0];
  }
  ~VelkRun() {
    if (pid_ > 0) Finish();
  }

  pid_t pid() const { return pid_; }

  // Input that a run which has ended cannot take any more is dropped.
  void Write(const std::string& text) {
    const ssize_t written = write(input_, text.data(), text.size());
    if (written < 0 && errno == EPIPE) return;
    EXPECT_EQ(written, static_cast<ssize_t>(text.size())) << std::strerror(errno);
  }

  // The next write on standard error, or "" when none comes within the deadline.
  std::string NextWrite() {
    while (writes_.size() == taken_ && Drain()) {
    }
    return writes_.size() > taken_ ? writes_[taken_++] : "";
  }

  // Every write must hold whole lines, and every event line be strict JSON in valid UTF-8.
  Outcome Finish() {
    if (input_ >= 0) close(input_);
    input_ = -1;
    while (Drain()) {
    }
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
    Outcome outcome;
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.signaled = WIFSIGNALED(status);
    outcome.writes = writes_;
    for (const std::string& write : writes_) {
      EXPECT_EQ(write.back(), '\n') << "a write of part of a line: " << write;
      std::size_t start = 0;
      for (std::size_t end; (end = write.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = write.substr(start, end - start);
        if (line.rfind("qemu: uncaught target signal", 0) == 0) continue;  // the emulator's own
        if (line.empty() || line.front() != '{') {
          outcome.message += line + "\n";
          continue;
        }
        rapidjson::Document strict;
        strict.Parse<rapidjson::kParseValidateEncodingFlag>(line.c_str());
        EXPECT_FALSE(strict.HasParseError() || !strict.IsObject()) << "not strict JSON: " << line;
      }
    }
    return outcome;
  }

 private:
  // Takes what has arrived on standard output (dropped) and standard error; false once both
  // are closed or nothing came for a minute (emulated runs are slow).
  bool Drain() {
    pollfd watched[2] = {{output_, POLLIN, 0}, {errors_, POLLIN, 0}};
    if (output_ < 0 && errors_ < 0) return false;
    if (poll(watched, 2, 60000) <= 0) return false;
    char buffer[256 * 1024];
    if (watched[0].revents != 0 && read(output_, buffer, sizeof(buffer)) <= 0) {
      close(output_);
      output_ = -1;
    }
    if (watched[1].revents != 0) {
      const ssize_t got = recv(errors_, buffer, sizeof(buffer), 0);
      if (got > 0) {
        writes_.emplace_back(buffer, static_cast<std::size_t>(got));
      } else {
        close(errors_);
        errors_ = -1;
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  int errors_ = -1;
  std::vector<std::string> writes_;
  std::size_t taken_ = 0;  // of writes_, by NextWrite
};

std::string Faulty(const std::string& fault) {
  return std::string(VELK_FAULTY_PLUGIN_DIR) + "/velk_faulty_" + fault + ".so";
}

// velk-run's worker: the process whose parent is `parent`, found in /proc.
pid_t WorkerOf(pid_t parent) {
  DIR* proc = opendir("/proc");
  pid_t worker = -1;
  for (dirent* entry; proc != nullptr && worker < 0 && (entry = readdir(proc)) != nullptr;) {
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string line;
    std::getline(stat, line);
    // "PID (NAME) STATE PPID ...", where NAME may hold blanks and parentheses.
    const std::size_t name_end = line.rfind(')');
    pid_t pid = 0;
    char state = 0;
    pid_t ppid = 0;
    if (name_end != std::string::npos && std::sscanf(line.c_str(), "%d", &pid) == 1 &&
        std::sscanf(line.c_str() + name_end + 1, " %c %d", &state, &ppid) == 2 && ppid == parent) {
      worker = pid;
    }
  }
  if (proc != nullptr) closedir(proc);
  return worker;
}

std::size_t Lines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Each of velk-run's writers, by the kind of line it writes: the command line's mistake, the
// events of the plug-in's calls, the worker's failure of a step with the supervisor's crash
// after it, a line of the longest (a loader's message cut at 1024 bytes), a bad line of input.
TEST(RunnerTest, EveryWriteHoldsWholeLines) {
  const TempFile throw_then_crash(R"({"reading 2": "throw", "destruction": "sigsegv"})");
  const std::pair<std::vector<std::string>, int> runs[] = {
      {{"--frobnicate"}, 2},
      {{"--plugin", VELK_PLUGIN_PATH, "1000", "1500"}, 0},
      {{"--plugin", Faulty("misbehaving_device"), "--config", throw_then_crash.path(), "0", "0"},
       128 + SIGSEGV},
      {{"--plugin", Faulty("undefined_symbol"), "1000"}, 1},
      {{"--plugin", VELK_PLUGIN_PATH}, 1}};  // reads "1000" and "warm"
  for (const auto& [arguments, status] : runs) {
    VelkRun run(arguments);
    run.Write("1000\nwarm\n");
    const Outcome outcome = run.Finish();
    EXPECT_EQ(outcome.status, status) << ::testing::PrintToString(arguments);
    EXPECT_GE(outcome.writes.size(), status == 0 ? 13u : 1u);
  }
}

TEST(RunnerTest, EachEventGoesOutInOneWriteAsTheCallIsMade) {
  VelkRun run({"--plugin", VELK_PLUGIN_PATH});
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

// A signal sent to velk-run in the middle of a step is passed on to the worker, and told as what
// it is; one sent to the worker is told as its end. The device hangs in its first reading, the
// third write (after the configuration's two events and the reading's Reset).
TEST(RunnerTest, SignalSentInTheMiddleOfAStepIsTold) {
  const TempFile hang(R"({"reading 1": "hang"})");
  const std::string during = " during the reading of argument 1; no reading was processed\n";
  struct Sent {
    int signal;
    bool to_worker;
    std::string message;
  };
  const Sent sent[] = {
      {SIGABRT, false, "SIGABRT, sent to velk-run and passed on, ended the plug-in's process"},
      {SIGTERM, false, "SIGTERM, sent to velk-run and passed on, ended the plug-in's process"},
      {SIGINT, false, "SIGINT, sent to velk-run and passed on, ended the plug-in's process"},
      {SIGKILL, true,
       "the plug-in's process was killed by SIGKILL (from outside, or by the kernel when memory "
       "ran out)"}};
  for (const Sent& each : sent) {
    VelkRun run({"--plugin", Faulty("misbehaving_device"), "--config", hang.path(), "0"});
    for (int i = 0; i < 3; ++i) ASSERT_NE(run.NextWrite(), "");
    const pid_t target = each.to_worker ? WorkerOf(run.pid()) : run.pid();
    ASSERT_GT(target, 0);
    kill(target, each.signal);
    const Outcome outcome = run.Finish();
    EXPECT_EQ(outcome.status, 128 + each.signal) << each.message;
    EXPECT_TRUE(outcome.signaled) << "a signal ends velk-run as it ended the plug-in";
    EXPECT_EQ(outcome.message, "velk-run: " + each.message + during);
  }
}

// A configuration that the parser cannot hold in the memory left is told as that.
TEST(RunnerTest, ConfigWithoutRoom) {
  if (!VELK_RUN_LIMITS_ADDRESS_SPACE) GTEST_SKIP() << "sanitizers and emulators need more";
  std::string huge = "[0";
  for (int i = 0; i < 5000000; ++i) huge += ",0";
  const TempFile no_room(huge + "]");
  VelkRun run({"--plugin", VELK_PLUGIN_PATH, "--config", no_room.path(), "1000"}, 256 << 20);
  const Outcome outcome = run.Finish();
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.message,
            "velk-run: config '" + no_room.path() + "' does not fit in memory\n");
}

// Each byte that starts no well-formed UTF-8 sequence becomes one U+FFFD, as Go's encoding/json
// repairs strings; the well-formed around it stay.
TEST(EventTest, EachByteOfAMalformedSequenceBecomesOneReplacement) {
  const std::string r = "\xef\xbf\xbd";  // U+FFFD
  const std::pair<std::string, std::string> texts[] = {
      {"plain \x7f", "plain \x7f"},
      {"\xc3\xa9\xe6\xb8\xa9\xf0\x9f\x98\x80", "\xc3\xa9\xe6\xb8\xa9\xf0\x9f\x98\x80"},
      {"\x80", r},          // a continuation byte alone
      {"\xc0\xaf", r + r},  // overlong forms
      {"\xc1\xbf", r + r},
      {"\xe0\x80\xaf", r + r + r},
      {"\xf0\x80\x80\xaf", r + r + r + r},
      {"\xed\xa0\x80", r + r + r},          // a surrogate
      {"\xf4\x90\x80\x80", r + r + r + r},  // past U+10FFFF
      {"\xf5\x80\x80\x80", r + r + r + r},  // lead bytes of no sequence
      {"\xff", r},
      {"\xe6\xb8", r + r},  // cut short, at the end
      {"\xe6\xb8"
       "a",
       r + r + "a"},  // and before another character
      {"\xf0\x9f\x98", r + r + r},
  };
  for (const auto& [bytes, repaired] : texts) {
    standin::Event event("test");
    const std::string line(event.Text("text", bytes).Line());
    EXPECT_EQ(line, R"({"call":"test","text":")" + repaired + "\"}\n")
        << ::testing::PrintToString(bytes);
  }
}

}  // namespace
