// The engine finds its devices again after they moved, and kvhid.ini stays readable both ways.
#include <gtest/gtest.h>

#include "engine/hid_processor.h"

namespace {

THidDeviceIdentity Device(std::string path, std::uint16_t usage = 0x01, std::string serial = {}) {
    THidDeviceIdentity device;
    device.Path = std::move(path);
    device.VendorID = 0x1209;
    device.ProductID = 0x0001;
    device.UsagePage = 0x0C;
    device.Usage = usage;
    device.SerialNumber = std::move(serial);
    device.InstanceId = "HID\\VID_1209&PID_0001\\" + device.Path;
    device.Name = "Remote " + device.Path;
    return device;
}

// A file of an older version: positions only.
constexpr char kOldFile[] = "HidIndex=1\r\nMode=0\r\nAction00=B11111111FFFFFFFF1\r\n"
                            "Action01=E22222222333333330\r\n";

// What an older version reads of a saved file: HidIndex, Mode and the action lines.
std::string OlderVersionsPart(const std::string& saved) {
    std::string lines;
    for (std::size_t at = 0; at < saved.size();) {
        const std::size_t end = saved.find("\r\n", at) + 2;
        const std::string line = saved.substr(at, end - at);
        const std::size_t equals = line.find('=');
        if (line.starts_with("HidIndex=") || line.starts_with("Mode=") || equals == 8)
            lines += line; // ActionNN=
        at = end;
    }
    return lines;
}

// What is saved once `engine` has saved, the player restarted and found `present`: as after an
// OK in the dialog and a restart.
std::string SavedAfterRestart(const THidProcessor& engine,
                              const std::vector<THidDeviceIdentity>& present) {
    THidProcessor restarted;
    restarted.ReadSettingsText(engine.SettingsText());
    restarted.MatchDevices(present);
    return restarted.SettingsText();
}

TEST(THidRememberedDeviceTest, AnOldFileLearnsItsDevicesFromTheirFirstPress) {
    THidProcessor engine;
    engine.ReadSettingsText(kOldFile);
    engine.MatchDevices({Device("a", 6), Device("b")});
    EXPECT_EQ(engine.Actions(0).DeviceIndex, 1);
    EXPECT_EQ(engine.Actions(1).DeviceIndex, 0);
    // Present, but nothing has shown yet that the device at the position is the one meant.
    EXPECT_EQ(SavedAfterRestart(engine, {Device("a", 6), Device("b")}), kOldFile);

    // A press of Action00's button on the device at its position: that device is the one, for
    // the choice at the same position too, but not for Action01 at another.
    engine.CompleteBurst(0x11111111, 1);
    EXPECT_EQ(engine.Actions(0).Device.Path, "b");
    EXPECT_EQ(engine.ChosenDevice().Path, "b");
    EXPECT_TRUE(engine.Actions(1).Device.Path.empty());
    // Saved, the old lines stay as they were and the identities come as new keys.
    const std::string saved = engine.SettingsText();
    EXPECT_NE(saved.find("\r\nHidDevice="), std::string::npos);
    EXPECT_NE(saved.find("\r\nAction00=B11111111FFFFFFFF1\r\nAction00Device="), std::string::npos);
    EXPECT_EQ(saved.find("Action01Device="), std::string::npos);
    EXPECT_EQ(OlderVersionsPart(saved), kOldFile);

    // Another device comes first and the remote moved: the bindings follow their devices, and
    // the lines an older version reads carry the positions of now.
    THidProcessor reloaded;
    reloaded.ReadSettingsText(saved);
    reloaded.MatchDevices({Device("new"), Device("a", 6), Device("b2")});
    EXPECT_EQ(reloaded.Actions(0).DeviceIndex, 2);
    EXPECT_EQ(reloaded.Actions(0).Device.Path, "b2");
    EXPECT_EQ(reloaded.DeviceIndex(), 2);
    EXPECT_NE(reloaded.SettingsText().find("Action00=B11111111FFFFFFFF2\r\n"), std::string::npos);
}

TEST(THidRememberedDeviceTest, ARemoteAwayAtTheFirstRefreshIsNeverTakenForWhatHoldsItsPosition) {
    THidProcessor engine;
    engine.ReadSettingsText(kOldFile);
    const std::uint32_t next = engine.Actions(0).PressCode();
    // The remote is unplugged; an unrelated device now sits at its position.
    engine.MatchDevices({Device("a", 6), Device("keyboard", 6, "K1")});
    engine.CompleteBurst(0x12345678, 1);
    EXPECT_TRUE(engine.Actions(0).Device.Path.empty());
    EXPECT_TRUE(engine.ChosenDevice().Path.empty());
    EXPECT_EQ(SavedAfterRestart(engine, {Device("a", 6), Device("keyboard", 6, "K1")}), kOldFile);

    // It comes back at its position: its first press makes it the remote.
    engine.MatchDevices({Device("a", 6), Device("b")});
    EXPECT_EQ(engine.FindAction(next, 1), &engine.Actions(0));
    engine.CompleteBurst(next, 1);
    EXPECT_EQ(engine.Actions(0).Device.Path, "b");

    // From then on it is waited for while away, and not re-pointed.
    engine.MatchDevices({Device("a", 6), Device("keyboard", 6, "K1")});
    EXPECT_TRUE(engine.Actions(0).DeviceAway);
    EXPECT_TRUE(engine.ChosenDeviceAway());
    EXPECT_EQ(engine.FindAction(next, 1), nullptr);
    // The file keeps the remote's identity and, for older versions, its last position.
    THidProcessor saved;
    saved.ReadSettingsText(engine.SettingsText());
    EXPECT_EQ(saved.Actions(0).Device.Path, "b");
    EXPECT_EQ(saved.Actions(0).DeviceIndex, 1);
    // It comes back at another port.
    engine.MatchDevices({Device("b9"), Device("a", 6)});
    EXPECT_FALSE(engine.Actions(0).DeviceAway);
    EXPECT_EQ(engine.FindAction(next, 0), &engine.Actions(0));
}

TEST(THidRememberedDeviceTest, BadIdentitiesFallBackWithoutLosingTheRest) {
    const std::string good = IdentityText(Device("b"));
    for (const std::string& bad :
         {std::string("garbage"), good.substr(0, 20), std::string(100000, ','),
          std::string(1000, 'F') + good, std::string()}) {
        THidProcessor engine;
        engine.ReadSettingsText(std::string(kOldFile) + "HidDevice=" + bad + "\r\nAction00Device=" +
                                bad + "\r\nAction00Device=" + good + "\r\nMode=-1\r\n");
        ASSERT_EQ(engine.Count(), 2) << bad;
        EXPECT_FALSE(engine.ExtendedMode()); // the first Mode counts, as before
        // Unreadable: the stored position, as for an older file.
        engine.MatchDevices({Device("x"), Device("y")});
        EXPECT_EQ(engine.Actions(0).DeviceIndex, 1) << bad;
        EXPECT_FALSE(engine.Actions(0).DeviceAway) << bad;
        EXPECT_TRUE(engine.Actions(0).Device.Path.empty()) << bad;
    }
    // Readable but naming a device that is not there: away, not re-pointed.
    THidProcessor engine;
    engine.ReadSettingsText(std::string(kOldFile) +
                            "Action01Device=" + IdentityText(Device("gone", 0x99)));
    engine.MatchDevices({Device("x"), Device("y")});
    EXPECT_TRUE(engine.Actions(1).DeviceAway);
    EXPECT_FALSE(engine.Actions(0).DeviceAway);
}

} // namespace
