// A device that owns exactly one fixed-size record: it loads its settings, runs the round
// that publishes and saves the record, and restores the record from the host's cache.
// Written once for every host device class and record type.
#pragma once

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include <json/value.h>
#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "host/dran_records.h"

template <typename Record, typename Base, int kPublicationId>
class UniDataDevice : public Base {
 public:
  UniDataDevice() : Base(), b_mode_(1) { std::memset(&data_, 0, sizeof(data_)); }

  // The result of the host's settings handling: a plain scalar whose type the host's header
  // chooses. The override passes it back unchanged, so it is declared with that same type.
  using SettingsResult =
      decltype(std::declval<Base&>().InitSetting(std::declval<const Json::Value&>()));

  // The host hands over the device's configuration after it has set data_id_. Our own reading
  // comes first and the host's settings handling last, called directly and never through the
  // table (that would land here again); its result is the host's alone. The "mobile:" lines
  // therefore show the host's levels and values as they were before this call.
  SettingsResult InitSetting(const Json::Value& config) override {
    data_.id = this->data_id_;
    ReadMode(config);
    if (b_mode_ == kThresholdMode) ReadThresholdSettings(config);
    return this->DranVDevice::InitSetting(config);
  }

  // One round: stamp, publish, reset, checks, batch evaluation, history, empty rule queue.
  // The order is what the host's alarm logic relies on.
  void RoundDone() override {
    MarkDataReady();
    StampTime();
    this->DranVDevice::SendSP(kPublicationId, RecordBytes(), kRecordLength, false);
    this->Reset();
    this->round_state_ = 1;
    this->need_report_ = false;
    this->RunCheckThreshold();
    WalkReportKeys();
    EvaluateQueuedRules();
    this->SaveDeviceHistory(RecordBytes(), kRecordLength);
    this->rule_values_.clear();
  }

  // Only a whole record is taken: any other length, and a null buffer, leaves the device
  // exactly as it was.
  bool LoadFromCache(const unsigned char* data, int length) override {
    if (length != static_cast<int>(kRecordLength) || data == nullptr) return false;
    std::memcpy(&data_, data, kRecordLength);
    this->data_ready_ = true;
    this->RoundDone();
    return true;
  }
  using Base::LoadFromCache;

  // The last two places of the table, process first. The host's DranAIDevice may declare
  // process, or both, already; these then override, and what it leaves is introduced here.
  // Neither is marked override, which would fail against headers that leave it to this class;
  // clang would warn of that against the headers that declare it.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Winconsistent-missing-override"
#endif
  // Converts one raw reading and runs a round; returns value_ as the round leaves it.
  virtual float process(short raw) = 0;
  // Hook for a device's own threshold rules; runs inside every round.
  virtual void RunCheckThreshold() {}
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

  Record data_;
  int b_mode_;
  std::map<std::string, std::string> mobile_info_;
  std::map<std::string, std::string> signal_names_;

 protected:
  static constexpr unsigned int kRecordLength = sizeof(Record);

  // An integer in a log line, in decimal.
  template <typename Integer>
  struct DecimalPart {
    Integer number;
  };
  template <typename Integer>
  static DecimalPart<Integer> Decimal(Integer number) {
    return {number};
  }

  // One line of the device's log: the parts and a newline, written to std::cout in one call
  // and flushed, as std::endl would. Written whole, a line cannot be torn by devices on other
  // threads. A round's lines are built on the stack and cost no allocation.
  template <typename... Parts>
  static void WriteLogLine(const Parts&... parts) {
    const std::size_t most = (MostChars(parts) + ... + 1);
    char stack_line[64];
    if (most <= sizeof(stack_line)) {
      WriteLine(stack_line, parts...);
    } else {
      std::string heap_line(most, '\0');
      WriteLine(&heap_line[0], parts...);
    }
  }

 private:
  // A text written as a literal in the line's call has its length known at compile time: no
  // strlen, and a copy of fixed size.
  template <std::size_t kSize>
  static constexpr std::size_t MostChars(const char (&)[kSize]) {
    return kSize - 1;
  }
  template <std::size_t kSize>
  static char* Put(char* out, const char (&text)[kSize]) {
    return std::copy(text, text + kSize - 1, out);
  }
  static std::size_t MostChars(std::string_view text) { return text.size(); }
  template <typename Integer>
  static constexpr std::size_t MostChars(const DecimalPart<Integer>&) {
    return std::numeric_limits<Integer>::digits10 + 2;  // a sign, and the top digit
  }
  static char* Put(char* out, std::string_view text) {
    return std::copy(text.begin(), text.end(), out);
  }
  template <typename Integer>
  static char* Put(char* out, const DecimalPart<Integer>& decimal) {
    return std::to_chars(out, out + MostChars(decimal), decimal.number).ptr;
  }
  template <typename... Parts>
  static void WriteLine(char* line, const Parts&... parts) {
    char* end = line;
    ((end = Put(end, parts)), ...);
    *end++ = '\n';
    std::cout.write(line, end - line);
    std::cout.flush();
  }

  // A float as std::cout's operator<< writes it under cout's current formatting, which the
  // daemon may have changed. Inside a line a number always met a width of 0 (the texts
  // before it reset cout's), so cout's fill never showed; it is not read either, because
  // libstdc++ sets the fill on its first read, a race between devices on other threads.
  static std::string CoutText(float value) {
    std::ostringstream text;
    text.flags(std::cout.flags());
    text.precision(std::cout.precision());
    text.imbue(std::cout.getloc());
    text << value;
    return text.str();
  }

  // The configuration members this device reads.
  static constexpr const char* kAppSetting = "appSetting";
  static constexpr const char* kModeMember = "b_mode";
  static constexpr const char* kThresholdSetting = "thresholdSetting";
  static constexpr const char* kSignalName = "SignalName";
  static constexpr const char* kAlarmId = "NMAlarmID";
  static constexpr const char* kId = "ID";
  static constexpr const char* kSignalNumber = "SignalNumber";
  static constexpr const char* kAlarmPartEnd = ";";

  // Only in this mode are the per-signal names and alarm addresses read.
  static constexpr int kThresholdMode = 3;

  // A configuration comes from the daemon's files and a slightly wrong one must not cost the
  // device: a container that is not an object has no members here (nullptr), where jsoncpp
  // would throw from a by-name lookup on an array or a scalar. Lookups are const and never
  // add a member.
  template <typename Name>
  static const Json::Value* Member(const Json::Value& container, const Name& name) {
    if (container.type() != Json::objectValue) return nullptr;
    return &container[name];
  }

  // Absent means no member or JSON null alike.
  static bool IsPresent(const Json::Value* value) {
    return value != nullptr && *value != Json::Value();
  }

  static bool IsObject(const Json::Value* value) {
    return value != nullptr && value->type() == Json::objectValue;
  }

  // A value's text as jsoncpp gives it: numbers and booleans too ("12", "3.5", "1e+20",
  // "true"), untrimmed. An array or an object has no text (asString would throw) and counts
  // as absent.
  static std::optional<std::string> TextOf(const Json::Value* value) {
    if (!IsPresent(value)) return std::nullopt;
    if (value->type() == Json::arrayValue || value->type() == Json::objectValue) {
      return std::nullopt;
    }
    return value->asString();
  }

  // Read as atoi reads it: leading blanks, a sign, the digits up to the first other character,
  // 0 without a number ("1e+20" is 1). A number beyond int, where atoi is undefined, is
  // clamped to INT_MIN or INT_MAX; strtoll saturates at its own wider range, so however many
  // digits follow, the clamp sees the right side.
  static int ModeFromText(const std::string& text) {
    const long long number = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(number, INT_MIN, INT_MAX));
  }

  // An appSetting that is not an object, and a b_mode without text, leave the mode as it is.
  void ReadMode(const Json::Value& config) {
    const Json::Value* app_setting = Member(config, kAppSetting);
    if (!IsObject(app_setting)) return;
    const std::optional<std::string> mode = TextOf(Member(*app_setting, kModeMember));
    if (!mode) return;
    b_mode_ = ModeFromText(*mode);
    const std::uint32_t record_id = data_.id;
    WriteLogLine("InitSetting ", Decimal(record_id), " b_mode_:", Decimal(b_mode_));
  }

  // Signals are visited in jsoncpp's member order (byte-wise by name), not the document's.
  void ReadThresholdSettings(const Json::Value& config) {
    WriteLogLine("here 1");
    const Json::Value* thresholds = Member(config, kThresholdSetting);
    if (!IsPresent(thresholds)) return;
    WriteLogLine("here 2");
    // Present but an array or a scalar: reported as present above, with no signal to visit.
    if (!IsObject(thresholds)) return;
    for (Json::Value::const_iterator member = thresholds->begin(); member != thresholds->end();
         member++) {
      VisitSignal(*thresholds, member.key().asString());
    }
  }

  // A signal whose entry is not an object gets only its "here" line. An absent SignalName
  // keeps the name an earlier configuration gave; the alarm address is always rewritten.
  // Reading the host's maps with operator[] enters a new key at 0, and the entry stays.
  void VisitSignal(const Json::Value& thresholds, const std::string& key) {
    WriteLogLine("here ", key);
    const Json::Value* entry = Member(thresholds, key);
    if (!IsObject(entry)) return;
    if (const std::optional<std::string> name = TextOf(Member(*entry, kSignalName))) {
      signal_names_[key] = *name;
    }
    const std::string address = AlarmAddress(*entry);
    const int level = this->signal_levels_[key];
    const float value = this->signal_values_[key];
    WriteLogLine("mobile:", key, ":", address, " level:", Decimal(level),
                 " value:", CoutText(value));
    mobile_info_[key] = address;
  }

  // "NMAlarmID;ID;SignalNumber;": a part without text leaves its place empty but keeps its
  // ";", and is reported under the device's data identifier, not the signal key.
  std::string AlarmAddress(const Json::Value& entry) const {
    std::string address;
    AppendAlarmPart(Member(entry, kAlarmId), " NMAlarmID is missing", address);
    AppendAlarmPart(Member(entry, kId), " ID is missing", address);
    AppendAlarmPart(Member(entry, kSignalNumber), " SignalNumber is missing", address);
    return address;
  }

  void AppendAlarmPart(const Json::Value* part, const char* missing_log,
                       std::string& address) const {
    if (const std::optional<std::string> text = TextOf(part)) {
      address += *text;
    } else {
      WriteLogLine(Decimal(this->data_id_), missing_log);
    }
    address += kAlarmPartEnd;
  }

  const unsigned char* RecordBytes() const {
    return reinterpret_cast<const unsigned char*>(&data_);
  }

  void MarkDataReady() {
    if (!this->data_ready_) this->data_ready_ = true;
  }

  void StampTime() {
    this->last_time_ = boost::posix_time::second_clock::local_time();
    const ttime stamp = get_ttime(this->last_time_);
    std::memcpy(&data_.time, &stamp, sizeof(stamp));
  }

  // Every key with a value goes to the report check and to the threshold check; a key
  // without a value is passed over and never entered into ao_values_. The report check is
  // always made, even when an earlier key already raised need_report_.
  void WalkReportKeys() {
    for (std::string key : this->ao_keys_) {
      if (this->ao_values_.find(key) == this->ao_values_.end()) continue;
      this->need_report_ = this->CheckAOReport(key, this->ao_values_[key]) || this->need_report_;
      this->CheckThreshold(key, "", this->ao_values_[key], 1);
    }
  }

  void EvaluateQueuedRules() {
    WriteLogLine("rvSize is ", Decimal(static_cast<int>(this->rule_values_.size())));
    this->need_report_ = this->DoBatchCheckThreshold(this->rule_values_) || this->need_report_;
  }
};
