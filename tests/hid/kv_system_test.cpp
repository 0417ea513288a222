// The bindings against Wine's own libraries. Wine 8 offers no real device, but lists its own
// virtual HID mouse and keyboard (vendor 845E); whatever it lists must come through whole.
#include "hid/kv_hid.h"
#include "hid/kv_hid_w32.h"
#include "hid/kv_win32_di.h"

#include <gtest/gtest.h>

namespace {

TEST(SystemLibraries, BindAndFindNoDevice) {
    UnloadHidLibraries();
    ASSERT_TRUE(HidLoaded());
    GUID guid{};
    HidGetHidGuid(guid);
    EXPECT_EQ(guid.Data1, 0x4d1e55b2u);
    ASSERT_TRUE(SetupApiLoaded());

    std::vector<std::unique_ptr<TkvDevice>> perDevice, interfaces;
    EXPECT_NO_THROW(EnumerateDevices(&guid, true, true, true, perDevice));
    EXPECT_NO_THROW(EnumerateDevices(&guid, true, false, true, interfaces));
    // No count comparison: Wine's bus driver may still be adding its devices after boot.
    for (const auto& device : perDevice) {
        EXPECT_FALSE(device->DevicePath.empty());
        EXPECT_FALSE(device->InstanceId.empty());
    }
    for (const auto& device : interfaces) {
        EXPECT_FALSE(device->DevicePath.empty());
        EXPECT_EQ(device->InstanceId, "");
    }
    EXPECT_EQ(HidGetProductString(INVALID_HANDLE_VALUE), "");
    EXPECT_EQ(HidGetPreparsedData(INVALID_HANDLE_VALUE), nullptr);
}

TEST(SystemLibraries, ThePortLoadsWhateverIsListedWithoutError) {
    TkvHid port;
    EXPECT_NO_THROW(port.DeviceListChanged());
    for (std::int32_t i = 0; i < port.DeviceCount(); ++i) {
        const TkvHidDevice* device = port.GetHidDevice(i);
        ASSERT_NE(device, nullptr);
        EXPECT_FALSE(device->FriendlyName.empty()) << device->DevicePath;
        EXPECT_EQ(device->fPpd, nullptr);
    }
    EXPECT_EQ(port.CurrentDevice(), port.GetHidDevice(0));
}

TEST(SystemLibraries, UnloadFreesWhatWasLoaded) {
    ASSERT_TRUE(HidLoaded());
    ASSERT_TRUE(SetupApiLoaded());
    UnloadHidLibraries();
    EXPECT_EQ(SetupApi().SetupApiModule, nullptr);
    EXPECT_EQ(GetModuleHandleA("hid.dll"), nullptr);
    EXPECT_EQ(GetModuleHandleA("setupapi.dll"), nullptr);
    // And loads again afterwards, as after the player reloads the plug-in.
    EXPECT_TRUE(HidLoaded());
    EXPECT_TRUE(SetupApiLoaded());
    UnloadHidLibraries();
}

} // namespace
