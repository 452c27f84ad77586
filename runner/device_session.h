// One device of a loaded plug-in, driven as velk-run drives it: every host call the device
// makes becomes one JSON line on the event stream, and a step's lines (a reading's round, the
// settings, a restore) are written as soon as the step is done, before the next one starts.
// Owns the library, its providers and the device; the plug-in writes its log to std::cout.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <json/value.h>

#include "runner/event_writer.h"
#include "runner/plugin_library.h"

namespace velk_run {

class DeviceSession {
 public:
  // Loads the plug-in at `plugin_path` and creates its device; throws std::runtime_error
  // naming the plug-in and the call that failed.
  DeviceSession(const std::string& plugin_path, std::ostream& events);
  ~DeviceSession();
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  // Each step lets the device's own exceptions through after writing the events it made.
  // Each throws OutputLost when the events or the plug-in's log could not be written.
  void SetDataId(std::uint32_t data_id) { device_->data_id_ = data_id; }
  void Configure(const Json::Value& config);
  void Restore(const std::array<unsigned char, 15>& record);
  void Process(short reading);
  // Flushes the plug-in's log; throws OutputLost when any of it was lost.
  void Finish();

 private:
  template <typename Step>
  void Run(Step step);
  void CheckWritten();

  PluginLibrary library_;
  std::vector<std::shared_ptr<Provider> > providers_;
  // Destroyed before the providers and the library that holds its code.
  std::unique_ptr<DranAIDevice> device_;
  EventWriter events_;
};

}  // namespace velk_run
