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

constexpr struct {
  int number;
  const char* name;
} kFatalSignals[] = {{SIGSEGV, "SIGSEGV"}, {SIGBUS, "SIGBUS"},   {SIGFPE, "SIGFPE"},
                     {SIGILL, "SIGILL"},   {SIGABRT, "SIGABRT"}, {SIGTRAP, "SIGTRAP"},
                     {SIGSYS, "SIGSYS"}};

// Everything a report reads lives here, in static storage, and what changes while the plug-in
// may fail is reached through lock-free atomics.
struct Words {
  bool in_step;
  std::size_t size;
  char text[4096];
};
Words words[2];                             // the one in use and the next
std::atomic<const Words*> doing{nullptr};   // words[0], words[1] or none
std::atomic<pid_t> watcher{0};              // the process that watches; 0 when none does
std::atomic<bool> reporting{false};         // the first failure to be reported is the only one
static_assert(std::atomic<const Words*>::is_always_lock_free &&
              std::atomic<pid_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// Only a signal left to its default action is watched: one the process ignores is no failure,
// and one that has a handler (a sanitizer's) is that handler's to report.
bool watched[std::size(kFatalSignals)];
// A stack overflow leaves the handler no stack: it gets one of its own, unless a usable one is
// there already.
alignas(16) char signal_stack[64 * 1024];
stack_t replaced_stack;
bool own_stack = false;

bool Watching() { return watcher.load() != 0 && watcher.load() == getpid(); }

// The first thread to report goes on; any other waits for it to end the process, and so does
// velk-run's own thread, which must not reword what is being reported.
void ClaimReport() {
  if (reporting.exchange(true)) {
    for (;;) pause();
  }
}

// Appends to a line being built in a fixed buffer, as a signal handler can.
struct Line {
  char text[4200];
  std::size_t size = 0;
  Line& operator<<(std::string_view part) {
    const std::size_t length = std::min(part.size(), sizeof(text) - size);
    std::memcpy(text + size, part.data(), length);
    size += length;
    return *this;
  }
};

void WriteReport(std::string_view what) {
  const Words* now = doing.load();
  Line line;
  line << "velk-run: " << what << " " << std::string_view(now->text, now->size) << "\n";
  while (write(STDERR_FILENO, line.text, line.size) < 0 && errno == EINTR) {
  }
}

void RestoreActions() {
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  for (std::size_t i = 0; i < std::size(kFatalSignals); ++i) {
    if (watched[i]) sigaction(kFatalSignals[i].number, &default_action, nullptr);
  }
}

extern "C" void OnFatalSignal(int number) {
  const int saved_errno = errno;
  if (Watching()) {
    ClaimReport();
    const char* name = "a fatal signal";
    for (const auto& fatal : kFatalSignals) {
      if (fatal.number == number) name = fatal.name;
    }
    Line what;
    if (doing.load()->in_step) {
      what << "the plug-in crashed (" << name << ")";
    } else {
      what << name << " while the plug-in was loaded,";
    }
    WriteReport({what.text, what.size});
  }
  // As it would have ended without the watch: once this handler returns, the default action
  // takes the signal, and the process dies of it.
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
    sigaction(kFatalSignals[i].number, nullptr, &replaced);
    watched[i] = (replaced.sa_flags & SA_SIGINFO) == 0 && replaced.sa_handler == SIG_DFL &&
                 sigaction(kFatalSignals[i].number, &action, nullptr) == 0;
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
  next.size = std::min(text.size(), sizeof(next.text));
  std::memcpy(next.text, text.data(), next.size);
  doing = &next;
}

void ExitCalled(const char* function, int status, void (*real)(int)) {
  if (!Watching()) real(status);
  // What the plug-in wrote before it left, as exit() would have flushed it.
  std::cout.flush();
  std::fflush(stdout);
  ClaimReport();
  WriteReport(std::string("the plug-in called ") + function + "()");
  _exit(velk::kFailed);
}

}  // namespace velk_run::watch
