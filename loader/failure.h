// What goes wrong when a plug-in is loaded and driven: one exception type, worded once where the
// failure is found, with every piece of outside text in it (paths, lines of input, the plug-in's
// and the loader's messages) shown the same way, so that no newline or terminal escape sequence
// in it can split the line or reach the terminal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velk {

constexpr int kFailed = 1;  // the exit status of a failure found while running

struct Failure {
  std::string message;
  int status = kFailed;
};

// A reading or an argument needs few bytes to be recognised; paths and messages get more.
constexpr std::size_t kShownInput = 40;
constexpr std::size_t kShownText = 1024;

// Every byte outside printable ASCII as \xNN and a backslash as \\; past `shown` bytes cut, with
// "..." and the whole length after.
std::string Escaped(std::string_view text, std::size_t shown = kShownText);
// The same in single quotes.
std::string Quoted(std::string_view text, std::size_t shown = kShownText);

// What the exception being handled says: its what() quoted ("no message" where it has none), or
// that it is no std::exception. A copy, since the exception may be the plug-in's and go with it.
// Only inside a catch block.
std::string CaughtExceptionText();

}  // namespace velk
