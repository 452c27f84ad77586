// A plug-in that fails in one way, for the runner to name: built once per fault, the fault
// chosen by its VELK_FAULT_* definition. The misbehaving device fails in the step its input
// asks for, after one host call of that step (Reset), so the step has events to show.
#include <signal.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

#include "host/dran_ai_device_provider.h"

#if defined(VELK_FAULT_DATA_ENTRY)

// Data where the daemon looks for a function.
extern "C" {
__attribute__((visibility("default"))) int get_providers = 0;
}

#else

#include "plugin/get_providers.h"

namespace {

// An exception type of the plug-in's own: its type information and destructor live in this
// library, and are gone once it is unloaded.
class PluginError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class MisbehavingDevice : public DranAIDevice {
 public:
  // {"throw": TEXT} throws it; {"refuse": true} refuses the configuration.
  bool InitSetting(const Json::Value& config) override {
    Reset();
    if (config.isMember("throw")) throw PluginError(config["throw"].asString());
    return !config.isMember("refuse") && DranVDevice::InitSetting(config);
  }
  // A record starting with 0xee throws; any other is refused.
  bool LoadFromCache(const unsigned char* data, int) override {
    Reset();
    if (data[0] == 0xee) throw PluginError("cached record rejected");
    return false;
  }
  // Readings 1 to 7 each end the reading in their own way.
  float process(short raw) override {
    Reset();
    switch (raw) {
      case 1:
        *static_cast<volatile int*>(nullptr) = 1;
        break;
      case 2:
        std::abort();
      case 3:
        raise(SIGBUS);
        break;
      case 4:
        raise(SIGFPE);
        break;
      case 5:
        raise(SIGILL);
        break;
      case 6:
        std::exit(0);
      case 7:
        throw PluginError("reading 7 is out of order");
    }
    return raw;
  }
};

class FaultyProvider : public DranAIDeviceProvider {
 public:
#if defined(VELK_FAULT_MISBEHAVING_DEVICE)
  DranAIDevice* create() const override { return new MisbehavingDevice; }
#else
  DranAIDevice* create() const override { return nullptr; }
#endif
};

}  // namespace

std::vector<std::shared_ptr<Provider> > get_providers() {
#if defined(VELK_FAULT_THROWS_INT)
  throw 5529;
#elif defined(VELK_FAULT_THROWS_ERROR)
  throw PluginError("no providers today");
#else
  return {std::make_shared<FaultyProvider>()};
#endif
}

#endif
