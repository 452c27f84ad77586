#include "runner/supervisor.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "runner/report.h"

namespace velk_run {

namespace {

std::string SignalName(int signal) {
#define VELK_SIGNAL(name) \
  { name, #name }
  static const std::pair<int, const char*> kNames[] = {
      VELK_SIGNAL(SIGHUP),  VELK_SIGNAL(SIGINT),  VELK_SIGNAL(SIGQUIT),   VELK_SIGNAL(SIGILL),
      VELK_SIGNAL(SIGTRAP), VELK_SIGNAL(SIGABRT), VELK_SIGNAL(SIGBUS),    VELK_SIGNAL(SIGFPE),
      VELK_SIGNAL(SIGKILL), VELK_SIGNAL(SIGUSR1), VELK_SIGNAL(SIGSEGV),   VELK_SIGNAL(SIGUSR2),
      VELK_SIGNAL(SIGPIPE), VELK_SIGNAL(SIGALRM), VELK_SIGNAL(SIGTERM),   VELK_SIGNAL(SIGXCPU),
      VELK_SIGNAL(SIGXFSZ), VELK_SIGNAL(SIGPROF), VELK_SIGNAL(SIGVTALRM), VELK_SIGNAL(SIGSYS)};
#undef VELK_SIGNAL
  for (const auto& [number, name] : kNames) {
    if (number == signal) return name;
  }
  return "signal " + std::to_string(signal);
}

// What the kernel sends a process for a fault of its own, or abort() raises.
bool IsCrash(int signal) {
  return signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE || signal == SIGILL ||
         signal == SIGABRT || signal == SIGTRAP || signal == SIGSYS;
}

// Ends velk-run by `signal`, as the worker ended, so that the shell tells the same. Where cores
// are dumped, the worker's is the one: velk-run dumps none of its own, as timeout(1) does.
[[noreturn]] void EndBy(int signal_number) {
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  signal(signal_number, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal_number);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal_number);
  _exit(128 + signal_number);
}

// The line for a worker that did not end by itself, and the run's status.
int Told(int status, const Progress& progress, int sent) {
  Report report;
  const std::string where = " " + progress.Where();
  if (WIFEXITED(status)) {
    const int code = WEXITSTATUS(status);
    if (progress.finished) return code;
    // exit(), _exit(), the exit system call, a library's error(): the status is all there is.
    report.Failed("the plug-in's process exited with status " + std::to_string(code) + where);
    return report.Status();
  }
  const int signal = WTERMSIG(status);
  const std::string name = SignalName(signal) + (WCOREDUMP(status) ? ", core dumped" : "");
  if (signal == sent) {
    report.Failed(name + ", sent to velk-run and passed on, ended the plug-in's process" + where);
  } else if (IsCrash(signal) && progress.InStep()) {
    report.Failed("the plug-in crashed (" + name + ")" + where);
  } else if (signal == SIGKILL) {
    report.Failed("the plug-in's process was killed by " + name +
                  " (from outside, or by the kernel when memory ran out)" + where);
  } else {
    report.Failed("the plug-in's process was killed by " + name + where);
  }
  EndBy(signal);
}

}  // namespace

int Supervise(const std::function<void(Progress&)>& work) {
  void* page =
      mmap(nullptr, sizeof(Progress), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (page == MAP_FAILED) {
    throw velk::Failure{std::string("cannot map the worker's progress: ") + std::strerror(errno)};
  }
  Progress& progress = *new (page) Progress;
  // Passed on: every signal but job control, which reaches both in their process group, and
  // those that end no process. They and SIGCHLD are blocked before the worker starts, so that
  // none comes unseen; the worker gets the mask velk-run started with. An ignored SIGCHLD would
  // take the worker's end away before it could be waited for.
  sigset_t waited;
  sigfillset(&waited);
  for (const int kept : {SIGKILL, SIGSTOP, SIGCONT, SIGTSTP, SIGTTIN, SIGTTOU, SIGURG, SIGWINCH}) {
    sigdelset(&waited, kept);
  }
  signal(SIGCHLD, SIG_DFL);
  sigset_t original;
  sigprocmask(SIG_BLOCK, &waited, &original);
  const pid_t worker = fork();
  if (worker < 0) {
    throw velk::Failure{std::string("cannot start the worker process: ") + std::strerror(errno)};
  }
  if (worker == 0) {
    sigprocmask(SIG_SETMASK, &original, nullptr);
    work(progress);
    _exit(velk::kFailed);  // not reached: the worker ends its process itself
  }
  int sent = 0;
  int status = 0;
  for (;;) {
    const int signal = sigwaitinfo(&waited, nullptr);
    if (signal == SIGCHLD && waitpid(worker, &status, WNOHANG) == worker) break;
    if (signal > 0 && signal != SIGCHLD) {
      if (sent == 0) sent = signal;
      kill(worker, signal);
    }
  }
  return Told(status, progress, sent);
}

}  // namespace velk_run
