// velk-run's own lines on standard error: each failure as "velk-run: MESSAGE", in one write, as it
// is found; the run's status is the first failure's. The worker and the supervisor each have one.
#pragma once

#include <string_view>

#include "loader/failure.h"

namespace velk_run {

class Report {
 public:
  // Writes the line; the first failure's status stays the run's.
  void Failed(const velk::Failure& failure);
  void Failed(const std::string& message) { Failed(velk::Failure{message}); }
  int Status() const { return status_; }

 private:
  int status_ = 0;
};

// All of `text` to `fd`, going on after a partial write or an interruption: 0, or the errno.
int WriteAll(int fd, std::string_view text);

}  // namespace velk_run
