// Devices on threads of their own, as the daemon may run them: each with its own settings and
// readings, all writing to the one standard output. Every line must come out whole, and no
// device may end with another's state. scripts/test.sh also runs it under ThreadSanitizer.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <json/value.h>

#include "devices/velk_temperature.h"
#include "test_support.h"

namespace {

// Standard output's file descriptor sent to a file for as long as this lives: the daemon's
// std::cout, synchronised with stdio, writes straight through to it, as here. Swapping cout's
// buffer would put a buffer of our own between the threads.
class CapturedFileDescriptor {
 public:
  CapturedFileDescriptor() : path_(::testing::TempDir() + "velk-threads-XXXXXX") {
    Flush();
    file_ = mkstemp(&path_[0]);
    saved_ = dup(STDOUT_FILENO);
    if (file_ >= 0 && saved_ >= 0) dup2(file_, STDOUT_FILENO);
  }
  ~CapturedFileDescriptor() {
    Restore();
    if (file_ >= 0) close(file_);
    unlink(path_.c_str());
  }
  bool Ok() const { return file_ >= 0 && saved_ >= 0; }

  // Standard output back where it was, and what was written meanwhile, line by line.
  std::vector<std::string> Lines() {
    Restore();
    std::ifstream text(path_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }

 private:
  static void Flush() {
    std::cout.flush();
    std::fflush(stdout);
  }
  void Restore() {
    if (saved_ < 0) return;
    Flush();
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    saved_ = -1;
  }

  std::string path_;
  int file_ = -1;
  int saved_ = -1;
};

constexpr int kDevices = 8;
constexpr int kReadings = 2000;

// Device i: data identifier 101 + i, two signals named after it, readings of its own.
struct DeviceRun {
  explicit DeviceRun(int i)
      : index(std::to_string(i)),
        id(101 + i),
        first_key("s" + index + "a"),
        second_key("s" + index + "b"),
        first_address("N" + index + ";" + index + ";" + std::to_string(2 * i) + ";"),
        second_address("M" + index + ";;;") {
    device.data_id_ = id;
    device.signal_levels_[first_key] = i;
    device.signal_values_[first_key] = i + 0.5f;
    config["appSetting"]["b_mode"] = "3";
    Json::Value& first = config["thresholdSetting"][first_key];
    first["SignalName"] = "name" + index;
    first["NMAlarmID"] = "N" + index;
    first["ID"] = i;
    first["SignalNumber"] = 2 * i;
    config["thresholdSetting"][second_key]["NMAlarmID"] = "M" + index;
    for (int k = 0; k < kReadings; ++k) readings.push_back(static_cast<short>(i + kDevices * k));
  }

  // What the device must log, from the configuration above.
  std::vector<std::string> ExpectedLines() const {
    const std::string id_text = std::to_string(id);
    std::vector<std::string> lines = {
        "InitSetting " + id_text + " b_mode_:3",
        "here 1",
        "here 2",
        "here " + first_key,
        "mobile:" + first_key + ":" + first_address + " level:" + index + " value:" + index + ".5",
        "here " + second_key,
        id_text + " ID is missing",
        id_text + " SignalNumber is missing",
        "mobile:" + second_key + ":" + second_address + " level:0 value:0"};
    for (short raw : readings) {
      lines.push_back("VelkTemperature process " + std::to_string(raw));
      lines.push_back("rvSize is 1");
    }
    return lines;
  }

  std::string index;  // i as text
  unsigned int id;
  std::string first_key, second_key, first_address, second_address;
  Json::Value config;
  std::vector<short> readings;
  VelkTemperature device;
};

// No recorder in place: the stand-in's services then touch nothing but the device.
TEST(ThreadsTest, DevicesOnTheirOwnThreadsWriteWholeLinesAndKeepTheirOwnState) {
  std::vector<std::unique_ptr<DeviceRun>> runs;
  for (int i = 0; i < kDevices; ++i) runs.push_back(std::make_unique<DeviceRun>(i));

  CapturedFileDescriptor out;
  ASSERT_TRUE(out.Ok());
  std::atomic<bool> start{false};
  std::vector<std::thread> threads;
  for (auto& run : runs) {
    threads.emplace_back([&start, &run = *run] {
      while (!start.load()) std::this_thread::yield();
      run.device.InitSetting(run.config);
      for (short raw : run.readings) run.device.process(raw);
    });
  }
  start = true;
  for (std::thread& thread : threads) thread.join();
  const std::vector<std::string> lines = out.Lines();

  // Every line once for each time it was written, none torn, none lost: a count per line.
  std::map<std::string, int> surplus;
  for (const std::string& line : lines) ++surplus[line];
  for (const auto& run : runs) {
    for (const std::string& line : run->ExpectedLines()) --surplus[line];
  }
  std::vector<std::string> wrong;
  for (const auto& [line, count] : surplus) {
    if (count != 0) wrong.push_back(std::to_string(count) + " x \"" + line + "\"");
  }
  std::ostringstream examples;
  for (std::size_t e = 0; e < wrong.size() && e < 5; ++e) examples << "\n  " << wrong[e];
  EXPECT_TRUE(wrong.empty()) << wrong.size() << " lines over (+) or short (-) of " << lines.size()
                             << " written, e.g." << examples.str();

  for (const auto& run : runs) {
    const float last = VelkTemperature::ToTemperature(run->readings.back());
    EXPECT_EQ(run->device.value_, last) << run->id;
    EXPECT_EQ(run->device.data_.id, run->id);
    EXPECT_EQ(run->device.data_.value, last) << run->id;
    EXPECT_EQ(run->device.mobile_info_,
              (std::map<std::string, std::string>{{run->first_key, run->first_address},
                                                  {run->second_key, run->second_address}}))
        << run->id;
    EXPECT_EQ(run->device.signal_names_,
              (std::map<std::string, std::string>{{run->first_key, "name" + run->index}}))
        << run->id;
    EXPECT_TRUE(run->device.rule_values_.empty()) << run->id;
  }
}

}  // namespace
