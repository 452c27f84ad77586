// One device of a loaded plug-in, driven a step at a time as the daemon drives it, each call it
// makes into the host written as one event line when it is made; after each step the plug-in's
// log is flushed and checked. A failure is a Failure naming the step. The watch reports a crash.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

#include "host_standin/recorder.h"
#include "loader/failure.h"
#include "loader/plugin_library.h"

namespace velk_run {

using Record = std::array<unsigned char, 15>;

// Owns the event sink, the library, its providers and the device.
class Session {
 public:
  explicit Session(int events_fd) : events_(events_fd) {}
  ~Session();  // a plug-in left loaded by Close has its log checked after its static destructors

  void Load(const std::string& plugin_path);
  // As the daemon does, the identifier is set before the configuration is handed over.
  void Configure(std::uint32_t data_id, const Json::Value& config, const std::string& described);
  void Restore(const Record& record);
  void Process(short reading, std::uint64_t line, std::uint64_t argument);  // line 0: argument
  std::string Processed() const;  // "; the 2 readings before it were processed"
  void Close();  // device, providers, library: each a step; then the first failure is thrown

 private:
  // One write per event line (one over PIPE_BUF may reach a pipe in pieces), none from a child
  // process the plug-in forks; a failure waits for the end of the step.
  struct EventSink : standin::Recorder {
    explicit EventSink(int fd);
    void Write(std::string_view line) override;
    int fd, pid, error = 0;
  };

  template <typename Step>
  void Run(const std::string& words, Step step);  // `step` gives whether the device took it
  std::optional<velk::Failure> OutputLost();      // the first loss since the last check

  EventSink events_;
  std::optional<velk::PluginLibrary> library_;
  std::string shown_path_;
  std::vector<std::shared_ptr<Provider> > providers_;
  std::unique_ptr<DranAIDevice> device_;
  std::uint64_t processed_ = 0;
  bool reading_ = false, stays_loaded_ = false, events_lost_ = false, log_lost_ = false;
};

// The watch, from before loading until Stop or the process's end: a fatal signal, or the plug-in
// calling exit() or quick_exit(), is reported as one line saying what the run was doing. A signal
// then meets its default action (its status, a core); an exit call ends the run with status 1.
// Process-wide, as signal dispositions are; only the process that started it reports.
namespace watch {

void Start(std::string_view loading);
void Stop();
// How a report ends ("during the reading on line 3 of standard input; ..."), worded before the
// step, as a handler can word nothing. Between steps a signal is not blamed on the plug-in.
void Doing(bool in_step, std::string_view words);
// A call of the plug-in's while watched is reported and ends the run; any other goes to `real`.
[[noreturn]] void ExitCalled(const char* function, int status, void (*real)(int));

}  // namespace watch
}  // namespace velk_run
