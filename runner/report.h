// velk-run's own lines on standard error: each failure as "velk-run: MESSAGE", in one write, as it
// is found; the run's status is the first failure's. The worker and the supervisor each have one.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "loader/failure.h"

namespace velk_run {

// All of `text` to `fd`, going on after a partial write or an interruption: 0, or the errno.
inline int WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? errno : EIO;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

class Report {
 public:
  // When standard error itself is what fails, the status alone tells.
  void Failed(const velk::Failure& failure) {
    WriteAll(STDERR_FILENO, "velk-run: " + failure.message + "\n");
    if (status_ == 0) status_ = failure.status;
  }
  void Failed(const std::string& message) { Failed(velk::Failure{message}); }
  int Status() const { return status_; }
  // Runs `part`, and reports what it throws: a Failure, or velk-run's own (memory running out).
  template <typename Part>
  void Catching(Part part) {
    try {
      part();
    } catch (const velk::Failure& failure) {
      Failed(failure);
    } catch (...) {
      Failed(velk::Failure{velk::CaughtExceptionText()});
    }
  }

 private:
  int status_ = 0;
};

}  // namespace velk_run
