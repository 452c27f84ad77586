// The plug-in's view of what it shares with the daemon, for libabigail. Each exported function
// below takes one shared type, or one host function's signature, as its parameter, so that
// abidw records it in full: sizes, bases, members with their offsets and types, virtual
// functions with their table positions. The functions do nothing and nobody calls them.
#include "devices/velk_temperature.h"
#include "framework/ai_data.h"
#include "framework/provider.h"
#include "framework/uni_data_device.h"
#include "framework/vdevice_interface.h"
#include "host/dran_ai_device.h"
#include "host/dran_ai_device_provider.h"
#include "host/dran_records.h"
#include "host/dran_vdevice.h"
#include "plugin/velk_temperature_provider.h"

namespace {

// A host member function as a plain function type, the object first, so that its whole
// signature (result, object, parameters) is one type that abidiff can compare. Declared only,
// for decltype: the type then carries no typedef name, which libabigail would confuse between
// the functions.
template <typename R, typename C, typename... A>
auto AsFunction(R (C::*)(A...)) -> R (*)(C*, A...);
template <typename R, typename C, typename... A>
auto AsFunction(R (C::*)(A...) const) -> R (*)(const C*, A...);

}  // namespace

extern "C" {

// The device class chain, the records and the providers.
void velk_abi_VDeviceInterface(VDeviceInterface*) {}
void velk_abi_DranVDevice(DranVDevice*) {}
void velk_abi_DranVDevice_BAOSetting(DranVDevice::BAOSetting*) {}
void velk_abi_DranVDevice_pi_alert(DranVDevice::pi_alert_*) {}
void velk_abi_DranAIDevice(DranAIDevice*) {}
void velk_abi_UniDataDevice(UniDataDevice<AI_Data_t, DranAIDevice, kTemperaturePublicationId>*) {}
void velk_abi_VelkTemperature(VelkTemperature*) {}
void velk_abi_AI_Data_t(AI_Data_t*) {}
void velk_abi_ttime(ttime*) {}
void velk_abi_rule_value(rule_value*) {}
void velk_abi_Provider(Provider*) {}
void velk_abi_DranAIDeviceProvider(DranAIDeviceProvider*) {}
void velk_abi_VelkTemperatureProvider(VelkTemperatureProvider*) {}

// The host functions that the plug-in calls.
void velk_abi_get_ttime(decltype(&get_ttime)) {}
void velk_abi_DranVDevice_InitSetting(decltype(AsFunction(&DranVDevice::InitSetting))) {}
void velk_abi_DranVDevice_Reset(decltype(AsFunction(&DranVDevice::Reset))) {}
void velk_abi_DranVDevice_SendSP(decltype(AsFunction(&DranVDevice::SendSP))) {}
void velk_abi_DranVDevice_CheckThreshold(decltype(AsFunction(&DranVDevice::CheckThreshold))) {}
void velk_abi_DranVDevice_CheckAOReport(decltype(AsFunction(&DranVDevice::CheckAOReport))) {}
void velk_abi_DranVDevice_DoBatchCheckThreshold(
    decltype(AsFunction(&DranVDevice::DoBatchCheckThreshold))) {}
void velk_abi_DranVDevice_SaveDeviceHistory(decltype(AsFunction(&DranVDevice::SaveDeviceHistory))) {
}

}  // extern "C"
