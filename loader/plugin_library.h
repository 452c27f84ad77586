// A device plug-in loaded as the daemon loads it: dlopen with RTLD_NOW, then the entry point
// looked up by its plain name. Owns the library handle and unloads the library when it goes, so
// the providers, devices and exceptions that came from it must be gone before. velk-run, the
// benchmarks and the cost probe load the plug-in through it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/provider.h"
#include "host/dran_ai_device_provider.h"
#include "plugin/get_providers.h"

namespace velk {

class PluginLibrary {
 public:
  // Throws Failure naming the file when it is no regular file, is built for another machine,
  // cannot be loaded (the loader's message) or lacks get_providers. Data by that name is called
  // all the same, and crashes the worker: velk-run tells that from outside.
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary() { Unload(); }
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // What get_providers throws becomes a Failure naming the plug-in and the call.
  std::vector<std::shared_ptr<Provider> > GetProviders() const;
  // A new device from the first provider of analog-input devices among `providers`, owned by
  // the caller; a Failure when there is none, or create() throws or gives no device.
  std::unique_ptr<DranAIDevice> CreateDevice(
      const std::vector<std::shared_ptr<Provider> >& providers) const;

  // dlclose; true when that took the library out of the process. A library that cannot be
  // unloaded (one with STB_GNU_UNIQUE symbols, or any under musl) stays, and its static
  // destructors then run when the process exits.
  bool Unload();

 private:
  std::string path_;
  std::string shown_;
  void* handle_ = nullptr;
  GetProvidersFunction get_providers_;
};

}  // namespace velk
