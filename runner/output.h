// What velk-run writes: whole texts to a descriptor, and the host calls of the stand-in as one
// compact JSON object per line. Keys and names are arbitrary text, so the lines come from
// RapidJSON's writer, never from hand-made strings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "host_standin/host_call.h"

namespace velk_run {

// Writes all of `text` to `fd`: in one write(2) where the descriptor takes it whole, going on
// after a partial write or an interruption. Returns 0, or the errno of the failure.
int WriteAll(int fd, std::string_view text);

// Event lines are kept until Flush and then sent together, so a line never reaches the
// descriptor in pieces and runs appending to one log cannot interleave inside a line.
class EventWriter {
 public:
  explicit EventWriter(int fd);  // not copied: RapidJSON's writer points into the buffer

  // Formats the call as one line and keeps it. Never throws for a failed write (it is called
  // from inside the plug-in): the failure waits for Flush.
  void Add(const standin::HostCall& call);
  // Sends the lines kept since the last Flush. Returns 0, or the errno of a write that failed,
  // now or earlier.
  int Flush();
  // The whole lines not sent yet. Safe to call from a signal handler.
  std::string_view Unsent() const { return {lines_ + sent_, complete_ - sent_}; }
  int fd() const { return fd_; }

 private:
  void Send(std::size_t end);
  void WriteValue(const standin::HostCall::Member& member);
  void WriteString(std::string_view text);

  int fd_;
  int error_ = 0;
  rapidjson::StringBuffer buffer_;
  rapidjson::Writer<rapidjson::StringBuffer> writer_;
  // For a signal handler: buffer_'s lines up to complete_, of which sent_ bytes are out.
  const char* lines_ = "";
  std::size_t complete_ = 0;
  std::size_t sent_ = 0;
  std::string hex_;
  // A round stamps all its records with the same second: its text is made once.
  ttime last_time_{};
  std::string last_time_text_;
};

}  // namespace velk_run
