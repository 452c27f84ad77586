// velk-run test --update: a scenario's expectations filled with what its run showed, and the
// scenario written out again in one layout. The rest of the file (notes, the host, the steps
// and the order of members) stays as it was.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "runner/scenario_check.h"

namespace velk_run {

namespace {

using rapidjson::Value;

bool IsPlain(const Value& value) { return !value.IsObject() && !value.IsArray(); }

bool OnOneLine(const Value& value, bool in_a_list) {
  if (value.IsArray()) {
    return std::all_of(value.Begin(), value.End(),
                       [](const Value& each) { return each.IsNumber() || each.IsBool(); });
  }
  if (!value.IsObject()) return true;
  for (const auto& member : value.GetObject()) {
    const bool list_of_plain =
        member.value.IsArray() && std::all_of(member.value.Begin(), member.value.End(), IsPlain);
    if (!IsPlain(member.value) && !(in_a_list && list_of_plain)) return false;
  }
  return true;
}

// `value` at `indent`; inside a value on one line (`in_one_line`), all on that line.
void Lay(const Value& value, bool in_a_list, bool in_one_line, const std::string& indent,
         std::string& text) {
  if (IsPlain(value)) {
    rapidjson::StringBuffer plain;
    rapidjson::Writer<rapidjson::StringBuffer> writer(plain);
    value.Accept(writer);
    text.append(plain.GetString(), plain.GetSize());
    return;
  }
  const bool one_line = in_one_line || OnOneLine(value, in_a_list) || value.Empty();
  const std::string inner = one_line ? "" : indent + "  ";
  const std::string between = one_line ? ", " : ",\n" + inner;
  text += value.IsObject() ? "{" : "[";
  if (!one_line) text += "\n" + inner;
  bool first = true;
  if (value.IsObject()) {
    for (const auto& member : value.GetObject()) {
      if (!std::exchange(first, false)) text += between;
      Lay(member.name, false, one_line, inner, text);
      text += ": ";
      Lay(member.value, false, one_line, inner, text);
    }
  } else {
    for (const Value& each : value.GetArray()) {
      if (!std::exchange(first, false)) text += between;
      Lay(each, true, one_line, inner, text);
    }
  }
  if (!one_line) text += "\n" + indent;
  text += value.IsObject() ? "}" : "]";
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
  Lay(value, false, false, "", text);
  return text + "\n";
}

void Checker::Update(std::size_t number, const StepSeen& seen,
                     const std::vector<rapidjson::Document>& events) {
  auto& alloc = scenario_.document.GetAllocator();
  Value& top = scenario_.document;
  // The configuration has expectations only where the scenario has "configure".
  if (number == 0 && !top.HasMember("configure")) return;
  Value& holder = number == 0 ? top["configure"] : top["steps"][static_cast<rapidjson::SizeType>(number - 1)];
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
    for (const std::string& line : seen.log) log.PushBack(Value(line.data(), static_cast<rapidjson::SizeType>(line.size()), alloc), alloc);
    Set(expect, "log", std::move(log), alloc);
  }
  if (!named("events")) return;
  // An expected event keeps the members it names, filled as seen; one that was not seen goes,
  // and one seen that was not expected comes whole.
  Value updated(rapidjson::kArrayType);
  const Value* before = expect.HasMember("events") ? &expect["events"] : nullptr;
  const auto same = [&](std::size_t i, std::size_t j) { return SameEvent((*before)[i], events[j]); };
  for (const auto& [i, j] : Align(before ? before->Size() : 0, events.size(), same)) {
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
