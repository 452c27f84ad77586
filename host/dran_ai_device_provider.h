// The daemon's factory interface for analog-input devices. Compiled into the plug-in; the
// daemon takes ownership of every device create() returns and deletes it through
// DranVDevice's virtual destructor.
#pragma once

#include "framework/provider.h"
#include "host/dran_ai_device.h"

class DranAIDeviceProvider : public Provider {
 public:
  ~DranAIDeviceProvider() override {}
  virtual DranAIDevice* create() const = 0;
};
