#pragma once
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "framework/kv_base_io.h"
#include "framework/kv_handle.h"
#include "hid/kv_hid_device.h"

// The HID port: keeps the list of HID devices present, opens the one at DeviceIndex with the
// widest access the system grants, reads its input reports on a monitoring thread and writes
// output reports. Each report reaches OnAfterReceive whole, on the monitoring thread, with
// Received equal to the device's input report length.
//
// Threads: everything but the monitoring loop runs on the thread that owns the port. A Close
// there cancels the pending read and joins the monitoring thread before anything is freed. When
// a read fails (the device went away) the monitoring thread closes the port itself and OnClose
// fires there; a later Active := false then does nothing.
class TkvHid : public TkvBaseIO {
public:
    explicit TkvHid(TkvComponent* owner = nullptr);
    ~TkvHid() override;

    bool SharedMode() const { return sharedMode_; }
    void SetSharedMode(bool value) { sharedMode_ = value; }

    // The record at DeviceIndex, or null; never a record the list has freed.
    TkvHidDevice* CurrentDevice() const { return currentDevice_; }
    TkvHidDevice* GetHidDevice(std::int32_t index) const {
        return dynamic_cast<TkvHidDevice*>(GetDevice(index));
    }
    // The access the last open obtained; both false after a failed open.
    bool CanRead() const { return canRead_; }
    bool CanWrite() const { return canWrite_; }
    bool ListLoading() const { return listLoading_; }
    HANDLE ReadEvent() const { return readEvent_.Get(); }
    // Copied from CurrentDevice at open; the input length is the size of every read.
    std::uint32_t InputReportLength() const { return inputLength_; }
    std::uint32_t OutputReportLength() const { return outputLength_; }
    std::uint32_t FeatureReportLength() const { return featureLength_; }

    // A number the port's user keeps with it, for instance to find its own record of the port
    // from inside OnAfterReceive.
    std::intptr_t Tag() const { return tag_; }
    void SetTag(std::intptr_t value) { tag_ = value; }

    void Close() override;
    bool DoReceive(const void* buffer, std::uint32_t count) override;
    // Selects CurrentDevice (null for a negative index or one beyond the list) and sends
    // nfDeviceChanged. An open port stays open on the device it has.
    void SetDeviceIndex(std::int32_t index) override;
    std::int32_t GetDeviceIndex() const override { return deviceIndex_; }
    // Reloads the list of HID devices and re-selects the kept DeviceIndex when it is still
    // inside the list.
    void DeviceListLoad() override;
    // Reloads the list and tells the listeners; does nothing while a load is running.
    void DeviceListChanged() override;
    void ClearDevices() override;
    // One output report of `count` bytes, report ID first. Does not wait: the buffer must stay
    // valid until the write has completed. 1 when written or queued, else 0 (also while the
    // previous buffer write is still pending).
    std::int32_t WriteBuffer(const void* buffer, std::int32_t count) override;
    // Wait for the write; 1 on success, else 0 (0 at once for an empty text).
    std::int32_t WriteString(const std::string& text) override;
    std::int32_t WriteChar(std::uint8_t value) override;

    static TkvHandle OpenFile(const std::string& path, bool read, bool write, bool shared,
                              bool overlapped);
    // Fills the record's HID strings, attributes and capability tables through a query-only
    // handle; false when the device cannot be opened or queried.
    bool LoadDeviceInfo(TkvHidDevice& device);
    void AllocReportBuffers();
    void FreeReportBuffers();

protected:
    HANDLE OpenMedium() override;
    void CloseMedium(HANDLE handle) override;
    void ThreadExecute(TkvThreadIO& thread) override;

private:
    // Issues one read into InputBuffer and waits for it to complete or be cancelled.
    bool ReadInputReport(HANDLE handle);
    // From another thread: makes the monitoring read end without delivering.
    void ReleaseMonitoringRead();

    bool sharedMode_ = true;
    std::int32_t deviceIndex_ = 0;
    TkvHidDevice* currentDevice_ = nullptr;
    bool canRead_ = false;
    bool canWrite_ = false;
    bool listLoading_ = false;
    std::intptr_t tag_ = 0;

    std::vector<std::uint8_t> inputBuffer_, outputBuffer_, featureBuffer_;
    std::uint32_t inputLength_ = 0, outputLength_ = 0, featureLength_ = 0;

    TkvHandle readEvent_;
    OVERLAPPED readOverlapped_{};

    // Serialises closing the handle (on either thread) with cancelling a read on it, and guards
    // the preparsed data of the open device against a list reload on the owning thread.
    std::mutex mediumLock_;
    PHIDP_PREPARSED_DATA openPpd_ = nullptr;
    TkvHidDevice* ppdDevice_ = nullptr; // the record showing openPpd_ as its fPpd
    bool closedForCancel_ = false;      // the handle went early to release a read
};
