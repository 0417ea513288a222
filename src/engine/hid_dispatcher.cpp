#include "engine/hid_dispatcher.h"

#include <atomic>
#include <utility>

#include "framework/kv_error.h"

namespace {

constexpr char kReportWindowClass[] = "THidReportWindow";
// wParam: the serial of the handler whose port read the report; lParam: its TPostedReport.
constexpr UINT kReportMessage = WM_APP + 1;
// wParam: the serial of the handler whose port closed itself (the device went away).
constexpr UINT kDeviceGoneMessage = WM_APP + 2;

std::atomic<long> reportsInFlight{0};

// A copy of one report on its way to the UI thread: the port's buffer is reused for the next
// read as soon as the receive call returns.
struct TPostedReport {
    TPostedReport(const void* buffer, std::uint32_t count)
        : Bytes(static_cast<const std::uint8_t*>(buffer),
                static_cast<const std::uint8_t*>(buffer) + count) {
        ++reportsInFlight;
    }
    ~TPostedReport() { --reportsInFlight; }
    TPostedReport(const TPostedReport&) = delete;
    TPostedReport& operator=(const TPostedReport&) = delete;

    std::vector<std::uint8_t> Bytes;
};

std::unique_ptr<TPostedReport> TakeReport(LPARAM lParam) {
    return std::unique_ptr<TPostedReport>(reinterpret_cast<TPostedReport*>(lParam));
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

THidDevicehandler::THidDevicehandler(std::uint32_t serial) : Serial(serial) {
    BurstTimer.SetEnabled(false);
    BurstTimer.SetInterval(kBurstSilenceMs);
    Port.DeviceListChanged();
    Port.SetTag(static_cast<std::intptr_t>(serial));
}

THidPortDispatcher::THidPortDispatcher(THidProcessor& engine)
    : engine_(engine), reportWindow_(kReportWindowClass, &THidPortDispatcher::WindowProc, this) {
    repeatTimer_.SetEnabled(false);
    repeatTimer_.SetInterval(kRepeatIntervalMs);
    repeatTimer_.SetOnTimer([this](TkvTimer*) { engine_.RepeatTick(); });
}

THidPortDispatcher::~THidPortDispatcher() {
    try {
        CloseDevices();
    } catch (...) {
        // The ports are gone with their handlers whatever the close said.
    }
    repeatTimer_.SetEnabled(false);
    DropPendingReports();
}

void THidPortDispatcher::OpenDevices() {
    enumerationPort_.DeviceListChanged();
    unopened_.clear();
    for (int i = 0; i < engine_.Count(); ++i) {
        const std::int32_t device = engine_.Actions(i).DeviceIndex;
        if (device < 0 || FindDeviceHandler(device) != nullptr || unopened_.contains(device) ||
            device >= enumerationPort_.DeviceCount())
            continue;
        THidDevicehandler& handler =
            *handlers_.emplace_back(std::make_unique<THidDevicehandler>(++lastSerial_));
        handler.Port.SetDeviceIndex(device);
        handler.Port.OnAfterReceive = [this](TkvBaseIO* port, const void* buffer,
                                             std::uint32_t count) {
            HandleReport(port, buffer, count);
        };
        // Posted like a report, behind the reports read before the device went away. A close
        // made by CloseDevices posts too, but its handler is out of the list by then.
        handler.Port.OnClose = [this, serial = handler.Serial](TkvBaseIO*) {
            PostMessageA(reportWindow_.Handle(), kDeviceGoneMessage, serial, 0);
        };
        handler.BurstTimer.SetOnTimer([this](TkvTimer* timer) { BurstComplete(timer); });
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
    closing.clear();
    // Every monitoring thread has ended: nothing posts any more, and what was posted is stale.
    DropPendingReports();
}

void THidPortDispatcher::SetRepeatTimerEnabled(bool enabled) {
    // Off and on again: a fresh period even when it was running.
    repeatTimer_.SetEnabled(false);
    if (enabled) {
        repeatTimer_.SetInterval(kRepeatIntervalMs);
        repeatTimer_.SetEnabled(true);
    }
}

void THidPortDispatcher::HandleReport(TkvBaseIO* port, const void* buffer, std::uint32_t count) {
    OutputDebugStringA("HIS Report!!!!!");
    const auto* hid = dynamic_cast<const TkvHid*>(port);
    if (hid == nullptr || buffer == nullptr)
        return;
    try {
        auto report = std::make_unique<TPostedReport>(buffer, count);
        // Posted, never sent: the UI thread may be waiting for this very thread to end.
        if (PostMessageA(reportWindow_.Handle(), kReportMessage, static_cast<WPARAM>(hid->Tag()),
                         reinterpret_cast<LPARAM>(report.get())))
            report.release(); // the window owns it now
    } catch (...) {
        // Out of memory: this report is lost, the device goes on being read.
    }
}

void THidPortDispatcher::ReceiveReport(std::uint32_t serial, const std::uint8_t* bytes,
                                       std::size_t count) {
    for (const auto& handler : handlers_) {
        if (handler->Serial != serial)
            continue;
        // A running burst timer means a burst is open and this report continues it.
        const bool continues = handler->BurstTimer.Enabled();
        handler->BurstTimer.SetEnabled(false);
        handler->BurstCode = AddReportToBurst(handler->BurstCode, continues, bytes, count);
        handler->BurstTimer.SetEnabled(true); // fires kBurstSilenceMs after this report
        return;
    }
}

void THidPortDispatcher::DeviceGone(std::uint32_t serial) {
    for (const auto& handler : handlers_)
        if (handler->Serial == serial) {
            handler->BurstTimer.SetEnabled(false);
            engine_.ReleaseDevice(handler->Port.DeviceIndex());
            return;
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
    return reportsInFlight;
}

void THidPortDispatcher::DropPendingReports() {
    MSG msg;
    while (
        PeekMessageA(&msg, reportWindow_.Handle(), kReportMessage, kDeviceGoneMessage, PM_REMOVE))
        if (msg.message == kReportMessage)
            TakeReport(msg.lParam);
}

LRESULT CALLBACK THidPortDispatcher::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
    if (message != kReportMessage && message != kDeviceGoneMessage)
        return DefWindowProcA(window, message, wParam, lParam);
    const std::unique_ptr<TPostedReport> report =
        message == kReportMessage ? TakeReport(lParam) : nullptr;
    auto* self = TkvMessageWindow::Owner<THidPortDispatcher>(window);
    if (self == nullptr)
        return 0;
    try {
        const auto serial = static_cast<std::uint32_t>(wParam);
        if (report)
            self->ReceiveReport(serial, report->Bytes.data(), report->Bytes.size());
        else if (message == kDeviceGoneMessage)
            self->DeviceGone(serial);
    } catch (...) {
        // A failing report must not take the player's message loop down.
    }
    return 0;
}
