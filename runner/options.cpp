#include "runner/options.h"

#include <charconv>
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
  if (optopt != 0)
    return "unknown option " + velk::Quoted(std::string("-") + static_cast<char>(optopt));
  const std::string_view given = std::string_view(argument).substr(2);
  const std::string_view name = given.substr(0, given.find('='));
  std::string matches;
  for (const option* o = options; !name.empty() && o->name != nullptr; ++o) {
    if (std::string_view(o->name).substr(0, name.size()) == name)
      matches += std::string(matches.empty() ? "" : ", ") + "--" + o->name;
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

long long WholeNumber(const std::string& option, const std::string& text, long long high,
                      const char* what) {
  const auto number =
      text.find('-') == std::string::npos ? ParseDecimal(text, 0, high) : std::nullopt;
  if (!number) {
    throw UsageError(option + " " + velk::Quoted(text, velk::kShownInput) + " is not " + what +
                     " from 0 to " + std::to_string(high));
  }
  return *number;
}

}  // namespace velk_run
