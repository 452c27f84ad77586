// Variant host headers: a second, deliberately different reconstruction of the daemon's headers,
// for the suite built with -DVELK_HOST_INCLUDE_DIR=tests/variant_host. They keep what the
// daemon's interface fixes (the names, types and order of the members the plug-in touches, the
// virtual-table order, the records' sizes) and differ from host/ wherever the choice is the
// host's own: the inner layout of BAOSetting, pi_alert_, rule_value and ttime;
// untouched members added, removed and moved; initial values; constructor access; the result
// types of the host operations whose results the plug-in does not read, and InitSetting's; the
// class that first declares process and RunCheckThreshold; the pointer type create() returns.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <json/value.h>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>

#include "framework/vdevice_interface.h"
#include "host/dran_records.h"

// Complete here, where host/ only declares it.
class DranController {
 public:
  std::string name;
};

class DranVDevice : public VDeviceInterface, public std::enable_shared_from_this<DranVDevice> {
 public:
  struct BAOSetting {
    std::vector<int> channels;
    double lower = 0.0;
    double upper = 0.0;
    short level = 0;
    std::string name;
    std::string unit;
  };
  struct pi_alert_ {
    std::uint64_t raised_at = 0;
    std::string text;
    char level = 0;
  };

  // Public here; host/ has it protected.
  DranVDevice();
  virtual ~DranVDevice() {}
  virtual int Reset();
  virtual int InitV(DranVDevice* parent, unsigned int index, const Json::Value& config);
  virtual int Init(std::weak_ptr<DranController> controller, unsigned int index,
                   const Json::Value& config);
  // A plain scalar other than bool.
  virtual int InitSetting(const Json::Value& config);
  virtual int IsSupportDevice(const std::string& type) const;
  virtual std::shared_ptr<DranVDevice> GetChildVDevice(unsigned int /*index*/) {
    return std::shared_ptr<DranVDevice>();
  }
  virtual std::vector<std::shared_ptr<DranVDevice> > GetAllChildVDevices() {
    return std::vector<std::shared_ptr<DranVDevice> >();
  }
  virtual bool SendSP(int sp_id, const unsigned char* data, unsigned int length, bool publish);
  virtual void SendDelayData(int seconds);
  virtual bool SendDoData(int channel, char state);
  virtual bool ReadDi(int channel);
  virtual double ReadAi(int channel);
  virtual double Get_SP_Value(unsigned int sp_id, const std::string& key);

  // Overrides keep their interface's place whatever their place here.
  int DeviceIoControl(int code, const void* in, int in_size, void* out, int out_size,
                      int& returned) override;

  void CheckThreshold(const std::string& key, const std::string& name, const float& value,
                      int level);
  bool CheckAOReport(const std::string& key, float value);
  bool DoBatchCheckThreshold(const std::vector<rule_value>& rules);
  void SaveDeviceHistory(const unsigned char* data, unsigned int length);

  std::map<std::string, BAOSetting> bao_settings_;
  unsigned short round_state_ = 7;
  boost::posix_time::ptime last_time_;
  std::string label_;
  double poll_seconds_;
  unsigned int index_;
  bool data_ready_ = true;
  std::vector<rule_value> rule_values_;
  std::vector<boost::shared_ptr<pi_alert_> > alerts_;
  boost::mutex mutex_;
  std::map<std::string, bool> flags_;
  std::weak_ptr<DranController> controller_;
  char link_state_;
  bool need_report_ = true;
  long long reports_sent_;
  std::map<std::string, float> limits_;
  std::vector<std::string> ao_keys_;
  std::map<std::string, float> ao_values_;
  std::vector<std::string> input_keys_;
  std::vector<std::string> output_keys_;
  std::vector<std::string> setpoint_keys_;
  std::map<std::string, int> signal_levels_;
  std::map<std::string, float> signal_values_;
  std::map<int, std::string> channel_names_;
};
