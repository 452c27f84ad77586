// Lines of input as the runner takes them: numbered from 1, each bounded, so that input
// without newlines (/dev/zero) is refused at once instead of filling memory.
#pragma once

#include <cstdint>
#include <streambuf>
#include <string>

namespace velk_run {

class LineReader {
 public:
  enum class Result { kLine, kEnd, kTooLong };

  LineReader(std::streambuf& input, std::size_t max_bytes);

  // The next line, without its newline, into `line` (a last line without one counts).
  // kTooLong as soon as a line passes max_bytes; reading stops at its first byte past them.
  // What the stream buffer throws (a read error) reaches the caller.
  Result Next(std::string& line);
  // The number of the line Next returned last, or was reading when it threw.
  std::uint64_t line_number() const { return line_number_; }

 private:
  std::streambuf& input_;
  std::size_t max_bytes_;
  std::uint64_t line_number_ = 0;
};

}  // namespace velk_run
