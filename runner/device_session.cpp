#include "runner/device_session.h"

#include <iostream>

#include "host_standin/host_journal.h"
#include "runner/output_lost.h"

namespace velk_run {

DeviceSession::DeviceSession(const std::string& plugin_path, std::ostream& events)
    : library_(plugin_path),
      providers_(library_.GetProviders()),
      device_(CreateDevice(FindDeviceProvider(providers_, plugin_path), plugin_path)),
      events_(events, "the events") {
  standin::HostJournal& journal = standin::HostJournal::Instance();
  // A long run only prints its events; keeping them all would grow without end.
  journal.SetKeepCalls(false);
  journal.SetListener([this](const Json::Value& event) { events_.Add(event); });
}

DeviceSession::~DeviceSession() {
  standin::HostJournal& journal = standin::HostJournal::Instance();
  journal.SetListener(nullptr);
  journal.SetKeepCalls(true);
}

void DeviceSession::Configure(const Json::Value& config) {
  Run([&] { device_->InitSetting(config); });
}

void DeviceSession::Restore(const std::array<unsigned char, 15>& record) {
  Run([&] { device_->LoadFromCache(record.data(), static_cast<int>(record.size())); });
}

void DeviceSession::Process(short reading) {
  Run([&] { device_->process(reading); });
}

void DeviceSession::Finish() {
  std::cout.flush();
  CheckWritten();
}

template <typename Step>
void DeviceSession::Run(Step step) {
  try {
    step();
  } catch (...) {
    // What the failed step did still happened: its events go out before its error.
    CheckWritten();
    throw;
  }
  CheckWritten();
}

void DeviceSession::CheckWritten() {
  events_.Flush();
  // The plug-in flushes each line itself; a failed one leaves the stream failed.
  if (!std::cout) throw OutputLost("the plug-in's log to standard output", 0);
}

}  // namespace velk_run
