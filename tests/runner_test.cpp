// velk-run through its command line, run as its own process: what a person sees on each stream
// and the exit status, for good runs and for every kind of bad input, plug-in and ending. The
// cases are named rows of one table, each a test of its own: ctest -R 'RunnerCase.*NAME'.
#include <dirent.h>
#include <elf.h>
#include <fcntl.h>
#include <json/reader.h>
#include <poll.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "host_standin/recorder.h"
#include "test_support.h"
#include "velk_run_command.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

struct Outcome {
  int status = -1;  // the exit status, or 128 and the signal that ended it
  bool signaled = false;
  std::string log;  // standard output: the plug-in's log, or --help, --version and --decode
  std::string err;
  std::vector<Json::Value> events;  // the JSON lines of err, or of the --events file
  std::string message;              // the other lines of err
};

// Where a run's standard streams go besides the test's own pipes, and what else it inherits.
enum Setting {
  kHoldInput = 1,  // standard input stays open until the run ends
  kIgnoreTrap = 2,
  kLogFull = 4,
  kErrorsFull = 8,
  kSmallMemory = 16,
  kInputNonBlocking = 32,  // "1000\n", then nothing to read yet
  kInputDirectory = 64,
  kInputClosed = 128,
  kErrorsClosed = 512,
  kOneFile = 1024,             // standard output and standard error are one file
  kPluginWritesErrors = 2048,  // the plug-in writes to standard error itself, in pieces
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
  std::string Content() const {
    std::ifstream file(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }

 private:
  std::string path_;
};

struct Streams {
  int in = -2;   // -2: a pipe from the test; -1: closed; else this descriptor
  int out = -2;  // -2: a pipe to the test; else this descriptor (/dev/full, one file)
  int err = -2;  // -2: a socket to the test that keeps each write apart; -1: closed; else this
  rlim_t address_space = RLIM_INFINITY;
  int ignored_signal = 0;  // a signal the run starts with ignored, as exec passes that on
  std::vector<std::string> environment;
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
      const int wanted[3] = {in[0], out[1], err[1]};
      for (int fd = 0; fd < 3; ++fd) {
        if (wanted[fd] < 0) {
          close(fd);
        } else {
          dup2(wanted[fd], fd);
        }
      }
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
      for (const std::string& variable : streams.environment) putenv(strdup(variable.c_str()));
      execv(argv[0], argv.data());
      _exit(127);
    }
    if (streams.in == -2) {
      close(in[0]);
      input_ = in[1];
    }
    if (streams.out == -2) {
      close(out[1]);
      output_ = out[0];
    }
    if (streams.err == -2) {
      close(err[1]);
      errors_ = err[0];
    }
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
  Outcome Finish(bool close_input = true, bool whole_writes = true) {
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
    outcome.signaled = WIFSIGNALED(status);
    outcome.log = log_;
    for (const std::string& write : all_writes_) {
      if (whole_writes) {
        EXPECT_EQ(write.back(), '\n') << "a write of part of a line: " << write;
      }
      outcome.err += write;
    }
    std::istringstream lines(outcome.err);
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line.front() == '{') {
        AddEvent(line, outcome);
      } else if (line.rfind("qemu: uncaught target signal", 0) != 0) {  // the emulator's own
        outcome.message += line + "\n";
      }
    }
    return outcome;
  }

  // An event line, which must be strict JSON in valid UTF-8.
  static void AddEvent(const std::string& line, Outcome& outcome) {
    rapidjson::Document strict;
    strict.Parse<rapidjson::kParseValidateEncodingFlag>(line.c_str());
    EXPECT_FALSE(strict.HasParseError() || !strict.IsObject()) << "not strict JSON: " << line;
    Json::Value event;
    std::istringstream text(line);
    EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), text, &event, nullptr)) << line;
    outcome.events.push_back(event);
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
      if (got <= 0) {
        close(output_);
        output_ = -1;
      }
    }
    if (watched[1].revents != 0) {
      const ssize_t got = recv(errors_, buffer, sizeof(buffer), 0);
      if (got > 0) {
        writes_.emplace_back(buffer, static_cast<std::size_t>(got));
        all_writes_.push_back(writes_.back());
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

std::vector<std::string> Misbehaving(std::vector<std::string> rest, const char* fault = "") {
  rest.insert(rest.begin(), {"--plugin", Faulty(*fault ? fault : "misbehaving_device")});
  return rest;
}

int Count(const Outcome& outcome, const std::string& call) {
  int n = 0;
  for (const Json::Value& event : outcome.events) n += event["call"].asString() == call;
  return n;
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

std::string PluginBytes() {
  std::ifstream file(VELK_PLUGIN_PATH, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// The files the cases name as <NAME>, made the first time a case of this process names them.
std::string File(const std::string& name) {
  static std::map<std::string, std::unique_ptr<TempFile>> files;
  static const std::map<std::string, std::function<std::string()>> kContents = {
      {"throws", [] { return R"({"throw": "bad \u001b settings"})"; }},
      {"refuses", [] { return R"({"refuse": true})"; }},
      {"broken", [] { return "{\n  \"appSetting\": {\"b_mode\": 3 \"x\"}\n}\n"; }},
      {"two_values", [] { return "{\"appSetting\": {\"b_mode\": 3}}\n{\"appSetting\": {}}\n"; }},
      // jsoncpp stops at a NUL byte.
      {"after_nul", [] { return std::string("{}\n\0{\"appSetting\": 3}", 20); }},
      {"no_room",
       [] {
         std::string huge = "[0";
         for (int i = 0; i < 5000000; ++i) huge += ",0";
         return huge + "]";
       }},
      // The limit itself is taken, a byte more is not.
      {"16_MiB", [] { return "{\"x\":\"" + std::string(16 * 1024 * 1024 - 8, 'a') + "\"}"; }},
      {"16_MiB_and_a_byte",
       [] { return "{\"x\":\"" + std::string(16 * 1024 * 1024 - 7, 'a') + "\"}"; }},
      {"cut_short", [] { return PluginBytes().substr(0, 4096); }},  // headers whole, segments not
      // The plug-in whose undefined symbol of 2000 bytes has an escape byte in its name.
      {"undefined_escape",
       [] {
         std::ifstream file(Faulty("undefined_symbol"), std::ios::binary);
         std::string bytes(std::istreambuf_iterator<char>(file), {});
         bytes[bytes.find("velk_missing_") + 4] = '\x1b';
         return bytes;
       }},
      // The plug-in as another machine's: its ELF header names AArch64 (or x86-64 on AArch64).
      {"foreign",
       [] {
         std::string bytes = PluginBytes();
         std::uint16_t machine = 0;
         std::memcpy(&machine, &bytes[18], 2);
         machine = machine == EM_AARCH64 ? EM_X86_64 : EM_AARCH64;
         std::memcpy(&bytes[18], &machine, 2);
         return bytes;
       }},
  };
  auto& file = files[name];
  if (!file) file = std::make_unique<TempFile>(kContents.at(name)());
  return file->path();
}

// A FIFO of this process alone: suites running at once share the temporary directory.
std::string Fifo() {
  struct Made {
    std::string path = ::testing::TempDir() + "velk-run-fifo-" + std::to_string(getpid()) + ".so";
    Made() { EXPECT_EQ(mkfifo(path.c_str(), 0600), 0) << std::strerror(errno); }
    ~Made() { std::remove(path.c_str()); }
  };
  static const Made fifo;
  return fifo.path;
}

// `text` with each <NAME> replaced: <plugin>, <faulty>, <faulty:FAULT>, <dir>, <fifo>,
// <events>, <not_a_plugin> and its bare file name <library_name>, else a file of File().
std::string Resolved(std::string text, const std::string& events = "") {
  for (std::size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at)) {
    const std::size_t end = text.find('>', at);
    if (end == std::string::npos) break;
    const std::string name = text.substr(at + 1, end - at - 1);
    const std::string not_a_plugin = VELK_NOT_A_PLUGIN_PATH;
    std::string value;
    if (name == "plugin") {
      value = VELK_PLUGIN_PATH;
    } else if (name == "faulty") {
      value = Faulty("misbehaving_device");
    } else if (name.rfind("faulty:", 0) == 0) {
      value = Faulty(name.substr(7));
    } else if (name == "dir") {
      value = ::testing::TempDir();
    } else if (name == "fifo") {
      value = Fifo();
    } else if (name == "events") {
      value = events;
    } else if (name == "not_a_plugin") {
      value = not_a_plugin;
    } else if (name == "library_name") {
      value = not_a_plugin.substr(not_a_plugin.rfind('/') + 1);
    } else {
      value = File(name);
    }
    text.replace(at, end - at + 1, value);
    at += value.size();
  }
  return text;
}

// One run of velk-run and what a person must see of it, named for the test it is.
struct Case {
  explicit Case(std::string name) : name(std::move(name)) {}
  Case& Args(std::vector<std::string> value) {
    arguments = std::move(value);
    return *this;
  }
  Case& Input(std::string value, std::string after_a_pause = "") {
    input = std::move(value);
    later = std::move(after_a_pause);
    return *this;
  }
  Case& Status(int value) {
    status = value;
    return *this;
  }
  // Every line of standard error that is no event; without a last newline, the start of one.
  Case& Says(std::string value) {
    message = std::move(value);
    return *this;
  }
  Case& Resets(int value) {  // Reset events: the readings' rounds, and a step of the faulty device
    resets = value;
    return *this;
  }
  Case& With(int value) {
    settings = value;
    return *this;
  }
  Case& Shows(std::string value) {  // on standard output or standard error
    shows = std::move(value);
    return *this;
  }
  Case& Environment(std::vector<std::string> value) {
    environment = std::move(value);
    return *this;
  }
  // Sent once standard error has had `writes` writes: to velk-run, or to its worker.
  Case& Signal(int value, int writes, bool worker = false) {
    signal = value;
    signal_after = writes;
    to_worker = worker;
    return *this;
  }
  Case& Check(std::function<void(const Outcome&)> value) {
    check = std::move(value);
    return *this;
  }

  std::string name;
  std::vector<std::string> arguments;
  std::string input;
  std::string later;  // what comes on standard input 300 ms after `input`
  int status = 0;
  std::string message;
  int resets = -1;
  int settings = 0;
  std::string shows;
  std::vector<std::string> environment;
  int signal = 0;
  int signal_after = 0;
  bool to_worker = false;
  std::function<void(const Outcome&)> check;
};

const std::string kUsage = " (velk-run --help shows the usage)\n";
const std::string kOnLine2 =
    " during the reading on line 2 of standard input; the 1 reading before it was processed\n";
const std::string kArgument2 =
    " during the reading of argument 2; the 1 reading before it was processed\n";
const std::string kHanging = " during the reading of argument 1; no reading was processed\n";
const std::string kReplacement = "\xef\xbf\xbd";  // U+FFFD
const std::string kCetWithSummerTime = "TZ=CET-1CEST,M3.5.0,M10.5.0/3";
// A library that dlclose cannot unload runs its static destructors at velk-run's exit; under
// musl, dlclose unloads none.
#if defined(__GLIBC__)
const std::string kAtUnloading = "during the unloading of '<faulty>'";
#else
const std::string kAtUnloading = "during its static destructors at exit";
#endif

std::vector<Case> Cases() {
  std::vector<Case> cases = {
      // Output that cannot be written.
      Case("log_to_a_full_disk")
          .Args(Plugin({}))
          .Input("1000\n1500\n")
          .With(kLogFull)
          .Status(1)
          .Says("velk-run: cannot write the plug-in's log to standard output; stopped after 1 "
                "reading\n")
          .Resets(1),
      Case("events_to_a_full_disk")
          .Args(Plugin({}))
          .Input("1000\n1500\n")
          .With(kErrorsFull)
          .Status(1),  // the status alone tells
      // Closed, standard error is no file the plug-in may open: the events are lost, and said so.
      Case("events_closed_at_start").Args(Misbehaving({"0"})).With(kErrorsClosed).Status(1),
      Case("help_to_a_full_disk")
          .Args({"--help"})
          .With(kLogFull)
          .Status(1)
          .Says("velk-run: cannot write the usage: " + std::string(std::strerror(ENOSPC)) + "\n"),
      Case("a_step_fails_and_loses_its_log")
          .Args(Misbehaving({"34"}))
          .With(kLogFull)
          .Status(1)
          .Says("velk-run: the reading of argument 1 failed: 'reading 34 fails after its log'; no "
                "reading was processed\n"
                "velk-run: cannot write the plug-in's log to standard output; stopped after 1 "
                "reading\n"),
      // The events on their own.
      Case("events_file_holds_the_events_alone")
          .Args(Misbehaving({"--events", "<events>", "32", "0"}))
          .With(kPluginWritesErrors)
          .Says("warning: ")
          .Resets(3)
          .Check([](const Outcome& run) { EXPECT_EQ(Count(run, "CheckThreshold"), 1); }),
      Case("events_file_that_cannot_be_made")
          .Args(Plugin({"--events", "/nonexistent/events.jsonl", "1000"}))
          .Status(1)
          .Says("velk-run: cannot open the events file '/nonexistent/events.jsonl': " +
                std::string(std::strerror(ENOENT)) + "\n"),
      // Written where the calls were made, whatever the plug-in left unflushed.
      Case("one_file_keeps_the_order_of_the_calls")
          .Args(Misbehaving({"17"}))
          .With(kOneFile)
          .Shows("{\"call\":\"Reset\"}\nprintf line\ncout line\n{\"call\":\"CheckThreshold\""),
      Case("config_without_room")
          .Args(Plugin({"--config", "<no_room>", "1000"}))
          .With(kSmallMemory)
          .Status(1)
          .Says("velk-run: config '<no_room>' does not fit in memory\n"),
      // The device's steps.
      Case("config_throws")
          .Args(Misbehaving({"--config", "<throws>"}))
          .Status(1)
          .Says("velk-run: the configuration '<throws>' failed: 'bad \\x1b settings'\n")
          .Resets(1),
      Case("config_refused")
          .Args(Misbehaving({"--config", "<refuses>"}))
          .Status(1)
          .Says("velk-run: the device refused the configuration '<refuses>'\n")
          .Resets(1),
      Case("restore_throws")
          .Args(Misbehaving({"--restore", "ee0000000000a041ea070c08051e16"}))
          .Status(1)
          .Says("velk-run: the restore of record 'ee0000000000a041ea070c08051e16' failed: "
                "'cached record rejected'\n")
          .Resets(2),
      Case("restore_refused")
          .Args(Misbehaving({"--restore", "110000000000a041ea070c08051e16"}))
          .Status(1)
          .Says("velk-run: the device refused the restore of record "
                "'110000000000a041ea070c08051e16'\n")
          .Resets(2),
      Case("reading_throws")
          .Args(Misbehaving({}))
          .Input("0\n7\n")
          .Status(1)
          .Says("velk-run: the reading on line 2 of standard input failed: 'reading 7 is out of "
                "order'; the 1 reading before it was processed\n")
          .Resets(3),
      Case("reading_throws_without_a_message")
          .Args(Misbehaving({"16"}))
          .Status(1)
          .Says("velk-run: the reading of argument 1 failed: no message; no reading was "
                "processed\n"),
      // How the plug-in's process can end in a step, each told as it is: crashes, below.
      // Ignored before velk-run started: no failure at all.
      Case("trap_ignored_at_start").Args(Misbehaving({"11"})).With(kIgnoreTrap).Resets(2),
      // What the plug-in wrote in the steps before a crash is out, however it wrote it.
      Case("log_before_a_crash_is_out")
          .Args(Misbehaving({}))
          .Input("17\n1\n")
          .Status(128 + SIGSEGV)
          .Says("velk-run: the plug-in crashed (SIGSEGV)" + kOnLine2)
          .Resets(3)
          .Shows("printf line\ncout line\n"),
      Case("exit")
          .Args(Misbehaving({"0", "6"}))
          .Status(1)
          .Says("velk-run: the plug-in's process exited with status 0" + kArgument2)
          .Resets(3),
      Case("quick_exit")
          .Args(Misbehaving({"0", "8"}))
          .Status(1)
          .Says("velk-run: the plug-in's process exited with status 0" + kArgument2)
          .Resets(3),
      // A library's message in the program's name names the plug-in.
      Case("errx")
          .Args(Misbehaving({"0", "27"}))
          .With(kPluginWritesErrors)
          .Status(1)
          .Says("velk_faulty_misbehaving_device.so: the plug-in's own complaint\n"
                "velk-run: the plug-in's process exited with status 5" +
                kArgument2),
      Case("error")
          .Args(Misbehaving({"0", "28"}))
          .With(kPluginWritesErrors)
          .Status(1)
          .Says("velk_faulty_misbehaving_device.so: the plug-in's own error\n"
                "velk-run: the plug-in's process exited with status 6" +
                kArgument2),
      // Between steps velk-run's own code runs: a thread the plug-in left is not named.
      Case("crash_between_steps")
          .Args(Misbehaving({}))
          .Input("15\n")
          .With(kHoldInput)
          .Status(128 + SIGSEGV)
          .Says("velk-run: the plug-in's process was killed by SIGSEGV between steps; the 1 "
                "reading before it was processed\n")
          .Resets(2),
      Case("exit_between_steps")
          .Args(Misbehaving({}))
          .Input("9\n")
          .With(kHoldInput)
          .Status(1)
          .Says("velk-run: the plug-in's process exited with status 0 between steps; the 1 "
                "reading before it was processed\n")
          .Resets(2),
      // Signals from outside: one sent to velk-run is passed on; one sent to the worker is told.
      Case("sigabrt_sent_to_velk_run")
          .Args(Misbehaving({"31"}))
          .Signal(SIGABRT, 3)
          .Status(128 + SIGABRT)
          .Says("velk-run: SIGABRT, sent to velk-run and passed on, ended the plug-in's process" +
                kHanging),
      Case("sigterm_sent_to_velk_run")
          .Args(Misbehaving({"31"}))
          .Signal(SIGTERM, 3)
          .Status(128 + SIGTERM)
          .Says("velk-run: SIGTERM, sent to velk-run and passed on, ended the plug-in's process" +
                kHanging),
      Case("sigint_sent_to_velk_run")
          .Args(Misbehaving({"31"}))
          .Signal(SIGINT, 3)
          .Status(128 + SIGINT)
          .Says("velk-run: SIGINT, sent to velk-run and passed on, ended the plug-in's process" +
                kHanging),
      Case("worker_killed")
          .Args(Misbehaving({"31"}))
          .Signal(SIGKILL, 3, true)
          .Status(128 + SIGKILL)
          .Says("velk-run: the plug-in's process was killed by SIGKILL (from outside, or by the "
                "kernel when memory ran out)" +
                kHanging),
      // A child the plug-in forks, which calls the host and exits, writes nothing.
      Case("forked_child_writes_nothing").Args(Misbehaving({"10"})).Resets(2),
      Case("bytes_that_are_no_utf8_repaired")
          .Args(Misbehaving({"13"}))
          .Resets(2)
          .Shows(R"("key":"bad)" + kReplacement + kReplacement + R"((","level":1,"name":")" +
                 kReplacement + kReplacement + "\""),
      // A signal the plug-in leaves behind interrupts the reads of standard input.
      Case("reads_interrupted").Args(Misbehaving({})).Input("14\n", "0\n").Resets(3),
      // Teardown, at unloading and at exit.
      Case("crash_in_the_destructor")
          .Args(Misbehaving({"20"}))
          .Status(128 + SIGSEGV)
          .Says("velk-run: the plug-in crashed (SIGSEGV) during the destruction of its device\n")
          .Resets(2),
      Case("failure_then_crash_in_the_destructor")
          .Args(Misbehaving({"20", "7"}))
          .Status(128 + SIGSEGV)
          .Says("velk-run: the reading of argument 2 failed: 'reading 7 is out of order'; the 1 "
                "reading before it was processed\n"
                "velk-run: the plug-in crashed (SIGSEGV) during the destruction of its device\n")
          .Resets(3),
      Case("log_of_the_destructor_to_a_full_disk")
          .Args(Misbehaving({"21"}))
          .With(kLogFull)
          .Status(1)
          .Says("velk-run: cannot write the plug-in's log to standard output\n")
          .Resets(2),
      Case("destructor_calls_the_host").Args(Misbehaving({"22"})).Resets(3),
      Case("crash_at_unloading")
          .Args(Misbehaving({"23"}))
          .Status(128 + SIGSEGV)
          .Says("velk-run: the plug-in crashed (SIGSEGV) " + kAtUnloading + "\n")
          .Resets(2),
      Case("crash_at_exit")
          .Args(Misbehaving({"23"}, "unique"))
          .Status(128 + SIGSEGV)
          .Says("velk-run: the plug-in crashed (SIGSEGV) during its static destructors at exit\n")
          .Resets(2),
      // The process was ending with status 0 already: that is what it ends with.
      Case("exit_at_exit").Args(Misbehaving({"24"}, "unique")).Resets(2),
      Case("destructor_function_at_exit_to_a_full_disk")
          .Args(Misbehaving({"33"}, "unique"))
          .With(kLogFull)
          .Status(1)
          .Says("velk-run: cannot write the plug-in's log to standard output\n"),
  };
#if defined(__GLIBC__)
  cases.push_back(
      Case("exit_at_unloading")
          .Args(Misbehaving({"24"}))
          .Status(1)
          .Says("velk-run: the plug-in's process exited with status 0 " + kAtUnloading + "\n"));
#endif
  // Each signal of a crash, raised by the reading that follows a good one.
  const std::tuple<const char*, const char*, int> crashes[] = {
      {"sigsegv", "1", SIGSEGV}, {"sigabrt", "2", SIGABRT}, {"sigbus", "3", SIGBUS},
      {"sigfpe", "4", SIGFPE},   {"sigill", "5", SIGILL},   {"sigtrap", "11", SIGTRAP},
      {"sigsys", "12", SIGSYS}};
  for (const auto& [name, reading, signal] : crashes) {
    std::string upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    cases.push_back(Case(std::string("crash_") + name)
                        .Args(Misbehaving({}))
                        .Input(std::string("0\n") + reading + "\n")
                        .Status(128 + signal)
                        .Says("velk-run: the plug-in crashed (" + upper + ")" + kOnLine2)
                        .Resets(3));
  }
  return cases;
}

void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name << " " << ::testing::PrintToString(c.arguments);
}

class RunnerCase : public ::testing::TestWithParam<Case> {};

// What a person sees: the events of the step a run was in, then one line for each failure (the
// first kept when a second follows), outside text escaped and cut, nothing lost, nothing false,
// never status 0 for a failure, and a signal ending the run as it would have without velk-run.
TEST_P(RunnerCase, TellsWhatHappened) {
  const Case& c = GetParam();
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  const int root = open("/", O_RDONLY | O_CLOEXEC);
  int waiting[2];
  ASSERT_EQ(pipe2(waiting, O_CLOEXEC), 0);
  ASSERT_EQ(write(waiting[1], "1000\n", 5), 5);
  ASSERT_EQ(fcntl(waiting[0], F_SETFL, O_NONBLOCK), 0);
  const TempFile events("");
  const TempFile one_file("");
  const int one = open(one_file.path().c_str(), O_WRONLY | O_CLOEXEC);
  Streams streams;
  if (c.settings & kIgnoreTrap) streams.ignored_signal = SIGTRAP;
  if (c.settings & kLogFull) streams.out = full;
  if (c.settings & kErrorsFull) streams.err = full;
  if (c.settings & kErrorsClosed) streams.err = -1;
  if (c.settings & kOneFile) streams.out = streams.err = one;
  if (c.settings & kInputNonBlocking) streams.in = waiting[0];
  if (c.settings & kInputDirectory) streams.in = root;
  if (c.settings & kInputClosed) streams.in = -1;
  if (c.settings & kSmallMemory) {
    if (!VELK_RUN_LIMITS_ADDRESS_SPACE) GTEST_SKIP() << "sanitizers and emulators need more";
    streams.address_space = 256 << 20;
  }
  streams.environment = c.environment;
  std::vector<std::string> arguments;
  for (const std::string& argument : c.arguments)
    arguments.push_back(Resolved(argument, events.path()));
  VelkRun velk_run(arguments, streams);
  if (streams.in == -2) velk_run.Write(c.input);
  if (!c.later.empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    velk_run.Write(c.later);
  }
  if (c.signal != 0) {
    for (int i = 0; i < c.signal_after; ++i) ASSERT_NE(velk_run.NextWrite(), "");
    pid_t target = velk_run.pid();
    if (c.to_worker) target = WorkerOf(target);
    ASSERT_GT(target, 0);
    kill(target, c.signal);
  }
  Outcome run = velk_run.Finish(!(c.settings & kHoldInput), !(c.settings & kPluginWritesErrors));
  if (c.settings & kOneFile) run.log = one_file.Content();
  if (!events.Content().empty()) {
    EXPECT_TRUE(run.events.empty()) << "events on standard error as well";
    std::istringstream lines(events.Content());
    for (std::string line; std::getline(lines, line);) VelkRun::AddEvent(line, run);
  }
  for (const int fd : {full, root, waiting[0], waiting[1], one}) close(fd);

  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.signaled, c.status > 128) << "a signal ends velk-run as it ended the plug-in";
  const std::string message = Resolved(c.message);
  if (message.empty() || message.back() == '\n') {
    EXPECT_EQ(run.message, message);
  } else {
    EXPECT_THAT(run.message, StartsWith(message));
    EXPECT_EQ(Lines(run.message), 1u) << run.message;
  }
  EXPECT_LT(run.message.size(), 2 * 1024u + 500);  // paths and messages are cut
  if (c.resets >= 0) {
    EXPECT_EQ(Count(run, "Reset"), c.resets);
  }
  if (c.status == 2) {
    EXPECT_TRUE(run.events.empty() && run.log.empty());
  }
  EXPECT_THAT(run.log + run.err, HasSubstr(Resolved(c.shows)));
  if (c.check) c.check(run);
}

INSTANTIATE_TEST_SUITE_P(, RunnerCase, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return info.param.name;
                         });

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

// Each byte that starts no well-formed UTF-8 sequence becomes one U+FFFD, as Go's encoding/json
// repairs strings; the well-formed around it stay.
TEST(EventTest, EachByteOfAMalformedSequenceBecomesOneReplacement) {
  const std::string r = kReplacement;
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
