// One device of a loaded plug-in, driven as the daemon drives it: every host call it makes
// becomes one JSON line on the event descriptor, and a step's lines go out as soon as the step
// is done. A plug-in that throws, refuses a step, dies of a signal or calls exit() ends the run
// with one line saying so, after the events of the step it was in.
// Owns the library, its providers and the device; one session at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

#include "runner/errors.h"
#include "runner/output.h"
#include "runner/plugin_library.h"

namespace velk_run {

using Record = std::array<unsigned char, 15>;

class DeviceSession {
 public:
  // Loads the plug-in and creates its device; throws Failure.
  DeviceSession(const std::string& plugin_path, int events_fd);
  // Destroys the device, drops the providers, then unloads the library.
  ~DeviceSession();

  // Each step throws Failure when the device throws or refuses it, or when output was lost.
  // As the daemon does, the identifier is set before the configuration is handed over;
  // `described` names the configuration in messages.
  void Configure(std::uint32_t data_id, const Json::Value& config, const std::string& described);
  void Restore(const Record& record);
  // `line` of standard input, or 0 for argument `argument`.
  void Process(short reading, std::uint64_t line, std::uint64_t argument);
  // Flushes the plug-in's log (std::cout and C stdio); throws Failure when any was lost.
  void Finish();
  // A run of readings stopped by `problem`, saying how many readings had their rounds.
  Failure Stopped(const std::string& problem) const;

 private:
  // Sends the host calls to the events, and watches for fatal signals and exit(), from before
  // loading until after unloading.
  struct Watch {
    explicit Watch(EventWriter& events);
    ~Watch();
  };

  template <typename Step>
  void Run(Step step);  // Step gives true when the device took the step
  void CheckWritten();

  EventWriter events_;
  Watch watch_;
  std::string shown_path_;
  std::optional<PluginLibrary> library_;
  std::vector<std::shared_ptr<Provider> > providers_;
  std::unique_ptr<DranAIDevice> device_;
  std::string detail_;  // the configuration or the record of the step being run, quoted
};

}  // namespace velk_run
