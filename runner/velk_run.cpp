// velk-run: drives the plug-in as the daemon does, so it can be tried without the daemon. Its
// command line and main, which runs what it asks for and reports each failure of the run; and
// the exit() and quick_exit() that the plug-in's calls bind to.
#include <dlfcn.h>

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "loader/config.h"
#include "loader/failure.h"
#include "runner/session.h"
#include "runner/watch.h"

namespace velk_run {
namespace {

using velk::Failure;
using velk::Quoted;

const char kUsage[] =
    "usage: velk-run [--plugin PATH] [--data-id N] [--config FILE] [--restore HEX] [READING...]\n"
    "       velk-run --decode HEX\n"
    "       velk-run --help\n"
    "\n"
    "Loads the plug-in as the daemon does, creates one device, sets its data identifier,\n"
    "hands it the JSON configuration, optionally restores a cached record, then feeds it\n"
    "raw readings (integers from -32768 to 32767): those given as arguments, or else one per\n"
    "line of standard input (blank lines and lines starting with # are skipped).\n"
    "\n"
    "The plug-in's own log goes to standard output unchanged. Every call the device makes\n"
    "into the host is written to standard error as one JSON object per line.\n"
    "\n"
    "  --plugin PATH   plug-in file to load (default: velk_temperature.so next to velk-run)\n"
    "  --data-id N     the device's data identifier, 0 to 4294967295 (default 0)\n"
    "  --config FILE   the device's JSON configuration (default: an empty object)\n"
    "  --restore HEX   a cached 15-byte record as 30 hex digits, restored before the readings\n"
    "  --decode HEX    print a 15-byte record given as 30 hex digits as JSON, load nothing\n"
    "  --help          this text\n"
    "\n"
    "Exit status: 0 done, 1 a failure while running, 2 a mistake on the command line;\n"
    "a plug-in killed by a signal, the shell's status for that signal.\n";

constexpr int kUsageError = 2;  // the command line; nothing was run
const char kReadingRange[] = "an integer from -32768 to 32767";
constexpr std::size_t kMaxLineBytes = 4096;  // a reading needs a few; comments may be longer

// What the command line asks for, every value checked before anything runs.
struct Command {
  bool help = false;
  std::optional<Record> decode;
  std::optional<std::string> plugin;
  std::optional<std::uint32_t> data_id;
  std::optional<std::string> config;
  std::optional<Record> restore;
  std::vector<short> readings;  // none: read them from standard input
};

Failure UsageError(const std::string& message) {
  return Failure{message + " (velk-run --help shows the usage)", kUsageError};
}

// The whole text, bar surrounding blanks, as a plain decimal integer within [low, high]: an
// optional sign, no "0x", no blank after the sign.
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

template <typename Value>
void SetOnce(std::optional<Value>& option, const std::string& name, Value value) {
  if (option) throw UsageError(name + " is given twice");
  option = std::move(value);
}

Command ParseCommandLine(const std::vector<std::string>& arguments) {
  Command command;
  std::vector<std::string> readings;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const auto value = [&]() -> const std::string& {
      if (i + 1 >= arguments.size()) throw UsageError(argument + " needs a value");
      return arguments[++i];
    };
    const auto file = [&]() -> const std::string& {
      const std::string& path = value();
      if (path.empty()) throw UsageError(argument + " needs a file, not ''");
      return path;
    };
    if (argument == "--help" || argument == "-h") {
      command.help = true;
    } else if (argument == "--decode" || argument == "--restore") {
      SetOnce(argument == "--decode" ? command.decode : command.restore, argument,
              ParseRecord(argument, value()));
    } else if (argument == "--plugin" || argument == "--config") {
      SetOnce(argument == "--plugin" ? command.plugin : command.config, argument, file());
    } else if (argument == "--data-id") {
      const std::string& text = value();
      const auto id =
          text.find('-') == std::string::npos ? ParseDecimal(text, 0, 4294967295LL) : std::nullopt;
      if (!id) {
        throw UsageError("--data-id " + Quoted(text, velk::kShownInput) +
                         " is not a number from 0 to 4294967295");
      }
      SetOnce(command.data_id, argument, static_cast<std::uint32_t>(*id));
    } else if (argument == "--") {
      readings.insert(readings.end(), arguments.begin() + i + 1, arguments.end());
      break;
    } else if (argument.size() > 1 && argument[0] == '-' &&
               (argument[1] < '0' || argument[1] > '9')) {
      throw UsageError("unknown option " + Quoted(argument, velk::kShownInput));
    } else {
      readings.push_back(argument);
    }
  }
  // Anything beside --help or --decode would be ignored without a word.
  if (arguments.size() > (command.help ? 1 : command.decode ? 2 : arguments.size())) {
    throw UsageError(std::string(command.help ? "--help" : "--decode") +
                     " takes no other arguments");
  }
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

// velk-run's own output (--help, --decode): lost, it fails the run.
void WriteOut(const char* what, std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    throw Failure{std::string("cannot write ") + what + ": " + std::strerror(errno)};
  }
}

// The plug-in file to load. A name without a slash is a file in the current directory, as
// everywhere on the command line, not a library to search for. Without one, the plug-in in the
// directory of velk-run's own code, as the kernel's map of the process names it: under
// "ld.so velk-run" /proc/self/exe would name the loader.
std::string PluginPath(const std::optional<std::string>& named) {
  if (named) return named->find('/') == std::string::npos ? "./" + *named : *named;
  std::ifstream maps("/proc/self/maps");
  const auto own_code = reinterpret_cast<std::uintptr_t>(&PluginPath);
  for (std::string line; std::getline(maps, line);) {
    std::uintmax_t low = 0, high = 0;
    int path = 0;
    if (std::sscanf(line.c_str(), "%" SCNxMAX "-%" SCNxMAX " %*s %*s %*s %*s %n", &low, &high,
                    &path) == 2 &&
        path > 0 && low <= own_code && own_code < high) {
      return line.substr(0, line.rfind('/') + 1).substr(path) + "velk_temperature.so";
    }
  }
  throw Failure{std::string("cannot tell where velk-run is (/proc/self/maps: ") +
                (maps.is_open() ? "its code is not in it" : std::strerror(errno)) +
                "), so neither where its plug-in is; name it with --plugin"};
}

// One reading per line; blank lines and comments are skipped. Lines are bounded, so input
// without newlines (/dev/zero) is refused at once instead of filling memory.
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
        throw session.Stopped("cannot read " + where() + ": " + std::strerror(errno));
      }
      if (c == EOF) break;
      if (line.size() == kMaxLineBytes) {
        throw session.Stopped(where() + " is longer than " + std::to_string(kMaxLineBytes) +
                              " bytes, the limit");
      }
      line.push_back(static_cast<char>(c));
    }
    if (c == EOF && line.empty()) return;
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    const auto reading = ParseDecimal(line, -32768, 32767);
    if (!reading) {
      throw session.Stopped(where() + ": " + Quoted(line, velk::kShownInput) +
                            " is not a reading (" + kReadingRange + ")");
    }
    session.Process(static_cast<short>(*reading), number, 0);
  }
}

// Each failure is reported as it is found, the first before the device is taken down, so that
// a failure of the teardown cannot hide it; the status is the first's.
int Run(const Command& command) {
  int status = 0;
  const auto report = [&status](const Failure& failure) {
    const int reported = Report(failure);
    if (status == 0) status = reported;
  };
  // The daemon hands every device a configuration; without one the device gets an empty
  // object, and the settings still copy the data identifier into the record.
  Json::Value config(Json::objectValue);
  try {
    if (command.config) config = velk::ReadConfig(*command.config);
  } catch (const Failure& failure) {
    return Report(failure);
  }
  // The plug-in's static destructors may run only when velk-run exits: the session, made before
  // the plug-in is loaded, outlives them.
  static Session session(STDERR_FILENO);
  try {
    session.Load(PluginPath(command.plugin));
    session.Configure(command.data_id.value_or(0), config,
                      command.config ? "the configuration " + Quoted(*command.config)
                                     : std::string("the empty configuration"));
    if (command.restore) session.Restore(*command.restore);
    if (command.readings.empty()) FeedStandardInput(session);
    for (std::size_t i = 0; i < command.readings.size(); ++i) {
      session.Process(command.readings[i], 0, i + 1);
    }
  } catch (const Failure& failure) {
    report(failure);
  }
  try {
    session.Close();
  } catch (const Failure& failure) {
    report(failure);
  }
  return status;
}

}  // namespace
}  // namespace velk_run

int main(int argc, char** argv) {
  using namespace velk_run;
  try {
    const Command command = ParseCommandLine({argv + 1, argv + argc});
    if (command.help) {
      WriteOut("the usage", kUsage);
    } else if (command.decode) {
      standin::Event decoded(nullptr);
      decoded.RecordId(command.decode->data(), 15).RecordBytes(command.decode->data(), 15);
      WriteOut("the decoded record", decoded.RecordFields(command.decode->data(), 15).Line());
    } else {
      return Run(command);
    }
    return 0;
  } catch (const velk::Failure& failure) {
    return Report(failure);
  } catch (...) {  // velk-run's own, such as memory running out
    return Report(velk::Failure{velk::CaughtExceptionText()});
  }
}

// The plug-in's exit() and quick_exit() bind to these, velk-run being the first object the
// loader searches; velk-run's own exit, from main, stays inside the C library. _exit() and the
// exit system call cannot be seen.
extern "C" [[noreturn]] void exit(int status) {
  velk_run::watch::ExitCalled("exit", status, [](int code) {
    reinterpret_cast<void (*)(int)>(dlsym(RTLD_NEXT, "exit"))(code);
  });
}

extern "C" [[noreturn]] void quick_exit(int status) {
  velk_run::watch::ExitCalled("quick_exit", status, [](int code) {
    reinterpret_cast<void (*)(int)>(dlsym(RTLD_NEXT, "quick_exit"))(code);
  });
}
