#include "runner/output.h"

#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "host_standin/record_format.h"

namespace velk_run {

namespace {

constexpr std::size_t kAtomicWrite = PIPE_BUF;  // what a pipe takes in one piece

// Nine significant digits give every float back exactly: printf's %.9g, with ".0" where that
// reads as an integer, as the journal has always written them. NaN and the infinities have no
// JSON number: NaN, Infinity and -Infinity are what jsoncpp (allowSpecialFloats) and
// JavaScript and Python read back.
std::string_view FloatText(float value, char (&text)[32]) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  char* end = std::to_chars(text, text + sizeof(text) - 2, static_cast<double>(value),
                            std::chars_format::general, 9)
                  .ptr;
  if (std::find_if(text, end, [](char c) { return c == '.' || c == 'e'; }) == end) {
    *end++ = '.';
    *end++ = '0';
  }
  return {text, static_cast<std::size_t>(end - text)};
}

}  // namespace

int WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? errno : EIO;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

EventWriter::EventWriter(int fd) : fd_(fd), writer_(buffer_) {}

void EventWriter::Add(const standin::HostCall& call) {
  if (error_ != 0) return;
  const std::size_t kept = buffer_.GetSize();
  writer_.Reset(buffer_);
  writer_.StartObject();
  for (const standin::HostCall::Member& member : call) {
    writer_.Key(member.name);
    WriteValue(member);
  }
  writer_.EndObject();
  buffer_.Put('\n');
  lines_ = buffer_.GetString();
  complete_ = buffer_.GetSize();
  // A pipe takes up to PIPE_BUF bytes in one piece; a step with many events goes out in
  // several writes of whole lines rather than one that could be split.
  if (kept > sent_ && complete_ - sent_ > kAtomicWrite) Send(kept);
}

void EventWriter::WriteValue(const standin::HostCall::Member& member) {
  using Kind = standin::HostCall::Member::Kind;
  switch (member.kind) {
    case Kind::kNull:
      writer_.Null();
      break;
    case Kind::kBool:
      writer_.Bool(member.flag);
      break;
    case Kind::kInt:
      writer_.Int64(member.integer);
      break;
    case Kind::kUInt:
      writer_.Uint64(member.natural);
      break;
    case Kind::kFloat: {
      char text[32];
      const std::string_view number = FloatText(member.real, text);
      writer_.RawValue(number.data(), number.size(), rapidjson::kNumberType);
      break;
    }
    case Kind::kText:
      WriteString(member.text());
      break;
    case Kind::kBytes:
      hex_.clear();
      standin::AppendHex(member.bytes(), member.span.size, hex_);
      WriteString(hex_);
      break;
    case Kind::kTime:
      if (last_time_text_.empty() || std::memcmp(&last_time_, &member.time, sizeof(ttime)) != 0) {
        last_time_ = member.time;
        last_time_text_ = standin::FormatTime(member.time);
      }
      WriteString(last_time_text_);
      break;
    case Kind::kRuleKeys:
      writer_.StartArray();
      for (const rule_value& rule : *member.rules) WriteString(rule.key);
      writer_.EndArray();
      break;
  }
}

void EventWriter::WriteString(std::string_view text) {
  writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

int EventWriter::Flush() {
  if (error_ == 0 && complete_ > sent_) Send(complete_);
  buffer_.Clear();
  lines_ = "";
  complete_ = sent_ = 0;
  return error_;
}

void EventWriter::Send(std::size_t end) {
  error_ = WriteAll(fd_, {lines_ + sent_, end - sent_});
  sent_ = end;
}

}  // namespace velk_run
