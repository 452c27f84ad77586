// Output that must arrive: text handed to a stream in one write and flushed, and the error a
// run ends with when it did not arrive. A run whose output was lost never ends in success.
#pragma once

#include <cstddef>
#include <ostream>
#include <stdexcept>
#include <string>

namespace velk_run {

class OutputLost : public std::runtime_error {
 public:
  // `what` names the output ("the events"); `error` is the errno of the failed write, or 0
  // when the stream did not say.
  OutputLost(const std::string& what, int error);
};

// Hands the bytes to `out` in one call and flushes it, so they reach the file in one write
// where the stream buffer allows. Returns 0, or the errno of the failure (-1 when the stream
// failed without one, or had failed before).
int WriteWhole(std::ostream& out, const char* data, std::size_t size);

}  // namespace velk_run
