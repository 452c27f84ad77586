#include "loader/config.h"

#include <json/reader.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <sstream>

#include "loader/failure.h"

namespace velk {

namespace {

std::string Named(const std::string& path) {
  return path == "-" ? "config on standard input" : "config " + Quoted(path);
}

}  // namespace

std::string ReadText(const std::string& path, std::size_t limit, const std::string& named) {
  // "-" is standard input, which is not closed after.
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
      path == "-" ? stdin : std::fopen(path.c_str(), "rbe"),
      [](std::FILE* f) { return f == stdin ? 0 : std::fclose(f); });
  std::string text;
  char chunk[64 * 1024];
  for (std::size_t got; file && (got = std::fread(chunk, 1, sizeof(chunk), file.get())) > 0;) {
    text.append(chunk, got);
    // Refused before it is read whole, so /dev/zero cannot fill memory.
    if (text.size() > limit) {
      throw Failure{named + " is larger than " + std::to_string(limit) + " bytes, the limit"};
    }
  }
  if (const int error = errno; !file || std::ferror(file.get())) {
    throw Failure{"cannot read " + named + ": " + std::strerror(error)};
  }
  return text;
}

namespace {

// What keeps the text from being one JSON value, on one line: jsoncpp reports
// "* Line 2, Column 5\n  Missing ','...\n" per error.
std::string ParseProblem(const std::string& document, Json::Value& config) {
  // jsoncpp takes a NUL byte for the end of the text, so whatever follows one would pass
  // unseen. No JSON text holds one, in a string or out of it.
  const std::size_t nul = document.find('\0');
  if (nul != std::string::npos) {
    const std::size_t line_start = document.rfind('\n', nul) + 1;  // npos + 1 is 0
    return "Line " +
           std::to_string(std::count(document.begin(), document.begin() + nul, '\n') + 1) +
           ", Column " + std::to_string(nul - line_start + 1) + ": a NUL byte";
  }
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  // The daemon takes one value; a second one or stray text after it is a broken file, not
  // something to drop without a word.
  builder["failIfExtra"] = true;
  std::string errors;
  try {
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (reader->parse(document.data(), document.data() + document.size(), &config, &errors)) {
      return "";
    }
  } catch (const Json::Exception& e) {  // jsoncpp throws when nesting is too deep
    errors = e.what();
  }
  std::string line;
  std::istringstream parts(errors);
  for (std::string part; std::getline(parts, part);) {
    const std::size_t first = part.find_first_not_of(" *");
    if (first == std::string::npos) continue;
    if (!line.empty()) line += line.back() == ':' ? " " : ": ";
    line += part.substr(first);
  }
  return line.empty() ? "unknown error" : line;
}

}  // namespace

Json::Value ReadConfig(const std::string& path) {
  try {
    return ParseConfig(ReadText(path, kMaxConfigBytes, Named(path)), Named(path));
  } catch (const std::bad_alloc&) {
    throw Failure{Named(path) + " does not fit in memory"};
  }
}

Json::Value ParseConfig(const std::string& text, const std::string& named) {
  Json::Value config;
  const std::string problem = ParseProblem(text, config);
  if (!problem.empty()) throw Failure{named + " is not valid JSON: " + Escaped(problem)};
  return config;
}

}  // namespace velk
