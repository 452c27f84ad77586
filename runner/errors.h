// What goes wrong in a run of velk-run: one exception type of our own, worded once where the
// failure is found, with every piece of outside input (paths, lines, the plug-in's messages)
// escaped the same way, and reported once by main as one line in one write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velk_run {

constexpr int kDone = 0;
constexpr int kFailed = 1;      // anything found while running
constexpr int kUsageError = 2;  // the command line; nothing was run

struct Failure {
  int status;
  std::string message;
};

// Enough of a line or an argument to recognise a reading or a mistyped one; paths and
// messages are shown whole up to kShownText.
constexpr std::size_t kShownInput = 40;
constexpr std::size_t kShownText = 1024;

// Outside text as a message shows it, so that no newline or terminal escape sequence splits
// the line or reaches the terminal: a byte outside printable ASCII as \xNN, a backslash as \\.
std::string Escaped(std::string_view text);
// Escaped, in single quotes; past `shown` bytes cut to "..." with the whole length after.
std::string Quoted(std::string_view text, std::size_t shown = kShownText);

// A message built in a fixed buffer, so that a signal handler can word one too.
class MessageLine {
 public:
  MessageLine& operator<<(std::string_view text);
  MessageLine& operator<<(std::uint64_t number);
  std::string_view view() const { return {text_, size_}; }
  std::string text() const { return std::string(view()); }

 private:
  char text_[8192];
  std::size_t size_ = 0;
};

// How far a run of readings got before it stopped: "; no reading was processed", ...
void AppendProcessed(MessageLine& line, std::uint64_t readings);

// What the exception being handled says: its what() quoted, or that it is no std::exception.
// A copy, since the exception may be the plug-in's. Only inside a catch block.
std::string CaughtExceptionText();

// "velk-run: MESSAGE" in one write to standard error; returns the failure's status, which
// alone tells when standard error is what fails.
int Report(const Failure& failure);

}  // namespace velk_run
