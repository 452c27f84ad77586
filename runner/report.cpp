#include "runner/report.h"

#include <unistd.h>

#include <cerrno>

namespace velk_run {

void Report::Failed(const velk::Failure& failure) {
  // When standard error itself is what fails, the status alone tells.
  WriteAll(STDERR_FILENO, "velk-run: " + failure.message + "\n");
  if (status_ == 0) status_ = failure.status;
}

int WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? errno : EIO;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

}  // namespace velk_run
