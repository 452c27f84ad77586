// The plug-in's entry point, the one symbol the daemon looks up by its plain name after
// loading velk_temperature.so. Each call returns new providers; nothing is cached.
#pragma once

#include <memory>
#include <vector>

#include "framework/provider.h"

#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" std::vector<std::shared_ptr<Provider> > get_providers();
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

// What the daemon casts the looked-up symbol to.
using GetProvidersFunction = std::vector<std::shared_ptr<Provider> > (*)();
