// A plug-in that fails in one way, for the runner to name: built once per fault, the fault
// chosen by its VELK_FAULT_* definition.
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
class NoDeviceProvider : public DranAIDeviceProvider {
 public:
  DranAIDevice* create() const override { return nullptr; }
};
}  // namespace

std::vector<std::shared_ptr<Provider> > get_providers() {
#if defined(VELK_FAULT_THROWS_INT)
  throw 5529;
#elif defined(VELK_FAULT_THROWS_ERROR)
  throw std::runtime_error("no providers today");
#else
  return {std::make_shared<NoDeviceProvider>()};
#endif
}

#endif
