// velk-run: drives the plug-in as the daemon does, so it can be tried without the daemon: the
// command line of a plain run, the run itself in a worker process that velk-run watches, and
// main, which also hands "velk-run test" to the scenarios.
#include <fcntl.h>
#include <limits.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "loader/config.h"
#include "loader/failure.h"
#include "runner/clock.h"
#include "runner/options.h"
#include "runner/report.h"
#include "runner/scenario_command.h"
#include "runner/session.h"
#include "runner/supervisor.h"

namespace velk_run {
namespace {

using velk::Failure;
using velk::Quoted;

const char kReadingRange[] = "an integer from -32768 to 32767";
constexpr std::size_t kMaxLineBytes = 4096;  // a reading needs a few; comments may be longer

// What the command line asks for, every value checked before anything runs.
struct Command {
  bool help = false;
  bool version = false;
  std::optional<Record> decode;
  std::optional<std::string> plugin;
  std::optional<std::uint32_t> data_id;
  std::optional<std::string> config;
  std::optional<Record> restore;
  std::optional<std::string> events;
  std::optional<std::time_t> clock;
  std::optional<std::time_t> clock_step;
  std::vector<short> readings;  // none: read them from standard input
};

enum OptionValue {
  kPlugin = 256,
  kDataId,
  kConfig,
  kRestore,
  kEvents,
  kClock,
  kClockStep,
  kDecode,
  kVersion
};
const option kOptions[] = {{"plugin", required_argument, nullptr, kPlugin},
                           {"data-id", required_argument, nullptr, kDataId},
                           {"config", required_argument, nullptr, kConfig},
                           {"restore", required_argument, nullptr, kRestore},
                           {"events", required_argument, nullptr, kEvents},
                           {"clock", required_argument, nullptr, kClock},
                           {"clock-step", required_argument, nullptr, kClockStep},
                           {"decode", required_argument, nullptr, kDecode},
                           {"help", no_argument, nullptr, 'h'},
                           {"version", no_argument, nullptr, kVersion},
                           {nullptr, 0, nullptr, 0}};

Record RecordOption(const char* option, const char* text) {
  const std::optional<Record> record = RecordFromHex(text);
  if (!record) {
    throw UsageError(std::string(option) + " " + Quoted(text, velk::kShownInput) +
                     " is not a record (15 bytes as 30 hex digits)");
  }
  return *record;
}

std::time_t ClockOption(const char* text) {
  std::string why;
  const std::optional<std::time_t> moment = LocalTime(text, why);
  if (!moment) throw UsageError("--clock " + Quoted(text, velk::kShownInput) + " " + why);
  return *moment;
}

// One option of the command line into `command`; `alone` counts --help, --version and
// --decode, which stand alone.
void TakeOption(Command& command, int value, const char* text, int& alone) {
  switch (value) {
    case 'h':
      command.help = true;
      ++alone;
      break;
    case kVersion:
      command.version = true;
      ++alone;
      break;
    case kDecode:
      SetOnce(command.decode, "--decode", RecordOption("--decode", text));
      ++alone;
      break;
    case kRestore:
      SetOnce(command.restore, "--restore", RecordOption("--restore", text));
      break;
    case kPlugin:
      SetOnce(command.plugin, "--plugin", FileArgument("--plugin", text));
      break;
    case kConfig:
      SetOnce(command.config, "--config", FileArgument("--config", text));
      break;
    case kEvents:
      SetOnce(command.events, "--events", FileArgument("--events", text));
      break;
    case kDataId:
      SetOnce(
          command.data_id, "--data-id",
          static_cast<std::uint32_t>(WholeNumber("--data-id", text, 0, 4294967295LL, "a number")));
      break;
    case kClock:
      SetOnce(command.clock, "--clock", ClockOption(text));
      break;
    case kClockStep:
      SetOnce(command.clock_step, "--clock-step",
              static_cast<std::time_t>(
                  WholeNumber("--clock-step", text, 0, 2147483647LL, "a whole number of seconds")));
      break;
  }
}

Command ParseCommandLine(int argc, char** argv) {
  Command command;
  int alone = 0;
  int given = 0;
  const auto take = [&](int value, const char* text) {
    ++given;
    TakeOption(command, value, text, alone);
  };
  const std::vector<std::string> readings = ReadOptions(argc, argv, kOptions, take);
  // Anything beside --help, --version or --decode would be ignored without a word.
  if (alone > 1 || (alone == 1 && given + readings.size() != 1)) {
    const char* which = command.help ? "--help" : command.version ? "--version" : "--decode";
    throw UsageError(std::string(which) + " takes no other arguments");
  }
  if (command.clock_step && !command.clock) throw UsageError("--clock-step needs --clock");
  // Arguments are all known up front: a bad one is refused before any round runs.
  for (std::size_t i = 0; i < readings.size(); ++i) {
    const auto reading = ParseDecimal(readings[i], -32768, 32767);
    if (!reading) {
      throw UsageError("reading " + Quoted(readings[i], velk::kShownInput) + " (argument " +
                       std::to_string(i + 1) + " of the readings) is not " + kReadingRange +
                       "; no reading was processed");
    }
    command.readings.push_back(static_cast<short>(*reading));
  }
  return command;
}

// A name without a slash is a file in the current directory, not a library to search for. The
// default is beside velk-run's file, as execve named it or, run as "ld.so velk-run" (with no
// interpreter of its own then), as the loader did; else where it is installed.
std::string PluginPath(const std::optional<std::string>& named, const char* argv0) {
  if (named) return NoSearch(*named);
  const char* self =
      getauxval(AT_BASE) != 0 ? reinterpret_cast<char*>(getauxval(AT_EXECFN)) : argv0;
  char path[PATH_MAX];
  if (self == nullptr || realpath(self, path) == nullptr) {
    throw Failure{"cannot tell where velk-run is (" + Quoted(self ? self : "") + ": " +
                  std::strerror(errno) +
                  "), so neither where its plug-in is; name it with --plugin"};
  }
  const std::string directory(path, std::strrchr(path, '/') + 1);
  const std::string beside = directory + "velk_temperature.so";
  // Installed, velk-run is in a bin/ and the plug-in where the daemon looks for plug-ins.
  const std::string installed =
      (VELK_INSTALLED_PLUGIN[0] == '/' ? "" : directory) + VELK_INSTALLED_PLUGIN;
  if (access(beside.c_str(), F_OK) != 0 && access(installed.c_str(), F_OK) == 0) return installed;
  return beside;
}

// Lines are bounded, so input without newlines (/dev/zero) is refused instead of filling memory.
void FeedStandardInput(Session& session) {
  std::string line;
  for (std::uint64_t number = 1;; ++number) {
    const std::string where = "line " + std::to_string(number) + " of standard input";
    line.clear();
    int c;
    while ((c = getc_unlocked(stdin)) != '\n') {
      if (c == EOF && std::ferror(stdin) && errno == EINTR) {  // a signal: read on
        clearerr(stdin);
        continue;
      }
      if (c == EOF && std::ferror(stdin)) {  // not the end of the readings
        throw Failure{"cannot read " + where + ": " + std::strerror(errno) + session.Processed()};
      }
      if (c == EOF) break;
      if (line.size() == kMaxLineBytes) {
        throw Failure{where + " is longer than " + std::to_string(kMaxLineBytes) +
                      " bytes, the limit" + session.Processed()};
      }
      line.push_back(static_cast<char>(c));
    }
    if (c == EOF && line.empty()) return;
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    const auto reading = ParseDecimal(line, -32768, 32767);
    if (!reading) {
      throw Failure{where + ": " + Quoted(line, velk::kShownInput) + " is not a reading (" +
                    kReadingRange + ")" + session.Processed()};
    }
    session.Process(static_cast<short>(*reading), "the reading on " + where);
  }
}

// The worker's whole run: each failure is reported as it is found, the first before the device
// is taken down, so that a failure of the teardown cannot hide it; the status is the first's.
[[noreturn]] void Work(const Command& command, const std::string& plugin, int events_fd,
                       Progress& progress) {
  // What the plug-in's libraries write in the program's name (errx(), error()) is the plug-in's.
  const std::string plugin_name = plugin.substr(plugin.rfind('/') + 1);
  program_invocation_name = const_cast<char*>(plugin_name.c_str());
  program_invocation_short_name = program_invocation_name;
  Report report;
  Session session(events_fd, progress, report);
  report.Catching([&] {
    // As the daemon, always a configuration: with an empty one the settings stamp the identifier.
    const Json::Value config =
        command.config ? velk::ReadConfig(*command.config) : Json::Value(Json::objectValue);
    session.Load(plugin);
    session.Configure(command.data_id.value_or(0), config,
                      command.config ? "the configuration " + Quoted(*command.config)
                                     : std::string("the empty configuration"));
    if (command.restore) {
      const std::string hex = standin::ToHex(command.restore->data(), command.restore->size());
      session.Restore(*command.restore, "the restore of record " + Quoted(hex));
    }
    // Standard input that held the configuration holds no readings.
    if (command.readings.empty() && command.config != "-") FeedStandardInput(session);
    for (std::size_t i = 0; i < command.readings.size(); ++i) {
      session.Process(command.readings[i], "the reading of argument " + std::to_string(i + 1));
    }
  });
  report.Catching([&] { session.Close(); });
  session.Exit();
}

// The events file. One that is standard output or standard error already is written through
// that descriptor: opened again, it would have an offset of its own, and the writers would
// overwrite each other (or O_TRUNC would empty what the shell appended to).
int EventsFile(const std::string& path) {
  struct stat named {};
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat open_file {};
    if (stat(path.c_str(), &named) == 0 && fstat(fd, &open_file) == 0 &&
        open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino) {
      return fd;
    }
  }
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    throw Failure{"cannot open the events file " + Quoted(path) + ": " + std::strerror(errno)};
  }
  return fd;
}

int Run(const Command& command, const char* argv0) {
  const std::string plugin = PluginPath(command.plugin, argv0);
  const int events_fd = command.events ? EventsFile(*command.events) : STDERR_FILENO;
  if (command.clock) FixClock(*command.clock, command.clock_step.value_or(0));
  const Ending ending =
      Supervise([&](Progress& progress, int) { Work(command, plugin, events_fd, progress); });
  if (ending.kind == Ending::Kind::kFinished) return ending.code;
  Report report;
  report.Failed(Worded(ending));
  if (ending.BySignal()) EndBy(ending.code);
  return report.Status();
}

// Descriptors 0 to 2 that velk-run was started without are opened on /dev/null, as coreutils
// do, so that no file the plug-in opens becomes one of them. Each is opened the wrong way round,
// so that its use still fails as on a closed descriptor.
void OpenStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF &&
        open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY) != fd) {
      _exit(velk::kFailed);
    }
  }
}

}  // namespace
}  // namespace velk_run

int main(int argc, char** argv) {
  using namespace velk_run;
  OpenStandardDescriptors();
  // Once, before any worker: how a worker tells itself from a child the plug-in forks.
  standin::MarkOwnProcess();
  Report report;
  int status = 0;
  report.Catching([&] {
    if (argc > 1 && std::strcmp(argv[1], "test") == 0) {
      status = TestScenarios(argc - 1, argv + 1, [&] { return PluginPath(std::nullopt, argv[0]); });
      return;
    }
    const Command command = ParseCommandLine(argc, argv);
    if (command.help) {
      WriteOut("the usage", kUsage);
    } else if (command.version) {
      WriteOut("the version", "velk-run " VELK_VERSION "\n");
    } else if (command.decode) {
      WriteOut("the decoded record",
               standin::Event(nullptr).Record(command.decode->data(), 15).Line());
    } else {
      status = Run(command, argv[0]);
    }
  });
  return report.Status() != 0 ? report.Status() : status;
}
