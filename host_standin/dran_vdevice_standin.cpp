// The stand-in's DranVDevice and DranAIDevice: every service records its call in the
// journal and answers with what was scripted, in the result type that the host's header
// declares. CheckThreshold queues one rule per call, as the daemon does, so a round's batch
// sees the rules of that round.
#include <cstring>

#include "framework/ai_data.h"
#include "host/dran_ai_device.h"
#include "host_standin/host_journal.h"

using standin::HostCall;
using standin::HostJournal;

namespace {

HostJournal& Journal() { return HostJournal::Instance(); }

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

// `answer` in the result type of Operation; nothing at all when that is void.
template <auto Operation, typename Answer>
Result<Operation> Reply(Answer answer) {
  return static_cast<Result<Operation>>(answer);
}

void RecordPlainCall(const char* call, DranVDevice* device) {
  if (Journal().Recording()) Journal().Record(HostCall(call));
  Journal().Intercept(call, device);
}

}  // namespace

DranVDevice::DranVDevice() = default;

DranAIDevice::DranAIDevice() = default;

int DranVDevice::DeviceIoControl(int, const void*, int, void*, int, int&) {
  RecordPlainCall("DeviceIoControl", this);
  return -1;
}

Result<&DranVDevice::Reset> DranVDevice::Reset() {
  RecordPlainCall("Reset", this);
  return Reply<&DranVDevice::Reset>(0);
}

Result<&DranVDevice::InitV> DranVDevice::InitV(DranVDevice*, unsigned int, const Json::Value&) {
  RecordPlainCall("InitV", this);
  return Reply<&DranVDevice::InitV>(true);
}

Result<&DranVDevice::Init> DranVDevice::Init(std::weak_ptr<DranController> controller, unsigned int,
                                             const Json::Value&) {
  controller_ = std::move(controller);
  RecordPlainCall("Init", this);
  return Reply<&DranVDevice::Init>(true);
}

Result<&DranAIDevice::Init> DranAIDevice::Init(std::weak_ptr<DranController> controller,
                                               unsigned int index, const Json::Value& config) {
  DranVDevice::Init(std::move(controller), index, config);
  return Reply<&DranAIDevice::Init>(true);
}

Result<&DranVDevice::InitSetting> DranVDevice::InitSetting(const Json::Value&) {
  const bool result = Journal().InitSettingResult();
  if (Journal().Recording()) {
    HostCall call("InitSetting");
    call.AddBool("result", result);
    Journal().Record(call);
  }
  Journal().Intercept("InitSetting", this);
  return Reply<&DranVDevice::InitSetting>(result);
}

Result<&DranVDevice::IsSupportDevice> DranVDevice::IsSupportDevice(const std::string& type) const {
  return Reply<&DranVDevice::IsSupportDevice>(type == device_type_);
}

Result<&DranVDevice::SendSP> DranVDevice::SendSP(int sp_id, const unsigned char* data,
                                                 unsigned int length, bool publish) {
  if (Journal().Recording()) {
    HostCall call("SendSP");
    call.AddInt("sp_id", sp_id);
    call.AddBool("publish", publish);
    call.AddRecord(data, length);
    Journal().Record(call);
  }
  Journal().Intercept("SendSP", this);
  return Reply<&DranVDevice::SendSP>(length);
}

Result<&DranVDevice::SendDelayData> DranVDevice::SendDelayData(int) {
  RecordPlainCall("SendDelayData", this);
  return Reply<&DranVDevice::SendDelayData>(0);
}

Result<&DranVDevice::SendDoData> DranVDevice::SendDoData(int, char) {
  RecordPlainCall("SendDoData", this);
  return Reply<&DranVDevice::SendDoData>(0);
}

Result<&DranVDevice::ReadDi> DranVDevice::ReadDi(int) {
  RecordPlainCall("ReadDi", this);
  return Reply<&DranVDevice::ReadDi>(0);
}

Result<&DranVDevice::ReadAi> DranVDevice::ReadAi(int) {
  RecordPlainCall("ReadAi", this);
  return Reply<&DranVDevice::ReadAi>(0);
}

Result<&DranVDevice::Get_SP_Value> DranVDevice::Get_SP_Value(unsigned int, const std::string&) {
  RecordPlainCall("Get_SP_Value", this);
  return Reply<&DranVDevice::Get_SP_Value>(0);
}

Result<&DranVDevice::CheckThreshold> DranVDevice::CheckThreshold(const std::string& key,
                                                                 const std::string& name,
                                                                 const float& value, int level) {
  if (Journal().Recording()) {
    HostCall call("CheckThreshold");
    call.AddText("key", key);
    call.AddText("name", name);
    call.AddFloat("value", value);
    call.AddInt("level", level);
    Journal().Record(call);
  }
  Journal().Intercept("CheckThreshold", this);
  rule_value& rule = rule_values_.emplace_back();
  rule.key = key;
  rule.name = name;
  rule.value = value;
  rule.level = level;
  return Reply<&DranVDevice::CheckThreshold>(true);
}

bool DranVDevice::CheckAOReport(const std::string& key, float value) {
  const bool result = Journal().NextReportResult();
  if (Journal().Recording()) {
    HostCall call("CheckAOReport");
    call.AddText("key", key);
    call.AddFloat("value", value);
    call.AddBool("result", result);
    Journal().Record(call);
  }
  Journal().Intercept("CheckAOReport", this);
  return result;
}

bool DranVDevice::DoBatchCheckThreshold(const std::vector<rule_value>& rules) {
  const bool result = Journal().NextBatchResult();
  if (Journal().Recording()) {
    HostCall call("DoBatchCheckThreshold");
    call.AddRuleKeys("rules", rules);
    call.AddBool("result", result);
    Journal().Record(call);
  }
  Journal().Intercept("DoBatchCheckThreshold", this);
  return result;
}

Result<&DranVDevice::SaveDeviceHistory> DranVDevice::SaveDeviceHistory(const unsigned char* data,
                                                                       unsigned int length) {
  if (Journal().Recording()) {
    HostCall call("SaveDeviceHistory");
    call.AddRecord(data, length);
    Journal().Record(call);
  }
  Journal().Intercept("SaveDeviceHistory", this);
  return Reply<&DranVDevice::SaveDeviceHistory>(true);
}
