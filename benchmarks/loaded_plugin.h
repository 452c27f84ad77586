// The shipped velk_temperature.so, loaded as the daemon loads it and bound to the stand-in
// host with no recorder in place: the host's services answer at once, so what is measured is
// the plug-in's own cost. Shared by the benchmarks and the cost probe.
#pragma once

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <json/value.h>

#include "host/dran_ai_device_provider.h"
#include "loader/plugin_library.h"

namespace velk_bench {

class LoadedPlugin {
 public:
  LoadedPlugin();
  std::unique_ptr<DranAIDevice> NewDevice() const;

 private:
  velk::PluginLibrary library_;
  std::vector<std::shared_ptr<Provider> > providers_;
};

// Sends std::cout to /dev/null for as long as it lives.
class SilencedStdout {
 public:
  SilencedStdout() : null_("/dev/null"), previous_(std::cout.rdbuf(null_.rdbuf())) {}
  ~SilencedStdout() { std::cout.rdbuf(previous_); }

 private:
  std::ofstream null_;
  std::streambuf* previous_;
};

// A log line as the plug-in writes one: built on the stack, written in one call, then flushed.
// A round's two such lines are the floor under it.
template <typename Integer>
void WriteLogLine(std::string_view text, Integer number) {
  char line[64];
  char* end = std::copy(text.begin(), text.end(), line);
  end = std::to_chars(end, line + sizeof(line) - 1, number).ptr;
  *end++ = '\n';
  std::cout.write(line, end - line);
  std::cout.flush();
}

// A configuration in the form the daemon hands over, in mode 3 with `signals` signals.
Json::Value ConfigWithSignals(int signals);

}  // namespace velk_bench
