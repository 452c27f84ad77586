// Loading velk_temperature.so as the daemon does: dlopen(RTLD_NOW), the entry point by its
// plain name, providers and devices with the ownership the daemon relies on.
#include <dlfcn.h>

#include <memory>
#include <vector>

#include "framework/ai_data.h"
#include "framework/uni_data_device.h"
#include "host/dran_ai_device.h"
#include "host/dran_ai_device_provider.h"
#include "plugin/get_providers.h"
#include "test_support.h"

namespace {

using AnalogDevice = UniDataDevice<AI_Data_t, DranAIDevice, 5529>;

class PluginLoadingTest : public velk_test::JournalTest {
 protected:
  void SetUp() override {
    JournalTest::SetUp();
    handle_ = dlopen(VELK_PLUGIN_PATH, RTLD_NOW);
    ASSERT_NE(handle_, nullptr) << dlerror();
    get_providers_ = reinterpret_cast<GetProvidersFunction>(dlsym(handle_, "get_providers"));
    ASSERT_NE(get_providers_, nullptr);
  }
  void TearDown() override {
    if (handle_ != nullptr) {
      EXPECT_EQ(dlclose(handle_), 0) << dlerror();
    }
    JournalTest::TearDown();
  }

  DranAIDeviceProvider& AIProvider(const std::shared_ptr<Provider>& provider) {
    auto* ai = dynamic_cast<DranAIDeviceProvider*>(provider.get());
    EXPECT_NE(ai, nullptr);
    return *ai;
  }

  // The host's header declares create() with DranVDevice* or DranAIDevice*, and process() in
  // DranAIDevice or not at all (UniDataDevice then does); as the framework's class the device
  // has process() either way.
  static AnalogDevice* Create(const DranAIDeviceProvider& provider) {
    return static_cast<AnalogDevice*>(provider.create());
  }

  void* handle_ = nullptr;
  GetProvidersFunction get_providers_ = nullptr;
};

TEST_F(PluginLoadingTest, OnlyTheEntryPointCanBeLookedUp) {
  for (const char* internal : {"_ZN15VelkTemperature7processEs", "_ZTV23VelkTemperatureProvider",
                               "_ZN23VelkTemperatureProvider6createEv"}) {
    EXPECT_EQ(dlsym(handle_, internal), nullptr) << internal;
  }
}

TEST_F(PluginLoadingTest, EachCallBuildsOneNewProvider) {
  std::vector<std::shared_ptr<Provider> > first = get_providers_();
  std::vector<std::shared_ptr<Provider> > second = get_providers_();
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_NE(first[0].get(), second[0].get());
  EXPECT_EQ(first[0].use_count(), 1);
  EXPECT_EQ(second[0].use_count(), 1);
  AIProvider(first[0]);
}

TEST_F(PluginLoadingTest, EveryCreateGivesAnIndependentTemperatureDevice) {
  const auto providers = get_providers_();
  const DranAIDeviceProvider& provider = AIProvider(providers[0]);
  std::unique_ptr<AnalogDevice> a(Create(provider));
  std::unique_ptr<AnalogDevice> b(Create(provider));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(a.get(), b.get());
  EXPECT_EQ(a->DeviceType(), "velk_temperature");
  EXPECT_EQ(b->DeviceType(), "velk_temperature");

  velk_test::CapturedStdout out;
  a->value_ = 0.0f;
  b->value_ = 0.0f;
  EXPECT_EQ(a->process(1000), 20.0f);
  EXPECT_EQ(a->value_, 20.0f);
  EXPECT_EQ(b->value_, 0.0f);
  EXPECT_EQ(out.Text(), "VelkTemperature process 1000\nrvSize is 1\n");
  // The device's round reached the host services bound at load time.
  EXPECT_THAT(journal().CallNames(),
              ::testing::ElementsAre("get_ttime", "SendSP", "Reset", "CheckThreshold",
                                     "DoBatchCheckThreshold", "SaveDeviceHistory"));
}

TEST_F(PluginLoadingTest, DevicesOutliveTheProviderThatCreatedThem) {
  auto providers = get_providers_();
  std::unique_ptr<AnalogDevice> device(Create(AIProvider(providers[0])));
  providers.clear();
  velk_test::CapturedStdout out;
  EXPECT_EQ(device->process(2000), 80.0f);
}

TEST_F(PluginLoadingTest, HostDeletesDevicesThroughItsBaseAndMayShareThem) {
  const auto providers = get_providers_();
  DranVDevice* raw = AIProvider(providers[0]).create();
  delete raw;  // AddressSanitizer reports a delete that misses part of the object

  std::shared_ptr<DranVDevice> shared(AIProvider(providers[0]).create());
  EXPECT_EQ(shared->shared_from_this(), shared);
  EXPECT_EQ(shared->DeviceType(), "velk_temperature");
}

}  // namespace
