#include "runner/session.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "runner/watch.h"

namespace velk_run {

using velk::Failure;

namespace {

// All of `text`, going on after a partial write or an interruption: 0, or the errno.
int WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? errno : EIO;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

std::string Counted(std::uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + (count == 1 ? one : many);
}

}  // namespace

int Report(const Failure& failure) {
  WriteAll(STDERR_FILENO, "velk-run: " + failure.message + "\n");
  return failure.status;
}

Session::EventSink::EventSink(int fd) : fd(fd), pid(getpid()) {}

void Session::EventSink::Write(std::string_view line) {
  if (error == 0 && getpid() == pid) error = WriteAll(fd, line);
}

Session::~Session() {
  if (!stays_loaded_) return;
  watch::Doing(false, "after its static destructors, at the exit of velk-run");
  if (const std::optional<Failure> lost = OutputLost()) _exit(Report(*lost));
}

void Session::Load(const std::string& plugin_path) {
  shown_path_ = velk::Quoted(plugin_path);
  watch::Start("during the loading of " + shown_path_);
  watching_ = true;
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

Failure Session::Stopped(const std::string& problem) const {
  return Failure{problem + Processed()};
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
    std::atexit(
        [] { watch::Doing(true, "during its static destructors, at the exit of velk-run"); });
  } else if (watching_) {
    watch::Stop();
  }
  watching_ = false;
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
    // The exception may be the plug-in's own: only its text leaves this block, so nothing of it
    // is left when the library is unloaded.
    failure =
        Failure{words + " failed: " + velk::CaughtExceptionText() + (reading_ ? Processed() : "")};
  }
  const std::optional<Failure> lost = OutputLost();
  if (reading_ && !failure) ++processed_;  // its round ran, whatever became of its output
  watch::Doing(false, "between steps" + Processed());
  if (failure || lost) throw failure ? *failure : *lost;
}

std::optional<Failure> Session::OutputLost() {
  // Whatever way the plug-in writes its log (std::endl, "\n", printf), what it wrote in the
  // step is out now, where a crash later cannot take it.
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
  if (reading_) lost += "; stopped after " + Counted(processed_ + 1, " reading", " readings");
  return Failure{lost};
}

std::string Session::Processed() const {
  if (processed_ == 0) return "; no reading was processed";
  return "; the " + Counted(processed_, " reading before it was", " readings before it were") +
         " processed";
}

}  // namespace velk_run
