#include "devices/velk_temperature.h"

#include <cmath>
#include <cstring>

namespace {

constexpr const char* kDeviceType = "velk_temperature";
constexpr const char* kRuleKey = "value";
constexpr const char* kRuleName = "温度";
constexpr int kRuleLevel = 1;

constexpr float kInputScale = 5.0f;
constexpr float kInputSpan = 10000.0f;
constexpr float kTemperatureSpan = 120.0f;
constexpr float kTemperatureOffset = 40.0f;
constexpr float kUpperLimit = 80.0f;
constexpr float kLowerLimit = -40.0f;
constexpr float kChangeStep = 2.0f;

}  // namespace

VelkTemperature::VelkTemperature() { device_type_ = kDeviceType; }

// Each step is rounded to single precision in this order; the build forbids contracting
// the multiply and subtract into one fused operation, which would round differently.
float VelkTemperature::ToTemperature(short raw) {
  float t = static_cast<float>(raw) * kInputScale;
  t = t / kInputSpan;
  t = t * kTemperatureSpan;
  t = t - kTemperatureOffset;
  if (t > kUpperLimit) {
    t = kUpperLimit;
  } else if (t < kLowerLimit) {
    t = kLowerLimit;
  }
  return t;
}

// Inclusive: a move of exactly the change step counts.
bool VelkTemperature::MovedByChangeStep(float previous, float current) {
  return std::fabs(previous - current) >= kChangeStep;
}

float VelkTemperature::process(short raw) {
  WriteLogLine("VelkTemperature process ", Decimal(raw));
  const float t = ToTemperature(raw);
  changed_ = false;
  if (MovedByChangeStep(value_, t)) changed_ = true;
  value_ = t;
  std::memcpy(&data_.value, &value_, sizeof(value_));
  RoundDone();
  return value_;
}

void VelkTemperature::RunCheckThreshold() {
  DranVDevice::CheckThreshold(kRuleKey, kRuleName, value_, kRuleLevel);
}
