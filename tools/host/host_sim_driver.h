#pragma once
#include <windows.h>

#include "host/host_script.h"
#include "sim/sim_bus.h"

#include <string>
#include <vector>

// The description of a simulated device from a script's key=value words (see `device` in
// host_script.h). Raises EkvError for an unknown key or an unreadable value.
TSimDevice HostSimDevice(const std::vector<std::string>& settings);

// Drives a script's devices on the simulated HID bus. The plug-in sees them only when the
// process uses the bus's library doubles: copies of them in system32, chosen with
// WINEDLLOVERRIDES=hid,setupapi,cfgmgr32=n. Construction checks that and raises EkvError
// saying what is missing, so a session never runs against an empty bus by mistake.
class THostSimDriver : public THostDeviceDriver {
public:
    THostSimDriver();

    void AddDevice(int device, const std::vector<std::string>& settings) override;
    void SendReport(int device, const THostReport& report) override;
    void SetPresent(int device, bool present) override;
    void InsertDevice(int device, std::size_t position,
                      const std::vector<std::string>& settings) override;
    void MoveDevice(int device) override;
    void Suspend() override;
    void Resume(bool newNodes) override;
    bool WaitForAnnouncements(DWORD milliseconds) override;

    // The bus itself, for what scripts do not say: streams, connection counts.
    TSimBus& Bus() { return bus_; }
    // The bus's id of a script's device.
    int BusId(int device) const;

private:
    void InsertDevice(int device, std::size_t position, const std::vector<std::string>& settings,
                      bool hotPlugged);

    TSimBus bus_;
    std::vector<int> ids_;
};
