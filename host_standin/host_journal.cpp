#include "host_standin/host_journal.h"

#include <stdexcept>

namespace standin {

namespace {
// Built when the stand-in is loaded, before any program of ours runs, so that Instance() needs
// no guard on every service call.
HostJournal journal;
}  // namespace

HostJournal& HostJournal::Instance() { return journal; }

void HostJournal::Clear() {
  recording_ = true;
  keep_calls_ = true;
  calls_.clear();
  report_results_.clear();
  batch_results_.clear();
  init_setting_result_ = true;
  throw_countdown_.clear();
  hooks_.clear();
}

std::vector<std::string> HostJournal::CallNames() const {
  std::vector<std::string> names;
  for (const Json::Value& event : calls_) names.push_back(event["call"].asString());
  return names;
}

void HostJournal::QueueReportResults(const std::vector<bool>& results) {
  report_results_.insert(report_results_.end(), results.begin(), results.end());
}

void HostJournal::QueueBatchResults(const std::vector<bool>& results) {
  batch_results_.insert(batch_results_.end(), results.begin(), results.end());
}

void HostJournal::ThrowOn(const std::string& call, int occurrence) {
  throw_countdown_[call] = occurrence;
}

void HostJournal::OnCall(const std::string& call, Hook hook) { hooks_[call] = std::move(hook); }

void HostJournal::Record(const HostCall& call) {
  if (!recording_) return;
  if (listener_) listener_(call);
  if (keep_calls_) calls_.push_back(ToJson(call));
}

void HostJournal::RunScripts(const char* call, DranVDevice* device) {
  if (!hooks_.empty()) {
    auto hook = hooks_.find(call);
    if (hook != hooks_.end() && device != nullptr) hook->second(*device);
  }
  if (!throw_countdown_.empty()) {
    auto countdown = throw_countdown_.find(call);
    if (countdown != throw_countdown_.end() && --countdown->second == 0) {
      throw_countdown_.erase(countdown);
      throw std::runtime_error(std::string("scripted failure of ") + call);
    }
  }
}

bool HostJournal::Next(std::deque<bool>& results) {
  const bool result = results.front();
  results.pop_front();
  return result;
}

}  // namespace standin
