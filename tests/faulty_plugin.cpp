// A plug-in that fails in one way, for the runner to name. Each is built from this file by its
// VELK_FAULT_* definition: null_device, throws_int, throws_error, data_entry and
// undefined_symbol fail in their loading, as their names say; misbehaving_device, unique
// (which exports a symbol that keeps dlclose from unloading it) and several_providers (whose
// first provider makes no analog-input devices) create a device that fails where its JSON
// configuration says, a fault named by when it happens and what happens:
//
//   {"reading 2": "sigsegv"}
//   {"configure": "throw", "message": "bad \u001b settings"}
//   {"destruction": "call the host", "unloading": "exit"}
//
// When:
//   "configure"    InitSetting, which reads these faults
//   "restore"      LoadFromCache
//   "reading N"    the Nth call of process(), counted from 1
//   "destruction"  the device's destructor
//   "unloading"    the library's static destructors: at dlclose, or at the process's exit
//                  where the library is not unloaded
//   "finalizing"   the library's destructor function, which runs after those
// What, in a step of the device (configure, restore, reading N, destruction), after the step's
// one host call (Reset), so that the step has events to show:
//   "sigsegv"                     a write through a null pointer
//   "sigsegv, dumping no core"    the same, with no core file of its own
//   "abort"                       std::abort()
//   "sigbus", "sigfpe", "sigill", "sigtrap", "sigsys"   raises that signal
//   "exit", "quick_exit"          that function, with status 0
//   "errx"                        errx(5, "the plug-in's own complaint")
//   "error"                       glibc's error(6, 0, "the plug-in's own error"); errx elsewhere
//   "throw"                       an exception of the plug-in's own type, its text "message"
//                                 (default: "a fault at WHEN")
//   "throw without a message"     a std::exception whose what() is null
//   "log"                         a line on standard output, flushed
//   "log then throw"              both
//   "refuse"                      the step answers false (configure and restore alone)
//   "call the host"               one more Reset
//   "unflushed log then call the host"  a printf line, a std::cout line, then CheckThreshold
//   "warning without a newline"   "warning: " on standard error, then CheckThreshold
//   "bad utf-8 to the host"       CheckThreshold with a key and a name that are no UTF-8
//   "fork a child that calls the host"  the child calls Reset and exits
//   "interrupt reads"             SIGALRM every 10 ms without SA_RESTART, until the next reading
//   "exit from a thread later", "sigsegv from a thread later"  a thread does it 300 ms on
//   "hang"                        waits for a signal from outside, for ever
//   "hang, ignoring SIGTERM"      the same, with SIGTERM ignored first, and then one more Reset
//   "stop"                        raise(SIGSTOP), as a plug-in waiting for a debugger does
//   "write a file of its own"     fopen()s own.log in the current directory, writes a line with
//                                 fprintf() and never closes it
//   "log and flush it itself"     a printf line, and fflush(stdout) of its own, its result unread
//   "fork a child that returns, then _exit"  the child goes on in velk-run's code as an exec
//                                 that failed would leave it; the device waits for it, then
//                                 _exit(0)s
//   "_Fork a child that calls the host"  _Fork(), which runs no fork handler; the child calls
//                                 Reset and _exit()s
//   "write over the progress page, then sigsegv"  0xff over every shared page of /dev/zero
// At unloading: "sigsegv", "exit" or "exit 3". At finalizing: "print", a printf line that exit
// flushes.
// A step without a fault does its part: a reading returns its raw value, a restore accepts the
// record. Any other key or name makes InitSetting throw, naming it, so a misspelt fault cannot
// pass for a run without one.
#include <err.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <error.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
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

// The faults of the library itself, which the configuration sets: flags, as no object with a
// destructor of its own may be read once the static destructors have run.
bool crash_at_unloading = false;
int exit_at_unloading = -1;  // the status, if any
bool print_at_finalizing = false;

// What the library does when its static objects are destroyed: at dlclose, or at the exit of
// a process that could not unload it.
struct Unloading {
  ~Unloading() {
    if (crash_at_unloading) Crash();
    if (exit_at_unloading >= 0) std::exit(exit_at_unloading);
  }
} unloading;

// A destructor function, which the loader runs after the static destructors.
__attribute__((destructor)) void Finalizing() {
  if (print_at_finalizing) std::printf("finalized\n");
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

const std::set<std::string> kStepFaults = {"sigsegv",
                                           "sigsegv, dumping no core",
                                           "abort",
                                           "sigbus",
                                           "sigfpe",
                                           "sigill",
                                           "sigtrap",
                                           "sigsys",
                                           "exit",
                                           "quick_exit",
                                           "errx",
                                           "error",
                                           "throw",
                                           "throw without a message",
                                           "log",
                                           "log then throw",
                                           "refuse",
                                           "call the host",
                                           "unflushed log then call the host",
                                           "warning without a newline",
                                           "bad utf-8 to the host",
                                           "fork a child that calls the host",
                                           "interrupt reads",
                                           "exit from a thread later",
                                           "sigsegv from a thread later",
                                           "hang",
                                           "hang, ignoring SIGTERM",
                                           "stop",
                                           "write a file of its own",
                                           "log and flush it itself",
                                           "fork a child that returns, then _exit",
                                           "_Fork a child that calls the host",
                                           "write over the progress page, then sigsegv"};

// Whether `when` names a step of the device: "reading N" with N a whole number from 1, written
// without leading zeros, so that it is the key the readings look for.
bool IsStep(const std::string& when) {
  if (when == "configure" || when == "restore" || when == "destruction") return true;
  const std::string reading = "reading ";
  if (when.rfind(reading, 0) != 0) return false;
  const std::string number = when.substr(reading.size());
  return !number.empty() && number[0] != '0' &&
         number.find_first_not_of("0123456789") == std::string::npos;
}

bool Allowed(const std::string& when, const std::string& what) {
  if (when == "unloading") return what == "sigsegv" || what == "exit" || what == "exit 3";
  if (when == "finalizing") return what == "print";
  if (!IsStep(when) || kStepFaults.count(what) == 0) return false;
  return what != "refuse" || when == "configure" || when == "restore";
}

class MisbehavingDevice : public DranAIDevice {
 public:
  // A file of its own, kept open as a plug-in may keep its own log: opened where a descriptor
  // that velk-run was started without would be free.
  MisbehavingDevice() : own_file_(open("/dev/null", O_WRONLY | O_CLOEXEC)) {}
  ~MisbehavingDevice() override {
    close(own_file_);
    Commit("destruction");
  }
  bool InitSetting(const Json::Value& config) override {
    Reset();
    Read(config);
    return Commit("configure") && DranVDevice::InitSetting(config);
  }
  bool LoadFromCache(const unsigned char*, int) override {
    Reset();
    return Commit("restore");
  }
  float process(short raw) override {
    ++readings_;
    Reset();
    setitimer(ITIMER_REAL, &kNoTimer, nullptr);  // what "interrupt reads" started
    Commit("reading " + std::to_string(readings_));
    return raw;
  }

 private:
  // The faults of the configuration, each checked before any happens.
  void Read(const Json::Value& config) {
    if (!config.isObject()) throw PluginError("the configuration is not an object of faults");
    for (const std::string& when : config.getMemberNames()) {
      if (when == "message") {
        message_ = config[when].asString();
        continue;
      }
      const std::string what = config[when].isString() ? config[when].asString() : "";
      if (!Allowed(when, what)) {
        throw PluginError("unknown fault \"" + what + "\" at \"" + when + "\"");
      }
      if (when == "unloading") {
        crash_at_unloading = what == "sigsegv";
        if (what != "sigsegv") exit_at_unloading = what == "exit" ? 0 : 3;
      } else if (when == "finalizing") {
        print_at_finalizing = true;
      } else {
        faults_[when] = what;
      }
    }
  }

  // Does the fault of the step `when`, if it has one; false where the step refuses.
  bool Commit(const std::string& when) {
    const auto fault = faults_.find(when);
    if (fault == faults_.end()) return true;
    const std::string& what = fault->second;
    const std::string message = message_.empty() ? "a fault at " + when : message_;
    if (what == "sigsegv, dumping no core") {
      const rlimit no_core{0, 0};
      setrlimit(RLIMIT_CORE, &no_core);
      Crash();
    }
    if (what == "sigsegv") Crash();
    if (what == "abort") std::abort();
    if (what == "sigbus") raise(SIGBUS);
    if (what == "sigfpe") raise(SIGFPE);
    if (what == "sigill") raise(SIGILL);
    if (what == "sigtrap") raise(SIGTRAP);
    if (what == "sigsys") raise(SIGSYS);
    if (what == "exit") std::exit(0);
    if (what == "quick_exit") std::quick_exit(0);
    if (what == "errx") errx(5, "the plug-in's own complaint");
    if (what == "error") {  // a library's way to give up, glibc's error() where there is one
#if defined(__GLIBC__)
      error(6, 0, "the plug-in's own error");
#endif
      errx(6, "the plug-in's own error");
    }
    if (what == "log" || what == "log then throw") {
      std::cout << when << ": a line of log" << std::endl;
    }
    if (what == "throw" || what == "log then throw") throw PluginError(message);
    if (what == "throw without a message") throw Speechless();
    if (what == "refuse") return false;
    if (what == "call the host") Reset();
    if (what == "unflushed log then call the host") {
      std::printf("printf line\n");
      std::cout << "cout line\n";
      CheckThreshold("after", "", value_, 1);
    }
    if (what == "warning without a newline") {
      std::cerr << "warning: ";
      CheckThreshold("after", "", value_, 1);
    }
    if (what == "bad utf-8 to the host") CheckThreshold("bad\xff\xc3(", "\xe6\xb8", value_, 1);
    if (what == "fork a child that calls the host") {
      if (const pid_t child = fork(); child == 0) {
        Reset();
        std::exit(0);
      } else {
        waitpid(child, nullptr, 0);
      }
    }
    if (what == "interrupt reads") {  // velk-run's reads of standard input, until the next reading
      struct sigaction action {};
      action.sa_handler = OnAlarm;  // no SA_RESTART
      sigaction(SIGALRM, &action, nullptr);
      const itimerval every_10_ms{{0, 10000}, {0, 10000}};
      setitimer(ITIMER_REAL, &every_10_ms, nullptr);
    }
    if (what == "exit from a thread later" || what == "sigsegv from a thread later") {
      const bool crash = what == "sigsegv from a thread later";
      std::thread([crash] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (crash) Crash();
        std::exit(0);
      }).detach();
    }
    if (what == "hang, ignoring SIGTERM") {
      signal(SIGTERM, SIG_IGN);
      Reset();  // says that SIGTERM is ignored now
    }
    if (what == "hang" || what == "hang, ignoring SIGTERM") {
      for (;;) pause();
    }
    if (what == "stop") raise(SIGSTOP);
    if (what == "write a file of its own") std::fprintf(std::fopen("own.log", "w"), "its own line\n");
    if (what == "log and flush it itself") {
      std::printf("%s: a line of log\n", when.c_str());
      std::fflush(stdout);
    }
    if (what == "fork a child that returns, then _exit") {
      const pid_t child = fork();
      if (child == 0) return true;
      waitpid(child, nullptr, 0);
      _exit(0);
    }
    if (what == "_Fork a child that calls the host") {
      if (const pid_t child = _Fork(); child == 0) {
        Reset();
        _exit(0);
      } else {
        waitpid(child, nullptr, 0);
      }
    }
    if (what == "write over the progress page, then sigsegv") {
      WriteOverSharedZeroPages();
      Crash();
    }
    return true;
  }

  // What a plug-in that runs wild does to velk-run's progress page, which velk-run shares with
  // its worker as an anonymous shared mapping.
  static void WriteOverSharedZeroPages() {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
      unsigned long start = 0;
      unsigned long end = 0;
      char permissions[5] = {};
      if (line.find("/dev/zero") != std::string::npos &&
          std::sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, permissions) == 3 &&
          permissions[1] == 'w' && permissions[3] == 's') {
        std::memset(reinterpret_cast<void*>(start), 0xff, end - start);
      }
    }
  }

  static constexpr itimerval kNoTimer{};
  const int own_file_;
  std::map<std::string, std::string> faults_;  // by the step's name
  std::string message_;
  long readings_ = 0;
};

class FaultyProvider : public DranAIDeviceProvider {
 public:
#if defined(VELK_FAULT_MISBEHAVING_DEVICE) || defined(VELK_FAULT_UNIQUE) || \
    defined(VELK_FAULT_SEVERAL_PROVIDERS)
  DranAIDevice* create() const override { return new MisbehavingDevice; }
#else
  DranAIDevice* create() const override { return nullptr; }
#endif
};

// A provider of some other kind of device, which the daemon's analog-input devices pass over.
class OtherProvider : public Provider {};

}  // namespace

std::vector<std::shared_ptr<Provider> > get_providers() {
#if defined(VELK_FAULT_UNDEFINED_SYMBOL)
  VELK_UNDEFINED_SYMBOL();
#endif
#if defined(VELK_FAULT_THROWS_INT)
  throw 5529;
#elif defined(VELK_FAULT_THROWS_ERROR)
  throw PluginError("no providers today");
#elif defined(VELK_FAULT_SEVERAL_PROVIDERS)
  return {std::make_shared<OtherProvider>(), std::make_shared<FaultyProvider>()};
#else
  return {std::make_shared<FaultyProvider>()};
#endif
}

#endif
