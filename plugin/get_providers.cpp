#include "plugin/get_providers.h"

#include "plugin/velk_temperature_provider.h"

std::vector<std::shared_ptr<Provider> > get_providers() {
  std::vector<std::shared_ptr<Provider> > providers;
  providers.push_back(std::make_shared<VelkTemperatureProvider>());
  return providers;
}
