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

TEST(BurstCode, CoversEveryReportOfTheBurstInArrivalOrder) {
    EXPECT_EQ(Burst({"abc"}), 0xCADBBE3Du);
    EXPECT_EQ(Burst({"a", "bc"}), 0xCADBBE3Du);
    using std::string_view;
    EXPECT_EQ(Burst({string_view("\x01\0\0", 3), string_view("\0\0", 2)}),
              Code(string_view("\x01\0\0\0\0", 5)));
    EXPECT_NE(Burst({"bc", "a"}), Burst({"a", "bc"}));
}

TEST(FindAction, SimpleModeServesOnlyTheFirstBindingOfEachCommandOnItsOwnDevice) {
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

TEST(Repeat, HeldVolumeUpRepeatsUntilItsReleaseBurst) {
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

TEST(Repeat, StopsAfterSixtyFourTicksButTheActionStaysHeld) {
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

TEST(Repeat, WithoutReleaseCodeEveryBurstRunsOnceAndNothingRepeats) {
    TRecordingProcessor engine;
    THidAction& down = engine.Bind(atVolumeDown, 0xA, 0);
    engine.Bind(atNext, 0xC, 0, 0xD); // a release code on a command that does not repeat
    for (std::uint32_t code : {0xAu, 0xAu, 0xCu, 0xCu})
        engine.CompleteBurst(code, 0);
    EXPECT_FALSE(down.Pressed || engine.Repeating());
    EXPECT_EQ(engine.Executed.size(), 4u);
}

TEST(Repeat, ReleasingOneOfTwoHeldActionsKeepsTheOtherRepeating) {
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

TEST(Repeat, ADeviceThatGoesAwayLetsGoOnlyOfItsOwnHeldActions) {
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

TEST(Repeat, AHeldActionThatIsNoLongerAssignedStopsTheRepeat) {
    TRecordingProcessor engine;
    THidAction& up = engine.Bind(atVolumeUp, 0xA, -1, 0xB);
    up.Pressed = true;
    engine.StartRepeat();
    engine.RepeatTick();
    EXPECT_TRUE(engine.Executed.empty());
    EXPECT_FALSE(engine.Repeating());
}

} // namespace
