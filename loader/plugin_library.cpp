#include "loader/plugin_library.h"

#include <dlfcn.h>
#include <elf.h>
#include <sys/auxv.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>

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

// What an ELF file says it is built for, from its header's class, byte order and machine;
// empty for a file that is no ELF file.
std::string BuiltFor(const char* path) {
  unsigned char header[20] = {};  // e_ident, e_type, e_machine
  if (path != nullptr) {
    std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(header), sizeof(header));
  }
  if (std::memcmp(header, ELFMAG, SELFMAG) != 0) return "";
  const bool big_endian = header[EI_DATA] == ELFDATA2MSB;
  const unsigned machine = big_endian ? header[18] << 8 | header[19] : header[19] << 8 | header[18];
  const std::pair<unsigned, const char*> kNames[] = {
      {EM_386, "x86"},   {EM_X86_64, "x86-64"}, {EM_ARM, "ARM"},          {EM_AARCH64, "AArch64"},
      {EM_MIPS, "MIPS"}, {EM_PPC, "PowerPC"},   {EM_PPC64, "PowerPC 64"}, {EM_RISCV, "RISC-V"}};
  std::string name = "machine " + std::to_string(machine);
  for (const auto& [number, known] : kNames) {
    if (number == machine) name = known;
  }
  return name + (header[EI_CLASS] == ELFCLASS64 ? ", 64-bit" : ", 32-bit") +
         (big_endian ? ", big-endian" : ", little-endian");
}

// What a loader says of a file for another machine varies (glibc may say "No such file or
// directory"), and musl does not compare the machine at all: the headers of the file and of the
// running program (velk-run, or the loader that started it) tell.
std::string ForeignMachine(const std::string& path) {
  const std::string file = BuiltFor(path.c_str());
  const std::string own = BuiltFor(reinterpret_cast<const char*>(getauxval(AT_EXECFN)));
  if (file.empty() || own.empty() || file == own) return "";
  return "it is built for " + file + ", not for this machine (" + own + ")";
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
  if (const std::string foreign = ForeignMachine(path); !foreign.empty()) {
    throw Failure{"cannot load plug-in " + shown_ + ": " + foreign};
  }
  handle_ = dlopen(path.c_str(), RTLD_NOW);
  if (handle_ == nullptr) throw Failure{"cannot load plug-in " + shown_ + ": " + LoaderError(path)};
  dlerror();
  void* entry = dlsym(handle_, "get_providers");
  if (entry == nullptr) {
    const std::string error = LoaderError(path);
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
