// velk-run: drives the plug-in as the daemon does, so it can be tried without the daemon: its
// command line, and main, which starts the worker that loads the plug-in and watches it.
#include <fcntl.h>
#include <limits.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "loader/config.h"
#include "loader/failure.h"
#include "runner/report.h"
#include "runner/session.h"
#include "runner/supervisor.h"

namespace velk_run {
namespace {

using velk::Failure;
using velk::Quoted;

const char kUsage[] =
    "usage: velk-run [OPTION...] [--] [READING...]\n"
    "       velk-run --decode HEX | --help | --version\n"
    "Loads the plug-in as the daemon does, in a worker process that velk-run watches, and drives\n"
    "one device: its configuration, a cached record if given, then raw readings (-32768 to "
    "32767),\n"
    "those given or else one a line of standard input. The plug-in's log goes to standard output;\n"
    "each call it makes into the host, as a JSON line to standard error or the --events file.\n"
    "  --plugin PATH       plug-in file to load (default: velk_temperature.so next to velk-run)\n"
    "  --data-id N         the device's data identifier, 0 to 4294967295 (default 0)\n"
    "  --config FILE       the device's JSON configuration (default: an empty object)\n"
    "  --restore HEX       a cached 15-byte record as 30 hex digits, restored before the readings\n"
    "  --events FILE       write the events to FILE (created or truncated), not to standard error\n"
    "  --clock TIME        the local time 'YYYY-MM-DD HH:MM:SS' of the first round (default: now)\n"
    "  --clock-step N      seconds the clock moves on before each later round (default 0)\n"
    "  --decode HEX        print a 15-byte record given as 30 hex digits as JSON, load nothing\n"
    "  -h, --help          print this and exit\n"
    "  --version           print velk-run's version and exit\n"
    "  --                  what follows is readings, even where it starts with '-'\n"
    "An option's value may also follow it after '=': --data-id=17.\n"
    "Exit status: 0 done, 1 a failure while running, 2 a mistake on the command line, 128 + N\n"
    "where signal N ended the plug-in's process, which then ends velk-run.\n";

constexpr int kUsageError = 2;  // the command line; nothing was run
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

Failure UsageError(const std::string& message) {
  return Failure{message + " (velk-run --help shows the usage)", kUsageError};
}

// The whole text, bar surrounding blanks, as a decimal integer (signed, no "0x") in [low, high].
std::optional<long long> ParseDecimal(std::string_view text, long long low, long long high) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return std::nullopt;
  text = text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

Record ParseRecord(const std::string& option, const std::string& text) {
  Record record{};
  bool hex = text.size() == 2 * record.size();
  for (std::size_t i = 0; hex && i < record.size(); ++i) {
    const char* digits = text.data() + 2 * i;
    hex = std::from_chars(digits, digits + 2, record[i], 16).ptr == digits + 2;
  }
  if (!hex) {
    throw UsageError(option + " " + Quoted(text, velk::kShownInput) +
                     " is not a record (15 bytes as 30 hex digits)");
  }
  return record;
}

// The whole text as a decimal number from 0 to `high`, or a mistake worded with `what`.
long long WholeNumber(const std::string& option, const std::string& text, long long high,
                      const char* what) {
  const auto number =
      text.find('-') == std::string::npos ? ParseDecimal(text, 0, high) : std::nullopt;
  if (!number) {
    throw UsageError(option + " " + Quoted(text, velk::kShownInput) + " is not " + what +
                     " from 0 to " + std::to_string(high));
  }
  return *number;
}

// The moment that a local time "YYYY-MM-DD HH:MM:SS" names under the TZ in effect: a day of the
// calendar, at a time the zone has (not one that the change to summer time skips; of an hour
// that repeats, mktime's choice).
std::time_t ParseClock(const std::string& text) {
  const std::string form = "0000-00-00 00:00:00";
  bool valid = text.size() == form.size();
  for (std::size_t i = 0; valid && i < form.size(); ++i) {
    valid = form[i] == '0' ? std::isdigit(static_cast<unsigned char>(text[i])) != 0
                           : text[i] == form[i];
  }
  std::tm asked{};
  valid = valid && std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &asked.tm_year, &asked.tm_mon,
                               &asked.tm_mday, &asked.tm_hour, &asked.tm_min, &asked.tm_sec) == 6;
  asked.tm_year -= 1900;
  asked.tm_mon -= 1;
  asked.tm_isdst = -1;
  std::tm local = asked;
  const std::time_t moment = mktime(&local);
  // Any other (a 13th month, a 30th of February, a skipped hour) converts back to another time.
  const auto fields = [](const std::tm& t) {
    return std::tie(t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  };
  std::tm back{};
  valid = valid && localtime_r(&moment, &back) != nullptr && fields(back) == fields(asked);
  if (!valid) {
    throw UsageError("--clock " + Quoted(text, velk::kShownInput) +
                     " is not a local time 'YYYY-MM-DD HH:MM:SS' of the time zone in effect");
  }
  return moment;
}

template <typename Value>
void SetOnce(std::optional<Value>& option, const std::string& name, Value value) {
  if (option) throw UsageError(name + " is given twice");
  option = std::move(value);
}

Command ParseCommandLine(const std::vector<std::string>& arguments) {
  Command command;
  std::vector<std::string> readings;
  // --help, --version and --decode stand alone: how many were given, and their arguments.
  int alone = 0;
  std::size_t alone_arguments = 0;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::size_t first = i;
    // "--name=value" is "--name value".
    const std::size_t equals =
        arguments[i].rfind("--", 0) == 0 ? arguments[i].find('=') : std::string::npos;
    const std::string argument = arguments[i].substr(0, equals);
    std::optional<std::string> attached;
    if (equals != std::string::npos) attached = arguments[i].substr(equals + 1);
    const auto value = [&]() -> std::string {
      if (attached) return *std::exchange(attached, std::nullopt);
      if (i + 1 >= arguments.size()) throw UsageError(argument + " needs a value");
      return arguments[++i];
    };
    const auto file = [&]() -> std::string {
      const std::string path = value();
      if (path.empty()) throw UsageError(argument + " needs a file, not ''");
      return path;
    };
    const bool stands_alone = argument == "--help" || argument == "-h" || argument == "--version" ||
                              argument == "--decode";
    if (argument == "--help" || argument == "-h" || argument == "--version") {
      (argument == "--version" ? command.version : command.help) = true;
    } else if (argument == "--decode" || argument == "--restore") {
      SetOnce(argument == "--decode" ? command.decode : command.restore, argument,
              ParseRecord(argument, value()));
    } else if (argument == "--plugin" || argument == "--config" || argument == "--events") {
      SetOnce(argument == "--plugin"   ? command.plugin
              : argument == "--config" ? command.config
                                       : command.events,
              argument, file());
    } else if (argument == "--data-id") {
      SetOnce(command.data_id, argument,
              static_cast<std::uint32_t>(WholeNumber(argument, value(), 4294967295LL, "a number")));
    } else if (argument == "--clock") {
      SetOnce(command.clock, argument, ParseClock(value()));
    } else if (argument == "--clock-step") {
      SetOnce(command.clock_step, argument,
              static_cast<std::time_t>(
                  WholeNumber(argument, value(), 2147483647LL, "a whole number of seconds")));
    } else if (argument == "--") {
      readings.insert(readings.end(), arguments.begin() + i + 1, arguments.end());
      break;
    } else if (argument.size() > 1 && argument[0] == '-' &&
               (argument[1] < '0' || argument[1] > '9')) {
      throw UsageError("unknown option " + Quoted(argument, velk::kShownInput));
    } else {
      readings.push_back(argument);
    }
    if (attached) throw UsageError(argument + " takes no value");
    if (stands_alone) {
      ++alone;
      alone_arguments = i - first + 1;
    }
  }
  // Anything beside --help, --version or --decode would be ignored without a word.
  if (alone > 1 || (alone == 1 && alone_arguments != arguments.size())) {
    throw UsageError(std::string(command.help      ? "--help"
                                 : command.version ? "--version"
                                                   : "--decode") +
                     " takes no other arguments");
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

// velk-run's own output (--help, --version, --decode): lost, it fails the run.
void WriteOut(const char* what, std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    throw Failure{std::string("cannot write ") + what + ": " + std::strerror(errno)};
  }
}

// A name without a slash is a file in the current directory, not a library to search for. The
// default is beside velk-run's file, as execve named it or, run as "ld.so velk-run" (with no
// interpreter of its own then), as the loader did; else where it is installed.
std::string PluginPath(const std::optional<std::string>& named, const char* argv0) {
  if (named) return named->find('/') == std::string::npos ? "./" + *named : *named;
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
#if defined(VELK_INSTALLED_PLUGIN)
  // Installed, velk-run is in a bin/ and the plug-in where the daemon looks for plug-ins.
  const std::string installed =
      (VELK_INSTALLED_PLUGIN[0] == '/' ? "" : directory) + VELK_INSTALLED_PLUGIN;
  if (access(beside.c_str(), F_OK) != 0 && access(installed.c_str(), F_OK) == 0) return installed;
#endif
  return beside;
}

// Lines are bounded, so input without newlines (/dev/zero) is refused instead of filling memory.
void FeedStandardInput(Session& session) {
  std::string line;
  for (std::uint64_t number = 1;; ++number) {
    const auto where = [&] { return "line " + std::to_string(number) + " of standard input"; };
    line.clear();
    int c;
    while ((c = getc_unlocked(stdin)) != '\n') {
      if (c == EOF && std::ferror(stdin) && errno == EINTR) {  // a signal: read on
        clearerr(stdin);
        continue;
      }
      if (c == EOF && std::ferror(stdin)) {  // not the end of the readings
        throw Failure{"cannot read " + where() + ": " + std::strerror(errno) + session.Processed()};
      }
      if (c == EOF) break;
      if (line.size() == kMaxLineBytes) {
        throw Failure{where() + " is longer than " + std::to_string(kMaxLineBytes) +
                      " bytes, the limit" + session.Processed()};
      }
      line.push_back(static_cast<char>(c));
    }
    if (c == EOF && line.empty()) return;
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    const auto reading = ParseDecimal(line, -32768, 32767);
    if (!reading) {
      throw Failure{where() + ": " + Quoted(line, velk::kShownInput) + " is not a reading (" +
                    kReadingRange + ")" + session.Processed()};
    }
    session.Process(static_cast<short>(*reading), number, 0);
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
    if (command.restore) session.Restore(*command.restore);
    if (command.readings.empty()) FeedStandardInput(session);
    for (std::size_t i = 0; i < command.readings.size(); ++i) {
      session.Process(command.readings[i], 0, i + 1);
    }
  });
  report.Catching([&] { session.Close(); });
  session.Exit();
}

int Run(const Command& command, const char* argv0) {
  const std::string plugin = PluginPath(command.plugin, argv0);
  int events_fd = STDERR_FILENO;
  if (command.events) {
    events_fd = open(command.events->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (events_fd < 0) {
      throw Failure{"cannot open the events file " + Quoted(*command.events) + ": " +
                    std::strerror(errno)};
    }
  }
  if (command.clock) FixClock(*command.clock, command.clock_step.value_or(0));
  return Supervise([&](Progress& progress) { Work(command, plugin, events_fd, progress); });
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
  Report report;
  int status = 0;
  report.Catching([&] {
    const Command command = ParseCommandLine({argv + 1, argv + argc});
    if (command.help) {
      WriteOut("the usage", kUsage);
    } else if (command.version) {
      WriteOut("the version", "velk-run " VELK_VERSION "\n");
    } else if (command.decode) {
      standin::Event decoded(nullptr);
      decoded.RecordId(command.decode->data(), 15).RecordBytes(command.decode->data(), 15);
      WriteOut("the decoded record", decoded.RecordFields(command.decode->data(), 15).Line());
    } else {
      status = Run(command, argv[0]);
    }
  });
  return report.Status() != 0 ? report.Status() : status;
}
