#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/kv_base_io.h"
#include "framework/kv_thread_io.h"

// A port whose medium is an event handle and whose worker runs whatever the test gives it.
class TTestPort : public TkvBaseIO {
public:
    explicit TTestPort(TkvComponent* owner = nullptr) : TkvBaseIO(owner) { SetLogPrefix("test: "); }
    // Like every port with members its worker uses: closed before those members go.
    ~TTestPort() override {
        if (closeOnDestroy)
            Close();
    }

    bool closeOnDestroy = true;
    bool failOpen = false;
    bool withThread = false;
    std::function<void(TTestPort&)> body;
    std::vector<std::string> deviceNames;
    int opens = 0;
    int closes = 0;
    int loads = 0;
    int terminalWrites = 0;
    std::string sent;

    std::int32_t GetDeviceIndex() const override { return index_; }
    void SetDeviceIndex(std::int32_t index) override {
        index_ = index;
        TkvBaseIO::SetDeviceIndex(index);
    }
    void DeviceListLoad() override {
        ++loads;
        ClearDevices();
        for (const std::string& name : deviceNames) {
            auto device = std::make_unique<TkvDevice>();
            device->FriendlyName = name;
            AddDevice(std::move(device));
        }
    }
    void WriteToTerminal(const void* buffer, std::int32_t count) override {
        ++terminalWrites;
        TkvBaseIO::WriteToTerminal(buffer, count);
    }
    std::int32_t WriteChar(std::uint8_t value) override {
        sent += static_cast<char>(value);
        return 1;
    }
    std::int32_t WriteString(const std::string& text) override {
        sent += text;
        return 1;
    }
    std::int32_t WriteBuffer(const void* buffer, std::int32_t count) override {
        sent.append(static_cast<const char*>(buffer), count);
        return 1;
    }

protected:
    HANDLE OpenMedium() override {
        ++opens;
        if (failOpen) {
            DoError(16, 2, "Active device is not selected", false);
            return INVALID_HANDLE_VALUE;
        }
        SetUseThread(withThread);
        return CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    void CloseMedium(HANDLE handle) override {
        ++closes;
        TkvBaseIO::CloseMedium(handle);
    }
    void ThreadExecute(TkvThreadIO&) override {
        if (body)
            body(*this);
    }

private:
    std::int32_t index_ = 0;
};
