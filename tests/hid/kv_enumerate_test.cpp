#include "hid/kv_win32_di.h"

#include "hid/kv_hid_w32.h"
#include "sim/sim_bus.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

namespace {

using TList = std::vector<std::unique_ptr<TkvDevice>>;

class Enumerate : public testing::Test {
protected:
    TList List(bool perDevice, bool presentOnly = true, bool withInterface = true) {
        GUID guid{};
        HidGetHidGuid(guid);
        TList list;
        EnumerateDevices(&guid, presentOnly, perDevice, withInterface, list);
        auto count = reinterpret_cast<LONG(WINAPI*)()>(reinterpret_cast<void*>(
            GetProcAddress(SetupApi().SetupApiModule, "TrelvonSimOpenSetCount")));
        EXPECT_TRUE(count && count() == 0) << "device information set left open";
        return list;
    }
    TBindingReset reset_;
    TSimBus bus_;
};

TEST_F(Enumerate, PerDeviceModeFillsEveryField) {
    TSimDevice info;
    info.Description = "USB Input Device";
    info.SetupManufacturer = "(Standard system devices)";
    info.DriverKey = "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}\\0007";
    info.PdoName = "\\Device\\00000071";
    info.PortName = "COM3";
    info.BusChildren = {"HID\\CHILD\\1", "HID\\CHILD\\2"};
    int first = bus_.AddDevice(info);
    int second = bus_.AddDevice(TSimDevice{});

    TList list = List(true);
    ASSERT_EQ(list.size(), 2u);
    const TkvDevice& d = *list[0];
    EXPECT_EQ(d.DriverKey, "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}\\0007");
    EXPECT_EQ(d.Service, "HidUsb");
    EXPECT_EQ(d.PdoName, "\\Device\\00000071");
    EXPECT_EQ(d.Description, "USB Input Device");
    EXPECT_EQ(d.Manufacturer, "(Standard system devices)");
    EXPECT_EQ(d.DevicePath, bus_.DevicePath(first));
    EXPECT_EQ(d.InstanceId, bus_.InstanceId(first));
    EXPECT_EQ(d.DevInst, static_cast<std::uint32_t>(first));
    EXPECT_EQ(d.BusChildren, "HID\\CHILD\\1;HID\\CHILD\\2");
    EXPECT_EQ(d.PortName, "COM3");
    EXPECT_TRUE(SameTextNoCase(d.RegistryPath, "SYSTEM\\CurrentControlSet\\Enum\\" +
                                                   bus_.InstanceId(first) +
                                                   "\\Device Parameters") ||
                StartsWithNoCase(d.RegistryPath, "SYSTEM\\ControlSet"))
        << d.RegistryPath;
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, d.RegistryPath, "PortName"), "COM3");
    EXPECT_EQ(list[1]->DevicePath, bus_.DevicePath(second));
    EXPECT_EQ(list[1]->BusChildren, "");
    EXPECT_EQ(list[1]->PortName, "");
}

TEST_F(Enumerate, TheInterfacePathWinsOverTheSymbolicName) {
    TSimDevice info;
    info.SymbolicName = "\\\\?\\hid#symbolic";
    int id = bus_.AddDevice(info);
    EXPECT_EQ(List(true, true, false).at(0)->DevicePath, "\\\\?\\hid#symbolic");
    EXPECT_EQ(List(true, true, true).at(0)->DevicePath, bus_.DevicePath(id));
}

TEST_F(Enumerate, AbsentDevicesOnlyWhenAskedFor) {
    bus_.AddDevice(TSimDevice{});
    int gone = bus_.AddDevice(TSimDevice{});
    bus_.Unplug(gone);
    EXPECT_EQ(List(true).size(), 1u);
    EXPECT_EQ(List(true, false).size(), 2u);
}

TEST_F(Enumerate, InterfaceOnlyModeLeavesTheDeviceFieldsEmpty) {
    TSimDevice info;
    info.FoundPerDevice = false;
    info.PortName = "COM4";
    info.BusChildren = {"HID\\CHILD\\1"};
    int id = bus_.AddDevice(info);
    EXPECT_TRUE(List(true).empty());

    TList list = List(false);
    ASSERT_EQ(list.size(), 1u);
    const TkvDevice& d = *list[0];
    EXPECT_EQ(d.DevicePath, bus_.DevicePath(id));
    EXPECT_EQ(d.Description, "HID-compliant consumer control device");
    EXPECT_EQ(d.Service, "HidUsb");
    EXPECT_FALSE(d.DriverKey.empty());
    EXPECT_EQ(d.InstanceId, "");
    EXPECT_EQ(d.DevInst, 0u);
    EXPECT_EQ(d.RegistryPath, "");
    EXPECT_EQ(d.PortName, "");
    EXPECT_EQ(d.BusChildren, "");
}

TEST_F(Enumerate, InterfacesWithoutAReadableDetailAreSkipped) {
    TSimDevice info;
    info.DetailFault = TSimDetailFault::OtherError;
    bus_.AddDevice(info);
    info.DetailFault = TSimDetailFault::ZeroSize;
    bus_.AddDevice(info);
    info.DetailFault = TSimDetailFault::HugeSize;
    bus_.AddDevice(info);
    int good = bus_.AddDevice(TSimDevice{});

    TList list = List(false);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->DevicePath, bus_.DevicePath(good));

    // Per device the records stay, with the path from the hardware key.
    list = List(true);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[2]->DevicePath, bus_.DevicePath(3));
}

TEST_F(Enumerate, SizeAnswersBeyondTheDataAreNotTrusted) {
    TSimDevice info;
    info.LieAboutSizes = true;
    info.BusChildren = {"HID\\CHILD\\1"};
    bus_.AddDevice(info);
    TList list = List(true);
    ASSERT_EQ(list.size(), 1u);
    const TkvDevice& d = *list[0];
    EXPECT_EQ(d.Description, ""); // size 0
    EXPECT_EQ(d.Service, "");     // size beyond the buffer
    EXPECT_EQ(d.DriverKey, "");
    EXPECT_EQ(d.InstanceId, "");
    EXPECT_EQ(d.DevInst, 0u);
    EXPECT_EQ(d.BusChildren, "");
}

TEST_F(Enumerate, WithoutAHardwareKeyThePathComesFromTheInterface) {
    TSimDevice info;
    info.HasRegistryKey = false;
    int id = bus_.AddDevice(info);
    TList list = List(true);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->RegistryPath, "");
    EXPECT_EQ(list[0]->DevicePath, bus_.DevicePath(id));
    EXPECT_EQ(List(true, true, false).at(0)->DevicePath, "");
}

TEST_F(Enumerate, RelatedDeviceIds) {
    TSimDevice info;
    info.BusChildren = {"A\\1", "B\\2", "C\\3"};
    int id = bus_.AddDevice(info);
    ASSERT_TRUE(SetupApiLoaded());
    EXPECT_EQ(GetRelatedDeviceIds(bus_.InstanceId(id), ", ", true), "A\\1, B\\2, C\\3");
    EXPECT_EQ(GetRelatedDeviceIds(bus_.InstanceId(id), ";", false), "");
    EXPECT_EQ(GetRelatedDeviceIds("NO\\SUCH\\DEVICE", ";", true), "");
}

TEST_F(Enumerate, OtherClassesFindNothing) {
    bus_.AddDevice(TSimDevice{});
    const GUID other = {
        0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    TList list;
    EnumerateDevices(&other, true, true, true, list);
    EnumerateDevices(&other, true, false, true, list);
    EXPECT_TRUE(list.empty());
}

} // namespace
