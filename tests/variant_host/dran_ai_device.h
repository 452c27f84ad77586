// Variant host headers (see dran_vdevice.h here): the analog-input device with untouched
// members around the two the plug-in uses, and without process or RunCheckThreshold, which
// the framework's UniDataDevice then introduces.
#pragma once

#include "host/dran_vdevice.h"

class DranAIDevice : public DranVDevice {
 public:
  ~DranAIDevice() override {}

  int Init(std::weak_ptr<DranController> controller, unsigned int index,
           const Json::Value& config) override;

  std::uint16_t channel_ = 0;
  bool changed_ = true;
  float value_ = -273.25f;
  double scale_ = 1.0;

 protected:
  // Protected here; host/ has it public.
  DranAIDevice();
};
