#include "runner/supervisor.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "runner/report.h"

namespace velk_run {

namespace {

velk::Failure SystemFailure(const char* what) {
  return velk::Failure{std::string("cannot ") + what + ": " + std::strerror(errno)};
}

// Whether the worker has ended (its status then in `status`). A stop of its own is told once;
// job control's stops (SIGTSTP, SIGTTIN, SIGTTOU) reach velk-run too and need no word.
bool Ended(pid_t worker, int& status, const Progress& progress) {
  for (;;) {
    const pid_t changed = waitpid(worker, &status, WNOHANG | WUNTRACED);
    if (changed != worker) return false;
    if (!WIFSTOPPED(status)) return true;
    if (WSTOPSIG(status) == SIGSTOP) {
      const Progress::Seen page = progress.Read();
      const std::string pid = std::to_string(worker);
      Report().Failed("the plug-in's process " + pid + " stopped (SIGSTOP)" +
                      (page.whole ? " " + page.where : "") + "; it goes on after 'kill -CONT " +
                      pid + "'");
    }
  }
}

// Hands on what has come on the channel; false once it has ended (or failed) for good.
bool ReadChannel(int fd, const Watch& watch) {
  char chunk[64 * 1024];
  const ssize_t got = read(fd, chunk, sizeof(chunk));
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return errno == EINTR;
  if (got <= 0) return false;
  watch.channel(std::string_view(chunk, static_cast<std::size_t>(got)));
  return true;
}

// The worker's end: its status as waitpid gave it, the signals velk-run passed on, and how
// long it had been silent where velk-run killed it for that.
struct Waited {
  int status = 0;
  sigset_t sent;
  int silent_seconds = 0;
  // The signal that ended the worker, where velk-run passed it on; else 0.
  int SentOne() const {
    return WIFSIGNALED(status) && sigismember(&sent, WTERMSIG(status)) == 1 ? WTERMSIG(status) : 0;
  }
};

// Waits for the worker's end, reading the channel (-1: none) as it comes and passing on the
// signals that `signals` (a signalfd) receives; the channel is left open for the last of it.
Waited WaitFor(pid_t worker, int signals, int& channel, const Watch& watch,
               const Progress& progress) {
  Waited waited;
  sigemptyset(&waited.sent);
  for (;;) {
    pollfd watched[2] = {{signals, POLLIN, 0}, {channel, POLLIN, 0}};
    const bool timed = watch.silence_seconds > 0 && waited.silent_seconds == 0;
    const int timeout = timed ? watch.silence_seconds * 1000 : -1;
    if (poll(watched, channel >= 0 ? 2 : 1, timeout) == 0) {
      waited.silent_seconds = watch.silence_seconds;
      kill(worker, SIGKILL);
    }
    if (watched[1].revents != 0 && !ReadChannel(channel, watch)) {
      close(channel);
      channel = -1;
    }
    signalfd_siginfo info{};
    if ((watched[0].revents & POLLIN) == 0 || read(signals, &info, sizeof(info)) != sizeof(info)) {
      continue;
    }
    const int signal = static_cast<int>(info.ssi_signo);
    if (signal == SIGCHLD && Ended(worker, waited.status, progress)) return waited;
    if (signal != SIGCHLD) {
      sigaddset(&waited.sent, signal);
      kill(worker, signal);
      kill(worker, SIGCONT);  // a stopped worker takes it only once it goes on
    }
  }
}

}  // namespace

Ending Supervise(const std::function<void(Progress&, int channel)>& work, const Watch& watch) {
  void* page =
      mmap(nullptr, sizeof(Progress), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (page == MAP_FAILED) throw SystemFailure("map the worker's progress");
  Progress& progress = *new (page) Progress;
  // Passed on: every signal but job control, which reaches both in their process group, and
  // those that end no process. They and SIGCHLD are blocked before the worker starts, so that
  // none comes unseen; the worker gets the mask velk-run started with. An ignored SIGCHLD would
  // take the worker's end away before it could be waited for.
  sigset_t passed_on;
  sigfillset(&passed_on);
  for (const int kept : {SIGKILL, SIGSTOP, SIGCONT, SIGTSTP, SIGTTIN, SIGTTOU, SIGURG, SIGWINCH}) {
    sigdelset(&passed_on, kept);
  }
  signal(SIGCHLD, SIG_DFL);
  sigset_t original;
  sigprocmask(SIG_BLOCK, &passed_on, &original);
  const int signals = signalfd(-1, &passed_on, SFD_CLOEXEC);
  int channel[2] = {-1, -1};
  if (signals < 0) throw SystemFailure("wait for signals");
  if (watch.channel && pipe2(channel, O_CLOEXEC) != 0) throw SystemFailure("make a channel");
  std::fflush(nullptr);  // what velk-run has buffered is not the worker's to write again
  const pid_t velk_run = getpid();
  const pid_t worker = fork();
  if (worker < 0) throw SystemFailure("start the worker process");
  if (worker == 0) {
    // Not even SIGKILL of velk-run leaves the worker writing into the user's files.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != velk_run) _exit(velk::kFailed);
    sigprocmask(SIG_SETMASK, &original, nullptr);
    close(signals);
    if (channel[0] >= 0) close(channel[0]);
    work(progress, channel[1]);
    _exit(velk::kFailed);  // not reached: the worker ends its process itself
  }
  if (channel[1] >= 0) close(channel[1]);
  const Waited waited = WaitFor(worker, signals, channel[0], watch, progress);
  // What the worker wrote before its end is in the channel; a child it left may hold it open.
  if (channel[0] >= 0) {
    fcntl(channel[0], F_SETFL, O_NONBLOCK);
    while (ReadChannel(channel[0], watch)) {
    }
    close(channel[0]);
  }
  close(signals);
  sigprocmask(SIG_SETMASK, &original, nullptr);
  const Ending ending =
      Classify(waited.status, progress.Read(), waited.SentOne(), waited.silent_seconds);
  munmap(page, sizeof(Progress));
  return ending;
}

void EndBy(int signal_number) {
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

}  // namespace velk_run
