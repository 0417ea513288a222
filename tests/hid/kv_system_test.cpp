// The bindings against Wine's own libraries. Wine lists virtual HID devices of its own (vendor
// 845E) whose hardware keys and interfaces come and go while its device services start, so these
// tests depend on nothing it lists at that moment: each record need only fit the data the system
// gave for it, and whatever is listed must be safe to open and query.
#include "framework/kv_handle.h"
#include "hid/kv_hid.h"
#include "hid/kv_hid_w32.h"
#include "hid/kv_win32_di.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

namespace {

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// A device that is gone or refuses access gives neutral answers; one that opens gives data that
// the bindings can take apart.
void QueryListedDevice(const std::string& path) {
    TkvHandle file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr));
    if (!file)
        return;
    TkvHiddAttributes attributes;
    EXPECT_NO_THROW(HidGetAttributes(file.Get(), attributes));
    EXPECT_NO_THROW(HidGetProductString(file.Get()));
    PHIDP_PREPARSED_DATA data = HidGetPreparsedData(file.Get());
    if (data == nullptr)
        return;
    HIDP_CAPS caps{};
    EXPECT_EQ(HidGetCaps(data, caps), HIDP_STATUS_SUCCESS);
    EXPECT_TRUE(HidFreePreparsedData(data));
}

TEST(SystemLibraries, BindAndEnumerateWhateverIsListed) {
    UnloadHidLibraries();
    ASSERT_TRUE(HidLoaded());
    GUID guid{};
    HidGetHidGuid(guid);
    EXPECT_EQ(guid.Data1, 0x4d1e55b2u);
    ASSERT_TRUE(SetupApiLoaded());

    std::vector<std::unique_ptr<TkvDevice>> perDevice, interfaces;
    ASSERT_NO_THROW(EnumerateDevices(&guid, true, true, true, perDevice));
    ASSERT_NO_THROW(EnumerateDevices(&guid, true, false, true, interfaces));
    // The instance comes from the device set itself; the hardware key and the interface may be
    // missing, but a key that was read is the device's own, relative to its hive.
    for (const auto& device : perDevice) {
        SCOPED_TRACE(device->InstanceId);
        EXPECT_FALSE(device->InstanceId.empty());
        if (!device->RegistryPath.empty()) {
            EXPECT_NE(device->RegistryPath.front(), '\\');
            EXPECT_NE(Upper(device->RegistryPath).find(Upper(device->InstanceId)),
                      std::string::npos);
        }
        if (!device->DevicePath.empty()) {
            EXPECT_EQ(device->DevicePath.front(), '\\');
            QueryListedDevice(device->DevicePath);
        }
    }
    // An interface without a path is left out; this mode reads no instance and no key.
    for (const auto& device : interfaces) {
        SCOPED_TRACE(device->DevicePath);
        ASSERT_FALSE(device->DevicePath.empty());
        EXPECT_EQ(device->DevicePath.front(), '\\');
        EXPECT_EQ(device->InstanceId, "");
        EXPECT_EQ(device->RegistryPath, "");
        EXPECT_EQ(device->DevInst, 0u);
        QueryListedDevice(device->DevicePath);
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
