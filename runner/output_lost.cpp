#include "runner/output_lost.h"

#include <cerrno>
#include <cstring>

namespace velk_run {

namespace {
std::string Message(const std::string& what, int error) {
  std::string message = "cannot write " + what;
  if (error > 0) message += std::string(": ") + std::strerror(error);
  return message;
}
}  // namespace

OutputLost::OutputLost(const std::string& what, int error)
    : std::runtime_error(Message(what, error)) {}

int WriteWhole(std::ostream& out, const char* data, std::size_t size) {
  if (!out) return -1;
  errno = 0;
  out.write(data, static_cast<std::streamsize>(size));
  out.flush();
  if (out) return 0;
  return errno != 0 ? errno : -1;
}

}  // namespace velk_run
