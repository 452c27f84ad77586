// Feeds arbitrary bytes, read as JSON, to a temperature device's settings loading on the host
// stand-in. A configuration the daemon accepts must never cost the device: any exception out
// of InitSetting ends the run as a crash, as do the sanitizers' findings.
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <memory>
#include <streambuf>

#include <json/reader.h>
#include <json/value.h>

#include "devices/velk_temperature.h"

namespace {

// Takes every character, so the device's log lines are formatted in full but kept nowhere.
class NullBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

NullBuffer null_buffer;
std::unique_ptr<Json::CharReader> reader;

// The daemon's own reader settings are unknown: take jsoncpp's defaults, plus NaN and
// infinities, so that numbers whose text is odd reach the device too.
std::unique_ptr<Json::CharReader> MakeReader() {
  Json::CharReaderBuilder builder;
  builder["allowSpecialFloats"] = true;
  return std::unique_ptr<Json::CharReader>(builder.newCharReader());
}

// Not a configuration at all: jsoncpp reports some of these by throwing (nesting too deep).
bool Parse(const uint8_t* data, size_t size, Json::Value& config) {
  const char* text = reinterpret_cast<const char*>(data);
  try {
    return reader->parse(text, text + size, &config, nullptr);
  } catch (const Json::Exception&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::cout.rdbuf(&null_buffer);
  reader = MakeReader();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Json::Value config;
  if (!Parse(data, size, config)) return 0;
  // A new device per input, so no input depends on what an earlier one left behind. The
  // second call runs with the mode the first one set, as a later configuration does.
  VelkTemperature device;
  device.data_id_ = 17;
  device.InitSetting(config);
  device.InitSetting(config);
  return 0;
}
