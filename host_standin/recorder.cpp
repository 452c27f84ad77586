#include "host_standin/recorder.h"

#include <stdexcept>

namespace standin {

Recorder* Recorder::current_ = nullptr;

Recorder::Recorder() : replaced_(current_) { current_ = this; }

Recorder::~Recorder() { current_ = replaced_; }

void Recorder::Clear() {
  lines_.clear();
  report_results_.clear();
  batch_results_.clear();
  init_setting_result_ = true;
  hooks_.clear();
}

void Recorder::QueueReportResults(const std::vector<bool>& results) {
  report_results_.insert(report_results_.end(), results.begin(), results.end());
}

void Recorder::QueueBatchResults(const std::vector<bool>& results) {
  batch_results_.insert(batch_results_.end(), results.begin(), results.end());
}

void Recorder::OnCall(const std::string& call, Hook hook) {
  hooks_[call] = [hook](DranVDevice* device) {
    if (device != nullptr) hook(*device);
  };
}

void Recorder::ThrowOn(const std::string& call, int occurrence) {
  hooks_[call] = [call, occurrence](DranVDevice*) mutable {
    if (--occurrence == 0) throw std::runtime_error("scripted failure of " + call);
  };
}

void Recorder::Record(Event& event, const char* call, DranVDevice* device) {
  Write(event.Line());
  const auto hook = hooks_.find(std::string_view(call));
  if (hook != hooks_.end()) hook->second(device);
}

bool Recorder::Next(std::deque<bool>& results) {
  if (results.empty()) return false;
  const bool result = results.front();
  results.pop_front();
  return result;
}

}  // namespace standin
