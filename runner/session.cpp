#include "runner/session.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace velk_run {

using velk::Failure;

Session::EventSink::EventSink(int fd) : fd(fd), pid(getpid()) {}

void Session::EventSink::Write(std::string_view line) {
  if (error == 0 && getpid() == pid) error = velk::WriteAll(fd, line);
}

Session::~Session() {
  if (!stays_loaded_) return;
  watch::Doing(false, "after its static destructors at exit");
  if (const std::optional<Failure> lost = OutputLost()) _exit(velk::Report("velk-run", *lost));
}

void Session::Load(const std::string& plugin_path) {
  shown_path_ = velk::Quoted(plugin_path);
  watch::Start("during the loading of " + shown_path_);
  Run("the loading of " + shown_path_, [&] { return library_.emplace(plugin_path), true; });
  Run("get_providers", [&] { return providers_ = library_->GetProviders(), true; });
  Run("create() of its device provider",
      [&] { return device_ = library_->CreateDevice(providers_), true; });
}

void Session::Configure(std::uint32_t data_id, const Json::Value& config,
                        const std::string& described) {
  device_->data_id_ = data_id;
  Run(described, [&] { return static_cast<bool>(device_->InitSetting(config)); });
}

void Session::Restore(const Record& record) {
  Run("the restore of record " + velk::Quoted(standin::ToHex(record.data(), record.size())),
      [&] { return device_->LoadFromCache(record.data(), static_cast<int>(record.size())); });
}

void Session::Process(short reading, std::uint64_t line, std::uint64_t argument) {
  reading_ = true;
  Run(line != 0 ? "the reading on line " + std::to_string(line) + " of standard input"
                : "the reading of argument " + std::to_string(argument),
      [&] { return device_->process(reading), true; });
}

void Session::Close() {
  reading_ = false;
  std::optional<Failure> first;
  const auto step = [&](const std::string& words, auto undo) {
    try {
      Run(words, [&] { return undo(), true; });
    } catch (const Failure& failure) {
      if (!first) first = failure;
    }
  };
  // What came from the library goes before the library.
  if (device_) step("the destruction of its device", [&] { device_.reset(); });
  if (!providers_.empty()) step("the release of its providers", [&] { providers_.clear(); });
  if (library_) {
    step("the unloading of " + shown_path_, [&] { stays_loaded_ = !library_->Unload(); });
    library_.reset();
  }
  if (stays_loaded_) {  // its static destructors run at velk-run's exit, watched to the end
    watch::Doing(false, "after dlclose, which left it loaded");
    std::atexit([] { watch::Doing(true, "during its static destructors at exit"); });
  } else {
    watch::Stop();
  }
  if (first) throw *first;
}

template <typename Step>
void Session::Run(const std::string& words, Step step) {
  watch::Doing(true, "during " + words + (reading_ ? Processed() : ""));
  std::optional<Failure> failure;
  try {
    if (!step()) failure = Failure{"the device refused " + words};
  } catch (const Failure& worded) {  // the loader's, naming the plug-in
    failure = worded;
  } catch (...) {
    // Perhaps the plug-in's own: only its text outlives this block, and the library.
    failure =
        Failure{words + " failed: " + velk::CaughtExceptionText() + (reading_ ? Processed() : "")};
  }
  const std::optional<Failure> lost = OutputLost();
  if (reading_ && !failure) ++processed_;  // its round ran, whatever became of its output
  watch::Doing(false, "between steps" + Processed());
  if (failure || lost) throw failure ? *failure : *lost;
}

std::optional<Failure> Session::OutputLost() {
  // However the plug-in writes (std::endl, "\n", printf), its log is out where no crash takes it.
  std::cout.flush();
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) std::cout.setstate(std::ios::badbit);
  std::string lost;
  if (events_.error != 0 && !std::exchange(events_lost_, true)) {
    lost = std::string("cannot write the events: ") + std::strerror(events_.error);
  } else if (!std::cout && !std::exchange(log_lost_, true)) {
    lost = "cannot write the plug-in's log to standard output";
  } else {
    return std::nullopt;
  }
  // A reading's round ran; only what it wrote is missing.
  if (reading_) lost += "; stopped after " + std::to_string(processed_ + 1) + " reading";
  if (reading_ && processed_ > 0) lost += "s";
  return Failure{lost};
}

std::string Session::Processed() const {
  if (processed_ == 0) return "; no reading was processed";
  const char* rest = processed_ == 1 ? " reading before it was" : " readings before it were";
  return "; the " + std::to_string(processed_) + rest + " processed";
}

namespace watch {

namespace {

const std::pair<int, const char*> kFatalSignals[] = {
    {SIGSEGV, "SIGSEGV"}, {SIGBUS, "SIGBUS"},   {SIGFPE, "SIGFPE"}, {SIGILL, "SIGILL"},
    {SIGABRT, "SIGABRT"}, {SIGTRAP, "SIGTRAP"}, {SIGSYS, "SIGSYS"}};

// A report reads static storage, through lock-free atomics where it changes: words are written
// into the other half of the pair, then published.
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

// The first thread to report goes on; any other (velk-run's too) waits for the end it brings.
void ClaimReport() {
  if (reporting.exchange(true)) {
    for (;;) pause();
  }
}

// One line in one write, built with only what a signal handler may call.
void WriteReport(std::initializer_list<std::string_view> parts) {
  char line[4400];
  std::size_t size = 0;
  for (std::string_view part : parts) size += part.copy(line + size, sizeof(line) - 1 - size);
  line[size++] = '\n';
  while (write(STDERR_FILENO, line, size) < 0 && errno == EINTR) {
  }
}

void RestoreActions() {
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  for (std::size_t i = 0; i < std::size(kFatalSignals); ++i) {
    if (watched[i]) sigaction(kFatalSignals[i].first, &default_action, nullptr);
  }
}

extern "C" void OnFatalSignal(int number) {
  const int saved_errno = errno;
  if (Watching()) {
    ClaimReport();
    const char* name = nullptr;
    for (const auto& [fatal, fatal_name] : kFatalSignals)
      name = fatal == number ? fatal_name : name;
    const Words* now = doing.load();
    if (now->in_step) {
      WriteReport({"velk-run: the plug-in crashed (", name, ") ", {now->text, now->size}});
    } else {
      WriteReport({"velk-run: ", name, " while the plug-in was loaded, ", {now->text, now->size}});
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
  stack_t stack, ours{};  // members by name: their order is the architecture's
  ours.ss_sp = signal_stack;
  ours.ss_size = sizeof(signal_stack);
  own_stack = sigaltstack(nullptr, &stack) == 0 &&
              ((stack.ss_flags & SS_DISABLE) != 0 || stack.ss_size < sizeof(signal_stack)) &&
              sigaltstack(&ours, &replaced_stack) == 0;
  struct sigaction action {};
  action.sa_handler = OnFatalSignal;
  action.sa_flags = SA_ONSTACK;
  sigfillset(&action.sa_mask);  // nothing else runs while a failure is reported
  for (std::size_t i = 0; i < std::size(kFatalSignals); ++i) {
    struct sigaction replaced;
    watched[i] = sigaction(kFatalSignals[i].first, nullptr, &replaced) == 0 &&
                 (replaced.sa_flags & SA_SIGINFO) == 0 && replaced.sa_handler == SIG_DFL &&
                 sigaction(kFatalSignals[i].first, &action, nullptr) == 0;
  }
  watcher = getpid();
}

void Stop() {
  watcher = 0;
  RestoreActions();
  if (own_stack) sigaltstack(&replaced_stack, nullptr);
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
  const Words* now = doing.load();
  WriteReport({"velk-run: the plug-in called ", function, "() ", {now->text, now->size}});
  _exit(velk::kFailed);
}

}  // namespace watch
}  // namespace velk_run
