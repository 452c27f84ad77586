// The plug-in's one provider: creates VelkTemperature devices for the daemon.
#pragma once

#include "host/dran_ai_device_provider.h"

class VelkTemperatureProvider : public DranAIDeviceProvider {
 public:
  ~VelkTemperatureProvider() override {}
  // A new device, owned by the caller.
  DranAIDevice* create() const override;
};
