// Variant host headers (see dran_vdevice.h here): create() returns the generic device.
#pragma once

#include "framework/provider.h"
#include "host/dran_vdevice.h"

class DranAIDeviceProvider : public Provider {
 public:
  ~DranAIDeviceProvider() override {}
  virtual DranVDevice* create() const = 0;
};
