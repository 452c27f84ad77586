#include "runner/options.h"

#include <cctype>
#include <stdexcept>

#include "runner/input_parsing.h"
#include "runner/quoted_text.h"

namespace velk_run {

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
    "  --config FILE   the device's JSON configuration\n"
    "  --restore HEX   a cached 15-byte record as 30 hex digits, restored before the readings\n"
    "  --decode HEX    print a 15-byte record given as 30 hex digits as JSON, load nothing\n"
    "  --help          this text\n";

Options ParseOptions(const std::vector<std::string>& arguments) {
  Options options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= arguments.size()) throw std::invalid_argument(argument + " needs a value");
      return arguments[++i];
    };
    if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument == "--decode") {
      options.decode = value();
    } else if (argument == "--plugin") {
      const std::string& path = value();
      if (path.empty()) throw std::invalid_argument("--plugin needs a file, not ''");
      options.plugin = path;
    } else if (argument == "--data-id") {
      const std::string& text = value();
      const auto id = ParseDataId(text);
      if (!id)
        throw std::invalid_argument("--data-id " + Quoted(text) +
                                    " is not a number from 0 to 4294967295");
      options.data_id = *id;
    } else if (argument == "--config") {
      options.config = value();
    } else if (argument == "--restore") {
      options.restore = value();
    } else if (argument == "--") {
      options.readings.insert(options.readings.end(), arguments.begin() + i + 1, arguments.end());
      break;
    } else if (argument.size() > 1 && argument[0] == '-' &&
               !std::isdigit(static_cast<unsigned char>(argument[1]))) {
      throw std::invalid_argument("unknown option " + Quoted(argument));
    } else {
      options.readings.push_back(argument);
    }
  }
  return options;
}

}  // namespace velk_run
