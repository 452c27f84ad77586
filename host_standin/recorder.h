// Whoever watches the stand-in host (a test, velk-run) puts a Recorder in place for a scope: each
// host call is then written as one event line when it is made, and answered as the recorder's
// script says. Without one the services record nothing and answer at once (false; true for the
// settings), touching only the device: devices may run on many threads, and benchmarks see the
// plug-in's own cost.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "host/dran_records.h"
#include "host_standin/host_script.h"

class DranVDevice;

namespace standin {

// A call's event, the only form it has (velk-run prints it, the tests read it): one line of
// JSON written by RapidJSON's writer, "call" and the arguments, in byte-wise order of their
// names whatever order they are added in. Every line is strict JSON in valid UTF-8. Floats have
// nine significant digits, so each reads back exactly; one that is not finite, which no JSON
// number holds, is the string "NaN", "Infinity" or "-Infinity", as the proto3 JSON mapping
// writes it. Each byte that is not part of a well-formed UTF-8 sequence becomes one U+FFFD, as
// Go's encoding/json repairs a string (a cut-off sequence of two bytes gives two).
class Event {
 public:
  explicit Event(const char* call);  // null: no "call", for a record decoded on its own

  Event& Bool(const char* name, bool value);
  Event& Int(const char* name, std::int64_t value);
  Event& Float(const char* name, float value);
  Event& Text(const char* name, std::string_view text);
  Event& RuleKeys(const char* name, const std::vector<rule_value>& rules);
  // A record argument: "record", its bytes in hex (null for a null pointer), and for a whole
  // 15-byte AI_Data_t its fields "data_id", "time" and "value".
  Event& Record(const unsigned char* data, unsigned int length);
  std::string_view Line();  // the finished line, newline included; valid while the event is

 private:
  using Writer = rapidjson::Writer<rapidjson::StringBuffer>;
  Writer& Member(const char* name);  // the writer for the value of member `name`
  void TextValue(std::string_view text);

  struct Written {
    const char* name;
    std::size_t start;  // of its value in values_
    std::size_t end;
  };
  rapidjson::StringBuffer values_;  // every value's JSON, one after another
  Writer writer_;
  std::vector<Written> members_;
  std::string line_;
};

// Records as people read them: lower-case hex, and the time as "YYYY-MM-DD HH:MM:SS".
std::string ToHex(const unsigned char* bytes, std::size_t length);
std::string FormatTime(const ttime& time);
// A float as events write it: nine significant digits, ".0" where that reads as an integer.
std::string FloatText(float value);

class Recorder {
 public:
  Recorder() : replaced_(current_) { current_ = this; }  // the one it replaced is back after it
  virtual ~Recorder() { current_ = replaced_; }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;
  static Recorder* Current() { return current_; }

  // Takes each event line as its call is made; inside the plug-in's call, so it must not throw
  // for a failure of its own.
  virtual void Write(std::string_view line) = 0;
  // Runs in a device's service once its call is written, for a test's script.
  virtual void Called(std::string_view /*call*/, DranVDevice& /*device*/) {}

  Answers answers;  // what the host answers while this recorder is in place

 private:
  static Recorder* current_;  // defined in the stand-in library, for every user of it
  Recorder* replaced_;
};

}  // namespace standin
