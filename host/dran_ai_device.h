// The host's analog-input device: the current value and its change flag. Its constructor
// and Init live in the host process.
#pragma once

#include "host/dran_vdevice.h"

class DranAIDevice : public DranVDevice {
 public:
  DranAIDevice();
  ~DranAIDevice() override {}

  bool Init(std::weak_ptr<DranController> controller, unsigned int index,
            const Json::Value& config) override;

  // Converts one raw reading and runs a round; returns the new value.
  virtual float process(short raw) = 0;

  bool changed_ = false;
  float value_ = 0.0f;
};
