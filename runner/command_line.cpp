// velk-run: drives the plug-in as the daemon does, so it can be tried without the daemon.
// Its command line, its usage, and main, which runs what they ask for and reports the one
// failure that ends a run.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host_standin/host_call.h"
#include "host_standin/record_format.h"
#include "runner/device_session.h"
#include "runner/errors.h"
#include "runner/input.h"
#include "runner/output.h"
#include "runner/plugin_library.h"

namespace velk_run {
namespace {

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
    "Exit status: 0 done, 1 a failure while running, 2 a mistake on the command line.\n";

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

Failure UsageError(std::string message) { return Failure{kUsageError, std::move(message)}; }

Record ParseRecord(const std::string& option, const std::string& text) {
  const auto bytes = standin::FromHex(text);
  if (text.size() != 30 || !bytes) {
    throw UsageError(option + " " + Quoted(text, kShownInput) +
                     " is not a record (15 bytes as 30 hex digits)");
  }
  Record record{};
  std::copy(bytes->begin(), bytes->end(), record.begin());
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
    auto value = [&]() -> const std::string& {
      if (i + 1 >= arguments.size()) throw UsageError(argument + " needs a value");
      return arguments[++i];
    };
    auto file = [&]() -> const std::string& {
      const std::string& path = value();
      if (path.empty()) throw UsageError(argument + " needs a file, not ''");
      return path;
    };
    if (argument == "--help" || argument == "-h") {
      command.help = true;
    } else if (argument == "--decode") {
      SetOnce(command.decode, argument, ParseRecord(argument, value()));
    } else if (argument == "--plugin") {
      SetOnce(command.plugin, argument, file());
    } else if (argument == "--data-id") {
      const std::string& text = value();
      const auto id =
          text.find('-') == std::string::npos ? ParseDecimal(text, 0, 4294967295LL) : std::nullopt;
      if (!id) {
        throw UsageError("--data-id " + Quoted(text, kShownInput) +
                         " is not a number from 0 to 4294967295");
      }
      SetOnce(command.data_id, argument, static_cast<std::uint32_t>(*id));
    } else if (argument == "--config") {
      SetOnce(command.config, argument, file());
    } else if (argument == "--restore") {
      SetOnce(command.restore, argument, ParseRecord(argument, value()));
    } else if (argument == "--") {
      readings.insert(readings.end(), arguments.begin() + i + 1, arguments.end());
      break;
    } else if (argument.size() > 1 && argument[0] == '-' &&
               (argument[1] < '0' || argument[1] > '9')) {
      throw UsageError("unknown option " + Quoted(argument, kShownInput));
    } else {
      readings.push_back(argument);
    }
  }
  // Anything beside --help or --decode would be ignored without a word.
  const std::size_t alone = command.help ? 1 : command.decode ? 2 : arguments.size();
  if (arguments.size() > alone) {
    throw UsageError(std::string(command.help ? "--help" : "--decode") +
                     " takes no other arguments");
  }
  // Arguments are all known up front: a bad one is refused before any round runs.
  for (std::size_t i = 0; i < readings.size(); ++i) {
    const auto reading = ParseReading(readings[i]);
    if (!reading) {
      throw UsageError("reading " + Quoted(readings[i], kShownInput) + " (argument " +
                       std::to_string(i + 1) + " of the readings) is not " + kReadingRange +
                       "; no reading was processed");
    }
    command.readings.push_back(*reading);
  }
  return command;
}

// velk-run's own output (--help, --decode): lost, it fails the run.
void CheckWritten(const char* what, int error) {
  if (error != 0) {
    throw Failure{kFailed, std::string("cannot write ") + what + ": " + std::strerror(error)};
  }
}

void Decode(const Record& record) {
  standin::HostCall decoded(nullptr);
  decoded.AddBytes("record", record.data(), record.size());
  decoded.AddRecordFields(record.data());
  EventWriter writer(STDOUT_FILENO);
  writer.Add(decoded);
  CheckWritten("the decoded record", writer.Flush());
}

// One reading per line; blank lines and comments are skipped. Lines are bounded, so input
// without newlines (/dev/zero) is refused at once instead of filling memory.
void FeedStandardInput(DeviceSession& session) {
  std::string line;
  for (std::uint64_t number = 1;; ++number) {
    // Worded only for a message: a long replay builds no text per line.
    const auto where = [&] { return "line " + std::to_string(number) + " of standard input"; };
    line.clear();
    int c;
    while ((c = getc_unlocked(stdin)) != EOF && c != '\n') {
      if (line.size() == kMaxLineBytes) {
        throw session.Stopped(where() + " is longer than " + std::to_string(kMaxLineBytes) +
                              " bytes, the limit");
      }
      line.push_back(static_cast<char>(c));
    }
    // A read error is not the end of the readings.
    if (c == EOF && std::ferror(stdin)) {
      const int error = errno;
      throw session.Stopped("cannot read " + where() + ": " + std::strerror(error));
    }
    if (c == EOF && line.empty()) return;
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    const auto reading = ParseReading(line);
    if (!reading) {
      throw session.Stopped(where() + ": " + Quoted(line, kShownInput) + " is not a reading (" +
                            kReadingRange + ")");
    }
    session.Process(*reading, number, 0);
  }
}

void Run(const Command& command) {
  // The daemon hands every device a configuration; without one the device gets an empty
  // object, and the settings still copy the data identifier into the record.
  const Json::Value config =
      command.config ? ReadConfig(*command.config) : Json::Value(Json::objectValue);
  DeviceSession session(PluginPath(command.plugin), STDERR_FILENO);
  session.Configure(command.data_id.value_or(0), config,
                    command.config ? "the configuration " + Quoted(*command.config)
                                   : std::string("the empty configuration"));
  if (command.restore) session.Restore(*command.restore);
  if (command.readings.empty()) {
    FeedStandardInput(session);
  } else {
    for (std::size_t i = 0; i < command.readings.size(); ++i) {
      session.Process(command.readings[i], 0, i + 1);
    }
  }
  session.Finish();
}

}  // namespace
}  // namespace velk_run

int main(int argc, char** argv) {
  using namespace velk_run;
  try {
    const Command command = ParseCommandLine({argv + 1, argv + argc});
    if (command.help) {
      CheckWritten("the usage", WriteAll(STDOUT_FILENO, kUsage));
    } else if (command.decode) {
      Decode(*command.decode);
    } else {
      Run(command);
    }
    return kDone;
  } catch (const Failure& failure) {
    return Report(failure);
  } catch (...) {  // velk-run's own, such as memory running out
    return Report(Failure{kFailed, CaughtExceptionText()});
  }
}
