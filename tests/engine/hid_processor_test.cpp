#include <gtest/gtest.h>

#include <filesystem>

#include "engine/hid_processor.h"
#include "recording_processor.h"
#include "engine/settings_file.h"
#include "framework/kv_error.h"
#include "support/test_folder.h"

namespace {

// The player engine's set: everything but Full Screen.
class TPlayerLikeProcessor : public THidProcessor {
public:
    TPlayerLikeProcessor() { SetSupportedActions(0xF7FF); }
};

std::string Lines(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* line : lines)
        text += std::string(line) + "\r\n";
    return text;
}

TEST(THidProcessorTest, ListOwnsActionsAndFindsTypes) {
    THidProcessor engine;
    EXPECT_EQ(engine.Count(), 0);
    EXPECT_EQ(engine.SupportedActions(), 0xFFFF);
    THidAction& first = engine.Add(std::make_unique<THidAction>(atMute));
    engine.Add(std::make_unique<THidAction>(atMute));
    EXPECT_EQ(&engine.ActionForType(atMute), &first);
    THidAction& stop = engine.ActionForType(atStop);
    EXPECT_EQ(&engine.ActionForType(atStop), &stop);
    EXPECT_EQ(engine.Count(), 3);

    std::unique_ptr<THidAction> taken = engine.Delete(0);
    EXPECT_EQ(taken.get(), &first);
    EXPECT_EQ(engine.Count(), 2);
    EXPECT_EQ(&engine.Actions(1), &stop);
    EXPECT_THROW(engine.Actions(2), EkvError);
    EXPECT_THROW(engine.Delete(-1), EkvError);
    engine.Clear();
    EXPECT_EQ(engine.Count(), 0);
}

TEST(THidProcessorTest, WritesTheSettingsFormat) {
    THidProcessor engine;
    EXPECT_EQ(engine.SettingsText(), Lines({"HidIndex=-1", "Mode=0"}));
    engine.SetExtendedMode(true);
    for (int i = 0; i < kMaxActions + 4; ++i)
        engine.Add(std::make_unique<THidAction>(atNext)).DeviceIndex = i;
    engine.Actions(39).Patterns[prPress].Code = 0x1234;
    const std::string text = engine.SettingsText();
    EXPECT_TRUE(text.starts_with(Lines({"HidIndex=-1", "Mode=-1", "Action00=CFFFFFFFFFFFFFFFF0"})));
    EXPECT_NE(text.find("\r\nAction31=CFFFFFFFFFFFFFFFF31\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nAction39=C00001234FFFFFFFF39\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nAction32=CFFFFFFFFFFFFFFFF32\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nAction255=CFFFFFFFFFFFFFFFF255\r\n"), std::string::npos);
    EXPECT_EQ(text.find("Action256"), std::string::npos);

    // Every stored action comes back, the ones past the 32nd that older versions ignore too.
    TRecordingProcessor reread;
    reread.ReadSettingsText(text);
    ASSERT_EQ(reread.Count(), kMaxActions);
    EXPECT_EQ(reread.SettingsText(), text);
    reread.CompleteBurst(0x1234, 39);
    EXPECT_EQ(reread.Executed, std::vector<std::uint8_t>{atNext});
}

TEST(THidProcessorTest, ReadsAnySettingsText) {
    TPlayerLikeProcessor engine;
    engine.SetDeviceIndex(7);
    engine.SetExtendedMode(true);
    engine.ReadSettingsText("\xEF\xBB\xBFhidindex=  3 \nMODE=0\rAction05= CCADBBE3DFFFFFFFF0 \r\n"
                            "Action00=F0000000100000002-1\r\n"
                            "Action00=BFFFFFFFFFFFFFFFF9\r\nAction03=B1\r\n"
                            "Action01=LFFFFFFFFFFFFFFFF0\r\nAction02=Q0\r\nAction04=@0\r\n"
                            "Action06\r\nAction07=A=B=C\r\n");
    EXPECT_EQ(engine.DeviceIndex(), 3);
    EXPECT_FALSE(engine.ExtendedMode());
    ASSERT_EQ(engine.Count(), 3); // dense, in key order, unsupported and unknown letters dropped
    EXPECT_EQ(engine.Actions(0).ToText(), "F0000000100000002-1");
    EXPECT_EQ(engine.Actions(1).ToText(), "CCADBBE3DFFFFFFFF0");
    EXPECT_EQ(engine.Actions(2).ToText(), "AFFFFFFFFFFFFFFFF-1");
    EXPECT_NE(engine.SettingsText().find("Action01=CCADBBE3DFFFFFFFF0\r\n"), std::string::npos);

    for (const char* bad : {"HidIndex=99999999999\nMode=x", "HidIndex=5x", "Mode=", ""}) {
        engine.SetExtendedMode(true);
        engine.ReadSettingsText(bad);
        EXPECT_EQ(engine.DeviceIndex(), 0) << bad;
        EXPECT_FALSE(engine.ExtendedMode()) << bad;
    }
    engine.ReadSettingsText("Mode=5\n" + std::string(100000, '\xFF') +
                            "\nAction00=" + std::string(100000, 'C'));
    EXPECT_TRUE(engine.ExtendedMode());
    EXPECT_EQ(engine.Count(), 4);
}

TEST(THidProcessorTest, BurstBytesAndTheSwitchRoundTripAndABadValueCostsOnlyItsOwnBytes) {
    // 0xCADBBE3D is the code of "abc" (616263), 0x5AFA20E4 of 0x01.
    THidProcessor engine;
    engine.ReadSettingsText("QuickResponse=0\r\n"
                            "Action00=FCADBBE3D5AFA20E40\r\nAction00PressBytes=616263\r\n"
                            "Action00ReleaseBytes=01\r\n"
                            "Action01=CCADBBE3DFFFFFFFF0\r\naction01pressbytes= 616263 \r\n"
                            "Action02=CCADBBE3DFFFFFFFF0\r\nAction02PressBytes=61626\r\n"
                            "Action03=CCADBBE3DFFFFFFFF0\r\nAction03PressBytes=6162xx\r\n"
                            "Action04=CCADBBE3DFFFFFFFF0\r\nAction04PressBytes=616264\r\n"
                            "Action05=CCADBBE3DFFFFFFFF0\r\nAction05PressBytes=" +
                            std::string(514, '0') +
                            "\r\nAction06=CCADBBE3DFFFFFFFF0\r\nAction06ReleaseBytes=01\r\n");
    EXPECT_FALSE(engine.QuickResponse());
    ASSERT_EQ(engine.Count(), 7);
    const std::vector<std::uint8_t> abc{'a', 'b', 'c'};
    EXPECT_EQ(engine.Actions(0).Patterns[prPress].Bytes, abc);
    EXPECT_EQ(engine.Actions(0).Patterns[prRelease].Bytes, std::vector<std::uint8_t>{1});
    EXPECT_EQ(engine.Actions(1).Patterns[prPress].Bytes, abc);
    // Odd digits, not hexadecimal, another code, over 256 bytes, no code to match.
    for (int i = 2; i < 7; ++i) {
        EXPECT_TRUE(engine.Actions(i).Patterns[prPress].Bytes.empty()) << i;
        EXPECT_TRUE(engine.Actions(i).Patterns[prRelease].Bytes.empty()) << i;
        EXPECT_EQ(engine.Actions(i).ToText(), "CCADBBE3DFFFFFFFF0") << i;
    }

    const std::string saved = engine.SettingsText();
    EXPECT_TRUE(saved.starts_with(Lines(
        {"HidIndex=0", "Mode=0", "QuickResponse=0", "Action00=FCADBBE3D5AFA20E40",
         "Action00PressBytes=616263", "Action00ReleaseBytes=01", "Action01=CCADBBE3DFFFFFFFF0",
         "Action01PressBytes=616263", "Action02=CCADBBE3DFFFFFFFF0"})));
    THidProcessor reloaded;
    reloaded.ReadSettingsText(saved);
    EXPECT_EQ(reloaded.SettingsText(), saved);
    reloaded.ReadSettingsText("QuickResponse=x");
    EXPECT_TRUE(reloaded.QuickResponse()); // on unless it says 0
}

TEST(THidProcessorTest, KeysOlderVersionsIgnoreHoldAlternateCodesAndRepeatTimingPerAction) {
    // An older version's file reads and writes back as it was.
    const std::string old = Lines(
        {"HidIndex=0", "Mode=-1", "Action00=FCADBBE3D12345678-1", "Action01=CCADBBE3DFFFFFFFF0"});
    THidProcessor engine;
    engine.ReadSettingsText(old);
    EXPECT_EQ(engine.SettingsText(), old);

    const std::string full =
        Lines({"HidIndex=0", "Mode=-1", "Action00=FCADBBE3D12345678-1", "Action00AltPress=0000ABCD",
               "Action00AltRelease=FEDCBA98", "Action00RepeatDelay=300",
               "Action00RepeatInterval=2000", "Action01=CCADBBE3DFFFFFFFF0"});
    THidProcessor loaded;
    loaded.ReadSettingsText(full);
    const THidAction& up = loaded.Actions(0);
    EXPECT_EQ(up.Patterns[prAltPress].Code, 0xABCDu);
    EXPECT_EQ(up.Patterns[prAltRelease].Code, 0xFEDCBA98u);
    EXPECT_EQ(up.RepeatDelayMs, 300u);
    EXPECT_EQ(up.RepeatIntervalMs, 2000u);
    EXPECT_EQ(loaded.SettingsText(), full);

    // A bad value costs only its own key; the rest of the file, this action's other keys
    // included, reads as written.
    loaded.Clear();
    loaded.ReadSettingsText(Lines(
        {"Action00=FCADBBE3D12345678-1", "Action00RepeatDelay=99", "Action00AltPress=ABCD",
         "Action00RepeatInterval=150", "Action01=CCADBBE3DFFFFFFFF0", "Action01RepeatDelay=2001",
         "Action01RepeatInterval=-300", "Action01AltRelease=1234567", "Action02=CCADBBE3DFFFFFFFF0",
         "Action02RepeatDelay=99999999999999999999", "Action02RepeatInterval=1e3",
         "Action02AltPress=0x123456", "Action03=CCADBBE3DFFFFFFFF0", "Action03RepeatDelay= 100 ",
         "Action03AltPress=1234567G", "Mode=-1"}));
    ASSERT_EQ(loaded.Count(), 4);
    EXPECT_TRUE(loaded.ExtendedMode());
    for (int i = 0; i < 4; ++i) {
        const THidAction& action = loaded.Actions(i);
        EXPECT_EQ(action.PressCode(), 0xCADBBE3Du) << i;
        EXPECT_EQ(action.Patterns[prAltPress].Code, kNoCode) << i;
        EXPECT_EQ(action.Patterns[prAltRelease].Code, kNoCode) << i;
        EXPECT_EQ(action.RepeatDelayMs, i == 3 ? 100u : kDefaultRepeatMs) << i;
        EXPECT_EQ(action.RepeatIntervalMs, i == 0 ? 150u : kDefaultRepeatMs) << i;
    }
}

// The same text as an older version reads it: the new keys are not there for it.
std::string WithoutCommandKeys(const std::string& text) {
    std::string kept;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find("\r\n", at) + 2;
        const std::string line = text.substr(at, end - at);
        if (line.find("Command=") == std::string::npos)
            kept += line;
        at = end;
    }
    return kept;
}

TEST(THidProcessorTest, CommandsLiveInTheirOwnKeyWhichAnOlderVersionDoesNotRead) {
    const std::string text = Lines(
        {"HidIndex=0", "Mode=0", "Action00=A00000001FFFFFFFF0", "Action00Command=stop-after-track",
         "Action01=A00000002FFFFFFFF0", "Action01Command=rate:3", "Action02=A00000003FFFFFFFF0",
         "Action02Command=menu:40001", "Action03=C00000004FFFFFFFF0"});
    TRecordingProcessor engine;
    engine.ReadSettingsText(text);
    EXPECT_EQ(engine.SettingsText(), text);
    for (std::uint32_t code = 1; code <= 4; ++code)
        engine.CompleteBurst(code, 0);
    EXPECT_EQ(engine.Commands, (std::vector<THidCommand>{{THidCommandKind::StopAfterTrack, 0},
                                                         {THidCommandKind::Rate, 3},
                                                         {THidCommandKind::Menu, 40001}}));
    EXPECT_EQ(engine.Executed, std::vector<std::uint8_t>{atNext});

    // An older version keeps three Unknown actions that never fire, and the same action lines.
    TRecordingProcessor older;
    older.ReadSettingsText(WithoutCommandKeys(text));
    ASSERT_EQ(older.Count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(older.Actions(i).ToText(), engine.Actions(i).ToText()) << i;
    for (std::uint32_t code = 1; code <= 3; ++code)
        older.CompleteBurst(code, 0);
    EXPECT_TRUE(older.Executed.empty() && older.Commands.empty());
    EXPECT_EQ(older.SettingsText(), WithoutCommandKeys(text));
}

TEST(THidProcessorTest, ABadCommandKeyCostsOnlyItsOwnCommand) {
    TRecordingProcessor engine;
    engine.ReadSettingsText(Lines(
        {"Action00=A00000001FFFFFFFF0", "Action00Command=louder", "Action01=A00000002FFFFFFFF0",
         "Action01Command=rate:9", "Action02=A00000003FFFFFFFF0", "Action02Command=menu:12",
         "Action03=A00000004FFFFFFFF0", ("Action03Command=" + std::string(5000, 'r')).c_str(),
         "Action04=C00000005FFFFFFFF0", "Action04Command=preferences",
         "Action05=A00000006FFFFFFFF0", "Action05Command= always-on-top ",
         "Action05RepeatDelay=300"}));
    ASSERT_EQ(engine.Count(), 6);
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(engine.Actions(i).HasCommand()) << i;
    EXPECT_EQ(engine.Actions(4).ActionType, atNext); // the line's own type stays
    EXPECT_EQ(engine.Actions(5).Command.Kind, THidCommandKind::AlwaysOnTop);
    EXPECT_EQ(engine.Actions(5).RepeatDelayMs, 300u);
    for (std::uint32_t code = 1; code <= 6; ++code)
        engine.CompleteBurst(code, 0);
    EXPECT_EQ(engine.Executed, std::vector<std::uint8_t>{atNext});
    EXPECT_EQ(engine.Commands, (std::vector<THidCommand>{{THidCommandKind::AlwaysOnTop, 0}}));
}

class THidProcessorSettingsTest : public testing::Test {
protected:
    std::string PathOf(const char* name) const { return folder_.PathOf(name); }
    static std::string Content(const std::string& path) {
        std::string text;
        PlatformSettingsStore().ReadWhole(path, text);
        return text;
    }
    TTestFolder folder_{"trelvon_engine"};
};

TEST_F(THidProcessorSettingsTest, SavesAndLoadsRoundTrip) {
    const std::string path = PathOf("kvhid.ini");
    THidProcessor engine;
    EXPECT_FALSE(engine.LoadSettings(path)); // missing: nothing, previous values kept
    EXPECT_EQ(engine.DeviceIndex(), -1);
    engine.SetDeviceIndex(2);
    engine.SetExtendedMode(true);
    THidAction& up = engine.Add(std::make_unique<THidAction>(atVolumeUp));
    up.Patterns[prPress].Code = 0x12AB, up.Patterns[prRelease].Code = 0x34CD, up.DeviceIndex = 1,
    up.Pressed = true;
    ASSERT_TRUE(engine.SaveSettings(path));
    EXPECT_EQ(Content(path), engine.SettingsText());

    THidProcessor loaded;
    loaded.Add(std::make_unique<THidAction>(atStop));
    ASSERT_TRUE(loaded.LoadSettings(path));
    EXPECT_EQ(loaded.SettingsText(), engine.SettingsText());
    EXPECT_FALSE(loaded.Actions(0).Pressed);
}

// A file at the size limit is read as before; one byte more and nothing is loaded, so that a
// damaged file cannot stall the player while it starts.
TEST_F(THidProcessorSettingsTest, LoadsNothingFromAFileOverTheLimit) {
    const std::string path = PathOf("kvhid.ini");
    std::string content = "HidIndex=2\r\nAction00=CCADBBE3DFFFFFFFF0\r\nhidindex=5\r\n";
    content.resize(kSettingsFileLimit, '\n');
    ASSERT_TRUE(PlatformSettingsStore().WriteNew(path, content));
    THidProcessor engine;
    ASSERT_TRUE(engine.LoadSettings(path));
    EXPECT_EQ(engine.DeviceIndex(), 2);
    EXPECT_EQ(engine.Count(), 1);

    ASSERT_TRUE(PlatformSettingsStore().WriteNew(path, content + "\n"));
    EXPECT_FALSE(engine.LoadSettings(path));
    EXPECT_EQ(engine.Count(), 0);

    // The file that was not loaded may hold the user's bindings: the next save keeps it aside.
    ASSERT_TRUE(engine.SaveSettings(path));
    EXPECT_EQ(std::filesystem::file_size(path + ".bak"), kSettingsFileLimit + 1);
    EXPECT_EQ(Content(path), engine.SettingsText());
    // Once kept, later saves replace the file as usual, and a missing file leaves no .bak.
    std::filesystem::remove(path + ".bak");
    ASSERT_TRUE(engine.SaveSettings(path));
    std::filesystem::remove(path);
    EXPECT_FALSE(engine.LoadSettings(path));
    ASSERT_TRUE(engine.SaveSettings(path));
    EXPECT_FALSE(std::filesystem::exists(path + ".bak"));
}

// Makes the store fail at one step after doing the real work of the steps before it.
class TFailingStore : public THidSettingsStore {
public:
    explicit TFailingStore(bool failReplace) : failReplace_(failReplace) {}
    bool ReadWhole(const std::string& path, std::string& content) override {
        return PlatformSettingsStore().ReadWhole(path, content);
    }
    bool WriteNew(const std::string& path, std::string_view content) override {
        if (failReplace_)
            return PlatformSettingsStore().WriteNew(path, content);
        PlatformSettingsStore().WriteNew(path, content.substr(0, content.size() / 2));
        return false; // disk full halfway
    }
    bool Replace(const std::string& source, const std::string& target) override {
        return !failReplace_ && PlatformSettingsStore().Replace(source, target);
    }
    void Remove(const std::string& path) override { PlatformSettingsStore().Remove(path); }
    bool Exists(const std::string& path) override { return PlatformSettingsStore().Exists(path); }

private:
    bool failReplace_;
};

TEST_F(THidProcessorSettingsTest, FailedSaveLeavesTheOldFile) {
    const std::string path = PathOf("kvhid.ini");
    PlatformSettingsStore().WriteNew(path, "HidIndex=4\r\n");
    for (bool failReplace : {false, true}) {
        TFailingStore store(failReplace);
        EXPECT_FALSE(WriteSettingsFile(store, path, std::string(5000, 'x')));
        EXPECT_EQ(Content(path), "HidIndex=4\r\n");
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    }
    // A real failure on the engine's own path: something else holds the temporary name.
    std::filesystem::create_directory(path + ".tmp");
    THidProcessor engine;
    EXPECT_FALSE(engine.SaveSettings(path));
    EXPECT_EQ(Content(path), "HidIndex=4\r\n");
    EXPECT_FALSE(engine.SaveSettings(PathOf("missing\\folder/kvhid.ini")));
}

// A failed save names the file and the system's reason, for the user to read; here kvhid.ini is
// a folder, which no file can replace.
TEST_F(THidProcessorSettingsTest, AFailedSaveSaysWhereAndWhy) {
    const std::string path = PathOf("kvhid.ini");
    std::filesystem::create_directory(path);
    THidProcessor engine;
    const THidSaveResult saved = engine.SaveSettings(path);
    EXPECT_FALSE(saved);
    EXPECT_EQ(saved.Path, path);
    EXPECT_FALSE(saved.Reason.empty());
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

} // namespace
