// velk-run's own lines on standard error: each failure as "velk-run: MESSAGE", in one write, as it
// is found; the run's status is the first failure's. The worker and the supervisor each have one.
#pragma once

#include <unistd.h>

#include <string>

#include "host_standin/event_writer.h"
#include "loader/failure.h"

namespace velk_run {

class Report {
 public:
  // When standard error itself is what fails, the status alone tells.
  void Failed(const velk::Failure& failure) {
    standin::WriteAll(STDERR_FILENO, "velk-run: " + failure.message + "\n");
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
