#include "host_standin/host_script.h"

#include "host/dran_vdevice.h"

namespace standin {

void Answers::Always(std::string_view call, bool answer) {
  Script& script = scripts_[std::string(call)];
  script.always = true;
  script.answer = answer;
}

void Answers::InTurn(std::string_view call, const std::vector<bool>& answers) {
  Script& script = scripts_[std::string(call)];
  script.turns.insert(script.turns.end(), answers.begin(), answers.end());
}

bool Answers::Next(std::string_view call) {
  const auto found = scripts_.find(call);
  if (found == scripts_.end()) return call == "InitSetting";
  Script& script = found->second;
  if (script.used < script.turns.size()) return script.turns[script.used++];
  return script.always ? script.answer : call == "InitSetting";
}

void HostState::HeldBy(DranVDevice& device) const {
  device.ao_keys_ = ao_keys;
  device.ao_values_ = ao_values;
}

}  // namespace standin
