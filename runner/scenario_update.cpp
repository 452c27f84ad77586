// velk-run test --update: a scenario's expectations filled with what its run showed, and the
// scenario written out again in one layout. The rest of the file (notes, the host, the steps
// and the order of members) stays as it was.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <optional>
#include <utility>

#include "runner/scenario_check.h"

namespace velk_run {

namespace {

using rapidjson::Value;

// How wide a line of values may be; an object in a list (an event, a step) may be wider.
constexpr std::size_t kWidth = 80;

std::string Plain(const Value& value) {
  rapidjson::StringBuffer text;
  rapidjson::Writer<rapidjson::StringBuffer> writer(text);
  value.Accept(writer);
  return std::string(text.GetString(), text.GetSize());
}

// `value` on one line, where it may go on one: a plain value; a list of plain values that fits
// the width; an object whose members all go on one line, in a list or where it fits.
std::optional<std::string> OneLine(const Value& value, bool in_a_list) {
  if (!value.IsObject() && !value.IsArray()) return Plain(value);
  std::string text = value.IsObject() ? "{" : "[";
  if (value.IsArray()) {
    for (const Value& each : value.GetArray()) {
      if (each.IsObject() || each.IsArray()) return std::nullopt;
      text += (text.size() > 1 ? ", " : "") + Plain(each);
    }
  } else {
    for (const auto& member : value.GetObject()) {
      const std::optional<std::string> inner = OneLine(member.value, false);
      if (!inner) return std::nullopt;
      text += (text.size() > 1 ? ", " : "") + Plain(member.name) + ": " + *inner;
    }
  }
  text += value.IsObject() ? "}" : "]";
  if (text.size() > kWidth && !(in_a_list && value.IsObject())) return std::nullopt;
  return text;
}

void Lay(const Value& value, bool in_a_list, const std::string& indent, std::string& text) {
  if (const std::optional<std::string> line = OneLine(value, in_a_list)) {
    text += *line;
    return;
  }
  const std::string inner = indent + "  ";
  text += value.IsObject() ? "{\n" : "[\n";
  bool first = true;
  if (value.IsObject()) {
    for (const auto& member : value.GetObject()) {
      text += (std::exchange(first, false) ? "" : ",\n") + inner + Plain(member.name) + ": ";
      Lay(member.value, false, inner, text);
    }
  } else {
    for (const Value& each : value.GetArray()) {
      text += (std::exchange(first, false) ? "" : ",\n") + inner;
      Lay(each, true, inner, text);
    }
  }
  text += "\n" + indent + (value.IsObject() ? "}" : "]");
}

// Sets `object`'s member `name` to `value`, adding it at the end where it is new.
void Set(Value& object, const char* name, Value value, rapidjson::Document::AllocatorType& alloc) {
  const auto found = object.FindMember(name);
  if (found != object.MemberEnd()) {
    found->value = value;
  } else {
    object.AddMember(Value(name, alloc), value, alloc);
  }
}

}  // namespace

std::string Laid(const Value& value) {
  std::string text;
  Lay(value, false, "", text);
  return text + "\n";
}

void Checker::Update(std::size_t number, const StepSeen& seen,
                     const std::vector<rapidjson::Document>& events) {
  auto& alloc = scenario_.document.GetAllocator();
  Value& top = scenario_.document;
  // The configuration has expectations only where the scenario has "configure".
  if (number == 0 && !top.HasMember("configure")) return;
  Value& holder =
      number == 0 ? top["configure"] : top["steps"][static_cast<rapidjson::SizeType>(number - 1)];
  const bool all = !holder.HasMember("expect");
  if (all) holder.AddMember("expect", Value(rapidjson::kObjectType), alloc);
  Value& expect = holder["expect"];
  const auto named = [&](const char* name) { return all || expect.HasMember(name); };
  for (const char* member : {"value", "changed", "need_report"}) {
    if (number == 0 || !named(member)) continue;
    if (seen.ended.IsNull()) {
      expect.RemoveMember(member);  // the step did not end: there is nothing to expect
    } else {
      Set(expect, member, Value(seen.ended[member], alloc), alloc);
    }
  }
  if (named("log")) {
    Value log(rapidjson::kArrayType);
    for (const std::string& line : seen.log)
      log.PushBack(Value(line.data(), static_cast<rapidjson::SizeType>(line.size()), alloc), alloc);
    Set(expect, "log", std::move(log), alloc);
  }
  if (!named("events")) return;
  // An expected event keeps the members it names, filled as seen; one that was not seen goes,
  // and one seen that was not expected comes whole.
  Value updated(rapidjson::kArrayType);
  const Value* before = expect.HasMember("events") ? &expect["events"] : nullptr;
  const auto same = [&](std::size_t i, std::size_t j) {
    return SameEvent((*before)[i], events[j]);
  };
  const auto akin = [&](std::size_t i, std::size_t j) { return SameCall((*before)[i], events[j]); };
  for (const auto& [i, j] : Align(before ? before->Size() : 0, events.size(), same, akin)) {
    if (j == kNone) continue;
    if (i == kNone) {
      updated.PushBack(Value(events[j], alloc), alloc);
      continue;
    }
    Value event((*before)[i], alloc);
    for (auto& member : event.GetObject()) {
      const auto found = events[j].FindMember(member.name);
      if (found != events[j].MemberEnd()) member.value.CopyFrom(found->value, alloc);
    }
    updated.PushBack(event, alloc);
  }
  Set(expect, "events", std::move(updated), alloc);
}

void Checker::UpdateEnd(int status, const std::vector<std::string>& failures) {
  auto& alloc = scenario_.document.GetAllocator();
  Value& top = scenario_.document;
  if (!top.HasMember("end") && status == 0) return;
  if (!top.HasMember("end")) top.AddMember("end", Value(rapidjson::kObjectType), alloc);
  Value& end = top["end"];
  Set(end, "status", Value(status), alloc);
  if (failures.empty()) {
    end.RemoveMember("says");
    return;
  }
  // The first failure line, the cause of what followed, without "velk-run: ".
  const std::string says = failures.front().substr(failures.front().find(": ") + 2);
  Set(end, "says", Value(says.data(), static_cast<rapidjson::SizeType>(says.size()), alloc), alloc);
}

}  // namespace velk_run
