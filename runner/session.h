// One device of a loaded plug-in, driven a step at a time as the daemon drives it, with the
// stand-in host writing each call the device makes as one event line the moment it is made.
// The watch is told each step before it runs; after it, the plug-in's log is flushed and the
// delivery of the log and the events checked. A failure is a Failure that names the step.
// Owns the event sink, the library, its providers and the device.
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

// "velk-run: MESSAGE" in one write to standard error. Returns the failure's status, which alone
// tells when standard error is what fails.
int Report(const velk::Failure& failure);

class Session {
 public:
  explicit Session(int events_fd) : events_(events_fd) {}
  // A plug-in that stayed loaded after Close runs its static destructors at the exit of the
  // process, before a session made before it goes: its log is checked once more then.
  ~Session();

  void Load(const std::string& plugin_path);
  // As the daemon does, the identifier is set before the configuration is handed over;
  // `described` names the configuration in messages.
  void Configure(std::uint32_t data_id, const Json::Value& config, const std::string& described);
  void Restore(const Record& record);
  void Process(short reading, std::uint64_t line, std::uint64_t argument);  // line 0: argument
  // The readings stopped by `problem`, saying how many had their rounds.
  velk::Failure Stopped(const std::string& problem) const;
  // Destroys the device, releases the providers and unloads the library, each a step; then
  // throws the first failure among them.
  void Close();

 private:
  // Writes each event line as its call is made, in one write (a line longer than PIPE_BUF may
  // reach a pipe in pieces); a failure waits for the end of the step. A child process that the
  // plug-in forks writes nothing.
  struct EventSink : standin::Recorder {
    explicit EventSink(int fd);
    void Write(std::string_view line) override;
    int fd, pid, error = 0;
  };

  template <typename Step>
  void Run(const std::string& words, Step step);  // `step` gives whether the device took it
  std::optional<velk::Failure> OutputLost();      // the first loss since the last check
  std::string Processed() const;                  // "; the 2 readings before it were processed"

  EventSink events_;
  std::optional<velk::PluginLibrary> library_;
  std::string shown_path_;
  std::vector<std::shared_ptr<Provider> > providers_;
  std::unique_ptr<DranAIDevice> device_;
  std::uint64_t processed_ = 0;
  bool reading_ = false;  // the steps are readings
  bool watching_ = false;
  bool stays_loaded_ = false;  // dlclose left the library in the process
  bool events_lost_ = false;   // each loss is reported once
  bool log_lost_ = false;
};

}  // namespace velk_run
