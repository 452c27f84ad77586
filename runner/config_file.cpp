#include "runner/config_file.h"

#include <fcntl.h>
#include <json/reader.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "runner/descriptor_input.h"

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

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string ReadText(const std::string& path) {
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    throw std::runtime_error("cannot read config " + path + ": " + std::strerror(errno));
  }
  DescriptorInput input(file.get());
  constexpr std::size_t kChunk = 64 * 1024;
  std::string text;
  try {
    for (;;) {
      const std::size_t kept = text.size();
      text.resize(kept + kChunk);
      const std::streamsize got = input.sgetn(&text[kept], static_cast<std::streamsize>(kChunk));
      text.resize(kept + static_cast<std::size_t>(got));
      if (text.size() > kMaxConfigBytes) {
        throw std::runtime_error("config " + path + " is larger than " +
                                 std::to_string(kMaxConfigBytes) + " bytes, the limit");
      }
      if (got == 0) return text;
    }
  } catch (const std::system_error& e) {
    throw std::runtime_error("cannot read config " + path + ": " + e.code().message());
  }
}

}  // namespace

Json::Value LoadConfig(const std::string& path) {
  const std::string document = ReadText(path);

  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  // The daemon takes one value; a second one or stray text after it is a broken file, not
  // something to drop without a word.
  builder["failIfExtra"] = true;
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
