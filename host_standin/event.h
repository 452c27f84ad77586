// A host call as the stand-in records it: one line of JSON, an object with the operation's name
// as "call" and its arguments by name, written by RapidJSON's writer as the call is made. The
// caller adds the members in byte-wise order of their names, "call" first; floats get nine
// significant digits, so that each reads back exactly. That line is the only form a call has:
// velk-run prints it and the tests read it.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "host/dran_records.h"

namespace standin {

class Event {
 public:
  // Without a call (null), the object of a record decoded on its own.
  explicit Event(const char* call);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  Event& Bool(const char* name, bool value);
  Event& Int(const char* name, std::int64_t value);
  // A float that is not finite has no JSON number: NaN, Infinity or -Infinity, as JavaScript
  // spells them and jsoncpp and Python read them.
  Event& Float(const char* name, float value);
  // Each byte that is not part of valid UTF-8 becomes U+FFFD, as in Go's and Python's encoders,
  // so that a key of stray bytes still makes a line of JSON.
  Event& Text(const char* name, std::string_view text);
  Event& RuleKeys(const char* name, const std::vector<rule_value>& rules);

  // A record argument, in three parts that go in their places among the call's other members:
  // "data_id", then "record" (its bytes in hex, null for a null pointer), then "time" and
  // "value". The fields are there when the record is a whole 15-byte AI_Data_t.
  Event& RecordId(const unsigned char* data, unsigned int length);
  Event& RecordBytes(const unsigned char* data, unsigned int length);
  Event& RecordFields(const unsigned char* data, unsigned int length);

  // The finished line, newline included.
  std::string_view Line();

 private:
  void String(std::string_view text);

  rapidjson::StringBuffer buffer_;
  rapidjson::Writer<rapidjson::StringBuffer> writer_;
};

// Records as people read them: lower-case hex, and the time as "YYYY-MM-DD HH:MM:SS".
std::string ToHex(const unsigned char* bytes, std::size_t length);
std::string FormatTime(const ttime& time);

}  // namespace standin
