#include "engine/hid_dispatcher.h"

#include <algorithm>
#include <utility>

#include "framework/kv_error.h"

namespace {

constexpr char kReportWindowClass[] = "THidReportWindow";
// wParam: the serial of the handler whose queue turned non-empty.
constexpr UINT kReportMessage = WM_APP + 1;

// How long until the silence after `last` has lasted kBurstSilenceMs, at `now`.
std::uint32_t SilenceLeft(std::uint32_t last, std::uint32_t now) {
    const std::uint32_t passed = now - last;
    return passed >= kBurstSilenceMs ? 0 : kBurstSilenceMs - passed;
}

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

THidDevicehandler::THidDevicehandler(std::uint32_t serial, HWND reportWindow, UINT reportMessage)
    : Reports(reportWindow, reportMessage, serial), Serial(serial) {
    BurstTimer.SetEnabled(false);
    BurstTimer.SetInterval(kBurstSilenceMs);
    Port.DeviceListChanged();
    Port.SetTag(static_cast<std::intptr_t>(serial));
}

THidPortDispatcher::THidPortDispatcher(THidProcessor& engine)
    : engine_(engine), reportWindow_(kReportWindowClass, &THidPortDispatcher::WindowProc, this) {
    repeatTimer_.SetEnabled(false);
    repeatTimer_.SetOnTimer([this](TkvTimer*) { engine_.RepeatTick(); });
}

THidPortDispatcher::~THidPortDispatcher() {
    try {
        CloseDevices();
    } catch (...) {
        // The ports are gone with their handlers whatever the close said.
    }
    repeatTimer_.SetEnabled(false);
}

void THidPortDispatcher::OpenDevices() {
    enumerationPort_.DeviceListChanged();
    unopened_.clear();
    for (int i = 0; i < engine_.Count(); ++i) {
        const std::int32_t device = engine_.Actions(i).DeviceIndex;
        if (device < 0 || FindDeviceHandler(device) != nullptr || unopened_.contains(device) ||
            device >= enumerationPort_.DeviceCount())
            continue;
        THidDevicehandler& handler = *handlers_.emplace_back(std::make_unique<THidDevicehandler>(
            ++lastSerial_, reportWindow_.Handle(), kReportMessage));
        handler.Port.SetDeviceIndex(device);
        handler.Port.OnAfterReceive = [&handler](TkvBaseIO*, const void* buffer,
                                                 std::uint32_t count) {
            HandleReport(handler, buffer, count);
        };
        // Queued like a report, behind the reports read before the device went away. A close
        // made by CloseDevices queues one too, but its queue goes with the handler.
        handler.Port.OnClose = [&handler](TkvBaseIO*) { handler.Reports.PushClose(); };
        handler.BurstTimer.SetOnTimer(
            [this, serial = handler.Serial](TkvTimer*) { BurstTimerTick(serial); });
        try {
            handler.Port.SetActive(true);
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
        }
    }
}

void THidPortDispatcher::CloseDevices() {
    repeatTimer_.SetEnabled(false);
    // Out of the list first: a tick or report handled while a monitoring thread is being joined
    // finds no handler.
    std::vector<std::unique_ptr<THidDevicehandler>> closing;
    closing.swap(handlers_);
    for (const auto& handler : closing)
        handler->Port.SetActive(false);
    // Every monitoring thread has ended; what their queues still hold is stale and goes with them.
    closing.clear();
}

void THidPortDispatcher::SetRepeatTimer(std::optional<std::uint32_t> dueInMs) {
    // Off and on again: a fresh period even when it was running. A window timer never fires at
    // 0 ms; 1 ms asks for the earliest tick.
    repeatTimer_.SetEnabled(false);
    if (dueInMs) {
        repeatTimer_.SetInterval(std::max<std::uint32_t>(*dueInMs, 1));
        repeatTimer_.SetEnabled(true);
    }
}

void THidPortDispatcher::HandleReport(THidDevicehandler& handler, const void* buffer,
                                      std::uint32_t count) {
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

void THidPortDispatcher::ReceiveReport(std::uint32_t serial, const std::uint8_t* bytes,
                                       std::size_t count, std::uint32_t time) {
    THidDevicehandler* handler = FindHandler(serial);
    if (handler == nullptr)
        return;
    // A running burst timer means a burst is open. When the UI thread was too busy to see its
    // silence pass, that burst ended before this report did arrive.
    if (handler->BurstTimer.Enabled() && SilenceLeft(handler->LastReportTime, time) == 0) {
        BurstComplete(&handler->BurstTimer);
        handler = FindHandler(serial); // the command may have closed it
        if (handler == nullptr)
            return;
    }
    const bool continues = handler->BurstTimer.Enabled();
    handler->BurstCode = AddReportToBurst(handler->BurstCode, continues, bytes, count);
    handler->LastReportTime = time;
    ArmBurstTimer(*handler, kvReportClockMs());
}

void THidPortDispatcher::ArmBurstTimer(THidDevicehandler& handler, std::uint32_t now) {
    // A window timer never fires at 0 ms; 1 ms asks for the earliest tick.
    const std::uint32_t left = SilenceLeft(handler.LastReportTime, now);
    handler.BurstTimer.SetEnabled(false);
    handler.BurstTimer.SetInterval(left > 0 ? left : 1);
    handler.BurstTimer.SetEnabled(true);
}

void THidPortDispatcher::BurstTimerTick(std::uint32_t serial) {
    // Reports read before the silence ended but not yet taken still belong to this burst.
    TakeReports(serial);
    THidDevicehandler* handler = FindHandler(serial);
    if (handler == nullptr || !handler->BurstTimer.Enabled())
        return;
    const std::uint32_t now = kvReportClockMs();
    if (SilenceLeft(handler->LastReportTime, now) > 0)
        ArmBurstTimer(*handler, now);
    else
        BurstComplete(&handler->BurstTimer);
}

void THidPortDispatcher::DeviceGone(std::uint32_t serial) {
    if (THidDevicehandler* handler = FindHandler(serial)) {
        handler->BurstTimer.SetEnabled(false);
        engine_.ReleaseDevice(handler->Port.DeviceIndex());
    }
}

void THidPortDispatcher::BurstComplete(TkvTimer* timer) {
    for (const auto& handler : handlers_) {
        if (&handler->BurstTimer != timer)
            continue;
        handler->BurstTimer.SetEnabled(false);
        // The handler may be gone once the command has run.
        engine_.CompleteBurst(handler->BurstCode, handler->Port.DeviceIndex());
        return;
    }
}

THidDevicehandler* THidPortDispatcher::FindDeviceHandler(std::int32_t device) const {
    for (const auto& handler : handlers_)
        if (handler->Port.DeviceIndex() == device)
            return handler.get();
    return nullptr;
}

long THidPortDispatcher::ReportsInFlight() {
    return TkvReportQueue::Waiting();
}

LRESULT CALLBACK THidPortDispatcher::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
    if (message != kReportMessage)
        return DefWindowProcA(window, message, wParam, lParam);
    auto* self = TkvMessageWindow::Owner<THidPortDispatcher>(window);
    if (self == nullptr)
        return 0;
    try {
        self->TakeReports(static_cast<std::uint32_t>(wParam));
    } catch (...) {
        // A failing report must not take the player's message loop down.
    }
    return 0;
}
