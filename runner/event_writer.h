// Writes host-call events as one compact JSON object per line. Keys and names are arbitrary
// text, so the lines come from jsoncpp's writer, never from hand-made strings.
// Lines are kept until Flush and then sent in one write, so a line never reaches the stream
// in pieces and two runs appending to one log cannot interleave inside a line.
#pragma once

#include <json/value.h>
#include <json/writer.h>

#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

namespace velk_run {

class EventWriter {
 public:
  // `what` names the output in the error when it cannot be written ("the events").
  EventWriter(std::ostream& out, std::string what);
  EventWriter(const EventWriter&) = delete;
  EventWriter& operator=(const EventWriter&) = delete;

  // Formats the event as one line and keeps it for Flush. Never throws for a failed write
  // (it may be called from inside the plug-in): the failure waits for Flush.
  void Add(const Json::Value& event);
  // Sends the lines kept since the last Flush; throws OutputLost when any of them, now or
  // earlier, could not be written.
  void Flush();

 private:
  // Appends what jsoncpp writes to `pending_`, with no copy in between.
  class AppendToPending : public std::streambuf {
   public:
    explicit AppendToPending(std::string& pending) : pending_(pending) {}

   protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize size) override;

   private:
    std::string& pending_;
  };

  void Send(std::size_t size);

  std::ostream& out_;
  std::string what_;
  std::unique_ptr<Json::StreamWriter> writer_;
  std::string pending_;
  AppendToPending append_;
  std::ostream format_;
  int error_ = 0;
};

}  // namespace velk_run
