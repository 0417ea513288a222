// Finding remembered devices again after they moved, and the identity's kvhid.ini form.
#include <gtest/gtest.h>

#include "engine/device_identity.h"

namespace {

THidDeviceIdentity Remote(std::string path, std::string serial = {}) {
    THidDeviceIdentity device;
    device.Path = std::move(path);
    device.VendorID = 0x1209;
    device.ProductID = 0x0001;
    device.VersionNumber = 0x0100;
    device.UsagePage = 0x0C;
    device.Usage = 0x01;
    device.SerialNumber = std::move(serial);
    device.InstanceId = "HID\\VID_1209&PID_0001\\7&1&0&0000";
    return device;
}

THidDeviceIdentity Keyboard(std::string path) {
    THidDeviceIdentity device = Remote(std::move(path));
    device.UsagePage = 0x01;
    device.Usage = 0x06;
    return device;
}

// The identities as a saved kvhid.ini would hold them: numbered in the list they came from.
std::vector<THidDeviceIdentity> Saved(std::vector<THidDeviceIdentity> devices) {
    NumberIdenticalDevices(devices);
    return devices;
}

TEST(THidDeviceIdentityTest, TheTextFormKeepsEveryFieldAndRefusesAnythingElse) {
    THidDeviceIdentity device =
        Remote("\\\\?\\hid#vid_1209&pid_0001#7&1,odd&0#{4d1e55b2}", "A,b\x01");
    device.Ordinal = 3;
    device.Name = "R,c";
    const std::string text = IdentityText(device);
    EXPECT_EQ(text, "1209,0001,0100,000C,0001,3,412C6201,522C63,HID\\VID_1209&PID_0001\\7&1&0&0000,"
                    "\\\\?\\hid#vid_1209&pid_0001#7&1,odd&0#{4d1e55b2}");
    EXPECT_EQ(ParseIdentity(text), device);
    for (const char* bad :
         {"", "garbage", "1209,0001,0100,000C,0001,0,,,id,", // no path
          "12X9,0001,0100,000C,0001,0,,,id,p", "1209,1,0100,000C,0001,0,,,id,p",
          "1209,0001,0100,000C,0001,-1,,,id,p", "1209,0001,0100,000C,0001,0,4,,id,p",
          "1209,0001,0100,000C,0001,0,zz,,id,p", "1209,0001,0100,000C,0001,0,,5,id,p",
          "1209,0001,0100,000C,0001,0,,id,p"})
        EXPECT_FALSE(ParseIdentity(bad)) << bad;
}

TEST(THidDeviceIdentityTest, ARemoteIsFoundAgainAfterItMovedOrAnotherDeviceCameBeforeIt) {
    const auto remembered = Saved({Remote("p2"), Keyboard("p3")});
    // Another device listed first, the remote on another port (new path, same ids).
    EXPECT_EQ(LocateDevices(remembered, {Keyboard("p0"), Remote("p9"), Keyboard("p3")}),
              (std::vector<int>{1, 2}));
    // Gone: it stays remembered and nothing else takes its place.
    EXPECT_EQ(LocateDevices(remembered, {Keyboard("p3")}), (std::vector<int>{-1, 0}));
}

TEST(THidDeviceIdentityTest, IdenticalRemotesKeepTheirOwnBindings) {
    // With serial numbers, whatever ports they move to.
    const auto withSerials = Saved({Remote("p1", "one"), Remote("p2", "two")});
    EXPECT_EQ(LocateDevices(withSerials, {Remote("p7", "two"), Remote("p8", "one")}),
              (std::vector<int>{1, 0}));
    // Without: one that stayed is found by its path, the other takes what is left.
    const auto plain = Saved({Remote("p1"), Remote("p2")});
    EXPECT_EQ(LocateDevices(plain, {Remote("p5"), Remote("p2")}), (std::vector<int>{0, 1}));
    // Both moved: their order among the identical ones decides.
    EXPECT_EQ(LocateDevices(plain, {Remote("p9"), Remote("p4")}), (std::vector<int>{1, 0}));
    // One of two present, on a new port: without serial numbers nothing tells which it is, so
    // the first remembered one takes it.
    EXPECT_EQ(LocateDevices(plain, {Remote("p5")}), (std::vector<int>{0, -1}));
    // Actions on one device share it.
    const auto twice = Saved({Remote("p1"), Remote("p1")});
    EXPECT_EQ(LocateDevices(twice, {Remote("p3")}), (std::vector<int>{0, 0}));
}

} // namespace
