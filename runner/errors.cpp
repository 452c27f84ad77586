#include "runner/errors.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <exception>

#include "host_standin/record_format.h"
#include "runner/output.h"

namespace velk_run {

std::string Escaped(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f) {
      shown += byte == '\\' ? "\\\\" : std::string(1, c);
    } else {
      standin::AppendHex(&byte, 1, shown += "\\x");
    }
  }
  return shown;
}

std::string Quoted(std::string_view text, std::size_t shown) {
  if (text.size() <= shown) return "'" + Escaped(text) + "'";
  return "'" + Escaped(text.substr(0, shown)) + "...' (" + std::to_string(text.size()) + " bytes)";
}

MessageLine& MessageLine::operator<<(std::string_view text) {
  const std::size_t length = std::min(text.size(), sizeof(text_) - size_);
  std::memcpy(text_ + size_, text.data(), length);
  size_ += length;
  return *this;
}

MessageLine& MessageLine::operator<<(std::uint64_t number) {
  char digits[24];
  const char* end = std::to_chars(digits, digits + sizeof(digits), number).ptr;
  return *this << std::string_view(digits, static_cast<std::size_t>(end - digits));
}

void AppendProcessed(MessageLine& line, std::uint64_t readings) {
  if (readings == 0) {
    line << "; no reading was processed";
  } else {
    line << "; the " << readings
         << (readings == 1 ? " reading before it was" : " readings before it were") << " processed";
  }
}

std::string CaughtExceptionText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return Quoted(e.what());
  } catch (...) {
    return "an exception that is not a std::exception";
  }
}

int Report(const Failure& failure) {
  std::string line = "velk-run: " + failure.message;
  if (failure.status == kUsageError) line += " (velk-run --help shows the usage)";
  WriteAll(STDERR_FILENO, line + "\n");
  return failure.status;
}

}  // namespace velk_run
