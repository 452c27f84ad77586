// A plug-in that fails in one way, for the runner to name: built once per fault, the fault
// chosen by its VELK_FAULT_* definition. The misbehaving device fails in the step its input
// asks for, after one host call of that step (Reset), so the step has events to show.
#include <err.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <error.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "host/dran_ai_device_provider.h"

#if defined(VELK_FAULT_DATA_ENTRY)

// Data where the daemon looks for a function.
extern "C" {
__attribute__((visibility("default"))) int get_providers = 0;
}

#else

#include "plugin/get_providers.h"

#if defined(VELK_FAULT_UNDEFINED_SYMBOL)
// A function no process defines, with a name long enough to make the loader's message long.
extern "C" void VELK_UNDEFINED_SYMBOL();
#endif

namespace {

// An exception type of the plug-in's own: its type information and destructor live in this
// library, and are gone once it is unloaded.
class PluginError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Speechless : public std::exception {
 public:
  const char* what() const noexcept override { return nullptr; }
};

void Crash() { *static_cast<volatile int*>(nullptr) = 1; }

// What the library does when its static objects are destroyed: at dlclose, or at the exit of
// a process that could not unload it.
int at_unloading = 0;  // 1 crashes, 2 calls exit()
struct Unloading {
  ~Unloading() {
    if (at_unloading == 1) Crash();
    if (at_unloading == 2) std::exit(0);
  }
} unloading;

// A destructor function, which the loader runs after the static destructors: at dlclose, or
// after everything else at the exit of a process that could not unload the library.
bool write_at_finalizing = false;
__attribute__((destructor)) void Finalizing() {
  if (write_at_finalizing) std::printf("finalized\n");
}

#if defined(VELK_FAULT_UNIQUE)
// A symbol of STB_GNU_UNIQUE binding, as inline code's static data with default visibility
// makes one, keeps dlclose from unloading the library.
inline int& Unique() {
  static int instance = 0;
  return instance;
}
__attribute__((visibility("default"))) int* unique_symbol = &Unique();
#endif

void OnAlarm(int) {}

class MisbehavingDevice : public DranAIDevice {
 public:
  // A file of its own, kept open as a plug-in may keep its own log: opened where a descriptor
  // that velk-run was started without would be free.
  MisbehavingDevice() : own_file_(open("/dev/null", O_WRONLY | O_CLOEXEC)) {}
  ~MisbehavingDevice() override {
    close(own_file_);
    if (at_destruction_ == 20) Crash();
    if (at_destruction_ == 21) std::cout << "destroyed" << std::endl;
    if (at_destruction_ == 22) Reset();
  }
  // {"throw": TEXT} throws it; {"refuse": true} refuses the configuration.
  bool InitSetting(const Json::Value& config) override {
    Reset();
    if (config.isMember("throw")) throw PluginError(config["throw"].asString());
    return !config.isMember("refuse") && DranVDevice::InitSetting(config);
  }
  // A record starting with 0xee throws; any other is refused.
  bool LoadFromCache(const unsigned char* data, int) override {
    Reset();
    if (data[0] == 0xee) throw PluginError("cached record rejected");
    return false;
  }
  // Readings 1 to 34 (some numbers unused) each fail in a way of their own, now or later.
  float process(short raw) override {
    Reset();
    setitimer(ITIMER_REAL, &kNoTimer, nullptr);
    switch (raw) {
      case 1:
        Crash();
        break;
      case 2:
        std::abort();
      case 3:
        raise(SIGBUS);
        break;
      case 4:
        raise(SIGFPE);
        break;
      case 5:
        raise(SIGILL);
        break;
      case 6:
        std::exit(0);
      case 7:
        throw PluginError("reading 7 is out of order");
      case 8:
        std::quick_exit(0);
      case 9:  // from a thread of its own, once the step is over
        std::thread([] {
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
          std::exit(0);
        }).detach();
        break;
      case 15:  // the same, crashing
        std::thread([] {
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
          Crash();
        }).detach();
        break;
      case 10:  // a child that calls the host and exits
        if (const pid_t child = fork(); child == 0) {
          Reset();
          std::exit(0);
        } else {
          waitpid(child, nullptr, 0);
        }
        break;
      case 11:
        raise(SIGTRAP);
        break;
      case 12:
        raise(SIGSYS);
        break;
      case 13:
        CheckThreshold("bad\xff\xc3(", "\xe6\xb8", value_, 1);
        break;
      case 14: {  // interrupts velk-run's reads until the next reading
        struct sigaction action {};
        action.sa_handler = OnAlarm;  // no SA_RESTART
        sigaction(SIGALRM, &action, nullptr);
        const itimerval every_10_ms{{0, 10000}, {0, 10000}};
        setitimer(ITIMER_REAL, &every_10_ms, nullptr);
        break;
      }
      case 16:
        throw Speechless();
      case 17:  // log lines that nothing flushes, then a host call
        std::printf("printf line\n");
        std::cout << "cout line\n";
        CheckThreshold("after", "", value_, 1);
        break;
      case 20:
      case 21:
      case 22:
        at_destruction_ = raw;
        break;
      case 23:
      case 24:
        at_unloading = raw - 22;
        break;
      case 27:
        errx(5, "the plug-in's own complaint");
      case 28:  // a library's way to give up, glibc's error() where there is one
#if defined(__GLIBC__)
        error(6, 0, "the plug-in's own error");
#endif
        errx(6, "the plug-in's own error");
      case 31:  // hangs, for a signal from outside
        for (;;) pause();
      case 32:  // a warning without a line end, then host calls
        std::cerr << "warning: ";
        CheckThreshold("after", "", value_, 1);
        break;
      case 33:
        write_at_finalizing = true;
        break;
      case 34:  // logs, then fails
        std::cout << "failing" << std::endl;
        throw PluginError("reading 34 fails after its log");
    }
    return raw;
  }

 private:
  static constexpr itimerval kNoTimer{};
  const int own_file_;
  int at_destruction_ = 0;
};

class FaultyProvider : public DranAIDeviceProvider {
 public:
#if defined(VELK_FAULT_MISBEHAVING_DEVICE) || defined(VELK_FAULT_UNIQUE)
  DranAIDevice* create() const override { return new MisbehavingDevice; }
#else
  DranAIDevice* create() const override { return nullptr; }
#endif
};

}  // namespace

std::vector<std::shared_ptr<Provider> > get_providers() {
#if defined(VELK_FAULT_UNDEFINED_SYMBOL)
  VELK_UNDEFINED_SYMBOL();
#endif
#if defined(VELK_FAULT_THROWS_INT)
  throw 5529;
#elif defined(VELK_FAULT_THROWS_ERROR)
  throw PluginError("no providers today");
#else
  return {std::make_shared<FaultyProvider>()};
#endif
}

#endif
