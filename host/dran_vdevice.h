// The host's generic device: thresholds, alarms, publishing and history. Its out-of-line
// operations, virtual table and type information live in the host process; the plug-in
// carries only what this header defines inline.
#pragma once

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

class DranController;

class DranVDevice : public VDeviceInterface, public std::enable_shared_from_this<DranVDevice> {
 public:
  struct BAOSetting {
    std::string name;
    float upper = 0.0f;
    float lower = 0.0f;
    int level = 0;
  };
  struct pi_alert_ {
    std::string key;
    std::string message;
    int level = 0;
    bool active = false;
  };

  int DeviceIoControl(int code, const void* in, int in_size, void* out, int out_size,
                      int& returned) override;

  // Virtual operations in table order; the host relies on it.
  virtual ~DranVDevice() {}
  virtual void Reset();
  virtual bool InitV(DranVDevice* parent, unsigned int index, const Json::Value& config);
  virtual bool Init(std::weak_ptr<DranController> controller, unsigned int index,
                    const Json::Value& config);
  virtual bool InitSetting(const Json::Value& config);
  virtual bool IsSupportDevice(const std::string& type) const;
  // A device of this kind has no child devices.
  virtual std::shared_ptr<DranVDevice> GetChildVDevice(unsigned int /*index*/) {
    return std::shared_ptr<DranVDevice>();
  }
  virtual std::vector<std::shared_ptr<DranVDevice> > GetAllChildVDevices() {
    return std::vector<std::shared_ptr<DranVDevice> >();
  }
  virtual int SendSP(int sp_id, const unsigned char* data, unsigned int length, bool publish);
  virtual int SendDelayData(int seconds);
  virtual int SendDoData(int channel, char state);
  virtual int ReadDi(int channel);
  virtual float ReadAi(int channel);
  virtual float Get_SP_Value(unsigned int sp_id, const std::string& key);

  // Host services a round calls directly.
  bool CheckThreshold(const std::string& key, const std::string& name, const float& value,
                      int level);
  bool CheckAOReport(const std::string& key, float value);
  bool DoBatchCheckThreshold(const std::vector<rule_value>& rules);
  bool SaveDeviceHistory(const unsigned char* data, unsigned int length);

  // Members in the host's declaration order; the host's services read and write them.
  std::map<std::string, BAOSetting> bao_settings_;
  short round_state_ = 0;
  boost::posix_time::ptime last_time_;
  int report_interval_ = 0;
  int alarm_delay_ = 0;
  bool data_ready_ = false;
  std::vector<rule_value> rule_values_;
  std::vector<boost::shared_ptr<pi_alert_> > alerts_;
  boost::mutex mutex_;
  std::map<std::string, bool> flags_;
  std::weak_ptr<DranController> controller_;
  bool need_report_ = false;
  bool online_ = false;
  unsigned int index_ = 0;
  std::map<std::string, float> last_reported_;
  std::vector<std::string> ao_keys_;
  std::map<std::string, float> ao_values_;
  std::vector<std::string> di_keys_;
  std::vector<std::string> do_keys_;
  std::vector<std::string> sp_keys_;
  std::map<std::string, int> signal_levels_;
  std::map<std::string, float> signal_values_;

 protected:
  DranVDevice();
};
