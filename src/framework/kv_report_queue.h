#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

// Milliseconds of a steady clock, for stamping reports when they are read. Differences of two
// readings are right across the 32-bit wrap.
std::uint32_t kvReportClockMs();

// One report as its port read it, or the port's own close after the reports before it.
struct TkvReport {
    std::uint32_t Time = 0; // kvReportClockMs() when the monitoring thread got it
    bool Closed = false;    // the port closed itself, for instance because the device went away
    std::vector<std::uint8_t> Bytes;
};

// The hand-over of one port's reports from its monitoring thread to the thread that owns a
// window. The monitoring thread copies each report with its time stamp into a bounded queue and
// posts one wake-up message (never sends) when the queue turns non-empty; the owning thread
// takes everything queued in arrival order.
//
// The message carries only the queue's tag, never memory, so a wake-up that arrives after the
// queue is gone frees nothing and reaches nobody: a consumer that closes or replaces a port
// destroys its queue, and with it every report of that port not yet taken.
class TkvReportQueue {
public:
    // Enough for a second of a device that reports 1,000 times a second.
    static constexpr std::size_t kDefaultCapacity = 1024;

    // Wake-ups are `message` to `window` with wParam `tag`.
    TkvReportQueue(HWND window, UINT message, WPARAM tag, std::size_t capacity = kDefaultCapacity);
    ~TkvReportQueue();
    TkvReportQueue(const TkvReportQueue&) = delete;
    TkvReportQueue& operator=(const TkvReportQueue&) = delete;

    WPARAM Tag() const { return tag_; }

    // On any thread. When the queue is full the oldest report makes room and is counted.
    void PushReport(const void* bytes, std::uint32_t count);
    void PushClose();

    // On the owning thread: everything queued, oldest first. Reports dropped since the last call
    // are counted in the debugger output.
    std::deque<TkvReport> TakeAll();

    // Report copies waiting in any queue of this module, for tests and soak checks.
    static long Waiting();

private:
    void Push(TkvReport&& report);

    const HWND window_;
    const UINT message_;
    const WPARAM tag_;
    const std::size_t capacity_;
    std::mutex lock_;
    std::deque<TkvReport> items_;
    // A wake-up is on its way: later reports ride on it. A failed post leaves it false, so the
    // next report tries again.
    bool wakePosted_ = false;
    std::size_t dropped_ = 0;
};
