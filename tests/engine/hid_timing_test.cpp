// The dispatcher's timing rules on a clock the test moves: burst silence, bursts that end at once,
// taps, repeats, and the refresh after announcements and refused opens, to the millisecond.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "manual_dispatcher.h"
#include "recording_processor.h"
#include "support/burst_code.h"

namespace {

// Records when each command ran, in milliseconds since the test began.
class TTimedProcessor : public TRecordingProcessor {
public:
    void ExecuteAction(std::uint8_t type) override {
        TRecordingProcessor::ExecuteAction(type);
        Times[type].push_back(Now() - Start);
    }
    std::uint32_t Start = 0;
    std::map<std::uint8_t, std::vector<std::uint32_t>> Times;
};

class THidTimingTest : public testing::Test {
protected:
    THidTimingTest() {
        auto dispatcher = std::make_unique<TManualDispatcher>(engine_, clock_);
        ports_ = dispatcher.get();
        engine_.SetDispatcher(std::move(dispatcher));
        engine_.Start = clock_.Now();
    }
    void Report(int device, const std::vector<std::uint8_t>& bytes) {
        ports_->ReceiveReport(ports_->Serial(device), bytes.data(), bytes.size());
    }
    std::uint32_t Since() const { return clock_.Now() - engine_.Start; }

    TManualScheduler clock_{0xFFFFF000u}; // close to the wrap, which the timing must survive
    TTimedProcessor engine_;
    TManualDispatcher* ports_ = nullptr;
};

TEST_F(THidTimingTest, ABurstEndsWhenItsLastReportHasBeenFollowedBySilence) {
    const std::vector<std::uint8_t> a{'a'}, bc{'b', 'c'};
    engine_.Bind(atNext, BurstCode({{'a', 'b', 'c'}}), 0);
    engine_.Bind(atStop, BurstCode({a}), 0);
    engine_.OpenDevices();
    Report(0, a);
    clock_.Advance(kBurstSilenceMs - 1);
    Report(0, bc); // still the same burst
    clock_.Advance(kBurstSilenceMs - 1);
    EXPECT_TRUE(engine_.Executed.empty());
    clock_.Advance(1);
    EXPECT_EQ(engine_.Times[atNext], std::vector<std::uint32_t>{2 * kBurstSilenceMs - 1});

    // Read while the UI thread was stuck, 1 s apart and taken 2.5 s after the first: the stamps
    // split them, so two commands come, late.
    const std::uint32_t read = clock_.Now();
    clock_.Advance(2500);
    ports_->ReceiveReport(ports_->Serial(0), a.data(), a.size(), read);
    ports_->ReceiveReport(ports_->Serial(0), a.data(), a.size(), read + 1000);
    clock_.Advance(1);
    EXPECT_EQ(engine_.Executed, (std::vector<std::uint8_t>{atNext, atStop, atStop}));
}

// A burst that equals a learned one ends at once, also a repeating button's press and release;
// a quick tap's press and release in one burst run twice. Switched off, every burst waits.
TEST_F(THidTimingTest, ALearnedBurstEndsAtOnceUnlessQuickResponseIsOff) {
    const std::vector<std::uint8_t> press{1}, release{2}, next1{3}, next2{4};
    THidAction& up = engine_.Bind(atVolumeUp, BurstCode({press}), 0, BurstCode({release}));
    up.Patterns[prPress].Bytes = press, up.Patterns[prRelease].Bytes = release;
    engine_.Bind(atNext, BurstCode({{3, 4}}), 0).Patterns[prPress].Bytes = {3, 4};
    engine_.OpenDevices();

    for (const auto* report : {&press, &release, &next1, &next2})
        Report(0, *report);
    EXPECT_EQ(engine_.Times[atVolumeUp], (std::vector<std::uint32_t>{0, 0}));
    EXPECT_EQ(engine_.Times[atNext], std::vector<std::uint32_t>{0});
    EXPECT_FALSE(engine_.Repeating());
    Report(0, next1); // a learned burst's start waits for the rest
    clock_.Advance(kBurstSilenceMs);
    EXPECT_EQ(engine_.Times[atNext].size(), 1u);

    engine_.SetQuickResponse(false);
    Report(0, next1);
    Report(0, next2);
    clock_.Advance(kBurstSilenceMs - 1);
    EXPECT_EQ(engine_.Times[atNext].size(), 1u);
    clock_.Advance(1);
    EXPECT_EQ(engine_.Times[atNext].back(), Since());

    // A tap: press and release in one burst, at the silence.
    Report(0, press);
    Report(0, release);
    clock_.Advance(kBurstSilenceMs);
    EXPECT_EQ(engine_.Times[atVolumeUp].size(), 4u);
    EXPECT_FALSE(engine_.Repeating());
}

// Each held button repeats on its own delay and interval from its press, until its release.
TEST_F(THidTimingTest, ButtonsHeldTogetherEachRepeatOnTheirOwnTiming) {
    const std::vector<std::uint8_t> up{0xE9}, forward{0xB3}, letGo{0};
    THidAction& volume = engine_.Bind(atVolumeUp, BurstCode({up}), 0, BurstCode({letGo}));
    volume.RepeatDelayMs = 300, volume.RepeatIntervalMs = 100;
    THidAction& seek = engine_.Bind(atForward, BurstCode({forward}), 1, BurstCode({letGo}));
    seek.RepeatDelayMs = 450, seek.RepeatIntervalMs = 250;
    engine_.SetExtendedMode(true);
    engine_.OpenDevices();

    // Volume Up: press burst ends at 300, released at 2050; Forward: at 450, released at 2200.
    Report(0, up);
    clock_.Advance(150);
    Report(1, forward);
    clock_.Advance(1900);
    Report(0, letGo);
    clock_.Advance(150);
    Report(1, letGo);
    clock_.Advance(2000);

    const auto expected = [](std::uint32_t press, std::uint32_t delay, std::uint32_t interval,
                             std::uint32_t release) {
        std::vector<std::uint32_t> times{press};
        for (std::uint32_t due = press + delay; due < release; due += interval)
            times.push_back(due);
        times.push_back(release);
        return times;
    };
    EXPECT_EQ(engine_.Times[atVolumeUp], expected(300, 300, 100, 2350)); // 18 repeats
    EXPECT_EQ(engine_.Times[atForward], expected(450, 450, 250, 2500));  // 7 repeats
    EXPECT_FALSE(engine_.Repeating());
}

// Closing leaves no timer running, also mid-burst, mid-hold and with a refresh due; the hold
// itself survives a reopen, and its release ends it.
TEST_F(THidTimingTest, ClosingStopsEveryTimerAndAHoldWaitsForItsRelease) {
    const std::vector<std::uint8_t> press{1}, release{2}, other{3};
    THidAction& up = engine_.Bind(atVolumeUp, BurstCode({press}), 0, BurstCode({release}));
    engine_.OpenDevices();
    Report(0, press);
    clock_.Advance(kBurstSilenceMs);
    EXPECT_TRUE(engine_.Repeating());
    Report(1, other);
    ports_->DeviceChangeNoticed();
    EXPECT_FALSE(clock_.Idle());

    engine_.CloseDevices();
    EXPECT_TRUE(clock_.Idle());
    clock_.Advance(5000);
    EXPECT_EQ(engine_.Executed.size(), 1u);

    engine_.OpenDevices();
    EXPECT_TRUE(up.Pressed);
    Report(0, release);
    clock_.Advance(kBurstSilenceMs);
    EXPECT_FALSE(up.Pressed);
    EXPECT_EQ(engine_.Executed, std::vector<std::uint8_t>(2, atVolumeUp));
    EXPECT_TRUE(clock_.Idle());
}

// Announcements close together bring one refresh, 100 ms after the first. A device that refuses
// to open, or fails every read, is tried again less and less often, and then only after the next
// announcement or report.
TEST_F(THidTimingTest, TheListIsRefreshedOnceAfterAnnouncementsAndRetriedLessAndLessOften) {
    engine_.Bind(atNext, BurstCode({{'n'}}), 0);
    engine_.OpenDevices();
    // The time from `from` to the first refresh after it, and between the later ones.
    const auto refreshesSince = [&](std::uint32_t from) {
        std::vector<std::uint32_t> gaps;
        for (const std::uint32_t at : ports_->Refreshes)
            if (at - engine_.Start > from - engine_.Start)
                gaps.push_back(at - from), from = at;
        return gaps;
    };

    std::uint32_t from = clock_.Now();
    for (int i = 0; i < 3; ++i) {
        ports_->DeviceChangeNoticed();
        clock_.Advance(40);
    }
    clock_.Advance(1000);
    EXPECT_EQ(refreshesSince(from), std::vector<std::uint32_t>{100});

    ports_->Refusing = true;
    from = clock_.Now();
    ports_->DeviceChangeNoticed();
    clock_.Advance(60000);
    EXPECT_EQ(refreshesSince(from), (std::vector<std::uint32_t>{100, 250, 500, 1000, 2000, 4000}));

    // Listed and opened, but every read fails and closes the port at once.
    ports_->Refusing = false;
    ports_->DeviceChangeNoticed();
    clock_.Advance(100);
    const auto failedRead = [&] {
        ports_->DeviceGone(ports_->Serial(0));
        const std::uint32_t next = ports_->RefreshDue().value_or(0);
        clock_.Advance(next);
        return next;
    };
    std::vector<std::uint32_t> delays;
    for (int i = 0; i < 6; ++i)
        delays.push_back(failedRead());
    EXPECT_EQ(delays, (std::vector<std::uint32_t>{250, 500, 1000, 2000, 4000, 0}));
    Report(0, {'n'});
    EXPECT_EQ(failedRead(), 250u);
    failedRead();
    // A retry further off is brought forward by an announcement.
    ports_->DeviceGone(ports_->Serial(0));
    ports_->DeviceChangeNoticed();
    EXPECT_EQ(ports_->RefreshDue(), 100u);
}

} // namespace
