#include "runner/options.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace velk_run {

namespace {

std::string NameOf(int value, const option* options) {
  for (const option* o = options; o->name != nullptr; ++o) {
    if (o->val == value) return std::string("--") + o->name;
  }
  return std::string("-") + static_cast<char>(value);
}

// What getopt_long refused, in words: `returned` is its '?' or ':', `argument` the argument it
// was reading.
std::string Mistake(int returned, const char* argument, const option* options) {
  if (returned == ':') return NameOf(optopt, options) + " needs a value";
  for (const option* o = options; optopt != 0 && o->name != nullptr; ++o) {
    if (o->val == optopt) return NameOf(optopt, options) + " takes no value";
  }
  if (optopt != 0) {
    return "unknown option " + velk::Quoted(std::string("-") + static_cast<char>(optopt));
  }
  const std::string_view given = std::string_view(argument).substr(2);
  const std::string_view name = given.substr(0, given.find('='));
  std::string matches;
  for (const option* o = options; !name.empty() && o->name != nullptr; ++o) {
    if (std::string_view(o->name).substr(0, name.size()) == name) {
      matches += std::string(matches.empty() ? "" : ", ") + "--" + o->name;
    }
  }
  if (matches.find(',') != std::string::npos) {
    return "ambiguous option " + velk::Quoted(argument, velk::kShownInput) + " (" + matches + ")";
  }
  return "unknown option " + velk::Quoted(argument, velk::kShownInput);
}

bool IsNegativeNumber(const char* argument) {
  return argument[0] == '-' && argument[1] >= '0' && argument[1] <= '9';
}

}  // namespace

extern const char kUsage[] =
    "usage: velk-run [OPTION...] [--] [READING...]\n"
    "       velk-run test [OPTION...] SCENARIO...\n"
    "       velk-run --decode HEX | --help | --version\n"
    "Loads the plug-in as the daemon does, in a worker process that velk-run watches, and drives\n"
    "one device: its configuration, a cached record if given, then raw readings (-32768 to "
    "32767),\n"
    "those given or else one a line of standard input. The plug-in's log goes to standard output;\n"
    "each call it makes into the host, as a JSON line to standard error or the --events file.\n"
    "  --plugin PATH       plug-in file to load (default: velk_temperature.so beside velk-run,\n"
    "                      else the installed one,\n"
    "                      " VELK_INSTALLED_PLUGIN_SHOWN
    ")\n"
    "  --data-id N         the device's data identifier, 0 to 4294967295 (default 0)\n"
    "  --config FILE       the device's JSON configuration (default: an empty object); with -,\n"
    "                      read from standard input, and the readings are the arguments\n"
    "  --restore HEX       a cached 15-byte record as 30 hex digits, restored before the readings\n"
    "  --events FILE       write the events to FILE (created or truncated), not to standard error\n"
    "  --clock TIME        the local time 'YYYY-MM-DD HH:MM:SS' of the first round (default: now)\n"
    "  --clock-step N      seconds the clock moves on before each later round (default 0)\n"
    "  --decode HEX        print a 15-byte record given as 30 hex digits as JSON, load nothing\n"
    "  -h, --help          print this and exit\n"
    "  --version           print velk-run's version and exit\n"
    "  --                  what follows is readings, even where it starts with '-'\n"
    "velk-run test runs each scenario file (a device's steps and what each must show) in a worker\n"
    "of its own and says PASS or FAIL for each, with every difference:\n"
    "  --update            rewrite each scenario's expectations with what was seen\n"
    "  --junit FILE        write a JUnit XML report to FILE as well\n"
    "  --plugin PATH       the plug-in for every scenario, whatever the scenarios name\n"
    "  --timeout SECONDS   kill a worker that says nothing for this long (default 30)\n"
    "An option's value may also follow it after '=' (--data-id=17); an option may be shortened\n"
    "where that names only one (--data=17).\n"
    "Exit status: 0 done, 1 a failure while running, 2 a mistake on the command line, 128 + N\n"
    "where signal N ended the plug-in's process, which then ends velk-run; velk-run test: 0 when\n"
    "every scenario passed, 1 when any failed, 2 a mistake on the command line.\n"
    "The whole reference: docs/velk-run.md in the sources, installed as\n"
    "share/doc/velk_temperature/velk-run.md.\n";

velk::Failure UsageError(const std::string& message) {
  return velk::Failure{message + " (velk-run --help shows the usage)", kUsageError};
}

std::vector<std::string> ReadOptions(int argc, char** argv, const option* options,
                                     const std::function<void(int, const char*)>& take) {
  std::vector<std::string> rest;
  opterr = 0;  // velk-run words its own mistakes
  optind = 1;
  while (optind < argc) {
    if (IsNegativeNumber(argv[optind])) {
      rest.push_back(argv[optind++]);
      continue;
    }
    const int before = optind;
    // "+": getopt stops at the first argument that is no option; the loop goes on after it.
    const int value = getopt_long(argc, argv, "+:h", options, nullptr);
    if (value == -1 && optind == before + 1) {  // "--": all the rest
      rest.insert(rest.end(), argv + optind, argv + argc);
      break;
    }
    if (value == -1) {
      rest.push_back(argv[optind++]);
    } else if (value == '?' || value == ':') {
      throw UsageError(Mistake(value, argv[optind - 1], options));
    } else {
      take(value, optarg);
    }
  }
  return rest;
}

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

long long WholeNumber(const std::string& option, const std::string& text, long long low,
                      long long high, const char* what) {
  const auto number =
      text.find('-') == std::string::npos ? ParseDecimal(text, low, high) : std::nullopt;
  if (!number) {
    throw UsageError(option + " " + velk::Quoted(text, velk::kShownInput) + " is not " + what +
                     " from " + std::to_string(low) + " to " + std::to_string(high));
  }
  return *number;
}

std::string FileArgument(const char* option, const char* path) {
  if (*path == '\0') throw UsageError(std::string(option) + " needs a file, not ''");
  return path;
}

void WriteOut(const char* what, std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    throw velk::Failure{std::string("cannot write ") + what + ": " + std::strerror(errno)};
  }
}

}  // namespace velk_run
