#include "runner/session.h"

#include <cxxabi.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <type_traits>
#include <utility>

#include "runner/clock.h"

namespace velk_run {

using velk::Failure;

namespace {

// The session whose worker is exiting, for its last check after every destructor.
Session* ending = nullptr;

}  // namespace

Session::Session(int events_fd, Progress& progress, Report& report)
    : events_(events_fd), progress_(progress), report_(report) {
  progress_.Say(false, "before the plug-in was loaded");
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

void Session::Restore(const Record& record, const std::string& words) {
  NextRound();
  Run(words,
      [&] { return device_->LoadFromCache(record.data(), static_cast<int>(record.size())); });
}

float Session::Process(short reading, const std::string& words) {
  reading_ = true;
  NextRound();
  float value = 0.0f;
  Run(words, [&] { value = device_->process(reading); });
  return value;
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
  exit_status_ = report_.Status();
  std::exit(exit_status_);
}

void Session::Finish() {
  if (const std::optional<Failure> lost = OutputLost()) report_.Failed(*lost);
  progress_.Finish(report_.Status());
  // The C library flushes the plug-in's own streams as the process ends; a failure found now
  // changes the status it ends with.
  if (report_.Status() != exit_status_) _exit(report_.Status());
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
  if (events_.Error() != 0 && !std::exchange(events_lost_, true)) {
    lost = std::string("cannot write the events: ") + std::strerror(events_.Error());
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
