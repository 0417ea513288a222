// The matching, burst and repeat rules of the engine, driven step by step; repeats on a clock the
// test moves.
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "engine/hid_processor.h"
#include "manual_dispatcher.h"
#include "recording_processor.h"
#include "support/burst_code.h"

namespace {

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
        engine.Bind(type, BurstCode(press), device, release.empty() ? kNoCode : BurstCode(release));
    action.Patterns[prPress].Bytes = Bytes(press);
    action.Patterns[prRelease].Bytes = Bytes(release);
    return action;
}

TEST(THidProcessorBurstTest, CoversEveryReportOfTheBurstInArrivalOrder) {
    EXPECT_EQ(Burst({"abc"}), 0xCADBBE3Du);
    EXPECT_EQ(Burst({"a", "bc"}), 0xCADBBE3Du);
    using std::string_view;
    EXPECT_EQ(Burst({string_view("\x01\0\0", 3), string_view("\0\0", 2)}),
              BurstCode(string_view("\x01\0\0\0\0", 5)));
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

// An engine on a clock of its own: its repeat timer ticks as Tick moves the clock, and it
// records when each command ran.
class TSteppedProcessor : public TRecordingProcessor {
public:
    TSteppedProcessor() { SetDispatcher(std::make_unique<TManualDispatcher>(*this, clock_)); }
    ~TSteppedProcessor() override { SetDispatcher(nullptr); }
    void ExecuteAction(std::uint8_t type) override {
        TRecordingProcessor::ExecuteAction(type);
        Times.push_back(Now());
    }
    void Tick(std::uint32_t ms) { clock_.Advance(ms); }
    std::vector<std::uint32_t> Times;

private:
    TManualScheduler clock_{0xFFFFF000u}; // close to the wrap, which the schedule must survive
};

TEST(THidProcessorRepeatTest, HeldVolumeUpRepeatsUntilItsReleaseBurstOnItsOwnTiming) {
    TSteppedProcessor engine;
    THidAction& up = engine.Bind(atVolumeUp, 0xA, 0, 0xB);
    up.RepeatDelayMs = 300, up.RepeatIntervalMs = 100;
    engine.CompleteBurst(0xA, 0);
    EXPECT_TRUE(up.Pressed);
    EXPECT_TRUE(engine.Repeating());
    engine.Tick(299);
    EXPECT_EQ(engine.Executed.size(), 1u);
    engine.Tick(1); // the first repeat after the delay
    engine.Tick(250);
    engine.CompleteBurst(0xA, 0); // the press code again means nothing while held
    engine.CompleteBurst(0xB, 0);
    EXPECT_FALSE(up.Pressed);
    EXPECT_FALSE(engine.Repeating());
    engine.Tick(1000);
    EXPECT_EQ(engine.Executed, std::vector<std::uint8_t>(5, atVolumeUp)); // press, 3, release
    const std::uint32_t t0 = engine.Times[0];
    EXPECT_EQ(engine.Times[1] - t0, 300u);
    EXPECT_EQ(engine.Times[3] - t0, 500u);
}

TEST(THidProcessorRepeatTest, RepeatingEndsAfterThirtyTwoSecondsButTheActionStaysHeld) {
    for (const std::uint32_t interval : {kDefaultRepeatMs, 100u}) {
        SCOPED_TRACE(interval);
        TSteppedProcessor engine;
        THidAction& up = engine.Bind(atVolumeUp, 0xA, 0, 0xB);
        up.RepeatIntervalMs = interval;
        engine.CompleteBurst(0xA, 0);
        engine.Tick(40000);
        EXPECT_FALSE(engine.Repeating());
        // Default timing: the 64 repeats of the fixed timer; at 100 ms, 500 ms then every 100.
        const std::size_t repeats = interval == kDefaultRepeatMs ? 64u : 316u;
        ASSERT_EQ(engine.Executed.size(), 1u + repeats);
        EXPECT_EQ(engine.Times.back() - engine.Times.front(), kLongestHoldMs);
        EXPECT_TRUE(up.Pressed);
        engine.CompleteBurst(0xB, 0);
        EXPECT_EQ(engine.Executed.size(), 2u + repeats);
        EXPECT_FALSE(up.Pressed);
    }
}

TEST(THidProcessorRepeatTest, AnAlternateCodeActsExactlyLikeTheMainOne) {
    TRecordingProcessor engine;
    THidAction& up = engine.Bind(atVolumeUp, 0xA, 0, 0xB);
    up.Patterns[prAltPress].Code = 0x1A, up.Patterns[prAltRelease].Code = 0x1B;
    engine.Bind(atVolumeUp, 0x1A, 0); // a later binding of the same command: not live in Simple
    for (std::uint32_t code : {0x1Au, 0xBu, 0xAu, 0x1Bu, 0x1Au, 0x1Bu})
        engine.CompleteBurst(code, 0);
    EXPECT_EQ(engine.Executed.size(), 6u);
    EXPECT_FALSE(up.Pressed);
    engine.CompleteBurst(0x1A, 1); // only on its own device
    EXPECT_EQ(engine.Executed.size(), 6u);
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
    TSteppedProcessor engine;
    engine.SetExtendedMode(true);
    engine.Bind(atVolumeUp, 0xA, 0, 0xB);
    engine.Bind(atForward, 0xA, 1, 0xB);
    engine.CompleteBurst(0xA, 0);
    engine.CompleteBurst(0xA, 1);
    engine.CompleteBurst(0xB, 0);
    EXPECT_TRUE(engine.Repeating());
    engine.Executed.clear();
    engine.Tick(kDefaultRepeatMs);
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

// OK in the dialog hands the engine fresh copies of its actions while a button may be held:
// the copy of that binding takes the hold, and the release still ends it.
TEST(THidProcessorRepeatTest, AHoldSurvivesTheListBeingReplaced) {
    TRecordingProcessor engine;
    engine.Bind(atVolumeUp, 0xA, 0, 0xB);
    engine.Bind(atVolumeDown, 0xC, 0, 0xD);
    engine.CompleteBurst(0xA, 0);
    THidActionList edited;
    edited.AssignActions(engine);
    engine.AssignActions(edited);
    EXPECT_TRUE(engine.Actions(0).Pressed);
    EXPECT_FALSE(engine.Actions(1).Pressed);
    engine.CompleteBurst(0xB, 0);
    EXPECT_EQ(engine.Executed, std::vector<std::uint8_t>(2, atVolumeUp));
    EXPECT_FALSE(engine.Actions(0).Pressed);
}

TEST(THidProcessorRepeatTest, AHeldActionThatIsNoLongerAssignedStopsTheRepeat) {
    TRecordingProcessor engine;
    THidAction& up = engine.Bind(atVolumeUp, 0xA, 0, 0xB);
    engine.CompleteBurst(0xA, 0);
    up.DeviceIndex = -1;
    engine.Executed.clear();
    engine.RepeatTick();
    EXPECT_TRUE(engine.Executed.empty());
    EXPECT_FALSE(engine.Repeating());
}

TEST(THidProcessorBurstTest, KeepsBytesAndReportEndsOnlyWhileTheyFit) {
    THidBurst burst = Reports("abc");
    EXPECT_EQ(burst.Code(), BurstCode("abc"));
    EXPECT_EQ(burst.ReportEnd(2), 2u);
    const std::vector<std::uint8_t> rest(THidBurst::kMaxBytes - 2, 'x');
    burst.Add(rest.data(), rest.size());
    EXPECT_FALSE(burst.Kept());
    EXPECT_EQ(burst.Code(), AddReportToBurst(BurstCode("abc"), true, rest.data(), rest.size()));
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
    THidAction& unknown = engine.Bind(atNext, BurstCode("P"), 0);
    EXPECT_TRUE(engine.CompletesAtOnce(Reports("U"), 0));
    engine.SetExtendedMode(true);
    EXPECT_FALSE(engine.CompletesAtOnce(Reports("U"), 0));
    unknown.Patterns[prPress].Bytes = Bytes("P");
    EXPECT_TRUE(engine.CompletesAtOnce(Reports("U"), 0));

    // A learned burst that begins another one never ends early.
    Learned(engine, atPrevious, 0, "Un");
    EXPECT_FALSE(engine.CompletesAtOnce(Reports("U"), 0));
    EXPECT_TRUE(engine.CompletesAtOnce(Reports("Un"), 0));
    engine.SetQuickResponse(false);
    EXPECT_FALSE(engine.CompletesAtOnce(Reports("Un"), 0));
}

TEST(THidProcessorQuickTest, AnAlternateBurstEndsAtOnceLikeTheMainOneOnceItsBytesAreKnown) {
    TRecordingProcessor engine;
    THidAction& next = Learned(engine, atNext, 0, "N");
    next.Patterns[prAltPress].Code = BurstCode("M");
    EXPECT_FALSE(engine.CompletesAtOnce(Reports("N"), 0)); // M might begin with N
    next.Patterns[prAltPress].Bytes = Bytes("NM");
    EXPECT_FALSE(engine.CompletesAtOnce(Reports("N"), 0)); // and does
    next.Patterns[prAltPress].Bytes.clear();
    // The first alternate burst, at the silence, teaches its bytes.
    engine.CompleteBurst(Reports("M"), 0);
    EXPECT_EQ(next.Patterns[prAltPress].Bytes, Bytes("M"));
    EXPECT_TRUE(next.Patterns[prPress].Bytes == Bytes("N"));
    for (const char* burst : {"N", "M"})
        EXPECT_TRUE(engine.CompletesAtOnce(Reports(burst), 0)) << burst;
    EXPECT_EQ(engine.Executed, std::vector<std::uint8_t>{atNext});
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
        engine.Bind(atNext, BurstCode("Uxuy"), 1); // the same bytes on another device
        THidAction& up = learned ? Learned(engine, atVolumeUp, 0, "Ux", "uy")
                                 : engine.Bind(atVolumeUp, BurstCode("Ux"), 0, BurstCode("uy"));
        engine.Bind(atVolumeUp, BurstCode("V"), 0, BurstCode("v")); // Simple mode: not live
        engine.Bind(atVolumeDown, BurstCode("D"), 0).Patterns[prPress].Bytes = Bytes("D");
        for (const char* burst : {"Vv", "Uxu", "xUxuy"})
            engine.CompleteBurst(Reports(burst), 0);
        EXPECT_FALSE(engine.CompletesAtOnce(Reports("Uxuy"), 0));
        engine.CompleteBurst(Reports("Uxuy"), 0);
        EXPECT_EQ(engine.Executed, std::vector<std::uint8_t>(2, atVolumeUp));
        EXPECT_FALSE(up.Pressed || engine.Repeating());
        EXPECT_EQ(up.Patterns[prRelease].Bytes, Bytes("uy"));

        // A hold right after the tap ends at once and repeats; no tap while held.
        ASSERT_TRUE(engine.CompletesAtOnce(Reports("Ux"), 0));
        engine.CompleteBurst(Reports("Ux"), 0);
        engine.CompleteBurst(Reports("Uxuy"), 0);
        EXPECT_TRUE(up.Pressed && engine.Repeating());
        EXPECT_EQ(engine.Executed.size(), 3u);
    }
}

// Commands beyond the types are all stored as Unknown actions; each is still a kind of its own.
TEST(THidProcessorMatchTest, ACommandRunsOncePerPressNeverRepeatsAndIsItsOwnKindInSimpleMode) {
    const THidCommand fade{THidCommandKind::StopFade, 0}, rate{THidCommandKind::Rate, 2};
    TRecordingProcessor engine;
    engine.Bind(atUnknown, 0xA, 0, 0xB).Command = fade;
    engine.Bind(atUnknown, 0xC, 0).Command = rate;
    engine.Bind(atUnknown, 0xD, 0).Command = fade; // a second binding: Extended mode only
    engine.Bind(atNext, 0xE, 0);
    const THidAction& unknown = engine.ActionForType(atUnknown); // commands are not Unknown
    EXPECT_EQ(&unknown, &engine.Actions(4));

    for (std::uint32_t code : {0xAu, 0xBu, 0xCu, 0xDu, 0xEu, 0xAu})
        engine.CompleteBurst(code, 0);
    EXPECT_EQ(engine.Commands, (std::vector<THidCommand>{fade, rate, fade}));
    EXPECT_EQ(engine.Executed, std::vector<std::uint8_t>{atNext});
    EXPECT_FALSE(engine.Repeating());

    // The dialog's copy of the list and the list after OK keep every command.
    TRecordingProcessor copy;
    copy.AssignActions(engine);
    copy.SetExtendedMode(true);
    copy.CompleteBurst(0xD, 0);
    EXPECT_EQ(copy.Commands, (std::vector<THidCommand>{fade}));
}

} // namespace
