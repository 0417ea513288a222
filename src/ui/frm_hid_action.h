#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/hid_action.h"
#include "engine/hid_scheduler.h"
#include "framework/kv_report_queue.h"
#include "hid/kv_hid.h"
#include "ui/kv_dialog.h"

class THidWindowScheduler;

// Captures which button an action stands for. It listens on one device or on all of them and
// hears the press (and, for repeating actions, the release) as bursts, as the engine does, which
// become the action's patterns; then it asks for the same button once more: a remote that flips a
// toggle bit on each new press sends other bytes the second time, and those become the action's
// alternate codes. It ends with OK once the engine's burst silence follows the second burst, or 10
// seconds after the first without a second one; with Cancel after 10 seconds without a first.
class TfmHidAction : public TkvDialog {
public:
    TfmHidAction();
    ~TfmHidAction() override;

    // The working copy: callers Assign the action to learn into it and read it back after OK.
    THidAction Action;
    // Before showing: the device to listen on, -1 for every device. After OK: the device the
    // input came from.
    std::int32_t ListenIndex = -1;

    // ShowModal, unless ListenIndex names a device that Windows keeps to itself: then the user
    // is told at once why and what to try instead, no port is opened, and the result is IDABORT.
    INT_PTR Learn(HWND owner);
    // Before showing: the clock of the silence, progress and timeout. By default the dialog's own
    // window timers; tests move a clock of their own.
    void SetScheduler(THidScheduler& scheduler) { scheduler_ = &scheduler; }

protected:
    void FormCreate() override;
    void FormShow() override;
    void FormClose(INT_PTR result) override;
    void Timer(UINT_PTR id) override;
    bool Message(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void OpenPorts();
    void ClosePorts();
    void TakeReports(std::size_t port);
    void ReceiveReport(std::uint32_t port, const std::vector<std::uint8_t>& bytes);
    void SetProgress(int position);
    void TimerTick(std::uint32_t id);
    void StartTimer(std::uint32_t id, bool start);
    // The press being captured: the first goes into Action, the second into second_.
    THidAction& Capture() { return secondPress_ ? second_ : Action; }
    // The burst silence after a press or release: on to the release, the second press or the end.
    void BurstEnded();
    void AskAgain();
    void Finish();
    // A quick tap of a repeating button reads as one burst, its press with the release at the
    // end. True when the press burst just ended is one: its last report (every button up) is
    // then taken as the release burst, as the engine takes a tap, and both patterns are set.
    bool SplitTap(THidAction& capture) const;

    THidAction second_;
    bool secondPress_ = false;
    bool finished_ = false;
    // The burst being heard, and whether its last report has every button up.
    THidBurst heard_;
    bool lastReportAllUp_ = false;
    std::vector<std::unique_ptr<TkvHid>> Ports;
    // One per port, at the port's position; each port's monitoring thread ends before its queue.
    std::vector<std::unique_ptr<TkvReportQueue>> reports_;
    int progress_ = 0;
    std::unique_ptr<THidWindowScheduler> windowTimers_;
    THidScheduler* scheduler_ = nullptr;
};
