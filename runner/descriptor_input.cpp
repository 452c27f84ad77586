#include "runner/descriptor_input.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace velk_run {

DescriptorInput::DescriptorInput(int fd) : fd_(fd), buffer_(64 * 1024) {}

DescriptorInput::int_type DescriptorInput::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  ssize_t got;
  do {
    got = ::read(fd_, buffer_.data(), buffer_.size());
  } while (got < 0 && errno == EINTR);
  if (got < 0) throw std::system_error(errno, std::generic_category());
  if (got == 0) return traits_type::eof();
  setg(buffer_.data(), buffer_.data(), buffer_.data() + got);
  return traits_type::to_int_type(*gptr());
}

}  // namespace velk_run
