#include "runner/event_writer.h"

#include <limits.h>

#include "runner/output_lost.h"

namespace velk_run {

namespace {
#ifdef PIPE_BUF
constexpr std::size_t kAtomicWrite = PIPE_BUF;
#else
constexpr std::size_t kAtomicWrite = 512;  // the least POSIX allows
#endif
}  // namespace

EventWriter::AppendToPending::int_type EventWriter::AppendToPending::overflow(int_type c) {
  if (!traits_type::eq_int_type(c, traits_type::eof())) pending_ += traits_type::to_char_type(c);
  return traits_type::not_eof(c);
}

std::streamsize EventWriter::AppendToPending::xsputn(const char* text, std::streamsize size) {
  pending_.append(text, static_cast<std::size_t>(size));
  return size;
}

EventWriter::EventWriter(std::ostream& out, std::string what)
    : out_(out), what_(std::move(what)), append_(pending_), format_(&append_) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  // Nine significant digits give every float back exactly. NaN and the infinities have no
  // JSON number: they are written NaN, Infinity and -Infinity, which jsoncpp reads back with
  // allowSpecialFloats (and JavaScript and Python know), where the default would write NaN
  // as null.
  builder["precision"] = 9;
  builder["useSpecialFloats"] = true;
  writer_.reset(builder.newStreamWriter());
}

void EventWriter::Add(const Json::Value& event) {
  if (error_ != 0) return;
  const std::size_t kept = pending_.size();
  writer_->write(event, &format_);
  pending_ += '\n';
  // A pipe takes up to PIPE_BUF bytes in one piece; a step with many events goes out in
  // several writes of whole lines rather than one that could be split.
  if (kept > 0 && pending_.size() > kAtomicWrite) Send(kept);
}

void EventWriter::Flush() {
  if (error_ == 0 && !pending_.empty()) Send(pending_.size());
  if (error_ != 0) throw OutputLost(what_, error_);
}

void EventWriter::Send(std::size_t size) {
  error_ = WriteWhole(out_, pending_.data(), size);
  if (error_ != 0) {
    pending_.clear();
  } else {
    pending_.erase(0, size);
  }
}

}  // namespace velk_run
