#include "loader/plugin_library.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "loader/failure.h"

namespace velk {

namespace {

std::string LoaderError(const std::string& path) {
  const char* error = dlerror();
  std::string_view text = error != nullptr ? error : "unknown loader error";
  // glibc starts with the file's name, which the message has already shown quoted.
  if (text.substr(0, path.size() + 2) == path + ": ") text.remove_prefix(path.size() + 2);
  return Escaped(text);
}

// Whether `address` lies in a loaded segment that is not executable: get_providers defined as
// data. musl has no dladdr1 to give the symbol's type, so the segment tells everywhere; it
// misses only read-only data that the linker put beside the code.
int InDataSegment(dl_phdr_info* info, size_t, void* address) {
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

}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) : path_(path), shown_(Quoted(path)) {
  // The loader takes only regular files: a FIFO would block it.
  struct stat file;
  const int error = ::stat(path.c_str(), &file) == 0 ? 0 : errno;
  if (error != 0 || !S_ISREG(file.st_mode)) {
    const char* problem = error != 0 ? std::strerror(error) : "not a regular file";
    throw Failure{"cannot load plug-in " + shown_ + ": " + problem};
  }
  handle_ = dlopen(path.c_str(), RTLD_NOW);
  if (handle_ == nullptr) throw Failure{"cannot load plug-in " + shown_ + ": " + LoaderError(path)};
  dlerror();
  void* entry = dlsym(handle_, "get_providers");
  if (entry == nullptr || dl_iterate_phdr(InDataSegment, entry) == 1) {
    const std::string error =
        entry == nullptr ? LoaderError(path) : std::string("it is data, not a function");
    Unload();
    throw Failure{"plug-in " + shown_ + " has no get_providers: " + error};
  }
  get_providers_ = reinterpret_cast<GetProvidersFunction>(entry);
}

bool PluginLibrary::Unload() {
  if (handle_ == nullptr) return true;
  dlclose(handle_);
  handle_ = nullptr;
  void* still = dlopen(path_.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (still != nullptr) dlclose(still);
  return still == nullptr;
}

std::vector<std::shared_ptr<Provider> > PluginLibrary::GetProviders() const {
  try {
    return get_providers_();
  } catch (...) {
    throw Failure{"plug-in " + shown_ + ": get_providers failed: " + CaughtExceptionText()};
  }
}

std::unique_ptr<DranAIDevice> PluginLibrary::CreateDevice(
    const std::vector<std::shared_ptr<Provider> >& providers) const {
  const DranAIDeviceProvider* provider = nullptr;
  for (auto offered = providers.begin(); provider == nullptr && offered != providers.end();) {
    provider = dynamic_cast<const DranAIDeviceProvider*>((offered++)->get());
  }
  if (provider == nullptr) {
    throw Failure{"plug-in " + shown_ + " offers no analog-input device provider"};
  }
  const std::string create = "plug-in " + shown_ + ": create() of its device provider ";
  std::unique_ptr<DranAIDevice> device;
  try {
    device.reset(provider->create());
  } catch (...) {
    throw Failure{create + "failed: " + CaughtExceptionText()};
  }
  if (!device) throw Failure{create + "gave no device"};
  return device;
}

}  // namespace velk
