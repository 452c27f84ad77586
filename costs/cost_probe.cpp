// Runs one costed operation of the plug-in COUNT times, for the instruction counter. The cost
// of one is the difference between runs of COUNT and 2 x COUNT, so that starting the program
// and loading the plug-in cancel out.
//
//   velk_cost_probe round|mandated|time|services|settings|restore COUNT
//   velk_cost_probe load 0|1     loading up to the first device, or nothing
//   velk_cost_probe memory       prints sizeof a device and the heap it holds once configured
//
// The plug-in is the built velk_temperature.so, loaded as the benchmarks load it: bound to the
// stand-in host with no recorder in place, standard output (the plug-in's log) to /dev/null.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <new>
#include <string>

#include <json/value.h>
#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "benchmarks/loaded_plugin.h"
#include "devices/velk_temperature.h"
#include "loader/config.h"
#include "loader/failure.h"

namespace {

// Live heap bytes of the whole process, the plug-in's included: the program exports its
// operator new, so the plug-in allocates through it. Each block carries its size in front.
std::size_t live_bytes = 0;
constexpr std::size_t kHeader = alignof(std::max_align_t);

void* Allocate(std::size_t size) {
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (block == nullptr) throw std::bad_alloc();
  std::memcpy(block, &size, sizeof(size));
  live_bytes += size;
  return block + kHeader;
}

void Release(void* pointer) {
  if (pointer == nullptr) return;
  auto* block = static_cast<unsigned char*>(pointer) - kHeader;
  std::size_t size;
  std::memcpy(&size, block, sizeof(size));
  live_bytes -= size;
  std::free(block);
}

int Run(const std::string& scenario, long count) {
  if (scenario == "load" && count == 0) return 0;
  velk_bench::LoadedPlugin plugin;  // no recorder: the host services answer at once
  const std::size_t before = live_bytes;
  auto device = plugin.NewDevice();
  if (scenario == "load") return 0;

  if (scenario == "round") {
    for (long i = 0; i < count; ++i) device->process(1000);
  } else if (scenario == "mandated") {
    // The floor under a round: its two log lines, each written whole and flushed. The numbers
    // are read as the round reads them, not folded into the text at compile time.
    const volatile short reading = 1000;
    const volatile int rules = 1;
    for (long i = 0; i < count; ++i) {
      velk_bench::WriteLogLine("VelkTemperature process ", short{reading});
      velk_bench::WriteLogLine("rvSize is ", int{rules});
    }
  } else if (scenario == "time") {
    for (long i = 0; i < count; ++i) {
      device->last_time_ = boost::posix_time::second_clock::local_time();
    }
  } else if (scenario == "services") {
    // The host calls of a round, as the round makes them, and the queue emptied after.
    const boost::posix_time::ptime now = boost::posix_time::second_clock::local_time();
    const unsigned char record[15] = {};
    const std::string key = "value", name = "温度";  // the round's own work, not the host's
    for (long i = 0; i < count; ++i) {
      get_ttime(now);
      device->DranVDevice::SendSP(5529, record, sizeof(record), false);
      device->Reset();
      device->DranVDevice::CheckThreshold(key, name, device->value_, 1);
      device->DoBatchCheckThreshold(device->rule_values_);
      device->SaveDeviceHistory(record, sizeof(record));
      device->rule_values_.clear();
    }
  } else if (scenario == "settings") {
    const Json::Value config = velk_bench::ConfigWithSignals(100);
    for (long i = 0; i < count; ++i) device->InitSetting(config);
  } else if (scenario == "restore") {
    const unsigned char record[15] = {17, 0, 0, 0, 0, 0, 0xa0, 0x41};
    for (long i = 0; i < count; ++i) device->LoadFromCache(record, sizeof(record));
  } else if (scenario == "memory") {
    device->data_id_ = 17;
    device->InitSetting(velk::ReadConfig(VELK_EXAMPLES_DIR "/temperature.json"));
    std::printf("sizeof %zu heap %zu\n", sizeof(VelkTemperature),
                live_bytes - before - sizeof(VelkTemperature));
  } else {
    std::fprintf(stderr, "velk_cost_probe: unknown scenario %s\n", scenario.c_str());
    return 2;
  }
  return 0;
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* pointer) noexcept { Release(pointer); }
void operator delete[](void* pointer) noexcept { Release(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { Release(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { Release(pointer); }

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: velk_cost_probe SCENARIO [COUNT]\n");
    return 2;
  }
  velk_bench::SilencedStdout silence;
  int status = 1;
  try {
    status = Run(argv[1], argc > 2 ? std::atol(argv[2]) : 1);
  } catch (const velk::Failure& failure) {
    std::fprintf(stderr, "velk_cost_probe: %s\n", failure.message.c_str());
  } catch (...) {
    std::fprintf(stderr, "velk_cost_probe: %s\n", velk::CaughtExceptionText().c_str());
  }
  return status;
}
