// A loaded device plug-in, opened as the daemon opens it: dlopen with RTLD_NOW, then the
// entry point looked up by its plain name. Owns the library handle; unloads on destruction.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/provider.h"
#include "host/dran_ai_device_provider.h"
#include "plugin/get_providers.h"

namespace velk_run {

class PluginLibrary {
 public:
  // Throws std::runtime_error with the loader's own message when the file cannot be loaded
  // or lacks get_providers.
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  std::vector<std::shared_ptr<Provider> > GetProviders() const { return get_providers_(); }

 private:
  void* handle_;
  GetProvidersFunction get_providers_;
};

// The first provider of analog-input devices among `providers`; throws std::runtime_error
// naming the plug-in at `path` when there is none.
const DranAIDeviceProvider& FindDeviceProvider(
    const std::vector<std::shared_ptr<Provider> >& providers, const std::string& path);

// velk_temperature.so in the directory of the running program.
std::string DefaultPluginPath();

}  // namespace velk_run
