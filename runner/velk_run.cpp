// velk-run: drives the plug-in as the daemon does, so it can be tried without the daemon: its
// command line, main, and the exit() and quick_exit() that the plug-in's calls bind to.
#include <dlfcn.h>
#include <limits.h>
#include <sys/auxv.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "loader/config.h"
#include "loader/failure.h"
#include "runner/session.h"

namespace velk_run {
namespace {

using velk::Failure;
using velk::Quoted;

const char kUsage[] =
    "usage: velk-run [--plugin PATH] [--data-id N] [--config FILE] [--restore HEX] [READING...]\n"
    "       velk-run --decode HEX | --help\n"
    "Loads the plug-in as the daemon does and drives one device: its data identifier, its JSON\n"
    "configuration, a cached record if given, then raw readings (-32768 to 32767), those given\n"
    "or else one per line of standard input (blank lines and # comments skipped). The plug-in's\n"
    "log goes to standard output; each call it makes into the host, as a JSON line to standard\n"
    "error.\n"
    "  --plugin PATH   plug-in file to load (default: velk_temperature.so next to velk-run)\n"
    "  --data-id N     the device's data identifier, 0 to 4294967295 (default 0)\n"
    "  --config FILE   the device's JSON configuration (default: an empty object)\n"
    "  --restore HEX   a cached 15-byte record as 30 hex digits, restored before the readings\n"
    "  --decode HEX    print a 15-byte record given as 30 hex digits as JSON, load nothing\n"
    "Exit status: 0 done, 1 a failure while running, 2 a mistake on the command line; a plug-in\n"
    "killed by a signal ends velk-run by it.\n";

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

// A name without a slash is a file in the current directory, not a library to search for. The
// default is beside velk-run's file, as execve named it or, run as "ld.so velk-run" (with no
// interpreter of its own then), as the loader did.
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
  return std::string(path, std::strrchr(path, '/') + 1) + "velk_temperature.so";
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

int Run(const Command& command, const char* argv0) {
  // Made before the plug-in is loaded, it outlives static destructors that run at the exit.
  static Session session(STDERR_FILENO);
  // Each failure is reported as it is found, the first before the device is taken down, so that
  // a failure of the teardown cannot hide it; the status is the first's.
  int status = 0;
  const auto reporting = [&status](auto part) {
    try {
      part();
    } catch (const Failure& failure) {
      const int reported = velk::Report("velk-run", failure);
      if (status == 0) status = reported;
    }
  };
  reporting([&] {
    // As the daemon, always a configuration: with an empty one the settings stamp the identifier.
    const Json::Value config =
        command.config ? velk::ReadConfig(*command.config) : Json::Value(Json::objectValue);
    session.Load(PluginPath(command.plugin, argv0));
    session.Configure(command.data_id.value_or(0), config,
                      command.config ? "the configuration " + Quoted(*command.config)
                                     : std::string("the empty configuration"));
    if (command.restore) session.Restore(*command.restore);
    if (command.readings.empty()) FeedStandardInput(session);
    for (std::size_t i = 0; i < command.readings.size(); ++i) {
      session.Process(command.readings[i], 0, i + 1);
    }
  });
  reporting([&] { session.Close(); });
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
      return Run(command, argv[0]);
    }
    return 0;
  } catch (const velk::Failure& failure) {
    return velk::Report("velk-run", failure);
  } catch (...) {  // velk-run's own, such as memory running out
    return velk::Report("velk-run", velk::Failure{velk::CaughtExceptionText()});
  }
}

// The plug-in's calls bind to these, velk-run being the first object the loader searches; its own
// exit, from main, stays in the C library. _exit() and the exit system call cannot be seen.
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
