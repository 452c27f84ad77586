// Input read straight from a file descriptor with read(2). The standard streams take a read
// error for the end of input; this buffer throws it as std::system_error instead, so a reader
// calling it directly (sbumpc, sgetn) can never mistake one for the other.
// Does not own the descriptor.
#pragma once

#include <streambuf>
#include <vector>

namespace velk_run {

class DescriptorInput : public std::streambuf {
 public:
  explicit DescriptorInput(int fd);

 protected:
  // Waits for what read(2) gives; EINTR is retried, EAGAIN is an error like any other.
  int_type underflow() override;

 private:
  int fd_;
  std::vector<char> buffer_;
};

}  // namespace velk_run
