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
#include <functional>
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
  bool core_dumped = false;
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
// it, standard error a socket that keeps each write apart. `in_child` runs in it before exec.
class VelkRun {
 public:
  explicit VelkRun(const std::vector<std::string>& arguments,
                   rlim_t address_space = RLIM_INFINITY,
                   const std::function<void()>& in_child = [] {}) {
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
      // No core but where a test asks for one: the hard limit stays.
      rlimit cores{};
      getrlimit(RLIMIT_CORE, &cores);
      cores.rlim_cur = 0;
      setrlimit(RLIMIT_CORE, &cores);
      // The sanitizers' own handlers would report the plug-in's crashes in place of velk-run.
      setenv("ASAN_OPTIONS",
             "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:"
             "handle_sigtrap=0",
             1);
      in_child();
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
    outcome.core_dumped = WIFSIGNALED(status) && WCOREDUMP(status);
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

// A process's state as /proc says it ('R', 'S', 'T' stopped, 'Z' a zombie), and its parent;
// 0 where it is gone.
char StateOf(pid_t pid, pid_t* parent = nullptr) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  // "PID (NAME) STATE PPID ...", where NAME may hold blanks and parentheses.
  const std::size_t name_end = line.rfind(')');
  char state = 0;
  pid_t ppid = 0;
  if (name_end == std::string::npos ||
      std::sscanf(line.c_str() + name_end + 1, " %c %d", &state, &ppid) != 2) {
    return 0;
  }
  if (parent != nullptr) *parent = ppid;
  return state;
}

// Waits up to 30 seconds for `done`.
bool Eventually(const std::function<bool()>& done) {
  for (int tries = 0; tries < 300; ++tries) {
    if (done()) return true;
    usleep(100000);
  }
  return done();
}

// velk-run's worker: the process whose parent is `parent`, found in /proc.
pid_t WorkerOf(pid_t parent) {
  DIR* proc = opendir("/proc");
  pid_t worker = -1;
  for (dirent* entry; proc != nullptr && worker < 0 && (entry = readdir(proc)) != nullptr;) {
    pid_t ppid = 0;
    const pid_t pid = std::atoi(entry->d_name);
    if (pid > 0 && StateOf(pid, &ppid) != 0 && ppid == parent) worker = pid;
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

// Of two signals sent to velk-run, the one that ended the worker is told: here it ignores the
// first, SIGTERM, from its fourth write on.
TEST(RunnerTest, TheSignalThatEndedTheWorkerIsTheOneTold) {
  const TempFile hang(R"({"reading 1": "hang, ignoring SIGTERM"})");
  VelkRun run({"--plugin", Faulty("misbehaving_device"), "--config", hang.path(), "0"});
  for (int i = 0; i < 4; ++i) ASSERT_NE(run.NextWrite(), "");
  kill(run.pid(), SIGTERM);
  usleep(300000);
  kill(run.pid(), SIGINT);
  const Outcome outcome = run.Finish();
  EXPECT_EQ(outcome.status, 128 + SIGINT);
  EXPECT_EQ(outcome.message,
            "velk-run: SIGINT, sent to velk-run and passed on, ended the plug-in's process during "
            "the reading of argument 1; no reading was processed\n");
}

// A worker that stops by itself (as a plug-in that waits for a debugger) is said as it stops,
// with how to go on; it goes on when continued, and a signal sent to velk-run still ends it.
TEST(RunnerTest, AStoppedWorkerIsToldAndStillEnds) {
  const TempFile stop(R"({"reading 1": "stop"})");
  for (const bool continued : {true, false}) {
    VelkRun run({"--plugin", Faulty("misbehaving_device"), "--config", stop.path(), "0"});
    for (int i = 0; i < 3; ++i) ASSERT_NE(run.NextWrite(), "");
    const std::string worker = std::to_string(WorkerOf(run.pid()));
    EXPECT_EQ(run.NextWrite(), "velk-run: the plug-in's process " + worker +
                                   " stopped (SIGSTOP) during the reading of argument 1; no "
                                   "reading was processed; it goes on after 'kill -CONT " +
                                   worker + "'\n");
    kill(continued ? std::stoi(worker) : run.pid(), continued ? SIGCONT : SIGTERM);
    const Outcome outcome = run.Finish();
    EXPECT_EQ(outcome.status, continued ? 0 : 128 + SIGTERM) << outcome.message;
  }
}

// Ctrl-Z stops the run as a whole (the terminal sends SIGTSTP to the process group) and fg goes
// on with it (SIGCONT to the group): job control is not velk-run's to pass on, nor to tell.
TEST(RunnerTest, JobControlStopsAndContinuesTheRunAsAWhole) {
  VelkRun run({"--plugin", VELK_PLUGIN_PATH}, RLIM_INFINITY, [] { setpgid(0, 0); });
  ASSERT_NE(run.NextWrite(), "");  // the configuration's event
  const pid_t worker = WorkerOf(run.pid());
  kill(-run.pid(), SIGTSTP);
  EXPECT_TRUE(Eventually([&] { return StateOf(run.pid()) == 'T' && StateOf(worker) == 'T'; }))
      << "velk-run " << StateOf(run.pid()) << ", its worker " << StateOf(worker);
  kill(-run.pid(), SIGCONT);
  run.Write("1000\n");
  const Outcome outcome = run.Finish();
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.message, "");
}

// The worker does not outlive velk-run, even killed with SIGKILL, as a CI job's timeout kills
// it: it would go on writing the next readings' log and events into the user's files.
TEST(RunnerTest, TheWorkerDoesNotOutliveVelkRun) {
  const TempFile hang(R"({"reading 1": "hang"})");
  VelkRun run({"--plugin", Faulty("misbehaving_device"), "--config", hang.path(), "0"});
  for (int i = 0; i < 3; ++i) ASSERT_NE(run.NextWrite(), "");
  const pid_t worker = WorkerOf(run.pid());
  ASSERT_GT(worker, 0);
  kill(run.pid(), SIGKILL);
  EXPECT_TRUE(Eventually([&] { return StateOf(worker) == 0 || StateOf(worker) == 'Z'; }));
  kill(worker, SIGKILL);  // the test's own end, where the test fails
  run.Finish();
}

// Where cores are dumped, the worker's is the one: velk-run ends by its signal with no core of
// its own, as timeout(1) does. The worker dumps none here, so that a core of velk-run's would
// not find the name taken. (Where the machine dumps no core at all, this shows nothing.)
TEST(RunnerTest, VelkRunDumpsNoCoreOfItsOwn) {
  const TempFile crash(R"({"reading 1": "sigsegv, dumping no core"})");
  std::string folder = ::testing::TempDir() + "velk-run-core-XXXXXX";
  ASSERT_NE(mkdtemp(&folder[0]), nullptr);
  VelkRun run({"--plugin", Faulty("misbehaving_device"), "--config", crash.path(), "0"},
              RLIM_INFINITY, [&] {
                rlimit cores{};
                getrlimit(RLIMIT_CORE, &cores);
                cores.rlim_cur = cores.rlim_max;
                setrlimit(RLIMIT_CORE, &cores);
                if (chdir(folder.c_str()) != 0) _exit(127);
              });
  const Outcome outcome = run.Finish();
  EXPECT_EQ(outcome.status, 128 + SIGSEGV);
  EXPECT_FALSE(outcome.core_dumped);
  DIR* cores = opendir(folder.c_str());
  for (dirent* entry; cores != nullptr && (entry = readdir(cores)) != nullptr;) {
    std::remove((folder + "/" + entry->d_name).c_str());
  }
  if (cores != nullptr) closedir(cores);
  rmdir(folder.c_str());
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
