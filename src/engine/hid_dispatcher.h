#pragma once
// The engine's Windows side: HID ports, burst and repeat timers, and the hand-over of reports
// from the monitoring threads to the UI thread.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/hid_processor.h"
#include "framework/kv_message_window.h"
#include "framework/kv_report_queue.h"
#include "framework/kv_timer.h"
#include "hid/kv_hid.h"

// The devices the system lists now, in list order, as the engine remembers devices.
std::vector<THidDeviceIdentity> PresentDevices(const TkvHid& port);

// One opened device: its port, the queue its reports wait in for the UI thread, and the state of
// its current burst. The serial tells this handler apart from every other one the dispatcher ever
// had; it tags the queue's wake-ups, so one for a closed handler finds nobody.
class THidDevicehandler {
public:
    // The port has no device yet; the burst timer is stopped, 300 ms.
    THidDevicehandler(std::uint32_t serial, HWND reportWindow, UINT reportMessage);
    THidDevicehandler(const THidDevicehandler&) = delete;
    THidDevicehandler& operator=(const THidDevicehandler&) = delete;

    TkvTimer BurstTimer;
    // Declared before the port: the port goes first, and its monitoring thread has ended before
    // the queue it writes to is freed.
    TkvReportQueue Reports;
    TkvHid Port;
    // Where the device is in the system's list now, as the engine's actions name it, and the
    // path that tells it apart when the list changes around it.
    std::int32_t Device = -1;
    std::string Path;
    // The open burst while BurstTimer runs; the last one that ended otherwise.
    THidBurst Burst;
    // When the burst's last report was read; the burst ends kBurstSilenceMs after it.
    std::uint32_t LastReportTime = 0;
    const std::uint32_t Serial;
};

class THidPortDispatcher final : public THidDispatcher {
public:
    // On the UI thread: the timers and the report window belong to the thread that creates them.
    explicit THidPortDispatcher(THidProcessor& engine);
    ~THidPortDispatcher() override;
    THidPortDispatcher(const THidPortDispatcher&) = delete;
    THidPortDispatcher& operator=(const THidPortDispatcher&) = delete;

    // Opens what the actions need and follows the system's device changes from then on.
    void OpenDevices() override;
    void CloseDevices() override;
    // Reloads the device list and finds every remembered device again: opens the devices that
    // have appeared, releases the ports of those that are gone, and leaves the ports of the
    // others untouched, so that a held button is not dropped. A device listed but refusing to
    // open, or still away, is looked for again a little later, a few times.
    void RefreshDevices();
    // A device change or a resume was announced: the refresh follows shortly, once for a burst
    // of announcements.
    void DeviceChangeNoticed();
    TkvTimer& RefreshTimer() { return refreshTimer_; }
    void SetRepeatTimer(std::optional<std::uint32_t> dueInMs) override;
    std::uint32_t Now() const override { return kvReportClockMs(); }
    std::map<std::int32_t, std::string> UnopenedDevices() const override { return unopened_; }

    // OnAfterReceive of every handler's port, on its monitoring thread: queues a stamped copy
    // of the report for the UI thread. Touches nothing but the handler's queue.
    static void HandleReport(THidDevicehandler& handler, const void* buffer, std::uint32_t count);
    // The UI-thread half: the burst steps for a report of the handler with `serial`, read at
    // `time`. Bursts are split by the reports' own stamps, so a UI thread that was busy runs the
    // commands late but never different ones. A burst that equals a learned one ends at once,
    // and the next report opens a new one. A report of a closed handler is dropped.
    void ReceiveReport(std::uint32_t serial, const std::uint8_t* bytes, std::size_t count,
                       std::uint32_t time = kvReportClockMs());
    // The UI-thread half of a port closing itself: its device went away mid-burst or mid-hold.
    void DeviceGone(std::uint32_t serial);
    // The burst is over: it is matched and the command runs.
    void BurstComplete(TkvTimer* timer);
    THidDevicehandler* FindDeviceHandler(std::int32_t device) const;

    int DeviceHandlerCount() const { return static_cast<int>(handlers_.size()); }
    THidDevicehandler& DeviceHandlers(int index) const { return *handlers_.at(index); }
    TkvHid& EnumerationPort() { return enumerationPort_; }
    TkvTimer& RepeatTimer() { return repeatTimer_; }
    HWND ReportWindow() const { return reportWindow_.Handle(); }
    // Report copies read and not yet handled or freed, in this module.
    static long ReportsInFlight();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    THidDevicehandler* FindHandler(std::uint32_t serial) const;
    // Hands everything queued for the handler to the burst steps, in order.
    void TakeReports(std::uint32_t serial);
    // The burst timer's tick: ends the burst once the silence after its last report has passed
    // by the reports' clock, else waits for the rest of it.
    void BurstTimerTick(std::uint32_t serial);
    void ArmBurstTimer(THidDevicehandler& handler, std::uint32_t now);
    // A handler for the device at `device`, opened; null (and named in unopened_) on failure.
    THidDevicehandler* OpenHandler(std::int32_t device, const std::string& path);
    void RefreshTimerTick();
    // The refresh again after the next of the retry delays; nothing once they are used up,
    // until the next announcement.
    void ScheduleRetry();

    THidProcessor& engine_;
    TkvTimer repeatTimer_;
    TkvHid enumerationPort_;
    std::vector<std::unique_ptr<THidDevicehandler>> handlers_;
    std::map<std::int32_t, std::string> unopened_;
    std::uint32_t lastSerial_ = 0;
    TkvTimer refreshTimer_;
    // Retries since the last announcement or report, to pace refused opens and failing reads.
    std::size_t refreshRetries_ = 0;
    bool serving_ = false; // between OpenDevices and CloseDevices
    // Last, so that they go first: by then every port is closed and nothing posts any more. The
    // window is top-level (hidden): device node changes and power events go to those only.
    TkvMessageWindow reportWindow_;
    struct TUnregisterNotification {
        void operator()(HDEVNOTIFY notification) const {
            UnregisterDeviceNotification(notification);
        }
    };
    TkvScoped<HDEVNOTIFY, TUnregisterNotification> deviceNotification_;
};

// The dispatcher every engine has on Windows.
THidPortDispatcher& PortDispatcher(THidProcessor& engine);
