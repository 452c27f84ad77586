#include "runner/session.h"

#include <cxxabi.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <type_traits>
#include <utility>

namespace velk_run {

using velk::Failure;

namespace {

// Set in a child that the plug-in forks: what it does is not the run's.
bool in_forked_child = false;

// The session whose worker is exiting, for its last check after every destructor.
Session* ending = nullptr;

// The clock of FixClock, which time() answers; none: the machine's.
std::optional<std::time_t> fixed_clock;
std::time_t clock_step = 0;
bool first_round = true;

void NextRound() {
  if (fixed_clock && !std::exchange(first_round, false)) *fixed_clock += clock_step;
}

}  // namespace

void FixClock(std::time_t first, std::time_t step) {
  fixed_clock = first;
  clock_step = step;
}

Session::Session(int events_fd, Progress& progress, Report& report)
    : events_fd_(events_fd), progress_(progress), report_(report) {
  pthread_atfork(nullptr, nullptr, [] { in_forked_child = true; });
  progress_.Say(false, "before the plug-in was loaded");
}

void Session::Write(std::string_view line) {
  if (in_forked_child || events_error_ != 0) return;
  // What the plug-in logged before the call goes out before its event, so that with both
  // streams in one file the lines keep the order of the calls. Costs nothing when nothing waits.
  std::cout.flush();
  std::fflush(stdout);
  events_error_ = WriteAll(events_fd_, line);
}

void Session::Load(const std::string& plugin_path) {
  shown_path_ = velk::Quoted(plugin_path);
  Run("the loading of " + shown_path_, [&] { library_.emplace(plugin_path); });
  Run("get_providers", [&] { providers_ = library_->GetProviders(); });
  Run("create() of its device provider", [&] { device_ = library_->CreateDevice(providers_); });
}

void Session::Configure(std::uint32_t data_id, const Json::Value& config,
                        const std::string& described) {
  device_->data_id_ = data_id;
  Run(described, [&] { return static_cast<bool>(device_->InitSetting(config)); });
}

void Session::Restore(const Record& record) {
  NextRound();
  Run("the restore of record " + velk::Quoted(standin::ToHex(record.data(), record.size())),
      [&] { return device_->LoadFromCache(record.data(), static_cast<int>(record.size())); });
}

void Session::Process(short reading, std::uint64_t line, std::uint64_t argument) {
  reading_ = true;
  NextRound();
  Run(line != 0 ? "the reading on line " + std::to_string(line) + " of standard input"
                : "the reading of argument " + std::to_string(argument),
      [&] { device_->process(reading); });
}

std::string Session::Processed() const {
  if (processed_ == 0) return "; no reading was processed";
  const char* rest = processed_ == 1 ? " reading before it was" : " readings before it were";
  return "; the " + std::to_string(processed_) + rest + " processed";
}

void Session::Close() {
  reading_ = false;
  std::optional<Failure> first;
  const auto step = [&](const std::string& words, auto undo) {
    try {
      Run(words, undo);
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
    progress_.Say(false, "after the plug-in was unloaded");
  }
  if (first) throw *first;
}

void Session::Exit() {
  if (stays_loaded_) progress_.Say(true, "during its static destructors at exit");
  ending = this;
  std::exit(report_.Status());
}

void Session::Finish() {
  if (const std::optional<Failure> lost = OutputLost()) report_.Failed(*lost);
  progress_.finished = true;
  _exit(report_.Status());
}

namespace {

// The worker's last word, once the destructors of every object the plug-in could have written
// from have run. glibc finalizes the program before the libraries it loaded, so the plug-in's
// destructor functions are still to come: a function registered for no library runs after them
// all. musl finalizes in the reverse order of loading, so the plug-in's have run already.
__attribute__((destructor)) void AfterTheDestructors() {
  if (ending == nullptr) return;  // an exit of the plug-in's, not the worker's own
#if defined(__GLIBC__)
  abi::__cxa_atexit([](void*) { ending->Finish(); }, nullptr, nullptr);
#else
  ending->Finish();
#endif
}

}  // namespace

template <typename Action>
void Session::Run(const std::string& words, Action action) {
  progress_.Say(true, "during " + words + (reading_ ? Processed() : ""));
  std::optional<Failure> failure;
  try {
    if constexpr (std::is_void_v<decltype(action())>) {
      action();
    } else if (!action()) {
      failure = Failure{"the device refused " + words};
    }
  } catch (const Failure& worded) {  // the loader's, naming the plug-in
    failure = worded;
  } catch (...) {
    // Perhaps the plug-in's own: only its text outlives this block, and the library.
    failure =
        Failure{words + " failed: " + velk::CaughtExceptionText() + (reading_ ? Processed() : "")};
  }
  const std::optional<Failure> lost = OutputLost();
  if (reading_ && !failure) ++processed_;  // its round ran, whatever became of its output
  // Between steps velk-run's own code runs, or a thread the plug-in left: say only when.
  progress_.Say(false, "between steps" + (reading_ ? Processed() : ""));
  if (failure && lost) report_.Failed(*failure);  // both are told, the step's own first
  if (failure || lost) throw lost ? *lost : *failure;
}

std::optional<Failure> Session::OutputLost() {
  // However the plug-in writes (std::endl, "\n", printf), its log is out where no crash takes it.
  std::cout.flush();
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) std::cout.setstate(std::ios::badbit);
  std::string lost;
  if (events_error_ != 0 && !std::exchange(events_lost_, true)) {
    lost = std::string("cannot write the events: ") + std::strerror(events_error_);
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

}  // namespace velk_run

// The plug-in reads the time through the C library's time(), as Boost's second_clock does.
extern "C" std::time_t time(std::time_t* result) noexcept {
  timespec real{};
  if (!velk_run::fixed_clock) clock_gettime(CLOCK_REALTIME, &real);
  const std::time_t moment = velk_run::fixed_clock.value_or(real.tv_sec);
  if (result != nullptr) *result = moment;
  return moment;
}
