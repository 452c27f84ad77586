// Shared by the tests: the journal as comparable lines, captured standard output, and a
// fixture that starts every test with an empty journal.
#pragma once

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/value.h>

#include "host_standin/host_journal.h"
#include "host_standin/record_format.h"

namespace velk_test {

// One journal event as compact JSON with sorted members. The wall-clock time varies from
// run to run, so it is left out: the "time" member goes and the record's time bytes
// (the last 14 hex digits) read "~".
std::string JournalLine(const Json::Value& event);
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

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override { journal().Clear(); }
  void TearDown() override { journal().Clear(); }
  static standin::HostJournal& journal() { return standin::HostJournal::Instance(); }
};

// The record's 15 bytes as lower-case hex.
template <typename Record>
std::string HexOf(const Record& record) {
  return standin::ToHex(reinterpret_cast<const unsigned char*>(&record), sizeof(record));
}

}  // namespace velk_test
