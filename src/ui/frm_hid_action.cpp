#include "ui/frm_hid_action.h"

#include <commctrl.h>

#include "engine/hid_processor.h"
#include "ui/ui_ids.h"

namespace {

constexpr UINT kReportMessage = WM_APP + 10;
constexpr UINT_PTR timerProgress = 1; // every second, up to the 10 s limit
// The engine's burst silence after the last report: the burst is over. Learning and dispatching
// must cut a press into the same bursts, or the learned code never matches.
constexpr UINT_PTR timerTimeout = 2;
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
                .Font = DialogFont(true, 10)});
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
    SetCaption(Action.ActionType != atUnknown ? std::string("HID Action: ") + Action.ActionName()
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
    if (result == IDOK && ListenIndex == -1)
        ListenIndex = Action.DeviceIndex;
    ClosePorts();
}

void TfmHidAction::OpenPorts() {
    Animate_Play(Control(idActionAnimate), 0, -1, -1);
    std::int32_t index = ListenIndex == -1 ? 0 : ListenIndex;
    for (;;) {
        auto port = std::make_unique<TkvHid>();
        port->DeviceListChanged();
        if (index >= port->DeviceCount())
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
        opened.SetActive(true);
        if (ListenIndex != -1 || ++index >= opened.DeviceCount())
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
    StartTimer(timerTimeout, false);
    for (const std::uint8_t byte : bytes)
        Action.AddCodeByte(byte, Action.Pressed);
    Action.DeviceIndex = Ports[port]->DeviceIndex();
    StartTimer(timerTimeout, true);
}

void TfmHidAction::Timer(UINT_PTR id) {
    if (id == timerProgress) {
        SetProgress(progress_ + 1);
        if (progress_ >= kProgressMax) {
            StartTimer(timerProgress, false);
            EndModal(IDCANCEL);
        }
    } else if (id == timerTimeout) {
        StartTimer(timerProgress, false);
        StartTimer(timerTimeout, false);
        if (Action.IsRepeatable() && Action.Pressed) {
            SetDlgItemTextA(Handle(), idActionMessage,
                            "Please RELEASE button on remote control now!");
            Action.Pressed = false;
            SetProgress(0);
            StartTimer(timerProgress, true);
        } else {
            EndModal(IDOK);
        }
    }
}

void TfmHidAction::SetProgress(int position) {
    progress_ = position;
    SendMessageA(Control(idActionProgress), PBM_SETPOS, position, 0);
}

void TfmHidAction::StartTimer(UINT_PTR id, bool start) {
    if (start)
        SetTimer(Handle(), id, id == timerProgress ? 1000 : kBurstSilenceMs, nullptr);
    else
        KillTimer(Handle(), id);
}
