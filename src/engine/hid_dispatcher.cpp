#include "engine/hid_dispatcher.h"

#include <dbt.h>

#include <algorithm>
#include <iterator>
#include <utility>

#include "framework/kv_error.h"

namespace {

constexpr char kReportWindowClass[] = "THidReportWindow";
// wParam: the serial of the handler whose queue turned non-empty.
constexpr UINT kReportMessage = WM_APP + 1;

// The HID device interface class, which the device notifications are asked for.
constexpr GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
} // namespace

std::unique_ptr<THidDispatcher> CreateHidDispatcher(THidProcessor& engine) {
    return std::make_unique<THidPortDispatcher>(engine);
}

THidPortDispatcher& PortDispatcher(THidProcessor& engine) {
    auto* dispatcher = dynamic_cast<THidPortDispatcher*>(engine.Dispatcher());
    if (dispatcher == nullptr)
        throw EkvError("The engine serves no devices");
    return *dispatcher;
}

std::vector<THidDeviceIdentity> PresentDevices(const TkvHid& port) {
    std::vector<THidDeviceIdentity> devices;
    for (std::int32_t i = 0; i < port.DeviceCount(); ++i) {
        const TkvHidDevice* record = port.GetHidDevice(i);
        THidDeviceIdentity& device = devices.emplace_back();
        if (record == nullptr)
            continue;
        device.Path = record->DevicePath;
        device.VendorID = record->VendorID();
        device.ProductID = record->ProductID();
        device.VersionNumber = record->VersionNumber();
        device.UsagePage = record->UsagePage();
        device.Usage = record->Usage();
        device.SerialNumber = record->SerialNumber;
        device.InstanceId = record->InstanceId;
        device.Name = record->FriendlyName;
    }
    return devices;
}

THidDevicehandler::THidDevicehandler(std::uint32_t serial, HWND reportWindow, UINT reportMessage)
    : THidDeviceBurst(serial), Reports(reportWindow, reportMessage, serial) {
    Port.SetTag(static_cast<std::intptr_t>(serial));
}

THidPortDispatcher::THidPortDispatcher(THidProcessor& engine)
    : THidTimedDispatcher(engine, windowTimers_),
      reportWindow_(kReportWindowClass, &THidPortDispatcher::WindowProc, this, true),
      windowTimers_(reportWindow_.Handle()) {
    windowTimers_.OnTimer = [this](std::uint32_t id) { TimerTick(id); };
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kHidInterfaceClass;
    // Without it the node changes still arrive; only the earliest word of an arrival is lost.
    deviceNotification_.Reset(
        RegisterDeviceNotificationW(reportWindow_.Handle(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
}

THidPortDispatcher::~THidPortDispatcher() {
    try {
        CloseDevices();
    } catch (...) {
        // The ports are gone with their handlers whatever the close said.
    }
}

void THidPortDispatcher::RefreshDevices() {
    if (!Serving())
        return;
    enumerationPort_.DeviceListChanged();
    const std::vector<THidDeviceIdentity> present = PresentDevices(enumerationPort_);
    const auto listed = [&](const std::string& path) {
        return std::find_if(present.begin(), present.end(),
                            [&](const auto& device) { return device.Path == path; });
    };
    // Ports of devices that are gone, or that closed themselves, go first, while the actions
    // still name their devices by the old positions.
    for (auto handler = handlers_.begin(); handler != handlers_.end();) {
        if ((*handler)->Port.Active() && listed((*handler)->Path) != present.end()) {
            ++handler;
            continue;
        }
        engine_.ReleaseDevice((*handler)->Device);
        ForgetBurst(**handler);
        std::unique_ptr<THidDevicehandler> closing = std::move(*handler);
        handler = handlers_.erase(handler);
        closing->Port.SetActive(false);
    }
    engine_.MatchDevices(present);
    for (const auto& handler : handlers_)
        handler->Device =
            static_cast<std::int32_t>(std::distance(present.begin(), listed(handler->Path)));
    unopened_.clear();
    // A device that has just arrived may refuse to open, or even to be queried, which keeps it
    // off the list for a moment: either way it is looked for again a little later.
    bool waiting = false;
    for (int i = 0; i < engine_.Count(); ++i) {
        const THidAction& action = engine_.Actions(i);
        const std::int32_t device = action.DeviceIndex;
        waiting |= action.DeviceAway;
        if (action.DeviceAway || device < 0 ||
            device >= static_cast<std::int32_t>(present.size()) ||
            FindDeviceHandler(device) != nullptr || unopened_.contains(device))
            continue;
        waiting |= OpenHandler(device, present[static_cast<std::size_t>(device)].Path) == nullptr;
    }
    if (waiting)
        ScheduleRetry();
}

THidDevicehandler* THidPortDispatcher::OpenHandler(std::int32_t device, const std::string& path) {
    THidDevicehandler& handler = *handlers_.emplace_back(
        std::make_unique<THidDevicehandler>(++lastSerial_, reportWindow_.Handle(), kReportMessage));
    handler.Device = device;
    handler.Path = path;
    // The port's list is the one device, copied from the list just loaded: loading a list of
    // its own would cost each port as much as the whole refresh.
    handler.Port.AddDevice(std::make_unique<TkvHidDevice>(*enumerationPort_.GetHidDevice(device)));
    handler.Port.SetDeviceIndex(0);
    handler.Port.OnAfterReceive = [&handler](TkvBaseIO*, const void* buffer, std::uint32_t count) {
        HandleReport(handler, buffer, count);
    };
    // Queued like a report, behind the reports read before the device went away. A close
    // made by CloseDevices queues one too, but its queue goes with the handler.
    handler.Port.OnClose = [&handler](TkvBaseIO*) { handler.Reports.PushClose(); };
    try {
        handler.Port.SetActive(true);
        return &handler;
    } catch (const std::exception& error) {
        // One device that refuses to open must cost neither the others nor the dialog that
        // could rebind its buttons.
        const TkvHidDevice* named = handler.Port.CurrentDevice();
        const std::string text = "trelvon: HID device " + std::to_string(device) + " (" +
                                 (named != nullptr ? named->FriendlyName : "") +
                                 ") could not be opened: " + error.what();
        OutputDebugStringA(text.c_str());
        unopened_[device] = error.what();
        handlers_.pop_back();
        return nullptr;
    }
}

void THidPortDispatcher::ClosePorts() {
    // Out of the list first: a tick or report handled while a monitoring thread is being joined
    // finds no handler.
    std::vector<std::unique_ptr<THidDevicehandler>> closing;
    closing.swap(handlers_);
    for (const auto& handler : closing) {
        ForgetBurst(*handler);
        handler->Port.SetActive(false);
    }
    // Every monitoring thread has ended; what their queues still hold is stale and goes with them.
    closing.clear();
}

void THidPortDispatcher::HandleReport(THidDevicehandler& handler, const void* buffer,
                                      std::uint32_t count) {
    // Every report is announced to a debugger watching the player, as the plug-in always did.
    OutputDebugStringA("HIS Report!!!!!");
    if (buffer == nullptr)
        return;
    try {
        // The handler outlives its port's monitoring thread, so its queue is there to take this.
        handler.Reports.PushReport(buffer, count);
    } catch (...) {
        // Out of memory: this report is lost, the device goes on being read.
    }
}

THidDevicehandler* THidPortDispatcher::FindHandler(std::uint32_t serial) const {
    for (const auto& handler : handlers_)
        if (handler->Serial == serial)
            return handler.get();
    return nullptr;
}

void THidPortDispatcher::TakeReports(std::uint32_t serial) {
    THidDevicehandler* handler = FindHandler(serial);
    if (handler == nullptr)
        return;
    for (const TkvReport& report : handler->Reports.TakeAll()) {
        // A command run for an earlier report may have closed the handler meanwhile.
        if (FindHandler(serial) == nullptr)
            return;
        if (report.Closed)
            DeviceGone(serial);
        else
            ReceiveReport(serial, report.Bytes.data(), report.Bytes.size(), report.Time);
    }
}

THidDevicehandler* THidPortDispatcher::FindDeviceHandler(std::int32_t device) const {
    for (const auto& handler : handlers_)
        if (handler->Device == device)
            return handler.get();
    return nullptr;
}

long THidPortDispatcher::ReportsInFlight() {
    return TkvReportQueue::Waiting();
}

namespace {

// Whether a WM_DEVICECHANGE or WM_POWERBROADCAST may have changed the HID devices present.
bool AnnouncesDeviceChange(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_POWERBROADCAST)
        return wParam == PBT_APMRESUMEAUTOMATIC;
    if (message != WM_DEVICECHANGE)
        return false;
    if (wParam == DBT_DEVNODES_CHANGED)
        return true;
    if ((wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) || lParam == 0)
        return false;
    return reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam)->dbch_devicetype ==
           DBT_DEVTYP_DEVICEINTERFACE;
}

} // namespace

LRESULT CALLBACK THidPortDispatcher::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
    auto* self = TkvMessageWindow::Owner<THidPortDispatcher>(window);
    try {
        if (message == WM_TIMER) {
            if (self != nullptr)
                self->windowTimers_.Tick(static_cast<std::uint32_t>(wParam));
            return 0;
        }
        if (message == kReportMessage) {
            if (self != nullptr)
                self->TakeReports(static_cast<std::uint32_t>(wParam));
            return 0;
        }
        if (AnnouncesDeviceChange(message, wParam, lParam)) {
            if (self != nullptr)
                self->DeviceChangeNoticed();
            return TRUE;
        }
    } catch (...) {
        // A failing report, tick or refresh must not take the player's message loop down.
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
