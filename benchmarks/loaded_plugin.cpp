#include "benchmarks/loaded_plugin.h"

namespace velk_bench {

LoadedPlugin::LoadedPlugin() : library_(VELK_PLUGIN_PATH), providers_(library_.GetProviders()) {}

std::unique_ptr<DranAIDevice> LoadedPlugin::NewDevice() const {
  return library_.CreateDevice(providers_);
}

Json::Value ConfigWithSignals(int signals) {
  Json::Value config(Json::objectValue);
  config["appSetting"]["b_mode"] = "3";
  Json::Value& thresholds = config["thresholdSetting"];
  for (int i = 0; i < signals; ++i) {
    Json::Value& entry = thresholds["signal_" + std::to_string(i)];
    entry["SignalName"] = "Cabinet temperature " + std::to_string(i);
    entry["NMAlarmID"] = "0401" + std::to_string(1000 + i);
    entry["ID"] = i;
    entry["SignalNumber"] = i % 8 + 1;
    entry["Upper"] = 60.0;
    entry["Lower"] = -10.0;
  }
  return config;
}

}  // namespace velk_bench
