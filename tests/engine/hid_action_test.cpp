#include <gtest/gtest.h>

#include <vector>

#include "engine/hid_action.h"

namespace {

TEST(THidActionTest, TypeTableNamesLettersAndRepeatingSet) {
    const char* names[] = {"Unknown",  "Play/Pause", "Next",        "Previous",
                           "Stop",     "Volume Up",  "Volume Down", "Forward",
                           "Backward", "Play",       "Pause",       "Full Screen",
                           "Eject",    "Mute",       "Shuffle",     "Repeat"};
    for (int type = 0; type < kHidActionTypeCount; ++type) {
        THidAction action(static_cast<std::uint8_t>(type));
        EXPECT_EQ(action.ActionName(), names[type]);
        EXPECT_EQ(action.ToText()[0], 'A' + type);
        EXPECT_EQ(action.IsRepeatable(), type >= 5 && type <= 8) << type;
    }
    EXPECT_STREQ(HidActionName(16), "");
    EXPECT_FALSE(IsRepeatingHidAction(0xE5)); // the low bits alone must not make it repeat
}

TEST(THidActionTest, AssignedOnlyWithTypeCodeAndDevice) {
    THidAction action(atNext);
    EXPECT_FALSE(action.IsAssigned());
    action.Patterns[prPress].Code = 0;
    EXPECT_FALSE(action.IsAssigned());
    action.DeviceIndex = 0;
    EXPECT_TRUE(action.IsAssigned());
    action.ActionType = atUnknown;
    EXPECT_FALSE(action.IsAssigned());
}

TEST(THidActionTest, AssignLeavesPressedAlone) {
    THidAction source(atMute), target;
    source.Patterns[prPress].Code = 1, source.Patterns[prRelease].Code = 2, source.DeviceIndex = 3,
    source.Pressed = true;
    target.Assign(source);
    EXPECT_EQ(target.ToText(), source.ToText());
    EXPECT_FALSE(target.Pressed);
}

// A learned pattern is what dispatch hears: the same burst gives the same code, whatever the
// reports it came in.
TEST(THidActionTest, PatternsAreHeardAsBurstsAndMatched) {
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    THidBurst burst;
    burst.Start();
    EXPECT_FALSE(THidBurstPattern::Of(burst).Learned());
    burst.Add(abc, 1);
    burst.Add(abc + 1, 2);
    const THidBurstPattern pattern = THidBurstPattern::Of(burst);
    EXPECT_EQ(pattern.Code, 0xCADBBE3Du);
    EXPECT_EQ(pattern, THidBurstPattern::Of(abc));
    EXPECT_EQ(pattern.Bytes, std::vector<std::uint8_t>(abc, abc + 3));
    // The bytes are kept only while the whole burst fits.
    const std::vector<std::uint8_t> longest(kMaxBurstBytes, 7), tooLong(kMaxBurstBytes + 1, 7);
    EXPECT_EQ(THidBurstPattern::Of(longest).Bytes, longest);
    EXPECT_TRUE(THidBurstPattern::Of(tooLong).Bytes.empty());
    EXPECT_TRUE(THidBurstPattern::Of(tooLong).Learned());

    THidAction action(atVolumeUp);
    action.Patterns[prPress] = pattern;
    action.Pressed = true; // held, but no release code learned: the press code still counts
    EXPECT_TRUE(action.Matches(0xCADBBE3Du));
    action.Patterns[prRelease].Code = 1;
    EXPECT_FALSE(action.Matches(0xCADBBE3Du));
    EXPECT_TRUE(action.Matches(1));
    EXPECT_FALSE(action.Matches(kNoCode)); // an alternate not learned matches nothing
    action.Patterns[prAltRelease].Code = 2;
    EXPECT_TRUE(action.Matches(2));
    action.ResetCodes();
    EXPECT_EQ(action.ToText(), "FFFFFFFFFFFFFFFFF-1");
}

TEST(THidActionTest, TextForm) {
    THidAction next(atNext);
    next.Patterns[prPress].Code = 0xCADBBE3D, next.DeviceIndex = 0;
    EXPECT_EQ(next.ToText(), "CCADBBE3DFFFFFFFF0");

    struct Case {
        const char* text;
        std::uint8_t type;
        std::uint32_t press, release;
        std::int32_t device;
    } cases[] = {
        {"Fcadbbe3d0000000A12", 5, 0xCADBBE3D, 0xA, 12},
        {"G0000000100000002-2147483648", 6, 1, 2, INT32_MIN},
        {"BxxxxxxxxyyyyyyyyZ", 1, kNoCode, kNoCode, -1},
        {"C12345678123456789999999999", 2, 0x12345678, 0x12345678, -1}, // index out of range
        {"D12", 3, 0x12, kNoCode, -1},                                  // short text
        {"@0000000000000000", 0xFF, 0, 0, -1},                          // below 'A' wraps
        {"", 0xBF, kNoCode, kNoCode, -1}, // a NUL letter, kept in the text form below
    };
    for (const Case& c : cases) {
        THidAction action;
        action.Pressed = true;
        action.FromText(c.text);
        EXPECT_EQ(action.ActionType, c.type) << c.text;
        EXPECT_EQ(action.PressCode(), c.press) << c.text;
        EXPECT_EQ(action.ReleaseCode(), c.release) << c.text;
        EXPECT_EQ(action.DeviceIndex, c.device) << c.text;
        EXPECT_TRUE(action.Pressed);
        EXPECT_EQ(action.ToText().size(), 17u + std::to_string(action.DeviceIndex).size());
    }
}

TEST(THidActionTest, CommandWordsReadBackAsWrittenAndNothingElseReadsAsACommand) {
    const std::pair<const char*, const char*> commands[] = {
        {"stop-after-track", "Stop after this track"},
        {"stop-fade", "Stop with fade-out"},
        {"playlist-start", "Start of playlist"},
        {"playlist-end", "End of playlist"},
        {"main-window", "Main window"},
        {"playlist-window", "Playlist editor"},
        {"equalizer-window", "Equalizer"},
        {"always-on-top", "Always on top"},
        {"preferences", "Preferences"},
        {"rate:0", "Rate 0"},
        {"rate:5", "Rate 5"},
        {"menu:40000", "Menu command 40000"},
        {"menu:65535", "Menu command 65535"}};
    for (const auto& [word, name] : commands) {
        const auto command = ParseHidCommand(word);
        ASSERT_TRUE(command) << word;
        EXPECT_EQ(HidCommandWord(*command), word);
        EXPECT_EQ(HidCommandName(*command), name);
    }
    for (const std::string& bad : std::vector<std::string>{
             "", "rate:", "rate:6", "rate:9", "rate:-1", "rate:+3", "rate: 3", "rate:03x",
             "menu:12", "menu:39999", "menu:65536", "menu:99999999999", "menu:040000",
             "Preferences", "preferences ", "stop", "rate", std::string(5000, 'x')})
        EXPECT_FALSE(ParseHidCommand(bad)) << bad;
}

TEST(THidActionTest, ACommandCountsOnlyOnAnUnknownActionAndIsCopiedWithIt) {
    THidAction source;
    source.Patterns[prPress].Code = 1, source.DeviceIndex = 0;
    EXPECT_FALSE(source.IsAssigned());
    source.Command = {THidCommandKind::Rate, 4};
    EXPECT_TRUE(source.IsAssigned());
    EXPECT_EQ(source.ActionName(), "Rate 4");
    EXPECT_EQ(source.ToText(), "A00000001FFFFFFFF0"); // the line an older version reads
    THidAction copy(atNext);
    copy.Assign(source);
    EXPECT_EQ(copy.Command, source.Command);
    EXPECT_TRUE(copy.HasCommand());
    copy.ActionType = atNext;
    EXPECT_FALSE(copy.HasCommand());
    EXPECT_EQ(copy.ActionName(), "Next");
}

} // namespace
