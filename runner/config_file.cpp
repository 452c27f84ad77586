#include "runner/config_file.h"

#include <json/reader.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace velk_run {

namespace {

// jsoncpp reports "* Line 2, Column 5\n  Missing ','...\n" per error; one line reads better.
std::string OneLine(const std::string& text) {
  std::string line;
  std::istringstream lines(text);
  for (std::string part; std::getline(lines, part);) {
    const std::size_t first = part.find_first_not_of(" *");
    if (first == std::string::npos) continue;
    if (!line.empty()) line += line.back() == ':' ? " " : ": ";
    line += part.substr(first);
  }
  return line;
}

}  // namespace

Json::Value LoadConfig(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw std::runtime_error("cannot read config " + path + ": " + std::strerror(errno));
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) throw std::runtime_error("cannot read config " + path);
  const std::string document = text.str();

  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value config;
  std::string errors;
  bool parsed = false;
  try {
    parsed = reader->parse(document.data(), document.data() + document.size(), &config, &errors);
  } catch (const std::exception& e) {  // jsoncpp throws when nesting is too deep
    errors = e.what();
  }
  if (!parsed) {
    throw std::runtime_error("config " + path + " is not valid JSON: " + OneLine(errors));
  }
  return config;
}

}  // namespace velk_run
