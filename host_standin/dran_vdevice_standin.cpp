// The stand-in's DranVDevice and DranAIDevice: every service records its call in the
// journal and answers with what was scripted. CheckThreshold queues one rule per call, as
// the daemon does, so a round's batch sees the rules of that round.
#include <cstring>

#include "framework/ai_data.h"
#include "host/dran_ai_device.h"
#include "host_standin/host_journal.h"
#include "host_standin/record_format.h"

using standin::HostJournal;

namespace {

HostJournal& Journal() { return HostJournal::Instance(); }

Json::Value Event(const char* call) {
  Json::Value event(Json::objectValue);
  event["call"] = call;
  return event;
}

void RecordPlainCall(const char* call, DranVDevice* device) {
  if (Journal().Recording()) Journal().Record(Event(call));
  Journal().Intercept(call, device);
}

// A record argument: its bytes as they were at the call, and decoded when it is whole.
void AddRecord(Json::Value& event, const unsigned char* data, unsigned int length) {
  event["length"] = length;
  if (data == nullptr) {
    event["record"] = Json::Value();
    return;
  }
  event["record"] = standin::ToHex(data, length);
  if (length != sizeof(AI_Data_t)) return;
  const Json::Value decoded = standin::DecodeRecord(data);
  for (const auto& name : decoded.getMemberNames()) event[name] = decoded[name];
}

}  // namespace

DranVDevice::DranVDevice() = default;

DranAIDevice::DranAIDevice() = default;

int DranVDevice::DeviceIoControl(int, const void*, int, void*, int, int&) {
  RecordPlainCall("DeviceIoControl", this);
  return -1;
}

void DranVDevice::Reset() { RecordPlainCall("Reset", this); }

bool DranVDevice::InitV(DranVDevice*, unsigned int, const Json::Value&) {
  RecordPlainCall("InitV", this);
  return true;
}

bool DranVDevice::Init(std::weak_ptr<DranController> controller, unsigned int, const Json::Value&) {
  controller_ = std::move(controller);
  RecordPlainCall("Init", this);
  return true;
}

bool DranAIDevice::Init(std::weak_ptr<DranController> controller, unsigned int index,
                        const Json::Value& config) {
  return DranVDevice::Init(std::move(controller), index, config);
}

bool DranVDevice::InitSetting(const Json::Value&) {
  const bool result = Journal().InitSettingResult();
  if (Journal().Recording()) {
    Json::Value event = Event("InitSetting");
    event["result"] = result;
    Journal().Record(std::move(event));
  }
  Journal().Intercept("InitSetting", this);
  return result;
}

bool DranVDevice::IsSupportDevice(const std::string& type) const { return type == device_type_; }

int DranVDevice::SendSP(int sp_id, const unsigned char* data, unsigned int length, bool publish) {
  if (Journal().Recording()) {
    Json::Value event = Event("SendSP");
    event["sp_id"] = sp_id;
    event["publish"] = publish;
    AddRecord(event, data, length);
    Journal().Record(std::move(event));
  }
  Journal().Intercept("SendSP", this);
  return static_cast<int>(length);
}

int DranVDevice::SendDelayData(int) {
  RecordPlainCall("SendDelayData", this);
  return 0;
}

int DranVDevice::SendDoData(int, char) {
  RecordPlainCall("SendDoData", this);
  return 0;
}

int DranVDevice::ReadDi(int) {
  RecordPlainCall("ReadDi", this);
  return 0;
}

float DranVDevice::ReadAi(int) {
  RecordPlainCall("ReadAi", this);
  return 0.0f;
}

float DranVDevice::Get_SP_Value(unsigned int, const std::string&) {
  RecordPlainCall("Get_SP_Value", this);
  return 0.0f;
}

bool DranVDevice::CheckThreshold(const std::string& key, const std::string& name,
                                 const float& value, int level) {
  if (Journal().Recording()) {
    Json::Value event = Event("CheckThreshold");
    event["key"] = key;
    event["name"] = name;
    event["value"] = static_cast<double>(value);
    event["level"] = level;
    Journal().Record(std::move(event));
  }
  Journal().Intercept("CheckThreshold", this);
  rule_value rule;
  rule.key = key;
  rule.name = name;
  rule.value = value;
  rule.level = level;
  rule_values_.push_back(std::move(rule));
  return true;
}

bool DranVDevice::CheckAOReport(const std::string& key, float value) {
  const bool result = Journal().NextReportResult();
  if (Journal().Recording()) {
    Json::Value event = Event("CheckAOReport");
    event["key"] = key;
    event["value"] = static_cast<double>(value);
    event["result"] = result;
    Journal().Record(std::move(event));
  }
  Journal().Intercept("CheckAOReport", this);
  return result;
}

bool DranVDevice::DoBatchCheckThreshold(const std::vector<rule_value>& rules) {
  const bool result = Journal().NextBatchResult();
  if (Journal().Recording()) {
    Json::Value event = Event("DoBatchCheckThreshold");
    Json::Value keys(Json::arrayValue);
    for (const rule_value& rule : rules) keys.append(rule.key);
    event["rules"] = keys;
    event["result"] = result;
    Journal().Record(std::move(event));
  }
  Journal().Intercept("DoBatchCheckThreshold", this);
  return result;
}

bool DranVDevice::SaveDeviceHistory(const unsigned char* data, unsigned int length) {
  if (Journal().Recording()) {
    Json::Value event = Event("SaveDeviceHistory");
    AddRecord(event, data, length);
    Journal().Record(std::move(event));
  }
  Journal().Intercept("SaveDeviceHistory", this);
  return true;
}
