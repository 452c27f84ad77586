// A device that owns exactly one fixed-size record: it loads its settings, runs the round
// that publishes and saves the record, and restores the record from the host's cache.
// Written once for every host device class and record type.
#pragma once

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include <json/value.h>
#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "host/dran_records.h"

template <typename Record, typename Base, int kPublicationId>
class UniDataDevice : public Base {
 public:
  UniDataDevice() : Base(), b_mode_(1) { std::memset(&data_, 0, sizeof(data_)); }

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

  // Hook for a device's own threshold rules; runs inside every round.
  virtual void RunCheckThreshold() {}

  Record data_;
  int b_mode_;
  std::map<std::string, std::string> mobile_info_;
  std::map<std::string, std::string> signal_names_;

 protected:
  static constexpr unsigned int kRecordLength = sizeof(Record);

 private:
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
    std::cout << "rvSize is " << static_cast<int>(this->rule_values_.size()) << std::endl;
    this->need_report_ = this->DoBatchCheckThreshold(this->rule_values_) || this->need_report_;
  }
};
