// Shared by the tests: a recorder of the host's calls read as events and as comparable lines,
// captured standard output, and a fixture that records each test's calls.
#pragma once

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/value.h>

#include "host_standin/recorder.h"
#include "host_standin/recorder.h"

namespace velk_test {

// The stand-in's recorder as the tests read it: each kept line parsed back into its event.
class Journal : public standin::Recorder {
 public:
  std::vector<Json::Value> Calls() const;
  std::vector<std::string> CallNames() const;
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
