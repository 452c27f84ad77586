#include "host_standin/event.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "framework/ai_data.h"

namespace standin {

namespace {

// The length of the well-formed UTF-8 sequence that starts `text`, or 0 when its first byte
// starts none: no overlong forms, no surrogates, nothing above U+10FFFF.
std::size_t SequenceLength(std::string_view text) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  if (byte(0) < 0x80) return 1;
  const std::size_t length = byte(0) < 0xc2 ? 0 : byte(0) < 0xe0 ? 2 : byte(0) < 0xf0 ? 3 : 4;
  const unsigned char low = byte(0) == 0xe0 ? 0xa0 : byte(0) == 0xf0 ? 0x90 : 0x80;
  const unsigned char high = byte(0) == 0xed ? 0x9f : byte(0) == 0xf4 ? 0x8f : 0xbf;
  if (length == 0 || byte(0) > 0xf4 || text.size() < length || byte(1) < low || byte(1) > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(i) & 0xc0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

Event::Event(const char* call) : writer_(buffer_) {
  writer_.StartObject();
  if (call != nullptr) Text("call", call);
}

Event& Event::Bool(const char* name, bool value) {
  writer_.Key(name);
  writer_.Bool(value);
  return *this;
}

Event& Event::Int(const char* name, std::int64_t value) {
  writer_.Key(name);
  writer_.Int64(value);
  return *this;
}

Event& Event::Float(const char* name, float value) {
  char text[32] = "NaN";
  std::size_t length = 3;
  if (std::isinf(value)) {
    length = std::strlen(std::strcpy(text, value < 0 ? "-Infinity" : "Infinity"));
  } else if (!std::isnan(value)) {
    // As printf's %.9g, with ".0" where that reads as an integer.
    length = static_cast<std::size_t>(
        std::to_chars(text, text + 29, double{value}, std::chars_format::general, 9).ptr - text);
    if (std::none_of(text, text + length, [](char c) { return c == '.' || c == 'e'; })) {
      length += std::strlen(std::strcpy(text + length, ".0"));
    }
  }
  writer_.Key(name);
  writer_.RawValue(text, length, rapidjson::kNumberType);
  return *this;
}

Event& Event::Text(const char* name, std::string_view text) {
  writer_.Key(name);
  String(text);
  return *this;
}

Event& Event::RuleKeys(const char* name, const std::vector<rule_value>& rules) {
  writer_.Key(name);
  writer_.StartArray();
  for (const rule_value& rule : rules) String(rule.key);
  writer_.EndArray();
  return *this;
}

Event& Event::RecordId(const unsigned char* data, unsigned int length) {
  AI_Data_t record;
  if (data != nullptr && length == sizeof(record)) {
    std::memcpy(&record, data, sizeof(record));
    Int("data_id", record.id);
  }
  return *this;
}

Event& Event::RecordBytes(const unsigned char* data, unsigned int length) {
  writer_.Key("record");
  if (data == nullptr) {
    writer_.Null();
  } else {
    String(ToHex(data, length));
  }
  return *this;
}

Event& Event::RecordFields(const unsigned char* data, unsigned int length) {
  AI_Data_t record;
  if (data != nullptr && length == sizeof(record)) {
    std::memcpy(&record, data, sizeof(record));
    Text("time", FormatTime(record.time));
    Float("value", record.value);
  }
  return *this;
}

std::string_view Event::Line() {
  if (!writer_.IsComplete()) {
    writer_.EndObject();
    buffer_.Put('\n');
  }
  return {buffer_.GetString(), buffer_.GetSize()};
}

void Event::String(std::string_view text) {
  std::string valid;  // built only where a byte is not part of valid UTF-8
  std::size_t copied = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length =
        static_cast<unsigned char>(text[at]) < 0x80 ? 1 : SequenceLength(text.substr(at));
    if (length == 0) {
      valid.append(text.substr(copied, at - copied)).append("\xef\xbf\xbd");
      copied = at + 1;
    }
    at += std::max<std::size_t>(length, 1);
  }
  if (copied != 0) text = valid.append(text.substr(copied));
  writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

std::string ToHex(const unsigned char* bytes, std::size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0f];
  }
  return text;
}

// As "%04u-%02u-%02u %02u:%02u:%02u" prints it, without the cost of printf in every event.
std::string FormatTime(const ttime& time) {
  std::string text;
  const auto append = [&text](unsigned value, std::size_t width, const char* after) {
    char digits[8];
    const std::size_t length =
        static_cast<std::size_t>(std::to_chars(digits, digits + 8, value).ptr - digits);
    text.append(width > length ? width - length : 0, '0').append(digits, length) += after;
  };
  append(time.year, 4, "-");
  append(time.month, 2, "-");
  append(time.day, 2, " ");
  append(time.hour, 2, ":");
  append(time.minute, 2, ":");
  append(time.second, 2, "");
  return text;
}

}  // namespace standin
