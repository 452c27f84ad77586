#include "runner/plugin_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <stdexcept>

namespace velk_run {

namespace {
std::string LoaderError() {
  const char* error = dlerror();
  return error != nullptr ? error : "unknown loader error";
}
}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW);
  if (handle_ == nullptr) {
    throw std::runtime_error("cannot load plug-in " + path + ": " + LoaderError());
  }
  dlerror();
  void* entry = dlsym(handle_, "get_providers");
  if (entry == nullptr) {
    const std::string error = LoaderError();
    dlclose(handle_);
    throw std::runtime_error("plug-in " + path + " has no get_providers: " + error);
  }
  get_providers_ = reinterpret_cast<GetProvidersFunction>(entry);
}

PluginLibrary::~PluginLibrary() { dlclose(handle_); }

const DranAIDeviceProvider& FindDeviceProvider(
    const std::vector<std::shared_ptr<Provider> >& providers, const std::string& path) {
  for (const auto& provider : providers) {
    if (auto* ai = dynamic_cast<const DranAIDeviceProvider*>(provider.get())) return *ai;
  }
  throw std::runtime_error("plug-in " + path + " offers no analog-input device provider");
}

std::string DefaultPluginPath() {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length <= 0) return "velk_temperature.so";
  std::string directory(self, static_cast<std::size_t>(length));
  directory.erase(directory.find_last_of('/') + 1);
  return directory + "velk_temperature.so";
}

}  // namespace velk_run
