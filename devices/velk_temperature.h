// The plug-in's temperature sensor: turns raw 16-bit readings into degrees, clamped to the
// sensor's range, and runs one round per reading. Created by VelkTemperatureProvider and
// owned by the host.
#pragma once

#include "framework/ai_data.h"
#include "framework/uni_data_device.h"
#include "host/dran_ai_device.h"

constexpr int kTemperaturePublicationId = 5529;

class VelkTemperature : public UniDataDevice<AI_Data_t, DranAIDevice, kTemperaturePublicationId> {
 public:
  VelkTemperature();
  ~VelkTemperature() override {}

  float process(short raw) override;
  void RunCheckThreshold() override;

  // Degrees for a raw count: 0.06 per count from -40 at count 0, within [-40, 80].
  static float ToTemperature(short raw);
  // True when the value moved by the change step or more.
  static bool MovedByChangeStep(float previous, float current);
};
