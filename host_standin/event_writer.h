// The stand-in's events written to a file descriptor as their calls are made, each line in one
// write(2), so that a crash loses none and a line of up to PIPE_BUF bytes reaches a pipe whole.
// Owned by whoever drives the device (velk-run's session), in the process that made it.
#pragma once

#include <string_view>

#include "host_standin/recorder.h"

namespace standin {

// All of `text` to `fd`, going on after a partial write or an interruption: 0, or the errno.
int WriteAll(int fd, std::string_view text);

class EventWriter : public Recorder {
 public:
  explicit EventWriter(int fd);  // marks the calling process as the one whose events these are
  // What the plug-in logged before the call goes out first, so that with the log and the events
  // in one file the lines keep the order of the calls. A child process the plug-in forks writes
  // none; after a failed write, none is written either.
  void Write(std::string_view line) override;
  int Error() const { return error_; }  // the errno of the failed write, or 0

 private:
  const int fd_;
  int error_ = 0;
};

}  // namespace standin
