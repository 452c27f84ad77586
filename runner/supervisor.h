// velk-run watching its worker from outside, as a service supervisor watches its children: the
// worker, a child process, loads and drives the plug-in and says where it is in a page of memory
// it shares with velk-run, before and after each step, with plain stores (no system call);
// velk-run waits for it, passes on the signals sent to velk-run itself, tells how the worker
// ended from waitpid and that page, and ends as the worker did.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace velk_run {

// The page: written by the worker, read by velk-run once the worker has ended.
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
  bool finished = false;  // the worker's own end, after every destructor
};

// Runs `work`, which never returns, in the worker. Returns the run's status, or ends velk-run by
// the signal that ended the worker, after one line saying so.
int Supervise(const std::function<void(Progress&)>& work);

}  // namespace velk_run
