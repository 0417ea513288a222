#include "ui/frm_hid_action.h"

#include <commctrl.h>

#include <algorithm>

#include "engine/hid_dispatcher.h"
#include "engine/hid_processor.h"
#include "engine/hid_window_scheduler.h"
#include "framework/kv_error.h"
#include "ui/ui_ids.h"

namespace {

constexpr UINT kReportMessage = WM_APP + 10;
constexpr std::uint32_t timerProgress = 1; // every second, up to the 10 s limit
// The engine's burst silence after the last report: the burst is over. Learning and dispatching
// must cut a press into the same bursts, or the learned code never matches.
constexpr std::uint32_t timerTimeout = 2;
// Keeps the news about alternating codes on screen before the dialog ends.
constexpr std::uint32_t timerDone = 3;
constexpr UINT kDoneShownMs = 2500;
constexpr int kProgressMax = 10;
// The frame shown while the search animation is stopped.
constexpr int kAnimateStopFrame = 8;
// The system's search animation in shell32.
constexpr int kSearchAnimation = 150;

} // namespace

TfmHidAction::TfmHidAction() : TkvDialog("Action Registration", 397, 105, true) {}

TfmHidAction::~TfmHidAction() {
    ClosePorts();
}

INT_PTR TfmHidAction::Learn(HWND owner) {
    if (ListenIndex != -1) {
        TkvHid list;
        list.DeviceListChanged();
        const TkvHidDevice* device = list.GetHidDevice(ListenIndex);
        if (device != nullptr && device->WindowsOwned()) {
            MessageBoxA(owner,
                        "Windows uses this device as a keyboard or mouse and keeps its input to "
                        "itself, so its buttons cannot be learned.\n\nTry the remote's "
                        "consumer-control device instead: it is usually listed as a separate "
                        "device.",
                        "Device used by Windows", MB_OK | MB_ICONINFORMATION);
            return IDABORT;
        }
    }
    return ShowModal(owner);
}

void TfmHidAction::FormCreate() {
    // A window of its own each time the dialog is shown: its timers go with it.
    if (scheduler_ == nullptr || scheduler_ == windowTimers_.get()) {
        windowTimers_ = std::make_unique<THidWindowScheduler>(Handle());
        scheduler_ = windowTimers_.get();
    }
    scheduler_->OnTimer = [this](std::uint32_t id) { TimerTick(id); };
    AddControl({.Class = ANIMATE_CLASSA,
                .Style = ACS_TRANSPARENT | ACS_CENTER,
                .Bounds = {12, 12, 16, 16},
                .Id = idActionAnimate});
    // A system without the animation shows none.
    if (!Animate_OpenEx(Control(idActionAnimate), GetModuleHandleA("shell32.dll"),
                        MAKEINTRESOURCEA(kSearchAnimation)))
        ShowWindow(Control(idActionAnimate), SW_HIDE);
    AddControl({.Class = "STATIC",
                .Text = "Please press needed button on your HID device",
                .Style = SS_LEFT,
                .Bounds = {40, 8, 349, 34},
                .Id = idActionMessage,
                .Font = {.Bold = true, .Points = 10}});
    AddControl(
        {.Class = PROGRESS_CLASSA, .Style = 0, .Bounds = {8, 50, 381, 17}, .Id = idActionProgress});
    SendMessageA(Control(idActionProgress), PBM_SETRANGE32, 0, kProgressMax);
    SendMessageA(Control(idActionProgress), PBM_SETSTEP, 1, 0);
    AddControl({.Class = "STATIC",
                .Text = "(... or wait 10 second if you want to reset action ...)",
                .Style = SS_CENTER,
                .Bounds = {8, 78, 381, 15},
                .Id = idActionHint});
}

void TfmHidAction::FormShow() {
    Action.ResetCodes();
    heard_.Start();
    secondPress_ = finished_ = false;
    SetCaption(Action.IsChosen() ? std::string("HID Action: ") + Action.ActionName()
                                 : "Detection an active HID");
    SetDlgItemTextA(Handle(), idActionMessage,
                    Action.IsRepeatable()
                        ? "Please PRESS and HOLD needed button on remote control"
                        : "Please PRESS and RELEASE needed button on remote control");
    Action.Pressed = true;
    OpenPorts();
    SetProgress(0);
    StartTimer(timerProgress, true);
}

void TfmHidAction::FormClose(INT_PTR result) {
    StartTimer(timerProgress, false);
    StartTimer(timerTimeout, false);
    StartTimer(timerDone, false);
    if (result == IDOK && ListenIndex == -1)
        ListenIndex = Action.DeviceIndex;
    // The button belongs to the device it was learned on, wherever that is listed next time.
    if (result == IDOK && !Ports.empty()) {
        const std::vector<THidDeviceIdentity> present = PresentDevices(*Ports.front());
        if (Action.DeviceIndex >= 0 &&
            static_cast<std::size_t>(Action.DeviceIndex) < present.size())
            Action.Device = present[static_cast<std::size_t>(Action.DeviceIndex)];
        Action.DeviceAway = false;
    }
    ClosePorts();
}

void TfmHidAction::OpenPorts() {
    Animate_Play(Control(idActionAnimate), 0, -1, -1);
    std::int32_t index = ListenIndex == -1 ? 0 : ListenIndex;
    for (;;) {
        auto port = std::make_unique<TkvHid>();
        port->DeviceListChanged();
        const std::int32_t listed = port->DeviceCount();
        if (index >= listed)
            return;
        port->SetDeviceIndex(index);
        // Listening on every device leaves out those Windows keeps to itself: they send nothing.
        if (ListenIndex == -1 && port->CurrentDevice()->WindowsOwned()) {
            ++index;
            continue;
        }
        TkvReportQueue& queue = *reports_.emplace_back(
            std::make_unique<TkvReportQueue>(Handle(), kReportMessage, Ports.size()));
        port->OnAfterReceive = [&queue](TkvBaseIO*, const void* buffer, std::uint32_t count) {
            queue.PushReport(buffer, count);
        };
        TkvHid& opened = *Ports.emplace_back(std::move(port));
        try {
            opened.SetActive(true);
        } catch (const EkvError&) {
            // The chosen device must open; among all of them, one that refuses (held by another
            // program, say) is left out and the others are heard.
            if (ListenIndex != -1)
                throw;
            Ports.pop_back();
            reports_.pop_back();
        }
        if (ListenIndex != -1 || ++index >= listed)
            return;
    }
}

void TfmHidAction::ClosePorts() {
    // Each close joins the port's monitoring thread, so no queue is written to once freed.
    for (auto& port : Ports)
        port->SetActive(false);
    Ports.clear();
    reports_.clear();
    if (Handle() != nullptr) {
        Animate_Stop(Control(idActionAnimate));
        Animate_Seek(Control(idActionAnimate), kAnimateStopFrame);
    }
}

bool TfmHidAction::Message(UINT message, WPARAM wParam, LPARAM, LRESULT&) {
    if (message != kReportMessage)
        return false;
    TakeReports(wParam);
    return true;
}

void TfmHidAction::TakeReports(std::size_t port) {
    // A wake-up from ports closed since finds no queue.
    if (port >= reports_.size())
        return;
    for (const TkvReport& report : reports_[port]->TakeAll())
        if (!Ports.empty() && !report.Closed)
            ReceiveReport(static_cast<std::uint32_t>(port), report.Bytes);
}

void TfmHidAction::ReceiveReport(std::uint32_t port, const std::vector<std::uint8_t>& bytes) {
    const std::int32_t device = Ports[port]->DeviceIndex();
    // The second press must come from the device of the first. A report with nothing set but
    // its ID says every button is up: before the second press begins, that is the first
    // press's release coming late, not a press.
    const bool allUp = std::all_of(bytes.begin() + (bytes.empty() ? 0 : 1), bytes.end(),
                                   [](std::uint8_t byte) { return byte == 0; });
    const bool latePreviousRelease = second_.Pressed && heard_.ReportCount() == 0 && allUp;
    if (finished_ || (secondPress_ && (device != Action.DeviceIndex || latePreviousRelease)))
        return;
    StartTimer(timerTimeout, false);
    heard_.Add(bytes.data(), bytes.size());
    lastReportAllUp_ = allUp;
    Action.DeviceIndex = device;
    StartTimer(timerTimeout, true);
}

void TfmHidAction::Timer(UINT_PTR id) {
    if (windowTimers_ != nullptr)
        windowTimers_->Tick(static_cast<std::uint32_t>(id));
}

void TfmHidAction::TimerTick(std::uint32_t id) {
    if (id == timerProgress) {
        SetProgress(progress_ + 1);
        if (progress_ >= kProgressMax) {
            StartTimer(timerProgress, false);
            StartTimer(timerTimeout, false);
            // No second press: the first one stands, as learning from one press always did.
            EndModal(secondPress_ ? IDOK : IDCANCEL);
        }
    } else if (id == timerTimeout) {
        StartTimer(timerProgress, false);
        StartTimer(timerTimeout, false);
        BurstEnded();
    } else if (id == timerDone) {
        EndModal(IDOK);
    }
}

bool TfmHidAction::SplitTap(THidAction& capture) const {
    // Bytes that outgrew their storage cannot be split; then the release is waited for.
    if (heard_.ReportCount() < 2 || !lastReportAllUp_ || !heard_.Kept())
        return false;
    const std::span<const std::uint8_t> bytes = heard_.Bytes();
    const std::size_t lastReportStart = heard_.ReportEnd(heard_.ReportCount() - 1);
    if (lastReportStart == 0 || lastReportStart >= bytes.size())
        return false;
    capture.Patterns[prPress] = THidBurstPattern::Of(bytes.first(lastReportStart));
    capture.Patterns[prRelease] = THidBurstPattern::Of(bytes.subspan(lastReportStart));
    capture.Pressed = false;
    return true;
}

void TfmHidAction::BurstEnded() {
    THidAction& capture = Capture();
    if (!(capture.IsRepeatable() && capture.Pressed && SplitTap(capture)))
        capture.Patterns[capture.Pressed ? prPress : prRelease] = THidBurstPattern::Of(heard_);
    heard_.Start();
    if (capture.IsRepeatable() && capture.Pressed) {
        SetDlgItemTextA(Handle(), idActionMessage, "Please RELEASE button on remote control now!");
        capture.Pressed = false;
        SetProgress(0);
        StartTimer(timerProgress, true);
    } else if (!secondPress_ && Action.IsChosen()) {
        AskAgain(); // finding the active device needs no second press
    } else if (!secondPress_) {
        EndModal(IDOK);
    } else {
        Finish();
    }
}

void TfmHidAction::AskAgain() {
    secondPress_ = true;
    second_.Assign(Action);
    second_.ResetCodes();
    second_.Pressed = true;
    SetDlgItemTextA(Handle(), idActionMessage, "Press the same button again");
    SetDlgItemTextA(Handle(), idActionHint,
                    "(... or wait 10 second if the first press is enough ...)");
    SetProgress(0);
    StartTimer(timerProgress, true);
}

void TfmHidAction::Finish() {
    if (second_.PressCode() == Action.PressCode() &&
        second_.ReleaseCode() == Action.ReleaseCode()) {
        EndModal(IDOK);
        return;
    }
    Action.Patterns[prAltPress] = second_.Patterns[prPress];
    Action.Patterns[prAltRelease] = second_.Patterns[prRelease];
    finished_ = true; // nothing more to hear while the news is shown
    SetDlgItemTextA(Handle(), idActionMessage,
                    "This remote sends alternating codes for this button: both were learned");
    SetDlgItemTextA(Handle(), idActionHint, "");
    SetProgress(kProgressMax);
    StartTimer(timerDone, true);
}

void TfmHidAction::SetProgress(int position) {
    progress_ = position;
    SendMessageA(Control(idActionProgress), PBM_SETPOS, position, 0);
}

void TfmHidAction::StartTimer(std::uint32_t id, bool start) {
    if (!start)
        scheduler_->Stop(id);
    else if (id == timerProgress)
        scheduler_->Start(id, 1000, true);
    else
        scheduler_->Start(id, id == timerDone ? kDoneShownMs : kBurstSilenceMs);
}
