// Where velk-run's worker is in its run: a page shared with the supervisor, which the worker
// writes before and after each step with plain stores (no system call), and which the supervisor
// reads once the worker has ended, to say where that happened.
#pragma once

#include <string>
#include <string_view>

namespace velk_run {

struct Progress {
  // "during the reading on line 3 of standard input; ...": written into the slot not in use,
  // then published, so that an end in the middle of a write leaves the last whole one.
  void Say(bool step, std::string_view words) {
    Words& next = slots[1 - current];
    next.in_step = step;
    next.size = words.copy(next.text, sizeof(next.text));
    current = 1 - current;
  }
  bool InStep() const { return slots[current].in_step; }
  std::string Where() const { return {slots[current].text, slots[current].size}; }

  struct Words {
    bool in_step = false;
    std::size_t size = 0;
    char text[1536];  // paths are cut at 1024 bytes
  } slots[2];
  int current = 0;
  bool finished = false;  // the worker's own end, after every destructor, with `status`
  int status = 0;
};

}  // namespace velk_run
