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
#include "framework/kv_timer.h"
#include "hid/kv_hid.h"

// One opened device: its port and the state of its current burst. The serial tells this handler
// apart from every other one the dispatcher ever had, so that a report posted by a port that has
// since been closed never reaches a later handler in the same position.
class THidDevicehandler {
public:
    // The port loads the device list at once; the burst timer is stopped, 300 ms.
    explicit THidDevicehandler(std::uint32_t serial);
    THidDevicehandler(const THidDevicehandler&) = delete;
    THidDevicehandler& operator=(const THidDevicehandler&) = delete;

    TkvTimer BurstTimer;
    TkvHid Port;
    std::uint32_t BurstCode = kNoCode;
    const std::uint32_t Serial;
};

class THidPortDispatcher final : public THidDispatcher {
public:
    // On the UI thread: the timers and the report window belong to the thread that creates them.
    explicit THidPortDispatcher(THidProcessor& engine);
    ~THidPortDispatcher() override;
    THidPortDispatcher(const THidPortDispatcher&) = delete;
    THidPortDispatcher& operator=(const THidPortDispatcher&) = delete;

    void OpenDevices() override;
    void CloseDevices() override;
    void SetRepeatTimerEnabled(bool enabled) override;
    std::map<std::int32_t, std::string> UnopenedDevices() const override { return unopened_; }

    // OnAfterReceive of every handler's port, on its monitoring thread: copies the report and
    // posts it to the report window.
    void HandleReport(TkvBaseIO* port, const void* buffer, std::uint32_t count);
    // The UI-thread half: the burst steps for a report of the handler with `serial`. A report of
    // a handler that has been closed since is dropped.
    void ReceiveReport(std::uint32_t serial, const std::uint8_t* bytes, std::size_t count);
    // The UI-thread half of a port closing itself: its device went away mid-burst or mid-hold.
    void DeviceGone(std::uint32_t serial);
    // Tick of every handler's burst timer: the burst is over.
    void BurstComplete(TkvTimer* timer);
    THidDevicehandler* FindDeviceHandler(std::int32_t device) const;

    int DeviceHandlerCount() const { return static_cast<int>(handlers_.size()); }
    THidDevicehandler& DeviceHandlers(int index) const { return *handlers_.at(index); }
    TkvHid& EnumerationPort() { return enumerationPort_; }
    TkvTimer& RepeatTimer() { return repeatTimer_; }
    HWND ReportWindow() const { return reportWindow_.Handle(); }
    // Report copies posted and not yet handled or freed, in this module.
    static long ReportsInFlight();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void DropPendingReports();

    THidProcessor& engine_;
    TkvTimer repeatTimer_;
    TkvHid enumerationPort_;
    std::vector<std::unique_ptr<THidDevicehandler>> handlers_;
    std::map<std::int32_t, std::string> unopened_;
    std::uint32_t lastSerial_ = 0;
    // Last, so that it goes first: by then every port is closed and nothing posts any more.
    TkvMessageWindow reportWindow_;
};

// The dispatcher every engine has on Windows.
THidPortDispatcher& PortDispatcher(THidProcessor& engine);
