// The stand-in's host services (DranVDevice's, DranAIDevice's, get_ttime): each records its call
// with the recorder in place and answers, in the result type that the host's header declares.
// CheckThreshold queues one rule per call, as the daemon does: a round's batch sees its rules.
#include "host/dran_ai_device.h"
#include "host_standin/recorder.h"

using standin::Event;
using standin::Recorder;

namespace {

// The result type the host's header gives an operation: the stand-in answers in whatever it says.
template <typename R, typename C, typename... A>
R ResultOf(R (C::*)(A...));
template <typename R, typename C, typename... A>
R ResultOf(R (C::*)(A...) const);
template <auto Operation>
using Result = decltype(ResultOf(Operation));

// To the recorder in place, `arguments` writing the call's members after its name.
template <typename Arguments>
void Record(DranVDevice* device, const char* call, Arguments arguments) {
  if (Recorder* recorder = Recorder::Current()) {
    Event event(call);
    arguments(event);
    recorder->Write(event.Line());
    if (device != nullptr) recorder->Called(call, *device);
  }
}

bool Answer(const char* call) {
  Recorder* recorder = Recorder::Current();
  return recorder != nullptr ? recorder->answers.Next(call)
                             : call == std::string_view("InitSetting");
}

}  // namespace

DranVDevice::DranVDevice() = default;

DranAIDevice::DranAIDevice() = default;

// The services whose answers nobody reads (the plug-in calls only Reset of them): recorded, and
// answered with `answer` in their result type, nothing at all when that is void.
#define VELK_PLAIN_SERVICE(Class, name, parameters, answer) \
  Result<&Class::name> Class::name parameters {             \
    Record(this, #name, [](Event&) {});                     \
    return static_cast<Result<&Class::name>>(answer);       \
  }
VELK_PLAIN_SERVICE(DranVDevice, DeviceIoControl, (int, const void*, int, void*, int, int&), -1)
VELK_PLAIN_SERVICE(DranVDevice, Reset, (), 0)
VELK_PLAIN_SERVICE(DranVDevice, InitV, (DranVDevice*, unsigned int, const Json::Value&), true)
VELK_PLAIN_SERVICE(DranVDevice, Init, (std::weak_ptr<DranController>, unsigned, const Json::Value&),
                   true)
VELK_PLAIN_SERVICE(DranAIDevice, Init,
                   (std::weak_ptr<DranController>, unsigned, const Json::Value&), true)
VELK_PLAIN_SERVICE(DranVDevice, SendDelayData, (int), 0)
VELK_PLAIN_SERVICE(DranVDevice, SendDoData, (int, char), 0)
VELK_PLAIN_SERVICE(DranVDevice, ReadDi, (int), 0)
VELK_PLAIN_SERVICE(DranVDevice, ReadAi, (int), 0)
VELK_PLAIN_SERVICE(DranVDevice, Get_SP_Value, (unsigned int, const std::string&), 0)

Result<&DranVDevice::InitSetting> DranVDevice::InitSetting(const Json::Value&) {
  const bool result = Answer("InitSetting");
  Record(this, "InitSetting", [result](Event& event) { event.Bool("result", result); });
  return static_cast<Result<&DranVDevice::InitSetting>>(result);
}

Result<&DranVDevice::IsSupportDevice> DranVDevice::IsSupportDevice(const std::string& type) const {
  return static_cast<Result<&DranVDevice::IsSupportDevice>>(type == device_type_);
}

Result<&DranVDevice::SendSP> DranVDevice::SendSP(int sp_id, const unsigned char* data,
                                                 unsigned int length, bool publish) {
  Record(this, "SendSP", [&](Event& event) {
    event.Int("sp_id", sp_id).Record(data, length).Int("length", length).Bool("publish", publish);
  });
  return static_cast<Result<&DranVDevice::SendSP>>(length);
}

Result<&DranVDevice::CheckThreshold> DranVDevice::CheckThreshold(const std::string& key,
                                                                 const std::string& name,
                                                                 const float& value, int level) {
  Record(this, "CheckThreshold", [&](Event& event) {
    event.Text("key", key).Text("name", name).Float("value", value).Int("level", level);
  });
  rule_value& rule = rule_values_.emplace_back();
  rule.key = key;
  rule.name = name;
  rule.value = value;
  rule.level = level;
  return static_cast<Result<&DranVDevice::CheckThreshold>>(true);
}

bool DranVDevice::CheckAOReport(const std::string& key, float value) {
  const bool result = Answer("CheckAOReport");
  Record(this, "CheckAOReport", [&](Event& event) {
    event.Text("key", key).Float("value", value).Bool("result", result);
  });
  return result;
}

bool DranVDevice::DoBatchCheckThreshold(const std::vector<rule_value>& rules) {
  const bool result = Answer("DoBatchCheckThreshold");
  Record(this, "DoBatchCheckThreshold",
         [&](Event& event) { event.RuleKeys("rules", rules).Bool("result", result); });
  return result;
}

Result<&DranVDevice::SaveDeviceHistory> DranVDevice::SaveDeviceHistory(const unsigned char* data,
                                                                       unsigned int length) {
  Record(this, "SaveDeviceHistory",
         [&](Event& event) { event.Record(data, length).Int("length", length); });
  return static_cast<Result<&DranVDevice::SaveDeviceHistory>>(true);
}

ttime get_ttime(boost::posix_time::ptime time) {
  ttime stamp{};  // fields by name: the host's headers order them as they like
  if (!time.is_special()) {
    const auto date = time.date();
    const auto clock = time.time_of_day();
    stamp.year = static_cast<std::uint16_t>(date.year());
    stamp.month = static_cast<std::uint8_t>(date.month());
    stamp.day = static_cast<std::uint8_t>(date.day());
    stamp.hour = static_cast<std::uint8_t>(clock.hours());
    stamp.minute = static_cast<std::uint8_t>(clock.minutes());
    stamp.second = static_cast<std::uint8_t>(clock.seconds());
  }
  Record(nullptr, "get_ttime",
         [&stamp](Event& event) { event.Text("time", standin::FormatTime(stamp)); });
  return stamp;
}
