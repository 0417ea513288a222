#include "framework/kv_report_queue.h"

#include <atomic>
#include <utility>

namespace {

std::atomic<long> waitingReports{0};

} // namespace

std::uint32_t kvReportClockMs() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return value.QuadPart > 0 ? value.QuadPart : 1;
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    // Split so that the product cannot overflow however long the machine has been up.
    const LONGLONG seconds = now.QuadPart / frequency;
    const LONGLONG rest = now.QuadPart % frequency;
    return static_cast<std::uint32_t>(seconds * 1000 + rest * 1000 / frequency);
}

TkvReportQueue::TkvReportQueue(HWND window, UINT message, WPARAM tag, std::size_t capacity)
    : window_(window), message_(message), tag_(tag), capacity_(capacity > 0 ? capacity : 1) {}

TkvReportQueue::~TkvReportQueue() {
    std::lock_guard lock(lock_);
    waitingReports -= static_cast<long>(items_.size());
}

void TkvReportQueue::PushReport(const void* bytes, std::uint32_t count) {
    TkvReport report;
    report.Time = kvReportClockMs();
    const auto* first = static_cast<const std::uint8_t*>(bytes);
    if (first != nullptr)
        report.Bytes.assign(first, first + count);
    Push(std::move(report));
}

void TkvReportQueue::PushClose() {
    TkvReport report;
    report.Time = kvReportClockMs();
    report.Closed = true;
    Push(std::move(report));
}

void TkvReportQueue::Push(TkvReport&& report) {
    std::lock_guard lock(lock_);
    if (items_.size() >= capacity_) {
        items_.pop_front();
        --waitingReports;
        ++dropped_;
    }
    items_.push_back(std::move(report));
    ++waitingReports;
    // Posted, never sent: the owning thread may be waiting for this very thread to end.
    if (!wakePosted_)
        wakePosted_ = PostMessageA(window_, message_, tag_, 0) != FALSE;
}

std::deque<TkvReport> TkvReportQueue::TakeAll() {
    std::deque<TkvReport> taken;
    std::size_t dropped = 0;
    {
        std::lock_guard lock(lock_);
        taken.swap(items_);
        waitingReports -= static_cast<long>(taken.size());
        wakePosted_ = false;
        dropped = std::exchange(dropped_, 0);
    }
    if (dropped > 0) {
        const std::string text =
            "trelvon: " + std::to_string(dropped) + " reports dropped while the player was busy";
        OutputDebugStringA(text.c_str());
    }
    return taken;
}

long TkvReportQueue::Waiting() {
    return waitingReports;
}
