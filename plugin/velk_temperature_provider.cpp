#include "plugin/velk_temperature_provider.h"

#include "devices/velk_temperature.h"

DranAIDevice* VelkTemperatureProvider::create() const { return new VelkTemperature; }
