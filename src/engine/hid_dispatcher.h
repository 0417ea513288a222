#pragma once
// The engine's Windows side: HID ports, the window timers of the dispatcher's timing, and the
// hand-over of reports from the monitoring threads to the UI thread.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/hid_timed_dispatcher.h"
#include "engine/hid_window_scheduler.h"
#include "framework/kv_handle.h"
#include "framework/kv_message_window.h"
#include "framework/kv_report_queue.h"
#include "hid/kv_hid.h"

// The devices the system lists now, in list order, as the engine remembers devices.
std::vector<THidDeviceIdentity> PresentDevices(const TkvHid& port);

// One opened device: its port, the queue its reports wait in for the UI thread, and its burst.
// The serial tags the queue's wake-ups, so one for a closed handler finds nobody.
class THidDevicehandler : public THidDeviceBurst {
public:
    THidDevicehandler(std::uint32_t serial, HWND reportWindow, UINT reportMessage);
    THidDevicehandler(const THidDevicehandler&) = delete;
    THidDevicehandler& operator=(const THidDevicehandler&) = delete;

    // Declared before the port: the port goes first, and its monitoring thread has ended before
    // the queue it writes to is freed.
    TkvReportQueue Reports;
    TkvHid Port;
    // The path that tells the device apart when the list changes around it.
    std::string Path;
};

class THidPortDispatcher final : public THidTimedDispatcher {
public:
    // On the UI thread: the timers and the report window belong to the thread that creates them.
    explicit THidPortDispatcher(THidProcessor& engine);
    ~THidPortDispatcher() override;
    THidPortDispatcher(const THidPortDispatcher&) = delete;
    THidPortDispatcher& operator=(const THidPortDispatcher&) = delete;

    // Reloads the device list and finds every remembered device again: opens the devices that
    // have appeared, releases the ports of those that are gone, and leaves the ports of the
    // others untouched, so that a held button is not dropped. A device listed but refusing to
    // open, or still away, is looked for again a little later, a few times.
    void RefreshDevices() override;
    std::map<std::int32_t, std::string> UnopenedDevices() const override { return unopened_; }

    // OnAfterReceive of every handler's port, on its monitoring thread: queues a stamped copy
    // of the report for the UI thread. Touches nothing but the handler's queue.
    static void HandleReport(THidDevicehandler& handler, const void* buffer, std::uint32_t count);
    THidDevicehandler* FindDeviceHandler(std::int32_t device) const;

    int DeviceHandlerCount() const { return static_cast<int>(handlers_.size()); }
    THidDevicehandler& DeviceHandlers(int index) const { return *handlers_.at(index); }
    TkvHid& EnumerationPort() { return enumerationPort_; }
    HWND ReportWindow() const { return reportWindow_.Handle(); }
    // Report copies read and not yet handled or freed, in this module.
    static long ReportsInFlight();

protected:
    THidDeviceBurst* FindBurst(std::uint32_t serial) const override { return FindHandler(serial); }
    void TakeReports(std::uint32_t serial) override;
    void ClosePorts() override;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    THidDevicehandler* FindHandler(std::uint32_t serial) const;
    // A handler for the device at `device`, opened; null (and named in unopened_) on failure.
    THidDevicehandler* OpenHandler(std::int32_t device, const std::string& path);

    TkvHid enumerationPort_;
    std::vector<std::unique_ptr<THidDevicehandler>> handlers_;
    std::map<std::int32_t, std::string> unopened_;
    std::uint32_t lastSerial_ = 0;
    // Last, so that they go first: by then every port is closed and nothing posts any more. The
    // window is top-level (hidden): device node changes and power events go to those only. Its
    // timers are the burst, repeat and refresh timers.
    TkvMessageWindow reportWindow_;
    THidWindowScheduler windowTimers_;
    struct TUnregisterNotification {
        void operator()(HDEVNOTIFY notification) const {
            UnregisterDeviceNotification(notification);
        }
    };
    TkvScoped<HDEVNOTIFY, TUnregisterNotification> deviceNotification_;
};

// The dispatcher every engine has on Windows.
THidPortDispatcher& PortDispatcher(THidProcessor& engine);
