#include "runner/scenario.h"

#include <rapidjson/error/en.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <climits>
#include <limits>

#include "loader/config.h"
#include "loader/failure.h"

namespace velk_run {

namespace {

using rapidjson::Value;

// A scenario file of 100,000 steps with their expectations takes tens of megabytes.
constexpr std::size_t kMaxScenarioBytes = 256 * 1024 * 1024;
const char kReadings[] = "an integer from -32768 to 32767";
const char* const kAnsweredCalls[] = {"InitSetting", "CheckAOReport", "DoBatchCheckThreshold"};

// What is wrong with the scenario; ReadScenario names the file.
struct Fault {
  std::string message;
};

// The members of one object of the file, `where` in it ("host", "step 3 expect"), each taken
// by name; "note" is free text anywhere, and any other left when all are taken is unknown.
class Members {
 public:
  Members(const Value& object, std::string where) : object_(object), where_(std::move(where)) {
    if (!object.IsObject()) throw Fault{where_ + " must be an object"};
  }
  void AllTaken() const {
    for (const auto& member : object_.GetObject()) {
      const std::string name(member.name.GetString(), member.name.GetStringLength());
      if (name != "note" && std::find(taken_.begin(), taken_.end(), name) == taken_.end()) {
        throw Fault{"unknown member " + velk::Quoted(name, velk::kShownInput) + " in " + where_};
      }
    }
  }
  const Value* Take(const char* name) {
    taken_.emplace_back(name);
    const auto found = object_.FindMember(name);
    return found == object_.MemberEnd() ? nullptr : &found->value;
  }
  [[noreturn]] void Wrong(const char* name, const char* must) const {
    throw Fault{"'" + std::string(name) + "' in " + where_ + " must be " + must};
  }
  long long Integer(const char* name, long long low, long long high, long long otherwise,
                    const char* must) {
    const Value* value = Take(name);
    if (value == nullptr) return otherwise;
    if (!value->IsInt64() || value->GetInt64() < low || value->GetInt64() > high) Wrong(name, must);
    return value->GetInt64();
  }
  const std::string& where() const { return where_; }

 private:
  const Value& object_;
  std::string where_;
  std::vector<std::string> taken_;
};

// The host's state (ao_keys, ao_values) named in `members`, if either is; the one absent is
// empty.
std::optional<standin::HostState> HostStateIn(Members& members) {
  const Value* keys = members.Take("ao_keys");
  const Value* values = members.Take("ao_values");
  if (keys == nullptr && values == nullptr) return std::nullopt;
  standin::HostState state;
  if (keys != nullptr) {
    if (!keys->IsArray()) members.Wrong("ao_keys", "a list of keys");
    for (const Value& key : keys->GetArray()) {
      if (!key.IsString()) members.Wrong("ao_keys", "a list of keys");
      state.ao_keys.push_back(TextOf(key));
    }
  }
  if (values != nullptr) {
    if (!values->IsObject()) members.Wrong("ao_values", "an object of numbers");
    for (const auto& value : values->GetObject()) {
      if (!value.value.IsNumber()) members.Wrong("ao_values", "an object of numbers");
      state.ao_values[TextOf(value.name)] = value.value.GetFloat();
    }
  }
  return state;
}

void ReadHost(const Value& host, Scenario& scenario) {
  Members members(host, "host");
  if (auto state = HostStateIn(members)) scenario.holds = *state;
  for (const char* call : kAnsweredCalls) {
    const Value* answer = members.Take(call);
    if (answer == nullptr) continue;
    if (answer->IsBool()) {
      scenario.always[call] = answer->GetBool();
      continue;
    }
    if (!answer->IsArray()) members.Wrong(call, "true, false or a list of them");
    std::vector<bool>& turns = scenario.in_turn[call];
    for (const Value& each : answer->GetArray()) {
      if (!each.IsBool()) members.Wrong(call, "true, false or a list of them");
      turns.push_back(each.GetBool());
    }
  }
  members.AllTaken();
}

// An expectation's members, of the kinds they must be; with `of_a_step` false, those of the
// configuration (its log and events only).
void CheckExpect(const Value& expect, const std::string& where, bool of_a_step) {
  Members members(expect, where);
  if (of_a_step) {
    const Value* value = members.Take("value");
    if (value != nullptr && !NumberOf(*value)) members.Wrong("value", "a number");
    for (const char* flag : {"changed", "need_report"}) {
      const Value* given = members.Take(flag);
      if (given != nullptr && !given->IsBool()) members.Wrong(flag, "true or false");
    }
  }
  // Each member of "log" a line, of "events" an object.
  const std::pair<const char*, rapidjson::Type> lists[] = {{"log", rapidjson::kStringType},
                                                           {"events", rapidjson::kObjectType}};
  for (const auto& [name, kind] : lists) {
    const Value* list = members.Take(name);
    const auto is_kind = [kind = kind](const Value& each) { return each.GetType() == kind; };
    if (list != nullptr && !(list->IsArray() && std::all_of(list->Begin(), list->End(), is_kind))) {
      members.Wrong(name, kind == rapidjson::kStringType ? "a list of lines" : "a list of objects");
    }
  }
  members.AllTaken();
}

Step ReadStep(const Value& object, std::size_t number) {
  Step step;
  Members members(object, "step " + std::to_string(number));
  const Value* reading = members.Take("reading");
  const Value* restore = members.Take("restore");
  if ((reading == nullptr) == (restore == nullptr)) {
    throw Fault{members.where() + " must have one of 'reading' and 'restore'"};
  }
  if (reading != nullptr) {
    if (!reading->IsInt() || reading->GetInt() < SHRT_MIN || reading->GetInt() > SHRT_MAX) {
      members.Wrong("reading", kReadings);
    }
    step.reading = static_cast<short>(reading->GetInt());
    step.name = members.where() + ", reading " + std::to_string(*step.reading);
  } else {
    const std::optional<Record> record =
        restore->IsString() ? RecordFromHex(TextOf(*restore)) : std::nullopt;
    if (!record) members.Wrong("restore", "a record of 15 bytes as 30 hex digits");
    step.record = *record;
    step.name = members.where() + ", restore " + TextOf(*restore);
  }
  step.holds = HostStateIn(members);
  if (const Value* expect = members.Take("expect")) {
    CheckExpect(*expect, members.where() + " expect", true);
  }
  members.AllTaken();
  return step;
}

// What the file names relative to its own folder, as a path from the current directory.
std::string Beside(const std::string& scenario, const std::string& name) {
  if (name.empty() || name[0] == '/') return name;
  const std::size_t slash = scenario.rfind('/');
  return (slash == std::string::npos ? "./" : scenario.substr(0, slash + 1)) + name;
}

Json::Value ReadConfigMember(const Value& config, const std::string& path) {
  if (config.IsString()) return velk::ReadConfig(Beside(path, TextOf(config)));
  rapidjson::StringBuffer text;
  rapidjson::Writer<rapidjson::StringBuffer> writer(text);
  config.Accept(writer);
  return velk::ParseConfig(text.GetString(), "'config'");
}

void ReadTopLevel(Scenario& scenario) {
  Members members(scenario.document, "the scenario");
  if (const Value* plugin = members.Take("plugin")) {
    if (!plugin->IsString() || plugin->GetStringLength() == 0) members.Wrong("plugin", "a file");
    scenario.plugin = Beside(scenario.path, TextOf(*plugin));
  }
  scenario.data_id = static_cast<std::uint32_t>(
      members.Integer("data_id", 0, 4294967295LL, 0, "a number from 0 to 4294967295"));
  if (const Value* config = members.Take("config")) {
    if (!config->IsObject() && !config->IsString()) members.Wrong("config", "an object or a file");
    scenario.config = ReadConfigMember(*config, scenario.path);
  }
  const Value* clock = members.Take("clock");
  if (clock != nullptr && !clock->IsString()) {
    members.Wrong("clock", "a local time 'YYYY-MM-DD HH:MM:SS'");
  }
  const std::string time = clock != nullptr ? TextOf(*clock) : kScenarioClock;
  std::string why;
  const std::optional<std::time_t> moment = LocalTime(time, why);
  if (!moment) throw Fault{"'clock' " + velk::Quoted(time, velk::kShownInput) + " " + why};
  scenario.clock = *moment;
  scenario.clock_step = members.Integer("clock_step", 0, INT_MAX, 0,
                                        "a whole number of seconds from 0 to 2147483647");
  if (const Value* tolerance = members.Take("tolerance")) {
    if (!tolerance->IsNumber() || tolerance->GetDouble() < 0) {
      members.Wrong("tolerance", "a number, 0 or more");
    }
    scenario.tolerance = tolerance->GetDouble();
  }
  if (const Value* host = members.Take("host")) ReadHost(*host, scenario);
  if (const Value* configure = members.Take("configure")) {
    Members configuration(*configure, "configure");
    if (const Value* expect = configuration.Take("expect")) {
      CheckExpect(*expect, "configure expect", false);
    }
    configuration.AllTaken();
  }
  const Value* steps = members.Take("steps");
  if (steps != nullptr && !steps->IsArray()) members.Wrong("steps", "a list");
  for (const Value* step = steps ? steps->Begin() : nullptr; steps && step != steps->End();
       ++step) {
    ReadStep(*step, ++scenario.steps);  // checked now, read again as it runs
  }
  if (const Value* end = members.Take("end")) {
    Members ending(*end, "end");
    scenario.end_status =
        static_cast<int>(ending.Integer("status", 0, 255, 0, "an exit status from 0 to 255"));
    if (const Value* says = ending.Take("says")) {
      if (!says->IsString()) ending.Wrong("says", "a text");
      scenario.end_says = TextOf(*says);
    }
    ending.AllTaken();
  }
  members.AllTaken();
}

}  // namespace

std::string TextOf(const Value& value) {
  return value.IsString() ? std::string(value.GetString(), value.GetStringLength()) : "";
}

std::optional<double> NumberOf(const Value& value) {
  if (value.IsNumber()) return value.GetDouble();
  const std::string text = TextOf(value);
  if (text == "NaN") return std::numeric_limits<double>::quiet_NaN();
  if (text == "Infinity") return std::numeric_limits<double>::infinity();
  if (text == "-Infinity") return -std::numeric_limits<double>::infinity();
  return std::nullopt;
}

Step StepOf(const Scenario& scenario, std::size_t number) {
  return ReadStep(scenario.document["steps"][static_cast<rapidjson::SizeType>(number - 1)], number);
}

std::string StepName(const Scenario& scenario, std::size_t number) {
  return number == 0 ? "configure" : StepOf(scenario, number).name;
}

rapidjson::Value* ExpectOf(Scenario& scenario, std::size_t number) {
  Value& top = scenario.document;
  const char* holder = number == 0 ? "configure" : "steps";
  const auto found = top.FindMember(holder);
  if (found == top.MemberEnd()) return nullptr;
  Value& object =
      number == 0 ? found->value : found->value[static_cast<rapidjson::SizeType>(number - 1)];
  const auto expect = object.FindMember("expect");
  return expect == object.MemberEnd() ? nullptr : &expect->value;
}

Scenario ReadScenario(const std::string& path) {
  Scenario scenario;
  scenario.path = path;
  const std::string named = "scenario " + velk::Quoted(path);
  scenario.text = velk::ReadText(path, kMaxScenarioBytes, named);
  const std::string& text = scenario.text;
  try {
    constexpr unsigned kFlags =
        rapidjson::kParseValidateEncodingFlag | rapidjson::kParseFullPrecisionFlag;
    scenario.document.Parse<kFlags>(text.data(), text.size());
    if (scenario.document.HasParseError()) {
      const std::size_t at = scenario.document.GetErrorOffset();
      const std::size_t line_start = text.rfind('\n', at == 0 ? 0 : at - 1) + 1;  // npos + 1 is 0
      throw Fault{"not JSON: " +
                  std::string(rapidjson::GetParseError_En(scenario.document.GetParseError())) +
                  " (line " +
                  std::to_string(std::count(text.begin(), text.begin() + at, '\n') + 1) +
                  ", column " + std::to_string(at - line_start + 1) + ")"};
    }
    ReadTopLevel(scenario);
  } catch (const Fault& fault) {
    throw velk::Failure{named + ": " + fault.message};
  } catch (const velk::Failure& failure) {  // its configuration file's, naming that file
    throw velk::Failure{named + ": " + failure.message};
  }
  return scenario;
}

}  // namespace velk_run
