// The table of kvhid.ini keys: each row's writer and reader agree, and the file holds the keys in
// the table's order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/settings_keys.h"

namespace {

std::vector<std::string> Names(const std::string& text) {
    std::vector<std::string> names;
    for (std::size_t at = 0; at < text.size(); at = text.find("\r\n", at) + 2)
        names.push_back(text.substr(at, text.find('=', at) - at));
    return names;
}

// Every key written once, in table order, and read back to the same text: a row whose reader
// misses what its writer wrote, or a key written outside the table, shows here.
TEST(SettingsKeysTest, EveryKeyIsWrittenInTableOrderAndReadsBackTheSame) {
    THidDeviceIdentity device;
    device.Path = "\\\\?\\hid#vid_1209&pid_0001";
    device.VendorID = 0x1209;
    const THidFileSettings file{
        .DeviceIndex = 3, .ChosenDevice = device, .ExtendedMode = true, .QuickResponse = false};
    std::vector<std::unique_ptr<THidAction>> actions;
    THidAction& action = *actions.emplace_back(std::make_unique<THidAction>(atUnknown));
    action.Command = {THidCommandKind::Rate, 4};
    action.DeviceIndex = 1;
    action.Device = device;
    action.RepeatDelayMs = 300;
    action.RepeatIntervalMs = 2000;
    const std::vector<std::uint8_t> bursts[kHidPatternRoles] = {{1}, {2, 3}, {0}, {1, 0}};
    for (int role = 0; role < kHidPatternRoles; ++role)
        action.Patterns[role] = THidBurstPattern::Of(bursts[role]);

    const std::string text = FormatSettings(file, actions);
    std::vector<std::string> expected;
    for (const THidSettingsKey& key : SettingsKeys())
        expected.push_back(key.OfAction() ? key.NameAt(0) : std::string(key.Name));
    EXPECT_EQ(Names(text), expected) << text;

    const THidSettingsContent read = ParseSettings(text, kAllHidActions);
    ASSERT_EQ(read.Actions.size(), 1u);
    EXPECT_EQ(read.Actions[0]->Patterns, action.Patterns);
    EXPECT_EQ(FormatSettings(read.File, read.Actions), text);
}

} // namespace
