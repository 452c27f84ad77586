#include "runner/device_session.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "host_standin/host_journal.h"
#include "host_standin/record_format.h"
#include "runner/errors.h"

namespace velk_run {

namespace {

// What the session is doing, for the report of a plug-in that fails or dies in the middle of
// it. Plain data in one place, since a signal handler reads it.
struct Activity {
  const EventWriter* events = nullptr;  // set while a session lives
  const char* step = nullptr;           // none between the plug-in's steps
  const char* detail = "";              // the step's path, configuration or record, quoted
  bool reading = false;
  std::uint64_t line = 0;  // a reading's line of standard input; 0 for an argument
  std::uint64_t argument = 0;
  std::uint64_t processed = 0;
} activity;

constexpr struct {
  int number;
  const char* name;
} kFatalSignals[] = {{SIGSEGV, "SIGSEGV"},
                     {SIGBUS, "SIGBUS"},
                     {SIGFPE, "SIGFPE"},
                     {SIGILL, "SIGILL"},
                     {SIGABRT, "SIGABRT"}};
struct sigaction previous_actions[std::size(kFatalSignals)];
// A stack overflow in the plug-in leaves no stack for the handler: it runs on its own.
alignas(16) char signal_stack[64 * 1024];

void Enter(const char* step, const char* detail = "", bool reading = false) {
  activity.step = step;
  activity.detail = detail;
  activity.reading = reading;
}

// `before`, the step, `after`, and for a reading how far the readings got: those before it
// ran their rounds, and they stay done.
void Word(MessageLine& line, std::string_view before, std::string_view after) {
  line << before;
  if (!activity.reading) {
    line << activity.step << activity.detail;
  } else if (activity.line != 0) {
    line << "the reading on line " << activity.line << " of standard input";
  } else {
    line << "the reading of argument " << activity.argument;
  }
  line << after;
  if (activity.reading) AppendProcessed(line, activity.processed);
}

std::string Worded(std::string_view before, std::string_view after) {
  MessageLine line;
  Word(line, before, after);
  return line.text();
}

// The events of the unfinished step, then one line, then the end: nothing the plug-in did
// can be trusted to go on. Only what a signal handler may call.
[[noreturn]] void ReportDeath(std::string_view what) {
  WriteAll(activity.events->fd(), activity.events->Unsent());
  MessageLine line;
  Word(line << "velk-run: ", what, "");
  WriteAll(STDERR_FILENO, (line << "\n").view());
  _exit(kFailed);
}

extern "C" void OnFatalSignal(int signal) {
  // Outside the plug-in's steps it is velk-run's own fault: the handler is gone (one shot),
  // and the signal comes again, or is raised again, to end the run as it would have.
  if (activity.step == nullptr) {
    raise(signal);
    return;
  }
  MessageLine what;
  for (const auto& fatal : kFatalSignals) {
    if (fatal.number == signal) what << "the plug-in crashed (" << fatal.name << ") during ";
  }
  ReportDeath(what.view());
}

extern "C" void OnExit() {
  if (activity.step == nullptr) return;
  // The plug-in's last log lines, which _exit would drop.
  std::cout.flush();
  std::fflush(stdout);
  ReportDeath("the plug-in called exit() during ");
}

}  // namespace

DeviceSession::Watch::Watch(EventWriter& events) {
  if (activity.events != nullptr) throw std::logic_error("one device session at a time");
  activity = Activity{&events};
  standin::HostJournal& journal = standin::HostJournal::Instance();
  // A long run only prints its events; keeping them all would grow without end.
  journal.SetKeepCalls(false);
  journal.SetListener([&events](const standin::HostCall& call) { events.Add(call); });
  static const int exit_watched = std::atexit(OnExit);
  (void)exit_watched;
  stack_t stack{};
  stack.ss_sp = signal_stack;
  stack.ss_size = sizeof(signal_stack);
  sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_handler = OnFatalSignal;
  action.sa_flags = SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kFatalSignals); ++i) {
    sigaction(kFatalSignals[i].number, &action, &previous_actions[i]);
  }
}

DeviceSession::Watch::~Watch() {
  for (std::size_t i = 0; i < std::size(kFatalSignals); ++i) {
    sigaction(kFatalSignals[i].number, &previous_actions[i], nullptr);
  }
  activity = Activity{};
  standin::HostJournal::Instance().SetListener(nullptr);
  standin::HostJournal::Instance().SetKeepCalls(true);
}

DeviceSession::DeviceSession(const std::string& plugin_path, int events_fd)
    : events_(events_fd), watch_(events_), shown_path_(Quoted(plugin_path)) {
  Enter("the loading of ", shown_path_.c_str());
  library_.emplace(plugin_path);
  Enter("get_providers");
  providers_ = library_->GetProviders();
  Enter("create() of its device provider");
  device_ = library_->CreateDevice(providers_);
  Enter(nullptr);
}

DeviceSession::~DeviceSession() {
  // What came from the library goes before the library.
  Enter("the destruction of its device");
  device_.reset();
  providers_.clear();
  Enter("the unloading of ", shown_path_.c_str());
  library_.reset();
  Enter(nullptr);
}

void DeviceSession::Configure(std::uint32_t data_id, const Json::Value& config,
                              const std::string& described) {
  detail_ = described;
  Enter("", detail_.c_str());
  Run([&] {
    device_->data_id_ = data_id;
    return static_cast<bool>(device_->InitSetting(config));
  });
}

void DeviceSession::Restore(const Record& record) {
  detail_ = Quoted(standin::ToHex(record.data(), record.size()));
  Enter("the restore of record ", detail_.c_str());
  Run([&] { return device_->LoadFromCache(record.data(), static_cast<int>(record.size())); });
}

void DeviceSession::Process(short reading, std::uint64_t line, std::uint64_t argument) {
  activity.line = line;
  activity.argument = argument;
  Enter("", "", true);
  Run([&] {
    device_->process(reading);
    return true;
  });
  ++activity.processed;
}

Failure DeviceSession::Stopped(const std::string& problem) const {
  MessageLine processed;
  AppendProcessed(processed, activity.processed);
  return Failure{kFailed, problem + processed.text()};
}

void DeviceSession::Finish() {
  // What went around std::cout (C stdio in a plug-in) is flushed here, not at exit where a
  // failure would go unseen.
  std::cout.flush();
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) std::cout.setstate(std::ios::badbit);
  CheckWritten();
}

template <typename Step>
void DeviceSession::Run(Step step) {
  bool accepted;
  try {
    accepted = step();
  } catch (...) {
    // The exception may be the plug-in's own: only its text leaves this block, so nothing of
    // it is left when the library is unloaded. The step's events go out before its error.
    const std::string failed = Worded("", " failed: " + CaughtExceptionText());
    CheckWritten();
    throw Failure{kFailed, failed};
  }
  CheckWritten();
  if (!accepted) throw Failure{kFailed, Worded("the device refused ", "")};
  Enter(nullptr);
}

void DeviceSession::CheckWritten() {
  const int error = events_.Flush();
  // The plug-in flushes each line itself; a failed one leaves the stream failed.
  if (error == 0 && std::cout) return;
  std::string message =
      error != 0 ? "cannot write the events" : "cannot write the plug-in's log to standard output";
  if (error > 0) message += std::string(": ") + std::strerror(error);
  // The reading's round ran; only its output is missing.
  if (activity.reading) {
    const std::uint64_t done = activity.processed + 1;
    message += "; stopped after " + std::to_string(done) + (done == 1 ? " reading" : " readings");
  }
  throw Failure{kFailed, message};
}

}  // namespace velk_run
