// The stand-in's host services, DranVDevice's and DranAIDevice's and get_ttime: each records its
// call with the recorder in place and answers as it scripts, in the result type that the host's
// header declares.
// CheckThreshold queues one rule per call, as the daemon does, so a round's batch sees the
// rules of that round.
#include "host/dran_ai_device.h"
#include "host_standin/recorder.h"

using standin::Event;
using standin::Recorder;

namespace {

// The result type that the host's header gives an operation. The plug-in reads few of them and
// the daemon's headers choose the rest, so the stand-in answers in whatever type they say.
template <typename Operation>
struct ResultOfOperation;
template <typename R, typename C, typename... A>
struct ResultOfOperation<R (C::*)(A...)> {
  using type = R;
};
template <typename R, typename C, typename... A>
struct ResultOfOperation<R (C::*)(A...) const> {
  using type = R;
};
template <auto Operation>
using Result = typename ResultOfOperation<decltype(Operation)>::type;

// The call goes to the recorder in place, its arguments written by `arguments` after its name;
// nothing is written without one.
template <typename Arguments>
void Record(DranVDevice* device, const char* call, Arguments arguments) {
  if (Recorder* recorder = Recorder::Current()) {
    Event event(call);
    arguments(event);
    recorder->Record(event, call, device);
  }
}

void None(Event&) {}

bool Answer(bool (Recorder::*next)()) {
  Recorder* recorder = Recorder::Current();
  return recorder != nullptr && (recorder->*next)();
}

// A service whose answer nobody reads: recorded, and answered with `answer` in the result type
// of Operation (nothing at all when that is void).
template <auto Operation>
Result<Operation> Plain(DranVDevice* device, const char* call, long answer = 0) {
  Record(device, call, None);
  return static_cast<Result<Operation>>(answer);
}

}  // namespace

DranVDevice::DranVDevice() = default;

DranAIDevice::DranAIDevice() = default;

int DranVDevice::DeviceIoControl(int, const void*, int, void*, int, int&) {
  return Plain<&DranVDevice::DeviceIoControl>(this, "DeviceIoControl", -1);
}

Result<&DranVDevice::Reset> DranVDevice::Reset() { return Plain<&DranVDevice::Reset>(this, "Reset"); }

Result<&DranVDevice::InitV> DranVDevice::InitV(DranVDevice*, unsigned int, const Json::Value&) {
  return Plain<&DranVDevice::InitV>(this, "InitV", true);
}

Result<&DranVDevice::Init> DranVDevice::Init(std::weak_ptr<DranController> controller, unsigned int,
                                             const Json::Value&) {
  controller_ = std::move(controller);
  return Plain<&DranVDevice::Init>(this, "Init", true);
}

Result<&DranAIDevice::Init> DranAIDevice::Init(std::weak_ptr<DranController> controller,
                                               unsigned int index, const Json::Value& config) {
  DranVDevice::Init(std::move(controller), index, config);
  return static_cast<Result<&DranAIDevice::Init>>(true);
}

Result<&DranVDevice::InitSetting> DranVDevice::InitSetting(const Json::Value&) {
  const bool result = Recorder::Current() == nullptr || Recorder::Current()->InitSettingResult();
  Record(this, "InitSetting", [result](Event& event) { event.Bool("result", result); });
  return static_cast<Result<&DranVDevice::InitSetting>>(result);
}

Result<&DranVDevice::IsSupportDevice> DranVDevice::IsSupportDevice(const std::string& type) const {
  return static_cast<Result<&DranVDevice::IsSupportDevice>>(type == device_type_);
}

Result<&DranVDevice::SendSP> DranVDevice::SendSP(int sp_id, const unsigned char* data,
                                                 unsigned int length, bool publish) {
  Record(this, "SendSP", [&](Event& event) {
    event.RecordId(data, length)
        .Int("length", length)
        .Bool("publish", publish)
        .RecordBytes(data, length)
        .Int("sp_id", sp_id)
        .RecordFields(data, length);
  });
  return static_cast<Result<&DranVDevice::SendSP>>(length);
}

Result<&DranVDevice::SendDelayData> DranVDevice::SendDelayData(int) {
  return Plain<&DranVDevice::SendDelayData>(this, "SendDelayData");
}

Result<&DranVDevice::SendDoData> DranVDevice::SendDoData(int, char) {
  return Plain<&DranVDevice::SendDoData>(this, "SendDoData");
}

Result<&DranVDevice::ReadDi> DranVDevice::ReadDi(int) {
  return Plain<&DranVDevice::ReadDi>(this, "ReadDi");
}

Result<&DranVDevice::ReadAi> DranVDevice::ReadAi(int) {
  return Plain<&DranVDevice::ReadAi>(this, "ReadAi");
}

Result<&DranVDevice::Get_SP_Value> DranVDevice::Get_SP_Value(unsigned int, const std::string&) {
  return Plain<&DranVDevice::Get_SP_Value>(this, "Get_SP_Value");
}

Result<&DranVDevice::CheckThreshold> DranVDevice::CheckThreshold(const std::string& key,
                                                                 const std::string& name,
                                                                 const float& value, int level) {
  Record(this, "CheckThreshold", [&](Event& event) {
    event.Text("key", key).Int("level", level).Text("name", name).Float("value", value);
  });
  rule_value& rule = rule_values_.emplace_back();
  rule.key = key;
  rule.name = name;
  rule.value = value;
  rule.level = level;
  return static_cast<Result<&DranVDevice::CheckThreshold>>(true);
}

bool DranVDevice::CheckAOReport(const std::string& key, float value) {
  const bool result = Answer(&Recorder::NextReportResult);
  Record(this, "CheckAOReport", [&](Event& event) {
    event.Text("key", key).Bool("result", result).Float("value", value);
  });
  return result;
}

bool DranVDevice::DoBatchCheckThreshold(const std::vector<rule_value>& rules) {
  const bool result = Answer(&Recorder::NextBatchResult);
  Record(this, "DoBatchCheckThreshold",
         [&](Event& event) { event.Bool("result", result).RuleKeys("rules", rules); });
  return result;
}

Result<&DranVDevice::SaveDeviceHistory> DranVDevice::SaveDeviceHistory(const unsigned char* data,
                                                                       unsigned int length) {
  Record(this, "SaveDeviceHistory", [&](Event& event) {
    event.RecordId(data, length)
        .Int("length", length)
        .RecordBytes(data, length)
        .RecordFields(data, length);
  });
  return static_cast<Result<&DranVDevice::SaveDeviceHistory>>(true);
}

// The host's record time, read off a Boost local time.
ttime get_ttime(boost::posix_time::ptime time) {
  ttime stamp{};
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
