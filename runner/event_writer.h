// Writes host-call events as one compact JSON object per line. Keys and names are arbitrary
// text, so the lines come from jsoncpp's writer, never from hand-made strings.
#pragma once

#include <json/value.h>
#include <json/writer.h>

#include <memory>
#include <ostream>

namespace velk_run {

class EventWriter {
 public:
  explicit EventWriter(std::ostream& out);
  void Write(const Json::Value& event);

 private:
  std::ostream& out_;
  std::unique_ptr<Json::StreamWriter> writer_;
};

}  // namespace velk_run
