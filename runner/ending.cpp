#include "runner/ending.h"

#include <signal.h>
#include <sys/wait.h>

#include <cstring>
#include <utility>

#include "loader/failure.h"

namespace velk_run {

namespace {

// What the kernel sends a process for a fault of its own, or abort() raises.
bool IsCrash(int signal) {
  return signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE || signal == SIGILL ||
         signal == SIGABRT || signal == SIGTRAP || signal == SIGSYS;
}

}  // namespace

Progress::Seen Progress::Read() const {
  // A copy first: a child the plug-in left may still be writing to the page.
  Progress page;
  std::memcpy(static_cast<void*>(&page), this, sizeof(page));
  Seen seen;
  if (page.current != 0 && page.current != 1) return seen;
  const Words& words = page.slots[page.current];
  if (words.in_step > 1 || words.size > sizeof(words.text) || page.finished > 1) return seen;
  const std::string_view text(words.text, words.size);
  // The worker's words are printable ASCII: it escapes all outside text.
  for (const char c : text) {
    if (c < 0x20 || c > 0x7e) return seen;
  }
  seen.whole = true;
  seen.in_step = words.in_step == 1;
  seen.where = text;
  if (page.finished == 1) seen.finished_status = page.finished_status;
  return seen;
}

std::string SignalName(int signal) {
#define VELK_SIGNAL(name) \
  { name, #name }
  static const std::pair<int, const char*> kNames[] = {
      VELK_SIGNAL(SIGHUP),  VELK_SIGNAL(SIGINT),  VELK_SIGNAL(SIGQUIT),   VELK_SIGNAL(SIGILL),
      VELK_SIGNAL(SIGTRAP), VELK_SIGNAL(SIGABRT), VELK_SIGNAL(SIGBUS),    VELK_SIGNAL(SIGFPE),
      VELK_SIGNAL(SIGKILL), VELK_SIGNAL(SIGUSR1), VELK_SIGNAL(SIGSEGV),   VELK_SIGNAL(SIGUSR2),
      VELK_SIGNAL(SIGPIPE), VELK_SIGNAL(SIGALRM), VELK_SIGNAL(SIGTERM),   VELK_SIGNAL(SIGXCPU),
      VELK_SIGNAL(SIGXFSZ), VELK_SIGNAL(SIGPROF), VELK_SIGNAL(SIGVTALRM), VELK_SIGNAL(SIGSYS),
      VELK_SIGNAL(SIGSTOP), VELK_SIGNAL(SIGTSTP), VELK_SIGNAL(SIGTTIN),   VELK_SIGNAL(SIGTTOU)};
#undef VELK_SIGNAL
  for (const auto& [number, name] : kNames) {
    if (number == signal) return name;
  }
  return "signal " + std::to_string(signal);
}

Ending Classify(int wait_status, const Progress::Seen& page, int sent, int silent_seconds) {
  Ending ending;
  ending.page = page;
  if (WIFEXITED(wait_status)) {
    ending.code = WEXITSTATUS(wait_status);
    // An exit at the process's end with a status of its own is not the run's.
    const bool finished = page.whole && page.finished_status == ending.code;
    ending.kind = finished ? Ending::Kind::kFinished : Ending::Kind::kExited;
    return ending;
  }
  ending.code = WTERMSIG(wait_status);
  ending.core_dumped = WCOREDUMP(wait_status);
  if (silent_seconds > 0 && ending.code == SIGKILL) {
    ending.kind = Ending::Kind::kHung;
    ending.silent_seconds = silent_seconds;
  } else if (ending.code == sent) {
    ending.kind = Ending::Kind::kPassedOn;
  } else if (IsCrash(ending.code) && page.whole && page.in_step) {
    ending.kind = Ending::Kind::kCrashed;
  } else {
    ending.kind = Ending::Kind::kKilled;
  }
  return ending;
}

int Ending::RunStatus() const {
  if (kind == Kind::kFinished) return code;
  return BySignal() ? 128 + code : velk::kFailed;
}

std::string Worded(const Ending& ending) {
  // Where the page is not whole, velk-run cannot know where the worker was, and says less.
  const std::string where =
      ending.page.whole ? " " + ending.page.where
                        : "; where in its run cannot be told (its progress page was overwritten)";
  const std::string name = SignalName(ending.code) + (ending.core_dumped ? ", core dumped" : "");
  switch (ending.kind) {
    case Ending::Kind::kFinished:
      return "";
    case Ending::Kind::kExited:
      return "the plug-in's process exited with status " + std::to_string(ending.code) + where;
    case Ending::Kind::kCrashed:
      return "the plug-in crashed (" + name + ")" + where;
    case Ending::Kind::kPassedOn:
      return name + ", sent to velk-run and passed on, ended the plug-in's process" + where;
    case Ending::Kind::kHung:
      return "the plug-in's process said nothing for " + std::to_string(ending.silent_seconds) +
             (ending.silent_seconds == 1 ? " second" : " seconds") + ", and velk-run killed it" +
             where;
    case Ending::Kind::kKilled:
      break;
  }
  const char* kernel =
      ending.code == SIGKILL ? " (from outside, or by the kernel when memory ran out)" : "";
  return "the plug-in's process was killed by " + name + kernel + where;
}

}  // namespace velk_run
