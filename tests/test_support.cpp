#include "test_support.h"

#include <algorithm>
#include <memory>

#include <json/writer.h>

namespace velk_test {

std::string JournalLine(const Json::Value& event) {
  Json::Value shown = event;
  shown.removeMember("time");
  if (shown.isMember("record") && shown["record"].isString()) {
    const std::string record = shown["record"].asString();
    if (record.size() == 30) shown["record"] = record.substr(0, 16) + "~";
  }
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  builder["precision"] = 9;
  return Json::writeString(builder, shown);
}

std::vector<std::string> JournalLines() {
  std::vector<std::string> lines;
  for (const Json::Value& event : standin::HostJournal::Instance().Calls()) {
    lines.push_back(JournalLine(event));
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
