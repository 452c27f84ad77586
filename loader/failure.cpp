#include "loader/failure.h"

#include <cstdio>
#include <exception>

namespace velk {

namespace {

std::string Shown(std::string_view text, std::size_t shown, const char* quote) {
  std::string words = quote;
  for (const char c : text.substr(0, shown)) {
    const auto byte = static_cast<unsigned char>(c);
    char escaped[5];
    std::snprintf(escaped, sizeof(escaped), "\\x%02x", byte);
    words += byte == '\\' ? "\\\\" : byte >= 0x20 && byte < 0x7f ? std::string(1, c) : escaped;
  }
  words += quote;
  if (text.size() > shown) {
    words.insert(words.size() - std::string_view(quote).size(), "...");
    words += " (" + std::to_string(text.size()) + " bytes)";
  }
  return words;
}

}  // namespace

std::string Escaped(std::string_view text, std::size_t shown) { return Shown(text, shown, ""); }

std::string Quoted(std::string_view text, std::size_t shown) { return Shown(text, shown, "'"); }

std::string CaughtExceptionText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what() != nullptr ? Quoted(e.what()) : "no message";
  } catch (...) {
    return "an exception that is not a std::exception";
  }
}

}  // namespace velk
