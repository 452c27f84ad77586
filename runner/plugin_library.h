// A device plug-in loaded as the daemon loads it: dlopen with RTLD_NOW, then the entry point
// looked up by its plain name. Owns the library handle and unloads it on destruction, so the
// providers, devices and exceptions that came from it must be gone before.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/provider.h"
#include "host/dran_ai_device_provider.h"
#include "plugin/get_providers.h"

namespace velk_run {

class PluginLibrary {
 public:
  // Throws Failure naming the file when it is no regular file, cannot be loaded (the loader's
  // message), lacks get_providers or (where the loader can tell) has data by that name.
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // What get_providers throws becomes a Failure naming the plug-in and the call.
  std::vector<std::shared_ptr<Provider> > GetProviders() const;
  // A new device from the first provider of analog-input devices among `providers`, owned by
  // the caller; a Failure when there is none, or create() throws or gives no device.
  std::unique_ptr<DranAIDevice> CreateDevice(
      const std::vector<std::shared_ptr<Provider> >& providers) const;

 private:
  std::string shown_;
  void* handle_;
  GetProvidersFunction get_providers_;
};

// The plug-in file to load. A name without a slash is a file in the current directory, as
// everywhere else on the command line, not a library to search for. Without one it is
// velk_temperature.so in the directory of the running program, or a Failure when that cannot
// be told: a bare name would be searched for on the library path.
std::string PluginPath(const std::optional<std::string>& named);

}  // namespace velk_run
