#include "runner/scenario_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host_standin/event_writer.h"
#include "loader/failure.h"
#include "runner/clock.h"
#include "runner/report.h"
#include "runner/session.h"

namespace velk_run {

namespace {

// After the step's events: what it returned and the device's flags after it, and where its log
// ends in the log file.
void StepEnded(int channel, std::size_t number, float value, const DranAIDevice& device) {
  standin::Event line(nullptr);
  line.Int("step", static_cast<std::int64_t>(number)).Float("value", value);
  line.Bool("changed", device.changed_).Bool("need_report", device.need_report_);
  line.Int("log_end", lseek(STDOUT_FILENO, 0, SEEK_CUR));
  standin::WriteAll(channel, line.Line());
}

// A temporary file, gone with its last descriptor.
int TemporaryFile(const char* what) {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) {
    throw velk::Failure{std::string("cannot make a temporary file for ") + what + ": " +
                        std::strerror(errno)};
  }
  const int fd = dup(fileno(file));
  std::fclose(file);
  return fd;
}

}  // namespace

WorkerFiles::WorkerFiles() : log(TemporaryFile("the log")), errors(TemporaryFile("its messages")) {}

WorkerFiles::~WorkerFiles() {
  close(log);
  close(errors);
}

std::vector<std::string> WorkerFiles::FailureLines() const {
  std::vector<std::string> lines;
  lseek(errors, 0, SEEK_SET);  // the worker's writes left the offset at their end
  std::FILE* file = fdopen(dup(errors), "r");
  char* line = nullptr;
  std::size_t size = 0;
  for (ssize_t length; file != nullptr && (length = getline(&line, &size, file)) > 0;) {
    const std::string text(line, static_cast<std::size_t>(length) - (line[length - 1] == '\n'));
    // velk-run's lines are printable ASCII already; one of other bytes is the plug-in's forgery.
    const bool printable =
        std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
    if (text.rfind("velk-run: ", 0) == 0) lines.push_back(printable ? text : velk::Escaped(text));
  }
  std::free(line);
  if (file != nullptr) std::fclose(file);
  return lines;
}

void RunScenario(const Scenario& scenario, const std::string& plugin, int channel,
                 const WorkerFiles& files, Progress& progress) {
  // What the plug-in's libraries write in the program's name (errx(), error()) is the plug-in's.
  const std::string plugin_name = plugin.substr(plugin.rfind('/') + 1);
  program_invocation_name = const_cast<char*>(plugin_name.c_str());
  program_invocation_short_name = program_invocation_name;
  // Nothing of a scenario reads standard input.
  const int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
  dup2(nothing, STDIN_FILENO);
  dup2(files.log, STDOUT_FILENO);
  dup2(files.errors, STDERR_FILENO);
  FixClock(scenario.clock, scenario.clock_step);
  Report report;
  Session session(channel, progress, report);
  for (const auto& [call, answer] : scenario.always) session.Answers().Always(call, answer);
  for (const auto& [call, answers] : scenario.in_turn) session.Answers().InTurn(call, answers);
  report.Catching([&] {
    session.Load(plugin);
    scenario.holds.HeldBy(session.Device());
    session.Configure(scenario.data_id, scenario.config, "the configuration");
    StepEnded(channel, 0, 0.0f, session.Device());
    for (std::size_t number = 1; number <= scenario.steps; ++number) {
      const Step step = StepOf(scenario, number);
      if (step.holds) step.holds->HeldBy(session.Device());
      float value = RecordValue(step.record);
      if (step.reading) {
        value = session.Process(*step.reading, step.name);
      } else {
        session.Restore(step.record, step.name);
      }
      StepEnded(channel, number, value, session.Device());
    }
  });
  report.Catching([&] { session.Close(); });
  session.Exit();
}

void StepReader::Take(std::string_view chunk) {
  partial_.append(chunk);
  std::size_t start = 0;
  for (std::size_t end = partial_.find('\n'); end != std::string::npos;
       end = partial_.find('\n', start)) {
    const std::string_view line(partial_.data() + start, end - start);
    // Events begin with their call, which sorts first; the worker's own lines have no call.
    if (line.substr(0, 8) == "{\"call\":") {
      step_.events.emplace_back(line);
    } else {
      StepEnded(line);
    }
    start = end + 1;
  }
  partial_.erase(0, start);
}

std::vector<std::string> StepReader::LogUpTo(off_t end) {
  std::string text(end > log_from_ ? static_cast<std::size_t>(end - log_from_) : 0, '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t read = pread(log_, &text[got], text.size() - got, log_from_ + got);
    if (read < 0 && errno == EINTR) continue;
    if (read <= 0) break;
    got += static_cast<std::size_t>(read);
  }
  text.resize(got);
  log_from_ += static_cast<off_t>(got);
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t newline = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, newline - start));
    start = newline + 1;
  }
  return lines;
}

void StepReader::StepEnded(std::string_view line) {
  step_.ended.Parse(line.data(), line.size());
  if (step_.ended.HasParseError() || !step_.ended.IsObject() || !step_.ended.HasMember("log_end")) {
    step_.ended.SetNull();  // not the worker's: the step goes on
    return;
  }
  step_.log = LogUpTo(step_.ended["log_end"].GetInt64());
  checker_.Step(number_++, step_);
  step_ = StepSeen();
}

std::size_t StepReader::Finish() {
  if (number_ > steps_) return steps_;  // what came after the last step was the teardown's
  struct stat file {};
  step_.log = LogUpTo(fstat(log_, &file) == 0 ? file.st_size : log_from_);
  step_.ended.SetNull();
  checker_.Step(number_, step_);
  return number_;
}

}  // namespace velk_run
