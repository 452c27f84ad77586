#include "runner/watch.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "loader/failure.h"

namespace velk_run::watch {

namespace {

const int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};
const char* const kNames[] = {"SIGSEGV", "SIGBUS",  "SIGFPE", "SIGILL",
                              "SIGABRT", "SIGTRAP", "SIGSYS"};

// Whatever a report reads is static; what changes while the plug-in runs is reached through
// lock-free atomics. Words are written into the pair's other half, then published.
struct Words {
  bool in_step;
  std::size_t size;
  char text[4096];
} words[2];
std::atomic<const Words*> doing{nullptr};
std::atomic<pid_t> watcher{0};       // the process that reports; 0 when none does
std::atomic<bool> reporting{false};  // the first failure reported is the only one
static_assert(std::atomic<const Words*>::is_always_lock_free &&
              std::atomic<pid_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// Only a signal left to its default action is watched: one the process ignores is no failure,
// and one with a handler (a sanitizer's) is that handler's to report.
bool watched[std::size(kFatalSignals)];
// A stack overflow leaves a handler no stack: it gets one, where no usable one is there.
alignas(16) char signal_stack[64 * 1024];
stack_t replaced_stack;
bool own_stack = false;

bool Watching() { return watcher.load() != 0 && watcher.load() == getpid(); }

// The first thread to report goes on; any other, velk-run's own included, waits for it to end
// the process, so that nothing rewords what is being reported.
void ClaimReport() {
  if (reporting.exchange(true)) {
    for (;;) pause();
  }
}

// "velk-run: ", the parts and the words of what the run was doing, in one write. Only what a
// signal handler may call.
void WriteReport(std::initializer_list<std::string_view> parts) {
  char line[4400];
  std::size_t size = 0;
  const Words* now = doing.load();
  size = std::string_view("velk-run: ").copy(line, sizeof(line));
  for (std::string_view part : parts) size += part.copy(line + size, sizeof(line) - size);
  size += std::string_view(now->text, now->size).copy(line + size, sizeof(line) - size - 1);
  line[size++] = '\n';
  while (write(STDERR_FILENO, line, size) < 0 && errno == EINTR) {
  }
}

void RestoreActions() {
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  for (std::size_t i = 0; i < std::size(kFatalSignals); ++i) {
    if (watched[i]) sigaction(kFatalSignals[i], &default_action, nullptr);
  }
}

extern "C" void OnFatalSignal(int number) {
  const int saved_errno = errno;
  if (Watching()) {
    ClaimReport();
    const char* name = "a fatal signal";
    for (std::size_t i = 0; i < std::size(kFatalSignals); ++i) {
      if (kFatalSignals[i] == number) name = kNames[i];
    }
    if (doing.load()->in_step) {
      WriteReport({"the plug-in crashed (", name, ") "});
    } else {
      WriteReport({name, " while the plug-in was loaded, "});
    }
  }
  // As without the watch: once this handler returns, the default action takes the signal.
  RestoreActions();
  raise(number);
  errno = saved_errno;
}

}  // namespace

void Start(std::string_view loading) {
  Doing(true, loading);
  stack_t stack;
  sigaltstack(nullptr, &stack);
  if ((stack.ss_flags & SS_DISABLE) != 0 || stack.ss_size < sizeof(signal_stack)) {
    stack = stack_t{signal_stack, 0, sizeof(signal_stack)};
    own_stack = sigaltstack(&stack, &replaced_stack) == 0;
  }
  struct sigaction action {};
  action.sa_handler = OnFatalSignal;
  action.sa_flags = SA_ONSTACK;
  sigfillset(&action.sa_mask);  // nothing else runs while a failure is reported
  for (std::size_t i = 0; i < std::size(kFatalSignals); ++i) {
    struct sigaction replaced;
    watched[i] = sigaction(kFatalSignals[i], nullptr, &replaced) == 0 &&
                 (replaced.sa_flags & SA_SIGINFO) == 0 && replaced.sa_handler == SIG_DFL &&
                 sigaction(kFatalSignals[i], &action, nullptr) == 0;
  }
  watcher = getpid();
}

void Stop() {
  watcher = 0;
  RestoreActions();
  std::fill(std::begin(watched), std::end(watched), false);
  if (own_stack) sigaltstack(&replaced_stack, nullptr);
  own_stack = false;
}

void Doing(bool in_step, std::string_view text) {
  if (reporting.load()) ClaimReport();
  Words& next = doing.load() == &words[0] ? words[1] : words[0];
  next.in_step = in_step;
  next.size = text.copy(next.text, sizeof(next.text));
  doing = &next;
}

void ExitCalled(const char* function, int status, void (*real)(int)) {
  if (!Watching()) real(status);
  std::cout.flush();  // what the plug-in wrote before it left, as exit() would have flushed it
  std::fflush(stdout);
  ClaimReport();
  WriteReport({"the plug-in called ", function, "() "});
  _exit(velk::kFailed);
}

}  // namespace velk_run::watch
