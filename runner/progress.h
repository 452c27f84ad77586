// Where velk-run's worker is in its run: a page of memory the worker shares with velk-run and
// writes with plain stores, before and after each step (no system call), and that velk-run reads
// once the worker has ended. Only the worker writes it, not a child the plug-in forks; and as
// the plug-in could write over it, velk-run reads it as untrusted input.
#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "host_standin/own_process.h"

namespace velk_run {

struct Progress {
  // "during the reading on line 3 of standard input; ...": written into the slot not in use,
  // then published, so that an end in the middle of a write leaves the last whole one.
  void Say(bool step, std::string_view words) {
    if (!standin::InOwnProcess()) return;
    // Whatever the plug-in wrote over `current`, the worker writes within the page.
    const int next = current == 0 ? 1 : 0;
    slots[next].in_step = step;
    slots[next].size = words.copy(slots[next].text, sizeof(slots[next].text));
    // The flip must not be ordered before the words it publishes.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    current = next;
  }
  // The worker's own end, after every destructor, with the status it is ending with.
  void Finish(int status) {
    if (!standin::InOwnProcess()) return;
    finished_status = status;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    finished = 1;
  }

  // What the page says, where it is whole: its words (escaped) and whether they name a step.
  struct Seen {
    bool whole = false;
    bool in_step = false;
    std::string where;
    std::optional<int> finished_status;
  };
  Seen Read() const;

  struct Words {
    unsigned char in_step = 0;
    std::size_t size = 0;
    // A path is shown cut after 1024 bytes, each as up to four, with its length: words with
    // one fit whole.
    char text[8192];
  } slots[2];
  int current = 0;
  unsigned char finished = 0;
  int finished_status = 0;
};

}  // namespace velk_run
