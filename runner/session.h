// One device of a loaded plug-in, driven a step at a time as the daemon drives it, in velk-run's
// worker process: each step is announced in the progress page before it runs, each call the
// device makes into the host is written as one event line when it is made, and after each step
// the plug-in's log is flushed and checked. A failed step throws a Failure naming it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

#include "host_standin/event_writer.h"
#include "loader/failure.h"
#include "loader/plugin_library.h"
#include "runner/progress.h"
#include "runner/report.h"
#include "runner/values.h"

namespace velk_run {

// Owns the event writer, the library, its providers and the device.
class Session {
 public:
  Session(int events_fd, Progress& progress, Report& report);

  void Load(const std::string& plugin_path);
  // As the daemon does, the identifier is set before the configuration is handed over.
  void Configure(std::uint32_t data_id, const Json::Value& config, const std::string& described);
  // `words` name the step in what velk-run says: "the reading of argument 2".
  void Restore(const Record& record, const std::string& words);
  float Process(short reading, const std::string& words);
  std::string Processed() const;  // "; the 2 readings before it were processed"
  DranAIDevice& Device() { return *device_; }
  standin::Answers& Answers() { return events_.answers; }
  void Close();  // device, providers, library: each a step; then the first failure is thrown
  // Ends the worker's process with the run's status. A library that dlclose left loaded runs its
  // static destructors now; after every destructor, Finish checks the log, then the page says
  // that the run finished, and with which status.
  [[noreturn]] void Exit();
  void Finish();

 private:
  template <typename Action>
  void Run(const std::string& words,
           Action action);                    // a bool `action` says whether the device took it
  std::optional<velk::Failure> OutputLost();  // the first loss since the last check

  standin::EventWriter events_;
  Progress& progress_;
  Report& report_;
  std::optional<velk::PluginLibrary> library_;
  std::string shown_path_;
  std::vector<std::shared_ptr<Provider> > providers_;
  std::unique_ptr<DranAIDevice> device_;
  std::uint64_t processed_ = 0;
  int exit_status_ = 0;
  bool reading_ = false;
  bool stays_loaded_ = false;
  bool events_lost_ = false;
  bool log_lost_ = false;
};

}  // namespace velk_run
