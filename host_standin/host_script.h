// What the stand-in host holds and answers, as a test or a scenario scripts it: its answers to
// the three calls whose results a device reads, and the signal keys and values it holds.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class DranVDevice;

namespace standin {

// The answers to InitSetting, CheckAOReport and DoBatchCheckThreshold. Unscripted, a call gets
// the daemon's usual answer: true for the settings, false for the checks.
class Answers {
 public:
  // Every call of `call` answers `answer`.
  void Always(std::string_view call, bool answer);
  // The next calls of `call` answer these, one each, after any already queued; once they are
  // used up, the usual answer.
  void InTurn(std::string_view call, const std::vector<bool>& answers);
  bool Next(std::string_view call);
  void Clear() { scripts_.clear(); }

 private:
  struct Script {
    std::vector<bool> turns;
    std::size_t used = 0;
    bool always = false;
    bool answer = false;
  };
  std::map<std::string, Script, std::less<>> scripts_;
};

// The signal keys a round walks (ao_keys_, in order, a key may repeat) and their values
// (ao_values_): host members, which only the host fills.
struct HostState {
  std::vector<std::string> ao_keys;
  std::map<std::string, float> ao_values;
  void HeldBy(DranVDevice& device) const;
};

}  // namespace standin
