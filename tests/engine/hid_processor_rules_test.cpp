// The matching, burst and repeat rules of the engine, driven step by step without timers.
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "engine/hid_processor.h"
#include "recording_processor.h"
#include "framework/kv_crc.h"

namespace {

std::uint32_t Code(std::string_view bytes) {
    std::uint32_t code = kCrcStart;
    for (char c : bytes)
        code = kvcrc(code, static_cast<std::uint8_t>(c));
    return code;
}

std::uint32_t Burst(std::initializer_list<std::string_view> reports) {
    std::uint32_t code = 0x12345678; // whatever the previous burst left
    bool open = false;
    for (std::string_view report : reports) {
        code = AddReportToBurst(code, open, reinterpret_cast<const std::uint8_t*>(report.data()),
                                report.size());
        open = true;
    }
    return code;
}

// A burst of one report per character, as a device's reader hands them over.
THidBurst Reports(std::string_view reports) {
    THidBurst burst;
    burst.Start();
    for (const char& report : reports)
        burst.Add(reinterpret_cast<const std::uint8_t*>(&report), 1);
    return burst;
}

std::vector<std::uint8_t> Bytes(std::string_view bytes) {
    return {bytes.begin(), bytes.end()};
}

// An action whose bursts were learned: one report per character; no release when empty.
THidAction& Learned(TRecordingProcessor& engine, std::uint8_t type, std::int32_t device,
                    std::string_view press, std::string_view release = {}) {
    THidAction& action =
        engine.Bind(type, Code(press), device, release.empty() ? kNoCode : Code(release));
    action.PressBytes = Bytes(press);
    action.ReleaseBytes = Bytes(release);
    return action;
}

TEST(THidProcessorBurstTest, CoversEveryReportOfTheBurstInArrivalOrder) {
    EXPECT_EQ(Burst({"abc"}), 0xCADBBE3Du);
    EXPECT_EQ(Burst({"a", "bc"}), 0xCADBBE3Du);
    using std::string_view;
    EXPECT_EQ(Burst({string_view("\x01\0\0", 3), string_view("\0\0", 2)}),
              Code(string_view("\x01\0\0\0\0", 5)));
    EXPECT_NE(Burst({"bc", "a"}), Burst({"a", "bc"}));
}

TEST(THidProcessorMatchTest, SimpleModeServesOnlyTheFirstBindingOfEachCommandOnItsOwnDevice) {
    TRecordingProcessor engine;
    THidAction& first = engine.Bind(atNext, 0xA, 0);
    THidAction& second = engine.Bind(atNext, 0xB, 0);
    THidAction& stop = engine.Bind(atStop, 0xB, 0);
    engine.Bind(atPrevious, 0xA, 1);
    engine.Bind(atUnknown, 0xC, 0);
    EXPECT_EQ(engine.FindAction(0xA, 0), &first);
    EXPECT_EQ(engine.FindAction(0xB, 0), &stop); // the second Next is not live: search goes on
    engine.SetExtendedMode(true);
    EXPECT_EQ(engine.FindAction(0xB, 0), &second);

    for (std::uint32_t code : {0xAu, 0xCu, 0xDu})
        for (std::int32_t device : {1, 0, 2})
            engine.CompleteBurst(code, device);
    EXPECT_EQ(engine.Executed, (std::vector<std::uint8_t>{atPrevious, atNext}));
}

TEST(THidProcessorRepeatTest, HeldVolumeUpRepeatsUntilItsReleaseBurst) {
    TRecordingProcessor engine;
    THidAction& up = engine.Bind(atVolumeUp, 0xA, 0, 0xB);
    engine.CompleteBurst(0xA, 0);
    EXPECT_TRUE(up.Pressed);
    EXPECT_TRUE(engine.Repeating());
    for (int i = 0; i < 3; ++i)
        engine.RepeatTick();
    EXPECT_EQ(engine.RepeatTicks(), 3);
    engine.CompleteBurst(0xA, 0); // the press code again means nothing while held
    engine.CompleteBurst(0xB, 0);
    EXPECT_FALSE(up.Pressed);
    EXPECT_FALSE(engine.Repeating());
    EXPECT_EQ(engine.Executed, std::vector<std::uint8_t>(5, atVolumeUp)); // press, 3, release
}

TEST(THidProcessorRepeatTest, StopsAfterSixtyFourTicksButTheActionStaysHeld) {
    TRecordingProcessor engine;
    THidAction& up = engine.Bind(atVolumeUp, 0xA, 0, 0xB);
    engine.CompleteBurst(0xA, 0);
    int ticks = 0;
    for (; engine.Repeating() && ticks < 1000; ++ticks)
        engine.RepeatTick();
    EXPECT_EQ(ticks, kMaxRepeatTicks);
    EXPECT_EQ(engine.Executed.size(), 1u + kMaxRepeatTicks);
    EXPECT_TRUE(up.Pressed);
    engine.CompleteBurst(0xB, 0);
    EXPECT_EQ(engine.Executed.size(), 2u + kMaxRepeatTicks);
    EXPECT_FALSE(up.Pressed);
}

TEST(THidProcessorRepeatTest, WithoutReleaseCodeEveryBurstRunsOnceAndNothingRepeats) {
    TRecordingProcessor engine;
    THidAction& down = engine.Bind(atVolumeDown, 0xA, 0);
    engine.Bind(atNext, 0xC, 0, 0xD); // a release code on a command that does not repeat
    for (std::uint32_t code : {0xAu, 0xAu, 0xCu, 0xCu})
        engine.CompleteBurst(code, 0);
    EXPECT_FALSE(down.Pressed || engine.Repeating());
    EXPECT_EQ(engine.Executed.size(), 4u);
}

TEST(THidProcessorRepeatTest, ReleasingOneOfTwoHeldActionsKeepsTheOtherRepeating) {
    TRecordingProcessor engine;
    engine.SetExtendedMode(true);
    engine.Bind(atVolumeUp, 0xA, 0, 0xB);
    engine.Bind(atForward, 0xA, 1, 0xB);
    engine.CompleteBurst(0xA, 0);
    engine.CompleteBurst(0xA, 1);
    engine.RepeatTick();
    engine.CompleteBurst(0xB, 0);
    EXPECT_TRUE(engine.Repeating());
    engine.Executed.clear();
    engine.RepeatTick();
    EXPECT_EQ(engine.Executed, std::vector<std::uint8_t>{atForward});
    engine.CompleteBurst(0xB, 1);
    EXPECT_FALSE(engine.Repeating());
}

TEST(THidProcessorRepeatTest, ADeviceThatGoesAwayLetsGoOnlyOfItsOwnHeldActions) {
    TRecordingProcessor engine;
    engine.SetExtendedMode(true);
    THidAction& up = engine.Bind(atVolumeUp, 0xA, 0, 0xB);
    THidAction& forward = engine.Bind(atForward, 0xA, 1, 0xB);
    engine.CompleteBurst(0xA, 0);
    engine.CompleteBurst(0xA, 1);
    engine.ReleaseDevice(0);
    EXPECT_FALSE(up.Pressed);
    EXPECT_TRUE(forward.Pressed);
    EXPECT_TRUE(engine.Repeating());
    engine.ReleaseDevice(1);
    EXPECT_FALSE(engine.Repeating());
}

TEST(THidProcessorRepeatTest, AHeldActionThatIsNoLongerAssignedStopsTheRepeat) {
    TRecordingProcessor engine;
    THidAction& up = engine.Bind(atVolumeUp, 0xA, -1, 0xB);
    up.Pressed = true;
    engine.StartRepeat();
    engine.RepeatTick();
    EXPECT_TRUE(engine.Executed.empty());
    EXPECT_FALSE(engine.Repeating());
}

TEST(THidProcessorBurstTest, KeepsBytesAndReportEndsOnlyWhileTheyFit) {
    THidBurst burst = Reports("abc");
    EXPECT_EQ(burst.Code(), Code("abc"));
    EXPECT_EQ(burst.ReportEnd(2), 2u);
    const std::vector<std::uint8_t> rest(THidBurst::kMaxBytes - 2, 'x');
    burst.Add(rest.data(), rest.size());
    EXPECT_FALSE(burst.Kept());
    EXPECT_EQ(burst.Code(), AddReportToBurst(Code("abc"), true, rest.data(), rest.size()));
    EXPECT_FALSE(Reports(std::string(THidBurst::kMaxReports + 1, 'x')).Kept());
}

TEST(THidProcessorQuickTest, EndsAtOnceOnlyWhenEveryLiveActionKnowsItsBurstAndNoneIsLonger) {
    TRecordingProcessor engine;
    Learned(engine, atVolumeUp, 0, "U", "u");
    Learned(engine, atNext, 0, "Nn"); // press and release in one burst
    Learned(engine, atStop, 1, "N");  // another device plays no part
    for (const char* burst : {"U", "Nn"})
        EXPECT_TRUE(engine.CompletesAtOnce(Reports(burst), 0)) << burst;
    // Next may go on; equals nothing; Volume Up is not held.
    for (const char* burst : {"N", "X", "Nnx", "u"})
        EXPECT_FALSE(engine.CompletesAtOnce(Reports(burst), 0)) << burst;

    // In Simple mode a second Next is not live, so its unknown bytes block nothing.
    THidAction& unknown = engine.Bind(atNext, Code("P"), 0);
    EXPECT_TRUE(engine.CompletesAtOnce(Reports("U"), 0));
    engine.SetExtendedMode(true);
    EXPECT_FALSE(engine.CompletesAtOnce(Reports("U"), 0));
    unknown.PressBytes = Bytes("P");
    EXPECT_TRUE(engine.CompletesAtOnce(Reports("U"), 0));

    // A learned burst that begins another one never ends early.
    Learned(engine, atPrevious, 0, "Un");
    EXPECT_FALSE(engine.CompletesAtOnce(Reports("U"), 0));
    EXPECT_TRUE(engine.CompletesAtOnce(Reports("Un"), 0));
    engine.SetQuickResponse(false);
    EXPECT_FALSE(engine.CompletesAtOnce(Reports("Un"), 0));
}

TEST(THidProcessorQuickTest, ARepeatingActionEndsAtOnceOnPressAndOnRelease) {
    TRecordingProcessor engine;
    THidAction& up = Learned(engine, atVolumeUp, 0, "U", "u");
    Learned(engine, atNext, 0, "u"); // Volume Up's release, which is Next while Up is up
    ASSERT_TRUE(engine.CompletesAtOnce(Reports("U"), 0));
    engine.CompleteBurst(Reports("U"), 0);
    EXPECT_TRUE(up.Pressed && engine.Repeating());
    EXPECT_FALSE(engine.CompletesAtOnce(Reports("U"), 0)); // held: it awaits its release
    engine.CompleteBurst(Reports("u"), 0);
    engine.CompleteBurst(Reports("u"), 0);
    EXPECT_FALSE(up.Pressed || engine.Repeating());
    EXPECT_EQ(engine.Executed, (std::vector<std::uint8_t>{atVolumeUp, atVolumeUp, atNext}));
}

// Bytes unknown (an older kvhid.ini) or learned: the silence's burst is a tap either way, and
// teaches an action without bytes both of them.
TEST(THidProcessorTapTest, PressAndReleaseInOneBurstRunTwiceAndLeaveNothingRepeating) {
    for (const bool learned : {false, true}) {
        TRecordingProcessor engine;
        engine.Bind(atNext, Code("Uxuy"), 1); // the same bytes on another device
        THidAction& up = learned ? Learned(engine, atVolumeUp, 0, "Ux", "uy")
                                 : engine.Bind(atVolumeUp, Code("Ux"), 0, Code("uy"));
        engine.Bind(atVolumeUp, Code("V"), 0, Code("v")); // Simple mode: not live
        engine.Bind(atVolumeDown, Code("D"), 0).PressBytes = Bytes("D");
        for (const char* burst : {"Vv", "Uxu", "xUxuy"})
            engine.CompleteBurst(Reports(burst), 0);
        EXPECT_FALSE(engine.CompletesAtOnce(Reports("Uxuy"), 0));
        engine.CompleteBurst(Reports("Uxuy"), 0);
        EXPECT_EQ(engine.Executed, std::vector<std::uint8_t>(2, atVolumeUp));
        EXPECT_FALSE(up.Pressed || engine.Repeating());
        EXPECT_EQ(up.ReleaseBytes, Bytes("uy"));

        // A hold right after the tap ends at once and repeats; no tap while held.
        ASSERT_TRUE(engine.CompletesAtOnce(Reports("Ux"), 0));
        engine.CompleteBurst(Reports("Ux"), 0);
        engine.CompleteBurst(Reports("Uxuy"), 0);
        EXPECT_TRUE(up.Pressed && engine.Repeating());
        EXPECT_EQ(engine.Executed.size(), 3u);
    }
}

} // namespace
