// The stand-in host's journal: every host call a device makes, in order, as one JSON event
// each, plus the results and failures a test or the runner scripts for those calls.
// One process-wide instance, owned by the stand-in library; the plug-in never links it.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <json/value.h>

#include "host_standin/host_call.h"

class DranVDevice;

namespace standin {

class HostJournal {
 public:
  using Listener = std::function<void(const HostCall& call)>;
  using Hook = std::function<void(DranVDevice& device)>;

  static HostJournal& Instance();

  // Forgets the recorded calls and every script; recording and keeping calls are switched
  // back on. The listener stays.
  void Clear();

  // With recording off the services still answer (scripts, rule queue) but keep no events.
  void SetRecording(bool on) { recording_ = on; }
  bool Recording() const { return recording_; }
  // Called with each call as it is recorded, e.g. to print it, before it is kept as JSON.
  void SetListener(Listener listener) { listener_ = std::move(listener); }
  // A long run that only prints its events need not keep them all.
  void SetKeepCalls(bool keep) { keep_calls_ = keep; }

  const std::vector<Json::Value>& Calls() const { return calls_; }
  std::vector<std::string> CallNames() const;

  // Results of the next calls, oldest first; an empty queue answers false.
  void QueueReportResults(const std::vector<bool>& results);
  void QueueBatchResults(const std::vector<bool>& results);
  void SetInitSettingResult(bool result) { init_setting_result_ = result; }

  // The occurrence-th next call of `call` throws std::runtime_error after it is recorded.
  void ThrowOn(const std::string& call, int occurrence = 1);
  // Runs inside the host service `call`, before it answers (not for get_ttime, which has no
  // device).
  void OnCall(const std::string& call, Hook hook);

  // Used by the stand-in's services: Record keeps the event (only while recording), then
  // Intercept runs the call's hook and its scripted failure. With recording off and nothing
  // scripted a service costs a few tests, so that a benchmark sees the plug-in's own cost.
  void Record(const HostCall& call);
  void Intercept(const char* call, DranVDevice* device = nullptr) {
    if (!hooks_.empty() || !throw_countdown_.empty()) RunScripts(call, device);
  }
  bool NextReportResult() { return !report_results_.empty() && Next(report_results_); }
  bool NextBatchResult() { return !batch_results_.empty() && Next(batch_results_); }
  bool InitSettingResult() const { return init_setting_result_; }

 private:
  void RunScripts(const char* call, DranVDevice* device);
  static bool Next(std::deque<bool>& results);  // the front of a queue that is not empty

  bool recording_ = true;
  bool keep_calls_ = true;
  Listener listener_;
  std::vector<Json::Value> calls_;
  std::deque<bool> report_results_;
  std::deque<bool> batch_results_;
  bool init_setting_result_ = true;
  std::map<std::string, int, std::less<>> throw_countdown_;
  std::map<std::string, Hook, std::less<>> hooks_;
};

}  // namespace standin
