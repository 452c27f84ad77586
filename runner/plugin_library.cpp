#include "runner/plugin_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <stdexcept>

#include <link.h>

namespace velk_run {

namespace {

std::string LoaderError() {
  const char* error = dlerror();
  return error != nullptr ? error : "unknown loader error";
}

#ifndef VELK_HAVE_DLADDR1
// Whether `address` lies in a loaded segment that is not executable.
int FindsDataSegment(dl_phdr_info* info, size_t, void* address) {
  const auto wanted = reinterpret_cast<ElfW(Addr)>(address);
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    const ElfW(Addr) start = info->dlpi_addr + segment.p_vaddr;
    if (segment.p_type == PT_LOAD && wanted >= start && wanted - start < segment.p_memsz) {
      return (segment.p_flags & PF_X) == 0 ? 1 : 2;
    }
  }
  return 0;
}
#endif

// Whether the symbol at `address` is data rather than a function. glibc's dladdr1 gives the
// symbol's type; elsewhere (musl) the segment it lies in tells, which misses only read-only
// data that the linker put beside the code.
bool IsDataSymbol(const void* address) {
#ifdef VELK_HAVE_DLADDR1
  Dl_info info;
  void* entry = nullptr;
  if (dladdr1(address, &info, &entry, RTLD_DL_SYMENT) == 0 || entry == nullptr) return false;
  // The type bits of st_info are the same in 32- and 64-bit ELF.
  const unsigned type = ELF32_ST_TYPE(static_cast<const ElfW(Sym)*>(entry)->st_info);
  return type == STT_OBJECT || type == STT_COMMON || type == STT_TLS;
#else
  return dl_iterate_phdr(FindsDataSegment, const_cast<void*>(address)) == 1;
#endif
}

}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW);
  if (handle_ == nullptr) {
    throw std::runtime_error("cannot load plug-in " + path + ": " + LoaderError());
  }
  dlerror();
  void* entry = dlsym(handle_, "get_providers");
  if (entry == nullptr || IsDataSymbol(entry)) {
    const std::string error = entry == nullptr ? LoaderError() : "it is data, not a function";
    dlclose(handle_);
    throw std::runtime_error("plug-in " + path + " has no get_providers: " + error);
  }
  get_providers_ = reinterpret_cast<GetProvidersFunction>(entry);
}

PluginLibrary::~PluginLibrary() { dlclose(handle_); }

std::vector<std::shared_ptr<Provider> > PluginLibrary::GetProviders() const {
  try {
    return get_providers_();
  } catch (...) {
    throw std::runtime_error("plug-in " + path_ +
                             ": get_providers failed: " + CaughtExceptionText());
  }
}

const DranAIDeviceProvider& FindDeviceProvider(
    const std::vector<std::shared_ptr<Provider> >& providers, const std::string& path) {
  for (const auto& provider : providers) {
    if (auto* ai = dynamic_cast<const DranAIDeviceProvider*>(provider.get())) return *ai;
  }
  throw std::runtime_error("plug-in " + path + " offers no analog-input device provider");
}

std::unique_ptr<DranAIDevice> CreateDevice(const DranAIDeviceProvider& provider,
                                           const std::string& path) {
  std::unique_ptr<DranAIDevice> device;
  try {
    device.reset(provider.create());
  } catch (...) {
    throw std::runtime_error("plug-in " + path +
                             ": create() of its device provider failed: " + CaughtExceptionText());
  }
  if (!device) {
    throw std::runtime_error("plug-in " + path +
                             ": create() of its device provider gave no device");
  }
  return device;
}

std::string CaughtExceptionText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an exception that is not a std::exception";
  }
}

std::string DefaultPluginPath() {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length <= 0) return "velk_temperature.so";
  std::string directory(self, static_cast<std::size_t>(length));
  directory.erase(directory.find_last_of('/') + 1);
  return directory + "velk_temperature.so";
}

std::string PluginFilePath(const std::string& name) {
  return name.find('/') == std::string::npos ? "./" + name : name;
}

}  // namespace velk_run
