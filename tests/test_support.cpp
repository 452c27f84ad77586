#include "test_support.h"

#include <algorithm>
#include <memory>
#include <cctype>
#include <stdexcept>

#include <json/reader.h>

namespace velk_test {

std::vector<Json::Value> Journal::Calls() const {
  const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
  std::vector<Json::Value> calls;
  for (const std::string& line : Lines()) {
    Json::Value& call = calls.emplace_back();
    EXPECT_TRUE(reader->parse(line.data(), line.data() + line.size(), &call, nullptr)) << line;
  }
  return calls;
}

std::vector<std::string> Journal::CallNames() const {
  std::vector<std::string> names;
  for (const Json::Value& call : Calls()) names.push_back(call["call"].asString());
  return names;
}

void Journal::Clear() {
  lines_.clear();
  answers.Clear();
  hooks_.clear();
}

void Journal::ThrowOn(const std::string& call, int occurrence) {
  hooks_[call] = [call, occurrence](DranVDevice&) mutable {
    if (--occurrence == 0) throw std::runtime_error("scripted failure of " + call);
  };
}

void Journal::Called(std::string_view call, DranVDevice& device) {
  const auto hook = hooks_.find(call);
  if (hook != hooks_.end()) hook->second(device);
}

namespace {

// The line without its "time" member (the events' time is the wall clock's).
std::string WithoutTime(std::string line) {
  const std::string member = ",\"time\":\"";
  const std::size_t start = line.find(member);
  if (start == std::string::npos) return line;
  const std::size_t end = line.find('"', start + member.size());
  if (end == std::string::npos) return line;
  line.erase(start, end + 1 - start);
  return line;
}

// The line with its record's time bytes, the last 14 of its 30 hex digits, as "~".
std::string WithRecordTimeAsTilde(std::string line) {
  const std::string member = "\"record\":\"";
  const std::size_t start = line.find(member);
  if (start == std::string::npos) return line;
  const std::size_t digits = start + member.size();
  std::size_t end = digits;
  while (end < line.size() && std::isxdigit(static_cast<unsigned char>(line[end]))) ++end;
  if (end - digits != 30 || end == line.size() || line[end] != '"') return line;
  line.replace(digits + 16, 14, "~");
  return line;
}

}  // namespace

std::vector<std::string> JournalLines() {
  const auto* journal = dynamic_cast<const Journal*>(standin::Recorder::Current());
  std::vector<std::string> lines;
  for (const std::string& line : journal != nullptr ? journal->Lines() : std::vector<std::string>()) {
    lines.push_back(WithRecordTimeAsTilde(WithoutTime(line)));
    lines.back().pop_back();  // the newline
  }
  return lines;
}

std::vector<std::string> CapturedStdout::Lines() const {
  std::vector<std::string> lines;
  std::istringstream text(buffer_.str());
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> CapturedStdout::UnflushedLines() const {
  const std::string text = Text();
  std::vector<std::string> unflushed;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos;
       start = end + 1, end = text.find('\n', start)) {
    if (!std::binary_search(buffer_.flushes.begin(), buffer_.flushes.end(), end + 1)) {
      unflushed.push_back(text.substr(start, end - start));
    }
  }
  return unflushed;
}

}  // namespace velk_test
