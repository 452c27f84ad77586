// Shared by the tests: a recorder of the host's calls read as events and as comparable lines,
// captured standard output, and a fixture that records each test's calls.
#pragma once

#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/value.h>

#include "host_standin/recorder.h"

namespace velk_test {

// The stand-in's recorder as the tests read and script it: each line kept, and parsed back into
// its event; the host's answers and what a service does once its call is written, as scripted.
class Journal : public standin::Recorder {
 public:
  using Hook = std::function<void(DranVDevice& device)>;

  const std::vector<std::string>& Lines() const { return lines_; }
  std::vector<Json::Value> Calls() const;
  std::vector<std::string> CallNames() const;
  void Clear();  // forgets the lines kept and every script

  // Answers for the calls to come, oldest first; with none queued a call answers false.
  void QueueReportResults(const std::vector<bool>& results) {
    answers.InTurn("CheckAOReport", results);
  }
  void QueueBatchResults(const std::vector<bool>& batch) {
    answers.InTurn("DoBatchCheckThreshold", batch);
  }
  void SetInitSettingResult(bool result) { answers.Always("InitSetting", result); }
  // Runs in a device's service `call` once it is recorded; ThrowOn's throws at the occurrence-th.
  void OnCall(const std::string& call, Hook hook) { hooks_[call] = std::move(hook); }
  void ThrowOn(const std::string& call, int occurrence = 1);

  void Write(std::string_view line) override { lines_.emplace_back(line); }
  void Called(std::string_view call, DranVDevice& device) override;

 private:
  std::vector<std::string> lines_;
  std::map<std::string, Hook, std::less<>> hooks_;
};

// The lines of the journal in place, each without what varies from run to run: the "time"
// member goes, and the record's time bytes (its last 14 hex digits) read "~".
std::vector<std::string> JournalLines();

// Redirects std::cout into a string for as long as it lives, and notes where the stream was
// flushed: every log line must end with std::endl (a newline and a flush), or the daemon's log
// may lose or delay it.
class CapturedStdout {
 public:
  CapturedStdout() : previous_(std::cout.rdbuf(&buffer_)) {}
  ~CapturedStdout() { std::cout.rdbuf(previous_); }
  std::string Text() const { return buffer_.str(); }
  std::vector<std::string> Lines() const;
  // The lines whose newline was not followed at once by a flush.
  std::vector<std::string> UnflushedLines() const;

 private:
  class Buffer : public std::stringbuf {
   public:
    // Characters written at each flush, in order.
    std::vector<std::size_t> flushes;

   protected:
    int sync() override {
      flushes.push_back(static_cast<std::size_t>(pptr() - pbase()));
      return 0;
    }
  };

  Buffer buffer_;
  std::streambuf* previous_;
};

// Records every host call a test makes.
class JournalTest : public ::testing::Test {
 protected:
  Journal& journal() { return journal_; }

 private:
  Journal journal_;
};

// The record's 15 bytes as lower-case hex.
template <typename Record>
std::string HexOf(const Record& record) {
  return standin::ToHex(reinterpret_cast<const unsigned char*>(&record), sizeof(record));
}

}  // namespace velk_test
