// One device of a loaded plug-in, driven a step at a time as the daemon drives it, in velk-run's
// worker process: each step is announced in the progress page before it runs, each call the
// device makes into the host is written as one event line when it is made, and after each step
// the plug-in's log is flushed and checked. A failed step throws a Failure naming it.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

#include "host_standin/recorder.h"
#include "loader/failure.h"
#include "loader/plugin_library.h"
#include "runner/report.h"
#include "runner/supervisor.h"

namespace velk_run {

using Record = std::array<unsigned char, 15>;

// The clock the plug-in reads through time(), which velk-run defines (the plug-in's calls bind to
// it, velk-run being the first object the loader searches): the machine's, or with this one that
// stands at `first` for the first round and moves on by `step` before each later round.
void FixClock(std::time_t first, std::time_t step);

// The sink of the events, and the owner of the library, its providers and the device.
class Session : public standin::Recorder {
 public:
  Session(int events_fd, Progress& progress, Report& report);

  void Load(const std::string& plugin_path);
  // As the daemon does, the identifier is set before the configuration is handed over.
  void Configure(std::uint32_t data_id, const Json::Value& config, const std::string& described);
  void Restore(const Record& record);
  void Process(short reading, std::uint64_t line, std::uint64_t argument);  // line 0: argument
  std::string Processed() const;  // "; the 2 readings before it were processed"
  void Close();  // device, providers, library: each a step; then the first failure is thrown
  // Ends the worker's process with the run's status. A library that dlclose left loaded runs its
  // static destructors now; after every destructor, Finish checks the log, then the page says
  // that the run finished.
  [[noreturn]] void Exit();
  [[noreturn]] void Finish();
  // One write per event line (one over PIPE_BUF may reach a pipe in pieces), none from a child
  // process the plug-in forks; a failure waits for the end of the step.
  void Write(std::string_view line) override;

 private:
  template <typename Action>
  void Run(const std::string& words,
           Action action);                    // a bool `action` says whether the device took it
  std::optional<velk::Failure> OutputLost();  // the first loss since the last check

  const int events_fd_;
  int events_error_ = 0;
  Progress& progress_;
  Report& report_;
  std::optional<velk::PluginLibrary> library_;
  std::string shown_path_;
  std::vector<std::shared_ptr<Provider> > providers_;
  std::unique_ptr<DranAIDevice> device_;
  std::uint64_t processed_ = 0;
  bool reading_ = false, stays_loaded_ = false, events_lost_ = false, log_lost_ = false;
};

}  // namespace velk_run
