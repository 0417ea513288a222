#include "hid/kv_hid.h"

#include <algorithm>
#include <array>
#include <memory>

#include "framework/kv_thread_io.h"
#include "hid/kv_hid_w32.h"
#include "hid/kv_win32.h"
#include "hid/kv_win32_di.h"

namespace {

struct TFreePreparsedData {
    void operator()(PHIDP_PREPARSED_DATA data) const { HidFreePreparsedData(data); }
};
using TPreparsedData = TkvScoped<PHIDP_PREPARSED_DATA, TFreePreparsedData>;

// Frees a block by giving its memory back, not just emptying it.
template <typename T> void Release(std::vector<T>& block) {
    std::vector<T>().swap(block);
}

} // namespace

TkvHid::TkvHid(TkvComponent* owner)
    : TkvBaseIO(owner), readEvent_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    SetLogPrefix("kvHID: ");
    readOverlapped_.hEvent = readEvent_.Get();
}

TkvHid::~TkvHid() {
    // The monitoring thread uses the buffers and the event below; it is gone before they are.
    if (IsOpen())
        Close();
    else
        JoinThread();
    FreeReportBuffers();
}

// --- device list ---------------------------------------------------------------------------

void TkvHid::SetDeviceIndex(std::int32_t index) {
    deviceIndex_ = index;
    currentDevice_ = index < 0 ? nullptr : GetHidDevice(index);
    TkvBaseIO::SetDeviceIndex(index);
}

void TkvHid::ClearDevices() {
    std::lock_guard lock(mediumLock_);
    currentDevice_ = nullptr;
    ppdDevice_ = nullptr; // the open device's preparsed data stays with the port until close
    TkvBaseIO::ClearDevices();
}

void TkvHid::DeviceListChanged() {
    if (listLoading_)
        return;
    DeviceListLoad();
    TkvBaseIO::DeviceListChanged();
}

void TkvHid::DeviceListLoad() {
    if (listLoading_)
        return;
    LogMsg(1, "DeviceListLoad ...");
    listLoading_ = true;
    struct TLoadingFlag {
        bool& flag;
        ~TLoadingFlag() { flag = false; }
    } loading{listLoading_};

    ClearDevices();
    const std::int32_t keptIndex = deviceIndex_;
    GUID guid{}; // stays zero without HID.DLL, and then nothing is found
    HidGetHidGuid(guid);
    std::vector<std::unique_ptr<TkvDevice>> found;
    EnumerateDevices(&guid, true, true, true, found);
    if (found.empty()) {
        LogMsg(2, "DiEnumInstalledDevices() returns 0, trying enum interfaces only ...");
        EnumerateDevices(&guid, true, false, true, found);
    }
    LogFmt(2, "Get detail info for device (intf) list: %u ", {found.size()});
    for (const auto& record : found) {
        auto device = std::make_unique<TkvHidDevice>(*record);
        if (LoadDeviceInfo(*device)) {
            LogFmt(2, "Load device info: %s  OK!", {device->FriendlyName});
            AddDevice(std::move(device));
        } else {
            LogFmt(2, "Load device info: %s  FAILED!", {device->FriendlyName});
        }
    }
    if (keptIndex >= 0 && keptIndex < DeviceCount())
        SetDeviceIndex(keptIndex);
    LogFmt(1, "Detected devices: %u ", {static_cast<std::uint32_t>(DeviceCount())});
}

bool TkvHid::LoadDeviceInfo(TkvHidDevice& device) {
    const TkvHandle handle = OpenFile(device.DevicePath, false, false, true, false);
    if (!handle) {
        LogFmt(2, "Open device FAILED %s ", {device.DevicePath});
        return false;
    }
    LogFmt(2, "Open device OK %s ", {device.DevicePath});
    device.FriendlyName = HidGetProductString(handle.Get());
    device.Manufacturer = HidGetManufacturerString(handle.Get());
    device.SerialNumber = HidGetSerialNumberString(handle.Get());
    if (device.FriendlyName.empty())
        device.FriendlyName = device.Description;

    const TPreparsedData preparsed(HidGetPreparsedData(handle.Get()));
    // The record points at the data only while its tables are read from it.
    device.fPpd = preparsed.Get();
    struct TForget {
        PHIDP_PREPARSED_DATA& data;
        ~TForget() { data = nullptr; }
    } forget{device.fPpd};
    if (device.fPpd == nullptr) {
        LogMsg(2, "ERROR: dev.fPpd = 0 ");
        return false;
    }
    if (!HidGetAttributes(handle.Get(), device.Attributes)) {
        LogMsg(2, "ERROR: not HidD_GetAttributes");
        return false;
    }
    if (HidGetCaps(device.fPpd, device.Caps) != HIDP_STATUS_SUCCESS) {
        LogMsg(2, "ERROR: HidP_GetCaps() <> HIDP_STATUS_SUCCESS");
        return false;
    }
    device.LoadCapsTables();
    return true;
}

// --- opening and closing -------------------------------------------------------------------

TkvHandle TkvHid::OpenFile(const std::string& path, bool read, bool write, bool shared,
                           bool overlapped) {
    const DWORD access = (read ? GENERIC_READ : 0) | (write ? GENERIC_WRITE : 0);
    return TkvHandle(CreateFileA(path.c_str(), access,
                                 shared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0, nullptr,
                                 OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr));
}

HANDLE TkvHid::OpenMedium() {
    // A monitoring thread that closed the port itself may still be on its way out; the buffers
    // it used are replaced below.
    JoinThread();
    if (currentDevice_ == nullptr) {
        DoError(16, 2, "Active device is not selected", false);
        return INVALID_HANDLE_VALUE;
    }
    TkvHidDevice& device = *currentDevice_;
    LogFmt(1, "try to open device %s", {device.DevicePath});

    struct TAccess {
        bool Read, Write;
    };
    constexpr std::array<TAccess, 4> tries{
        {{true, true}, {true, false}, {false, true}, {false, false}}};
    TkvHandle handle;
    DWORD error = 0;
    for (const TAccess& access : tries) {
        canRead_ = access.Read;
        canWrite_ = access.Write;
        handle = OpenFile(device.DevicePath, access.Read, access.Write, sharedMode_, true);
        if (handle)
            break;
        error = GetLastError();
    }
    if (!handle) {
        DoError(16, error, SystemErrorText(error), false);
        return INVALID_HANDLE_VALUE;
    }

    AllocReportBuffers();
    {
        std::lock_guard lock(mediumLock_);
        closedForCancel_ = false;
        openPpd_ = HidGetPreparsedData(handle.Get());
        device.fPpd = openPpd_;
        ppdDevice_ = openPpd_ != nullptr ? &device : nullptr;
    }
    // With an input length of 0 every read would return at once with nothing: no monitoring.
    SetUseThread(canRead_ && inputLength_ > 0);
    LogFmt(1, "device has opened %s R:%d W:%d in:%u out:%u",
           {device.DevicePath, canRead_, canWrite_, inputLength_, outputLength_});
    return handle.Release();
}

// How a port stops, from the owning thread:
// 1. StopRequested is set, so the monitoring loop ends after its current read.
// 2. ReleaseMonitoringRead cancels the pending read with CancelIoEx (on XP it closes the handle).
// 3. The monitoring thread's wait returns once the read has completed or been cancelled; a stop
//    that came just before a read was issued is caught by the thread cancelling that read itself.
// 4. JoinThread waits for the thread to end, serving messages sent to this thread meanwhile.
// 5. The base Close swaps the handle out once, closes it and frees the preparsed data
//    (CloseMedium), then raises OnClose.
// From the monitoring thread, after a failed read: UseThread is cleared, steps 2 to 4 are
// skipped, and OnClose fires there; a later close from the owning thread only joins.
void TkvHid::Close() {
    LogMsg(1, "close device.");
    SetStopRequested(true);
    if (!IsWorkerThread()) {
        ReleaseMonitoringRead();
        // With the monitoring thread gone its read has completed: nothing it uses is in use.
        JoinThread();
    }
    TkvBaseIO::Close();
}

void TkvHid::ReleaseMonitoringRead() {
    std::lock_guard lock(mediumLock_);
    const HANDLE handle = Handle();
    if (handle == INVALID_HANDLE_VALUE || closedForCancel_)
        return;
    if (!CancelPendingIo(handle, &readOverlapped_)) {
        // Before CancelIoEx (Windows XP) only closing the handle ends another thread's read.
        TkvBaseIO::CloseMedium(handle);
        closedForCancel_ = true;
    }
}

void TkvHid::CloseMedium(HANDLE handle) {
    std::lock_guard lock(mediumLock_);
    if (!closedForCancel_)
        TkvBaseIO::CloseMedium(handle);
    closedForCancel_ = false;
    if (openPpd_ != nullptr) {
        HidFreePreparsedData(openPpd_);
        if (ppdDevice_ != nullptr && ppdDevice_->fPpd == openPpd_)
            ppdDevice_->fPpd = nullptr;
    }
    openPpd_ = nullptr;
    ppdDevice_ = nullptr;
}

void TkvHid::AllocReportBuffers() {
    FreeReportBuffers();
    const TkvHidDevice* device = currentDevice_;
    outputLength_ = device != nullptr ? device->OutputReportLength() : 0;
    inputLength_ = device != nullptr ? device->InputReportLength() : 0;
    featureLength_ = device != nullptr ? device->FeatureReportLength() : 0;
    inputBuffer_.assign(inputLength_, 0);
    outputBuffer_.assign(outputLength_, 0);
    featureBuffer_.assign(featureLength_, 0);
}

void TkvHid::FreeReportBuffers() {
    Release(inputBuffer_);
    Release(outputBuffer_);
    Release(featureBuffer_);
}

// --- monitoring ----------------------------------------------------------------------------

void TkvHid::ThreadExecute(TkvThreadIO&) {
    const auto length = static_cast<std::uint32_t>(inputBuffer_.size());
    LogFmt(2, "Start monitoring thread ... InRepLen= %u", {inputLength_});
    bool closedItself = false;
    try {
        while (!StopRequested()) {
            std::fill(inputBuffer_.begin(), inputBuffer_.end(), std::uint8_t{0});
            const bool read = ReadInputReport(Handle());
            if (StopRequested())
                break;
            if (!read) {
                SetUseThread(false);
                Close();
                closedItself = true;
                break;
            }
            DoReceive(inputBuffer_.data(), length);
        }
    } catch (...) {
        SetStopRequested(true);
        LogMsg(2, "... exit monitoring thread.");
        throw;
    }
    // OnClose may have opened the port again, with a new monitoring thread that the flag
    // belongs to now.
    if (!closedItself)
        SetStopRequested(true);
    LogMsg(2, "... exit monitoring thread.");
}

bool TkvHid::ReadInputReport(HANDLE handle) {
    const HANDLE event = readOverlapped_.hEvent;
    readOverlapped_ = OVERLAPPED{};
    readOverlapped_.hEvent = event;
    if (ReadFile(handle, inputBuffer_.data(), static_cast<DWORD>(inputBuffer_.size()), nullptr,
                 &readOverlapped_))
        return true;
    if (GetLastError() != ERROR_IO_PENDING)
        return false;
    // A Close that set StopRequested just before this read was issued found nothing to cancel.
    // A thread's own request is cancelled by CancelIo on every Windows version.
    if (StopRequested())
        CancelIo(handle);
    SetLastError(ERROR_IO_PENDING);
    DWORD transferred = 0;
    DWORD error = 0;
    return WaitOverlapped(handle, readOverlapped_, transferred, error);
}

bool TkvHid::DoReceive(const void* buffer, std::uint32_t count) {
    LogFmt(2, "Do input data [%u] bytes ", {count});
    if (HasReceiver())
        return TkvBaseIO::DoReceive(buffer, count);
    return true;
}

// --- writing -------------------------------------------------------------------------------

std::int32_t TkvHid::WriteBuffer(const void* buffer, std::int32_t count) {
    if (!IsOpen() || count < 0 || (count > 0 && buffer == nullptr))
        return 0;
    OVERLAPPED& overlapped = BufferWriteOverlapped();
    // The record belongs to the previous write until that has completed; reusing it earlier
    // would let the system write that write's result into the new one. Waiting could hang the
    // caller on a stalled device, so the port reports itself busy instead.
    if (!HasOverlappedIoCompleted(&overlapped))
        return 0;
    return WriteOverlappedNoWait(Handle(), buffer, static_cast<DWORD>(count), overlapped) ? 1 : 0;
}

std::int32_t TkvHid::WriteString(const std::string& text) {
    if (text.empty() || !IsOpen())
        return 0;
    return ::WriteOverlapped(Handle(), text.data(), static_cast<DWORD>(text.size()),
                             WriteOverlapped())
               ? 1
               : 0;
}

std::int32_t TkvHid::WriteChar(std::uint8_t value) {
    if (!IsOpen())
        return 0;
    return ::WriteOverlapped(Handle(), &value, 1, WriteOverlapped()) ? 1 : 0;
}
