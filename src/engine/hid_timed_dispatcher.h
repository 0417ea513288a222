#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>

#include "engine/hid_processor.h"
#include "engine/hid_scheduler.h"

// One opened device's burst as the dispatcher times it. The serial tells this device's handler
// apart from every other one the dispatcher ever had, so a late report or tick of a closed one
// finds nobody.
struct THidDeviceBurst {
    explicit THidDeviceBurst(std::uint32_t serial) : Serial(serial) {}
    const std::uint32_t Serial;
    // Where the device is in the system's list now, as the engine's actions name it.
    std::int32_t Device = -1;
    // The open burst while Open; the last one that ended otherwise.
    THidBurst Burst;
    // When the burst's last report was read; the burst ends kBurstSilenceMs after it.
    std::uint32_t LastReportTime = 0;
    // A burst is open, and its silence timer runs.
    bool Open = false;
};

// The dispatcher's timing, on the timers of a scheduler: a burst ends after the silence or at
// once when it is complete, held buttons repeat, and the device list is refreshed shortly after
// an announcement and again after growing delays while a device refuses to open. The platform's
// side (ports, the report window) finds the bursts and refreshes the list.
class THidTimedDispatcher : public THidDispatcher {
public:
    // The scheduler's ticks must be handed to TimerTick by its owner.
    THidTimedDispatcher(THidProcessor& engine, THidScheduler& scheduler);

    void OpenDevices() override;
    void CloseDevices() override;
    void SetRepeatTimer(std::optional<std::uint32_t> dueInMs) override;
    std::uint32_t Now() const override { return scheduler_.Now(); }

    // The burst steps for a report of the device with `serial`, read at `time`. Bursts are split
    // by the reports' own stamps, so a UI thread that was busy runs the commands late but never
    // different ones. A burst that equals a learned one ends at once, and the next report opens
    // a new one. A report of a closed device is dropped.
    void ReceiveReport(std::uint32_t serial, const std::uint8_t* bytes, std::size_t count,
                       std::uint32_t time);
    void ReceiveReport(std::uint32_t serial, const std::uint8_t* bytes, std::size_t count) {
        ReceiveReport(serial, bytes, count, Now());
    }
    // The device's port closed itself: it went away mid-burst or mid-hold.
    void DeviceGone(std::uint32_t serial);
    // A device change or a resume was announced: the refresh follows shortly, once for a burst
    // of announcements.
    void DeviceChangeNoticed();
    // The burst is over: it is matched and the command runs.
    void BurstComplete(std::uint32_t serial);
    void TimerTick(std::uint32_t id);

    // The delay the refresh was last armed with while it is due, else nothing.
    std::optional<std::uint32_t> RefreshDue() const { return refreshDue_; }

    static constexpr std::uint32_t kRepeatTimer = 1;
    static constexpr std::uint32_t kRefreshTimer = 2;
    static std::uint32_t BurstTimer(std::uint32_t serial) { return kFirstBurstTimer + serial; }

protected:
    // Reloads the device list and opens what the actions need; calls ScheduleRetry while a
    // device is listed but refuses to open, or is still away.
    virtual void RefreshDevices() = 0;
    virtual THidDeviceBurst* FindBurst(std::uint32_t serial) const = 0;
    // Hands reports read but not yet taken to ReceiveReport, in order.
    virtual void TakeReports(std::uint32_t serial) = 0;
    // Every port closed and the bursts forgotten.
    virtual void ClosePorts() = 0;
    // The refresh again after the next of the retry delays; nothing once they are used up,
    // until the next announcement or report.
    void ScheduleRetry();
    // A burst that is dropped with its device stops its timer.
    void ForgetBurst(const THidDeviceBurst& burst) { scheduler_.Stop(BurstTimer(burst.Serial)); }
    bool Serving() const { return serving_; }

    THidProcessor& engine_;
    THidScheduler& scheduler_;

private:
    static constexpr std::uint32_t kFirstBurstTimer = 16;
    void ArmRefresh(std::uint32_t delayMs);
    // The burst of `serial` is over, or cut short: its timer stops. Null for a closed device.
    THidDeviceBurst* StopBurst(std::uint32_t serial);
    // The burst timer's tick: ends the burst once the silence after its last report has passed
    // by the reports' clock, else waits for the rest of it.
    void BurstTimerTick(std::uint32_t serial);

    // Retries since the last announcement or report, to pace refused opens and failing reads.
    std::size_t refreshRetries_ = 0;
    std::optional<std::uint32_t> refreshDue_;
    bool serving_ = false; // between OpenDevices and CloseDevices
};
