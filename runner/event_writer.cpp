#include "runner/event_writer.h"

namespace velk_run {

EventWriter::EventWriter(std::ostream& out) : out_(out) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  // Nine significant digits give every float back exactly.
  builder["precision"] = 9;
  writer_.reset(builder.newStreamWriter());
}

void EventWriter::Write(const Json::Value& event) {
  writer_->write(event, &out_);
  out_ << '\n';
  out_.flush();
}

}  // namespace velk_run
