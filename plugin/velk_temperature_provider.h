// The plug-in's one provider: creates VelkTemperature devices for the daemon.
#pragma once

#include "host/dran_ai_device.h"
#include "host/dran_ai_device_provider.h"

class VelkTemperatureProvider : public DranAIDeviceProvider {
 public:
  ~VelkTemperatureProvider() override {}
  // A new device, owned by the caller. The host's header declares the result as DranVDevice*
  // or DranAIDevice*; this overrides either (the same pointer, no adjustment).
  DranAIDevice* create() const override;
};
