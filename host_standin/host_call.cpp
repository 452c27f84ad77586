#include "host_standin/host_call.h"

#include <cstring>
#include <stdexcept>

#include "framework/ai_data.h"
#include "host_standin/record_format.h"

namespace standin {

HostCall::HostCall(const char* call) {
  if (call != nullptr) AddText("call", call);
}

// Members arrive in any order and are kept sorted, so every reader sees them as JSON lists
// them; a call has a handful, so moving the later ones up costs less than any map.
HostCall::Member& HostCall::Insert(const char* name, Member::Kind kind) {
  if (size_ == members_.size()) throw std::length_error("a host call with too many members");
  std::size_t at = size_;
  while (at > 0 && std::strcmp(members_[at - 1].name, name) > 0) {
    members_[at] = members_[at - 1];
    --at;
  }
  ++size_;
  Member& member = members_[at];
  member.name = name;
  member.kind = kind;
  return member;
}

void HostCall::AddNull(const char* name) { Insert(name, Member::Kind::kNull); }

void HostCall::AddBool(const char* name, bool value) {
  Insert(name, Member::Kind::kBool).flag = value;
}

void HostCall::AddInt(const char* name, std::int64_t value) {
  Insert(name, Member::Kind::kInt).integer = value;
}

void HostCall::AddUInt(const char* name, std::uint64_t value) {
  Insert(name, Member::Kind::kUInt).natural = value;
}

void HostCall::AddFloat(const char* name, float value) {
  Insert(name, Member::Kind::kFloat).real = value;
}

void HostCall::AddText(const char* name, std::string_view value) {
  Insert(name, Member::Kind::kText).span = {value.data(), value.size()};
}

void HostCall::AddBytes(const char* name, const unsigned char* data, std::size_t size) {
  Insert(name, Member::Kind::kBytes).span = {data, size};
}

void HostCall::AddTime(const char* name, const ttime& value) {
  Insert(name, Member::Kind::kTime).time = value;
}

void HostCall::AddRuleKeys(const char* name, const std::vector<rule_value>& rules) {
  Insert(name, Member::Kind::kRuleKeys).rules = &rules;
}

void HostCall::AddRecord(const unsigned char* data, unsigned int length) {
  AddUInt("length", length);
  if (data == nullptr) {
    AddNull("record");
    return;
  }
  AddBytes("record", data, length);
  if (length == sizeof(AI_Data_t)) AddRecordFields(data);
}

void HostCall::AddRecordFields(const unsigned char* record) {
  AI_Data_t data;
  std::memcpy(&data, record, sizeof(data));
  AddUInt("data_id", data.id);
  AddFloat("value", data.value);
  AddTime("time", data.time);
}

Json::Value ToJson(const HostCall& call) {
  using Kind = HostCall::Member::Kind;
  Json::Value event(Json::objectValue);
  for (const HostCall::Member& member : call) {
    Json::Value& value = event[member.name];
    switch (member.kind) {
      case Kind::kNull:
        break;
      case Kind::kBool:
        value = member.flag;
        break;
      case Kind::kInt:
        value = Json::Int64(member.integer);
        break;
      case Kind::kUInt:
        value = Json::UInt64(member.natural);
        break;
      case Kind::kFloat:
        value = static_cast<double>(member.real);
        break;
      case Kind::kText:
        value = std::string(member.text());
        break;
      case Kind::kBytes:
        value = ToHex(member.bytes(), member.span.size);
        break;
      case Kind::kTime:
        value = FormatTime(member.time);
        break;
      case Kind::kRuleKeys:
        value = Json::Value(Json::arrayValue);
        for (const rule_value& rule : *member.rules) value.append(rule.key);
        break;
    }
  }
  return event;
}

}  // namespace standin
