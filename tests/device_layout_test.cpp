// The binary contract with the daemon: virtual-table slots, the record layout, and the
// defaults a fresh device starts from.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "devices/velk_temperature.h"
#include "test_support.h"

namespace {

// Under the Itanium C++ ABI a pointer to a virtual member function holds the byte offset
// of its slot in the virtual table, so the slot can be read without the host. Where the
// "virtual" mark sits differs by target: the generic ABI adds 1 to the offset, but on MIPS
// and ARM a function address may itself be odd (MIPS16, Thumb), so the mark moves to the
// low bit of the adjustment, which then holds twice the this-adjustment plus 1.
#if defined(__mips__) || defined(__arm__) || defined(__aarch64__)
constexpr bool kVirtualMarkInAdjustment = true;
#else
constexpr bool kVirtualMarkInAdjustment = false;
#endif

template <typename MemberFunction>
long SlotOf(MemberFunction member) {
  struct Representation {
    std::uintptr_t pointer;
    std::ptrdiff_t adjustment;
  };
  static_assert(sizeof(MemberFunction) == sizeof(Representation), "Itanium ABI");
  Representation r;
  std::memcpy(&r, &member, sizeof(r));
  // -1 for a function that is not virtual, or not reached through the primary base.
  if (kVirtualMarkInAdjustment) {
    if (r.adjustment != 1) return -1;
    return static_cast<long>(r.pointer / sizeof(void*));
  }
  if ((r.pointer & 1) == 0 || r.adjustment != 0) return -1;
  return static_cast<long>((r.pointer - 1) / sizeof(void*));
}

using Device = VelkTemperature;

TEST(DeviceLayoutTest, VirtualOperationsSitInTheSharedTableOrder) {
  // Slots 8 and 9 hold the destructor pair that DranVDevice introduces.
  EXPECT_EQ(SlotOf(&Device::Get_Value), 0);
  EXPECT_EQ(SlotOf(static_cast<bool (Device::*)(const std::string&)>(&Device::LoadFromCache)), 1);
  EXPECT_EQ(
      SlotOf(static_cast<bool (Device::*)(const unsigned char*, int)>(&Device::LoadFromCache)), 2);
  EXPECT_EQ(SlotOf(&Device::DataId), 3);
  EXPECT_EQ(SlotOf(&Device::DeviceType), 4);
  EXPECT_EQ(SlotOf(&Device::DeviceIoControl), 5);
  EXPECT_EQ(SlotOf(&Device::RoundDone), 6);
  EXPECT_EQ(SlotOf(&Device::UseControllerDb), 7);
  EXPECT_EQ(SlotOf(&Device::Reset), 10);
  EXPECT_EQ(SlotOf(&Device::InitV), 11);
  EXPECT_EQ(SlotOf(&Device::Init), 12);
  EXPECT_EQ(SlotOf(&Device::InitSetting), 13);
  EXPECT_EQ(SlotOf(&Device::IsSupportDevice), 14);
  EXPECT_EQ(SlotOf(&Device::GetChildVDevice), 15);
  EXPECT_EQ(SlotOf(&Device::GetAllChildVDevices), 16);
  EXPECT_EQ(SlotOf(&Device::SendSP), 17);
  EXPECT_EQ(SlotOf(&Device::SendDelayData), 18);
  EXPECT_EQ(SlotOf(&Device::SendDoData), 19);
  EXPECT_EQ(SlotOf(&Device::ReadDi), 20);
  EXPECT_EQ(SlotOf(&Device::ReadAi), 21);
  EXPECT_EQ(SlotOf(&Device::Get_SP_Value), 22);
  EXPECT_EQ(SlotOf(&Device::process), 23);
  EXPECT_EQ(SlotOf(&Device::RunCheckThreshold), 24);
}

TEST(DeviceLayoutTest, InterfaceIsThePrimaryBaseAtTheStartOfTheObject) {
  Device device;
  DranVDevice* as_host = &device;
  VDeviceInterface* as_interface = &device;
  EXPECT_EQ(static_cast<void*>(as_interface), static_cast<void*>(as_host));
  EXPECT_EQ(static_cast<void*>(as_host), static_cast<void*>(&device));
}

TEST(DeviceLayoutTest, RecordIsFifteenPackedBytes) {
  EXPECT_EQ(sizeof(AI_Data_t), 15u);
  EXPECT_EQ(alignof(AI_Data_t), 1u);
  EXPECT_EQ(offsetof(AI_Data_t, id), 0u);
  EXPECT_EQ(offsetof(AI_Data_t, value), 4u);
  EXPECT_EQ(offsetof(AI_Data_t, time), 8u);
  EXPECT_EQ(sizeof(ttime), 7u);

  AI_Data_t record;
  record.id = 0x11223344u;
  record.value = -40.0f;  // 0xc2200000
  record.time = ttime{2026, 12, 8, 5, 19, 20};
  EXPECT_EQ(velk_test::HexOf(record),
            "44332211"
            "000020c2"
            "ea070c08051314");
}

TEST(DeviceLayoutTest, FreshDeviceHasAZeroRecordModeOneAndItsType) {
  Device device;
  EXPECT_EQ(velk_test::HexOf(device.data_), std::string(30, '0'));
  EXPECT_EQ(device.b_mode_, 1);
  EXPECT_TRUE(device.mobile_info_.empty());
  EXPECT_TRUE(device.signal_names_.empty());
  EXPECT_EQ(device.DeviceType(), "velk_temperature");
}

TEST(DeviceLayoutTest, IdentityQueriesReturnTheirMembers) {
  Device device;
  VDeviceInterface& interface = device;
  for (const std::uint32_t id : {0u, 17u, 4294967295u}) {
    device.data_id_ = id;
    EXPECT_EQ(interface.DataId(), id);
  }
  for (const bool use : {true, false, true}) {
    device.use_controller_db_ = use;
    EXPECT_EQ(interface.UseControllerDb(), use);
  }
}

TEST(DeviceLayoutTest, GetValueIsNeverReady) {
  Device device;
  const VDeviceInterface& interface = device;
  for (unsigned int index : {0u, 1u, 4294967295u}) {
    for (const std::string key : {"", "value", "温度"}) {
      try {
        interface.Get_Value(index, key);
        ADD_FAILURE() << "Get_Value returned for index " << index;
      } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "数据未就绪");
        EXPECT_EQ(std::strlen(e.what()), 15u);
      }
    }
  }
}

TEST(DeviceLayoutTest, DeviceHasNoChildren) {
  Device device;
  for (unsigned int index : {0u, 1u, 4294967295u}) {
    EXPECT_EQ(device.GetChildVDevice(index), nullptr);
  }
  EXPECT_TRUE(device.GetAllChildVDevices().empty());
}

TEST(DeviceLayoutTest, DeviceIsDeletedThroughTheHostBase) {
  DranVDevice* device = new Device;
  EXPECT_EQ(device->DeviceType(), "velk_temperature");
  delete device;  // AddressSanitizer reports a mismatched or partial delete
}

TEST(DeviceLayoutTest, HostMayHoldTheDeviceInASharedPointer) {
  std::shared_ptr<DranVDevice> shared(new Device);
  EXPECT_EQ(shared->shared_from_this(), shared);
}

}  // namespace
