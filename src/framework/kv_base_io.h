#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "framework/kv_component.h"
#include "framework/kv_device.h"
#include "framework/kv_handle.h"
#include "framework/kv_log.h"
#include "framework/kv_notify_list.h"

class TkvCustomDataProcessor;
class TkvThreadIO;

enum TTerminalUsage : std::uint8_t { tuNone = 0, tuSend = 1, tuReceive = 2, tuBoth = 3 };

// Received data: the buffer belongs to the port and is valid only during the call.
using TOnReceived = std::function<void(TkvBaseIO* Com, const void* Buffer, std::uint32_t Received)>;
using TkvPortEvent = std::function<void(TkvBaseIO* Sender)>;

// One entry of a device list as a selector shows it.
struct TkvDeviceItem {
    std::string Text;
    TkvDevice* Device = nullptr;
};
using TkvDeviceItems = std::vector<TkvDeviceItem>;

// The base of every port: switching on and off, the open handle, the worker thread, the device
// list, notifications, the receive path, the terminal, and the optional log and data processor.
//
// Threads: everything runs on the thread that owns the port, except ThreadExecute and what it
// calls (DoReceive and its receivers, and Close when the worker ends the port itself).
// A subclass that closes on its worker clears UseThread first. A close from any other thread
// joins the worker before it returns, so nothing the worker uses is freed under it.
class TkvBaseIO : public TkvComponent {
public:
    explicit TkvBaseIO(TkvComponent* owner = nullptr);
    // Stops a worker that is still running, gives the terminal back its window procedure and
    // frees the devices it owns. A subclass whose worker uses the subclass's own members closes
    // in its own destructor, before those members go.
    ~TkvBaseIO() override;

    // While loading, the stored value; otherwise IsOpen(). Writing true opens, false closes;
    // while loading the value is only stored and applied by Loaded().
    bool Active() const;
    void SetActive(bool value);

    std::int32_t DeviceIndex() const { return GetDeviceIndex(); }

    // The edit control used as a terminal, or null. The port replaces the control's window
    // procedure while it is set; when the control is destroyed the port forgets it.
    HWND Terminal() const { return terminal_; }
    void SetTerminal(HWND control);
    TTerminalUsage TerminalUsage() const { return terminalUsage_; }
    void SetTerminalUsage(TTerminalUsage usage);
    bool TerminalEcho() const { return terminalEcho_; }
    void SetTerminalEcho(bool value) { terminalEcho_ = value; }

    TkvCustomDataProcessor* DataProcessor() const { return dataProcessor_; }
    void SetDataProcessor(TkvCustomDataProcessor* processor);
    TkvCustomLogFile* Log() const { return log_; }
    void SetLog(TkvCustomLogFile* log);
    const std::string& LogPrefix() const { return logPrefix_; }
    void SetLogPrefix(std::string prefix) { logPrefix_ = std::move(prefix); }

    bool OwnsDevices() const { return ownsDevices_; }
    // With false, ClearDevices only forgets the records; whoever turned it off keeps them alive.
    void SetOwnsDevices(bool value) { ownsDevices_ = value; }

    // The open medium; INVALID_HANDLE_VALUE while closed.
    HANDLE Handle() const { return handle_; }
    // When true, Open starts and Close stops the worker; a subclass sets it in OpenMedium.
    bool UseThread() const { return useThread_; }
    void SetUseThread(bool value) { useThread_ = value; }
    // Polled by the worker loop between reads. A close that cancels the worker's pending read
    // sets it first; a worker that finds it set right after issuing a read cancels that read
    // itself, since a cancel that came just before the read was issued ended nothing, and the
    // join would then wait for a read that never completes.
    bool StopRequested() const { return stopRequested_; }
    void SetStopRequested(bool value) { stopRequested_ = value; }

    // For the subclass's writes: one record with its own auto-reset event, one without.
    OVERLAPPED& WriteOverlapped() { return writeOverlapped_; }
    OVERLAPPED& BufferWriteOverlapped() { return bufferWriteOverlapped_; }

    TkvFatalErrorEvent OnFatalError;
    TkvPortEvent OnOpen;
    TkvPortEvent OnClose;
    TOnReceived OnAfterReceive;

    virtual bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    // True when received data would reach anyone: terminal, OnAfterReceive or data processor.
    virtual bool HasReceiver() const;
    virtual void Open();
    virtual void Close();
    // StopRequested := false, then a worker runs ThreadExecute.
    virtual void StartThread();
    // StopRequested := true, then waits for the worker unless called on it.
    virtual void StopThread();
    // Fatal unless OnFatalError clears it; then, outside loading, shows Msg (ShowOnly) or raises
    // EkvError with it. A linked log gets the line "Fatal Error: %u, %u, %s" in any case.
    virtual void DoError(std::uint32_t code, std::uint32_t subCode, const std::string& msg,
                         bool showOnly);
    virtual void Notify(std::int32_t code);
    // Data processor, then terminal unless the processor handled the data, then OnAfterReceive.
    virtual bool DoReceive(const void* buffer, std::uint32_t count);
    virtual bool DoTimeout();
    virtual void SetDeviceIndex(std::int32_t index);
    virtual std::int32_t GetDeviceIndex() const = 0;
    // Appends the device and makes this port its owner; returns its position.
    virtual std::int32_t AddDevice(std::unique_ptr<TkvDevice>&& device);
    // Keeps the list in ascending SortKey order. With a key already present returns -1 and leaves
    // `device` with the caller; otherwise takes it and returns its position.
    virtual std::int32_t InsertDevice(std::unique_ptr<TkvDevice>&& device);
    virtual void DeviceListLoad() = 0;
    virtual void ClearDevices();
    virtual void WriteToTerminal(const void* buffer, std::int32_t count);
    virtual void DeviceListChanged();
    // Registers the callback once; returns its position.
    virtual std::int32_t AddNotify(const TkvNotifyEvent& event);
    virtual void RemoveNotify(const TkvNotifyEvent& event);
    virtual std::int32_t WriteChar(std::uint8_t value) = 0;
    virtual std::int32_t WriteString(const std::string& text) = 0;
    virtual std::int32_t WriteBuffer(const void* buffer, std::int32_t count) = 0;
    // Loads the list first when it is empty; then, unless `items` is null, fills it.
    virtual void GetDeviceList(TkvDeviceItems* items);
    // Reloads the device list on WM_DEVICECHANGE for changed device nodes or an arrived or removed
    // port; returns whether it did.
    virtual bool HandleDeviceChange(UINT message, WPARAM wParam, LPARAM lParam);

    void LogMsg(std::int32_t level, const std::string& msg);
    // Builds nothing unless a log is linked: the monitoring loop logs every report.
    void LogFmt(std::int32_t level, std::string_view fmt, std::initializer_list<TkvLogValue> args);
    TkvDevice* GetDevice(std::int32_t index) const;
    std::int32_t DeviceCount() const { return static_cast<std::int32_t>(devices_.size()); }

    // True on this port's worker thread while it runs.
    bool IsWorkerThread() const;
    // Waits, serving sent messages, until the worker has ended and then frees it. Does nothing
    // on the worker itself or without a worker. Call it only once the worker will end by itself:
    // StopRequested set and its blocking read released.
    void JoinThread();

protected:
    friend class TkvThreadIO;

    // Opens the medium and returns its handle; the base has none to open.
    virtual HANDLE OpenMedium() { return INVALID_HANDLE_VALUE; }
    virtual void CloseMedium(HANDLE handle);
    // The worker's body; the base has nothing to do.
    virtual void ThreadExecute(TkvThreadIO& thread);

    void Loaded() override;
    void Notification(TkvComponent* component, TkvOperation operation) override;

private:
    struct DeviceEntry {
        std::string Text;
        std::unique_ptr<TkvDevice> Device;
    };

    static LRESULT CALLBACK TerminalProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT TerminalMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void ReleaseTerminal();
    void StopWorkerForDestruction();

    TkvNotifyList notifyList_;
    TkvCustomLogFile* log_ = nullptr;
    TkvCustomDataProcessor* dataProcessor_ = nullptr;
    std::vector<DeviceEntry> devices_;
    // Read by the worker when it writes to the terminal.
    std::atomic<HWND> terminalWindow_{nullptr};
    TTerminalUsage terminalUsage_ = tuNone;
    HWND terminal_ = nullptr;
    bool terminalEcho_ = false;
    std::atomic<bool> writingToTerminal_{false};
    // Shared with the running thread, which keeps its object alive until its body has returned.
    std::shared_ptr<TkvThreadIO> thread_;
    bool storedActive_ = false;
    // Closing exchanges the handle, so a close on the worker and one on the main thread at the
    // same moment close the medium once.
    std::atomic<HANDLE> handle_{INVALID_HANDLE_VALUE};
    std::string logPrefix_ = "TkvBaseIO";
    bool ownsDevices_ = true;
    OVERLAPPED writeOverlapped_{};
    TkvHandle writeEvent_;
    OVERLAPPED bufferWriteOverlapped_{};
    std::atomic<bool> useThread_{false};
    std::atomic<bool> stopRequested_{false};
};
