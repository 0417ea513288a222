#pragma once
#include <cstdint>
#include <string>

class TkvBaseIO;

// One device found by the system's device setup services; the entry text of a port's device
// list is its ListText.
class TkvDevice {
public:
    TkvDevice() = default;
    TkvDevice(const TkvDevice&) = default;
    TkvDevice& operator=(const TkvDevice&) = default;
    virtual ~TkvDevice() = default;

    // The FriendlyName, with whatever a user must know before choosing the device.
    virtual std::string ListText() const { return FriendlyName; }

    std::int32_t Index = 0;     // position in the owning port's device list
    TkvBaseIO* Owner = nullptr; // the port whose list holds the record
    std::int32_t SortKey = 0;
    std::string FriendlyName;
    std::string PdoName;
    std::string DevicePath;
    std::string RegistryPath;
    std::string Description;
    std::string Service;
    std::string DriverKey;
    std::string InstanceId;
    std::string BusChildren;
    std::string PortName;
    std::string Manufacturer;
    std::uint32_t DevInst = 0;
};
