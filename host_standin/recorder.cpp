#include "host_standin/recorder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "framework/ai_data.h"

namespace standin {

namespace {

// The length of the well-formed UTF-8 sequence that starts `text`, or 0 when its first byte
// starts none: no overlong forms, no surrogates, nothing above U+10FFFF.
std::size_t SequenceLength(std::string_view text) {
  const auto byte = [&text](std::size_t i) -> unsigned {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
  };
  const unsigned lead = byte(0);
  if (lead < 0x80) return 1;
  const unsigned low = lead == 0xe0 ? 0xa0 : lead == 0xf0 ? 0x90 : 0x80;
  const unsigned high = lead == 0xed ? 0x9f : lead == 0xf4 ? 0x8f : 0xbf;
  const std::size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : 2;
  bool valid = lead >= 0xc2 && lead <= 0xf4 && byte(1) >= low && byte(1) <= high;
  for (std::size_t i = 2; i < length; ++i) valid = valid && (byte(i) & 0xc0) == 0x80;
  return valid ? length : 0;
}

std::optional<AI_Data_t> Whole(const unsigned char* data, unsigned int length) {
  AI_Data_t record;
  if (data == nullptr || length != sizeof(record)) return std::nullopt;
  std::memcpy(&record, data, sizeof(record));
  return record;
}

}  // namespace

Event::Event(const char* call) : writer_(values_) {
  members_.reserve(8);  // as many as any call has
  if (call != nullptr) Text("call", call);
}

Event::Writer& Event::Member(const char* name) {
  if (!members_.empty()) members_.back().end = values_.GetSize();
  members_.push_back({name, values_.GetSize(), 0});
  writer_.Reset(values_);  // each member's value is a JSON text of its own
  return writer_;
}

Event& Event::Bool(const char* name, bool value) {
  Member(name).Bool(value);
  return *this;
}

Event& Event::Int(const char* name, std::int64_t value) {
  Member(name).Int64(value);
  return *this;
}

Event& Event::Float(const char* name, float value) {
  Writer& writer = Member(name);
  if (std::isnan(value)) {
    writer.String("NaN");
  } else if (std::isinf(value)) {
    writer.String(value < 0 ? "-Infinity" : "Infinity");
  } else {
    const std::string text = FloatText(value);
    writer.RawValue(text.data(), text.size(), rapidjson::kNumberType);
  }
  return *this;
}

void Event::TextValue(std::string_view text) {
  std::string valid;  // made only where a byte is not part of valid UTF-8
  std::size_t copied = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = SequenceLength(text.substr(at));
    if (length == 0) {
      valid.append(text.substr(copied, at - copied)).append("\xef\xbf\xbd");
      copied = at + 1;
    }
    at += std::max<std::size_t>(length, 1);
  }
  if (copied != 0) text = valid.append(text.substr(copied));
  writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

Event& Event::Text(const char* name, std::string_view text) {
  Member(name);
  TextValue(text);
  return *this;
}

Event& Event::RuleKeys(const char* name, const std::vector<rule_value>& rules) {
  Member(name).StartArray();
  for (const rule_value& rule : rules) TextValue(rule.key);
  writer_.EndArray();
  return *this;
}

Event& Event::Record(const unsigned char* data, unsigned int length) {
  if (data == nullptr) {
    Member("record").Null();
    return *this;
  }
  Text("record", ToHex(data, length));
  if (const auto record = Whole(data, length)) {
    Int("data_id", record->id).Text("time", FormatTime(record->time)).Float("value", record->value);
  }
  return *this;
}

std::string_view Event::Line() {
  if (!members_.empty()) members_.back().end = values_.GetSize();
  std::sort(members_.begin(), members_.end(),
            [](const Written& a, const Written& b) { return std::strcmp(a.name, b.name) < 0; });
  const char* values = values_.GetString();
  line_.assign("{");
  line_.reserve(values_.GetSize() + 16 * members_.size() + 3);
  for (const Written& member : members_) {
    if (line_.size() > 1) line_ += ',';
    // Names are the stand-in's own identifiers: nothing in them to escape.
    line_.append("\"").append(member.name).append("\":");
    line_.append(values + member.start, member.end - member.start);
  }
  line_.append("}\n");
  return line_;
}

std::string ToHex(const unsigned char* bytes, std::size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < length; ++i)
    (text += kDigits[bytes[i] >> 4]) += kDigits[bytes[i] & 15];
  return text;
}

std::string FloatText(float value) {
  char text[32];
  char* end = std::to_chars(text, text + 29, double{value}, std::chars_format::general, 9).ptr;
  if (std::none_of(text, end, [](char c) { return c == '.' || c == 'e'; })) {
    end = std::copy_n(".0", 2, end);
  }
  return std::string(text, end);
}

std::string FormatTime(const ttime& time) {
  char text[32];
  std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u", unsigned{time.year},
                unsigned{time.month}, unsigned{time.day}, unsigned{time.hour},
                unsigned{time.minute}, unsigned{time.second});
  return text;
}

Recorder* Recorder::current_ = nullptr;

}  // namespace standin
