#include "host_standin/event_writer.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>

#include "host_standin/own_process.h"

namespace standin {

int WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? errno : EIO;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

EventWriter::EventWriter(int fd) : fd_(fd) { MarkOwnProcess(); }

void EventWriter::Write(std::string_view line) {
  if (error_ != 0 || !InOwnProcess()) return;
  // Costs nothing when nothing waits.
  std::cout.flush();
  std::fflush(stdout);
  error_ = WriteAll(fd_, line);
}

}  // namespace standin
