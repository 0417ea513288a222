#include "framework/kv_base_io.h"

#include <dbt.h>

#include <algorithm>

#include "framework/kv_data_processor.h"
#include "framework/kv_error.h"
#include "framework/kv_thread_io.h"

TkvBaseIO::TkvBaseIO(TkvComponent* owner) : TkvComponent(owner) {
    writeEvent_.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    writeOverlapped_.hEvent = writeEvent_.Get();
}

TkvBaseIO::~TkvBaseIO() {
    StopWorkerForDestruction();
    ReleaseTerminal();
    // Linked components call back into the port (a processor unregisters its callback), so they
    // are told while the port is still whole.
    SendRemovalNotices();
    ClearDevices();
}

void TkvBaseIO::StopWorkerForDestruction() {
    stopRequested_ = true;
    // A subclass closes in its own destructor; what is left open here is only released.
    const HANDLE handle = handle_.exchange(INVALID_HANDLE_VALUE);
    if (handle != INVALID_HANDLE_VALUE)
        TkvBaseIO::CloseMedium(handle);
    JoinThread();
    // Destroyed on the worker itself: the thread keeps its own reference and ends on its own.
    thread_.reset();
}

bool TkvBaseIO::Active() const {
    if (Loading() || Designing())
        return storedActive_;
    return IsOpen();
}

void TkvBaseIO::SetActive(bool value) {
    if (Loading() || Designing()) {
        storedActive_ = value;
        return;
    }
    if (value == Active())
        return;
    if (value)
        Open();
    else
        Close();
}

bool TkvBaseIO::HasReceiver() const {
    return terminal_ != nullptr || static_cast<bool>(OnAfterReceive) || dataProcessor_ != nullptr;
}

void TkvBaseIO::Open() {
    // A second open would lose the first handle and start a second worker.
    if (IsOpen())
        return;
    handle_ = OpenMedium();
    if (!IsOpen())
        return;
    if (UseThread())
        StartThread();
    if (OnOpen) {
        try {
            OnOpen(this);
        } catch (...) {
            // The port is open either way; a failing handler must not undo that.
        }
    }
}

void TkvBaseIO::Close() {
    const HANDLE handle = handle_.exchange(INVALID_HANDLE_VALUE);
    if (handle == INVALID_HANDLE_VALUE) {
        // The worker may be closing the port itself at this moment; our caller may free the port
        // right after we return.
        JoinThread();
        return;
    }
    // Closed before the worker is stopped, so that a read pending on the worker ends.
    CloseMedium(handle);
    if (UseThread())
        StopThread();
    else
        JoinThread();
    if (OnClose) {
        try {
            OnClose(this);
        } catch (...) {
            // The port is closed either way; a failing handler must not hide that.
        }
    }
}

void TkvBaseIO::CloseMedium(HANDLE handle) {
    CloseHandle(handle);
}

void TkvBaseIO::StartThread() {
    if (thread_ != nullptr) {
        if (thread_->IsCurrent()) {
            thread_.reset(); // started again from its own body: that thread keeps its object
        } else {
            stopRequested_ = true;
            JoinThread();
        }
    }
    stopRequested_ = false;
    thread_ = std::make_shared<TkvThreadIO>(*this);
    thread_->Start();
}

void TkvBaseIO::StopThread() {
    // Waits even when the stop was requested before (the HID port's Close does that): returning
    // early would let the caller free the port under a worker that is still running.
    stopRequested_ = true;
    JoinThread();
}

bool TkvBaseIO::IsWorkerThread() const {
    return thread_ != nullptr && thread_->IsCurrent();
}

void TkvBaseIO::JoinThread() {
    if (thread_ == nullptr || thread_->IsCurrent())
        return;
    thread_->WaitFor();
    thread_.reset();
}

void TkvBaseIO::ThreadExecute(TkvThreadIO&) {}

void TkvBaseIO::DoError(std::uint32_t code, std::uint32_t subCode, const std::string& msg,
                        bool showOnly) {
    bool fatal = true;
    if (OnFatalError)
        OnFatalError(this, code, subCode, msg, fatal);
    if (log_ != nullptr)
        log_->WriteFmt(0, "Fatal Error: %u, %u, %s", {code, subCode, msg});
    if (!fatal || Loading() || Designing())
        return;
    if (showOnly) {
        MessageBoxA(nullptr, msg.c_str(), "Error", MB_OK | MB_ICONERROR);
        return;
    }
    throw EkvError(msg);
}

void TkvBaseIO::Notify(std::int32_t code) {
    notifyList_.Broadcast(this, code);
}

bool TkvBaseIO::DoReceive(const void* buffer, std::uint32_t count) {
    bool handled = false;
    if (dataProcessor_ != nullptr)
        dataProcessor_->DoReceive(buffer, count, handled);
    if (terminal_ != nullptr && !handled)
        WriteToTerminal(buffer,
                        static_cast<std::int32_t>(std::min<std::uint32_t>(count, INT32_MAX)));
    if (OnAfterReceive)
        OnAfterReceive(this, buffer, count);
    return false;
}

bool TkvBaseIO::DoTimeout() {
    if (dataProcessor_ == nullptr)
        return false;
    bool flag = false;
    dataProcessor_->DoTimeout(flag);
    return flag;
}

void TkvBaseIO::SetDeviceIndex(std::int32_t) {
    Notify(nfDeviceChanged);
}

std::int32_t TkvBaseIO::AddDevice(std::unique_ptr<TkvDevice>&& device) {
    if (device == nullptr)
        return -1;
    const auto position = DeviceCount();
    device->Index = position;
    device->Owner = this;
    std::string text = device->ListText();
    devices_.push_back({std::move(text), std::move(device)});
    return position;
}

std::int32_t TkvBaseIO::InsertDevice(std::unique_ptr<TkvDevice>&& device) {
    if (device == nullptr)
        return -1;
    if (devices_.empty() || devices_.back().Device->SortKey < device->SortKey)
        return AddDevice(std::move(device));
    for (std::int32_t i = 0; i < DeviceCount(); ++i) {
        const std::int32_t key = devices_[i].Device->SortKey;
        if (key == device->SortKey)
            return -1;
        if (key > device->SortKey) {
            device->Index = i;
            device->Owner = this;
            std::string text = device->FriendlyName;
            devices_.insert(devices_.begin() + i, {std::move(text), std::move(device)});
            for (std::int32_t j = i + 1; j < DeviceCount(); ++j)
                devices_[j].Device->Index = j;
            return i;
        }
    }
    return -1; // not reached: the last key is not smaller than the new one
}

void TkvBaseIO::ClearDevices() {
    if (!ownsDevices_) {
        for (DeviceEntry& entry : devices_)
            (void)entry.Device.release();
    }
    devices_.clear();
}

TkvDevice* TkvBaseIO::GetDevice(std::int32_t index) const {
    if (index < 0 || index >= DeviceCount())
        return nullptr;
    return devices_[index].Device.get();
}

void TkvBaseIO::GetDeviceList(TkvDeviceItems* items) {
    if (devices_.empty())
        DeviceListLoad();
    if (items == nullptr)
        return;
    items->clear();
    for (const DeviceEntry& entry : devices_)
        items->push_back({entry.Text, entry.Device.get()});
}

void TkvBaseIO::DeviceListChanged() {
    Notify(nfDeviceChanged);
}

bool TkvBaseIO::HandleDeviceChange(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_DEVICECHANGE)
        return false;
    bool changed = wParam == DBT_DEVNODES_CHANGED;
    if ((wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) && lParam != 0)
        changed =
            reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam)->dbch_devicetype == DBT_DEVTYP_PORT;
    if (changed)
        DeviceListChanged();
    return changed;
}

std::int32_t TkvBaseIO::AddNotify(const TkvNotifyEvent& event) {
    const std::int32_t position = notifyList_.IndexOf(event);
    return position >= 0 ? position : notifyList_.Add(event);
}

void TkvBaseIO::RemoveNotify(const TkvNotifyEvent& event) {
    const std::int32_t position = notifyList_.IndexOf(event);
    if (position >= 0)
        notifyList_.Delete(position);
}

void TkvBaseIO::LogMsg(std::int32_t level, const std::string& msg) {
    if (log_ == nullptr)
        return;
    if (msg.empty())
        log_->WriteBlank();
    else
        log_->WriteLine(level, logPrefix_ + msg);
}

void TkvBaseIO::LogFmt(std::int32_t level, std::string_view fmt,
                       std::initializer_list<TkvLogValue> args) {
    if (log_ == nullptr)
        return;
    log_->WriteFmt(level, kvFormatLiteral(logPrefix_) + std::string(fmt), TkvLogArgs(args));
}

void TkvBaseIO::SetDataProcessor(TkvCustomDataProcessor* processor) {
    TkvCustomDataProcessor* old = dataProcessor_;
    if (old != nullptr && old != processor) {
        old->SetPort(nullptr);
        RemoveFreeNotification(old);
    }
    dataProcessor_ = processor;
    if (processor != nullptr) {
        processor->SetPort(this);
        FreeNotification(processor);
    }
}

void TkvBaseIO::SetLog(TkvCustomLogFile* log) {
    if (log_ != nullptr && log_ != log)
        RemoveFreeNotification(log_);
    log_ = log;
    FreeNotification(log);
}

void TkvBaseIO::Notification(TkvComponent* component, TkvOperation operation) {
    TkvComponent::Notification(component, operation);
    if (operation != TkvOperation::opRemove)
        return;
    if (component == dataProcessor_) {
        dataProcessor_->SetPort(nullptr);
        dataProcessor_ = nullptr;
    } else if (component == log_) {
        log_ = nullptr;
    }
}

void TkvBaseIO::Loaded() {
    TkvComponent::Loaded();
    try {
        SetTerminal(terminal_);
        SetTerminalUsage(terminalUsage_);
        SetActive(storedActive_);
    } catch (...) {
        MessageBoxA(GetForegroundWindow(), "error", "Error", MB_OK | MB_ICONERROR);
    }
}
