#include "runner/line_reader.h"

namespace velk_run {

LineReader::LineReader(std::streambuf& input, std::size_t max_bytes)
    : input_(input), max_bytes_(max_bytes) {}

LineReader::Result LineReader::Next(std::string& line) {
  using Traits = std::streambuf::traits_type;
  line.clear();
  ++line_number_;
  for (;;) {
    const Traits::int_type c = input_.sbumpc();
    if (Traits::eq_int_type(c, Traits::eof())) return line.empty() ? Result::kEnd : Result::kLine;
    if (Traits::to_char_type(c) == '\n') return Result::kLine;
    if (line.size() == max_bytes_) return Result::kTooLong;
    line.push_back(Traits::to_char_type(c));
  }
}

}  // namespace velk_run
