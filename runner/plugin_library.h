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
  // Throws std::runtime_error with the loader's own message when the file cannot be loaded,
  // lacks get_providers, or (where the loader can tell) get_providers is not a function.
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Whatever get_providers throws becomes a std::runtime_error naming the plug-in and the call.
  std::vector<std::shared_ptr<Provider> > GetProviders() const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  void* handle_;
  GetProvidersFunction get_providers_;
};

// The first provider of analog-input devices among `providers`; throws std::runtime_error
// naming the plug-in at `path` when there is none.
const DranAIDeviceProvider& FindDeviceProvider(
    const std::vector<std::shared_ptr<Provider> >& providers, const std::string& path);

// A new device from `provider`, owned by the caller; throws std::runtime_error naming the
// plug-in at `path` when create() throws or gives no device.
std::unique_ptr<DranAIDevice> CreateDevice(const DranAIDeviceProvider& provider,
                                           const std::string& path);

// What the exception being handled says: its what(), or that it is no std::exception.
// Only inside a catch block.
std::string CaughtExceptionText();

// velk_temperature.so in the directory of the running program.
std::string DefaultPluginPath();

// The plug-in file a person named: a name without a slash is a file in the current
// directory, as everywhere else on the command line, not a library to search for.
std::string PluginFilePath(const std::string& name);

}  // namespace velk_run
