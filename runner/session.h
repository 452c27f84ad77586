// One device of a loaded plug-in, driven a step at a time as the daemon drives it, with the
// stand-in host writing each call the device makes as one event line the moment it is made.
// Before a step the watch is told what it is; after it the plug-in's log is flushed and the
// log's and the events' delivery checked. Every failure is a Failure that names the step.
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

class Session {
 public:
  explicit Session(int events_fd);
  // After Close. A plug-in that stayed loaded has had its static destructors run before, at the
  // process's exit, when the session is velk-run's: its log is checked once more then.
  ~Session();

  void Load(const std::string& plugin_path);
  // As the daemon does, the identifier is set before the configuration is handed over;
  // `described` names the configuration in messages.
  void Configure(std::uint32_t data_id, const Json::Value& config, const std::string& described);
  void Restore(const Record& record);
  // `line` of standard input, or 0 for argument `argument`.
  void Process(short reading, std::uint64_t line, std::uint64_t argument);
  // The readings stopped by `problem`, saying how many had their rounds.
  velk::Failure Stopped(const std::string& problem) const;
  // Destroys the device, releases the providers and unloads the library, each a step of its
  // own; then throws the first failure among them.
  void Close();

 private:
  // Each event line goes out in one write, as its call is made; a failed write waits for the
  // end of the step. A process the plug-in forks writes nothing.
  class EventSink : public standin::Recorder {
   public:
    explicit EventSink(int fd);
    int error = 0;

   private:
    void Write(std::string_view line) override;
    int fd_;
    int pid_;
  };

  // Runs a step the watch knows as "during `words`"; `step` gives whether the device took it.
  template <typename Step>
  void Run(const std::string& words, Step step);
  // The first loss of output since the last check, as a Failure.
  std::optional<velk::Failure> OutputLost();
  std::string Processed() const;  // "; the 2 readings before it were processed"

  EventSink events_;
  std::optional<velk::PluginLibrary> library_;
  std::string shown_path_;
  std::vector<std::shared_ptr<Provider> > providers_;
  std::unique_ptr<DranAIDevice> device_;
  std::uint64_t processed_ = 0;
  bool reading_ = false;  // the step is a reading
  bool watching_ = false;
  bool stays_loaded_ = false;  // dlclose left the library in the process
  bool events_lost_ = false;   // reported once
  bool log_lost_ = false;
};

// "velk-run: MESSAGE" in one write to standard error. Returns the failure's status, which alone
// tells when standard error is what fails.
int Report(const velk::Failure& failure);

}  // namespace velk_run
