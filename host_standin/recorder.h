// Whoever watches the stand-in host (a test, velk-run) installs a Recorder for a scope: while it
// is in place every host call a device makes is written as one event line the moment it is
// made, and answered as the recorder scripts it. Without one the services record nothing and
// answer at once (false, and true for the settings), touching nothing but the device, so that
// devices may run on many threads and a benchmark sees the plug-in's own cost.
// One recorder is in place at a time, and it serves one thread at a time.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "host_standin/event.h"

class DranVDevice;

namespace standin {

class Recorder {
 public:
  using Hook = std::function<void(DranVDevice& device)>;

  Recorder();  // in place until it goes; the one it replaced comes back then
  virtual ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  static Recorder* Current() { return current_; }

  // Forgets the kept lines and every script.
  void Clear();
  const std::vector<std::string>& Lines() const { return lines_; }

  // Answers for the calls to come, oldest first; an empty queue answers false.
  void QueueReportResults(const std::vector<bool>& results);
  void QueueBatchResults(const std::vector<bool>& results);
  void SetInitSettingResult(bool result) { init_setting_result_ = result; }
  // Runs inside the service `call` of a device, once it is recorded and before it answers.
  void OnCall(const std::string& call, Hook hook);
  // The occurrence-th next call of `call` throws std::runtime_error once it is recorded (in
  // place of a hook of that call).
  void ThrowOn(const std::string& call, int occurrence = 1);

  // For the services: writes the event of `call`, then runs its hook or scripted failure (a
  // device's call; get_ttime has none).
  void Record(Event& event, const char* call, DranVDevice* device);
  bool NextReportResult() { return Next(report_results_); }
  bool NextBatchResult() { return Next(batch_results_); }
  bool InitSettingResult() const { return init_setting_result_; }

 protected:
  // Takes each event line, newline included, as its call is made; keeps it by default. Called
  // from inside the plug-in's call, so it must not throw for a failure of its own.
  virtual void Write(std::string_view line) { lines_.emplace_back(line); }

 private:
  static bool Next(std::deque<bool>& results);

  static Recorder* current_;
  Recorder* replaced_;
  std::vector<std::string> lines_;
  std::deque<bool> report_results_;
  std::deque<bool> batch_results_;
  bool init_setting_result_ = true;
  std::map<std::string, std::function<void(DranVDevice* device)>, std::less<>> hooks_;
};

}  // namespace standin
