// One call into the host as the stand-in saw it: the operation's name, its arguments and its
// answer as named members, kept in byte-wise order of their names as a JSON object lists them.
// Members refer to the call's own arguments, so a HostCall lives no longer than the call; it
// is built on the stack without touching the heap, and only turned into JSON where kept.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include <json/value.h>

#include "host/dran_records.h"

namespace standin {

class HostCall {
 public:
  struct Member {
    enum class Kind { kNull, kBool, kInt, kUInt, kFloat, kText, kBytes, kTime, kRuleKeys };
    const char* name;
    Kind kind;
    union {
      bool flag;
      std::int64_t integer;
      std::uint64_t natural;
      float real;
      struct {
        const void* data;
        std::size_t size;
      } span;  // kText and kBytes
      ttime time;
      const std::vector<rule_value>* rules;  // written as the list of their keys
    };

    std::string_view text() const { return {static_cast<const char*>(span.data), span.size}; }
    const unsigned char* bytes() const { return static_cast<const unsigned char*>(span.data); }
  };

  // `call` is the operation's name, the "call" member; a null one leaves it out (a record
  // decoded on its own).
  explicit HostCall(const char* call);

  void AddNull(const char* name);
  void AddBool(const char* name, bool value);
  void AddInt(const char* name, std::int64_t value);
  void AddUInt(const char* name, std::uint64_t value);
  void AddFloat(const char* name, float value);
  void AddText(const char* name, std::string_view value);
  void AddBytes(const char* name, const unsigned char* data, std::size_t size);
  void AddTime(const char* name, const ttime& value);
  void AddRuleKeys(const char* name, const std::vector<rule_value>& rules);
  // A record argument: its length and bytes, and its fields (data_id, value, time) when it
  // is a whole AI_Data_t. A null record is JSON null.
  void AddRecord(const unsigned char* data, unsigned int length);
  // The fields of a whole 15-byte record.
  void AddRecordFields(const unsigned char* record);

  const Member* begin() const { return members_.data(); }
  const Member* end() const { return members_.data() + size_; }

 private:
  Member& Insert(const char* name, Member::Kind kind);

  // SendSP has the most: call, data_id, length, publish, record, sp_id, time, value.
  std::array<Member, 8> members_;
  std::size_t size_ = 0;
};

// The call as a JSON object, as the journal keeps it for tests.
Json::Value ToJson(const HostCall& call);

}  // namespace standin
