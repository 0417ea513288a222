#pragma once
// The description of the simulated devices that the device simulator writes and the library
// doubles read. Both live in one process; the file's path travels in an environment variable
// so that the doubles need no link to the simulator.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

inline constexpr const char* SimFixtureVariable = "TRELVON_SIM_FIXTURE";

// How SetupDiGetDeviceInterfaceDetailA answers the size query of a device's interface.
enum class TSimDetailFault : int {
    None = 0,
    OtherError = 1, // fails with ERROR_INVALID_PARAMETER instead of ERROR_INSUFFICIENT_BUFFER
    ZeroSize = 2,   // ERROR_INSUFFICIENT_BUFFER with a required size of 0
    HugeSize = 3,   // ERROR_INSUFFICIENT_BUFFER with an absurd required size
};

struct TSimFixtureDevice {
    int Id = 0;
    std::string Path; // what CreateFile opens: a pipe, or a locked file for a device without access
    bool Present = true;
    bool FoundPerDevice = true; // false: only the interface enumeration finds it
    TSimDetailFault DetailFault = TSimDetailFault::None;
    bool LieAboutSizes = false; // size answers far beyond the data, to probe length guards

    std::optional<std::wstring> Product, Manufacturer, SerialNumber;
    std::uint16_t VendorID = 0, ProductID = 0, VersionNumber = 0;
    bool NoPreparsedData = false, NoAttributes = false, NoCaps = false;
    std::vector<std::uint8_t> Caps;          // one HIDP_CAPS, 64 bytes
    std::vector<std::uint8_t> ButtonCaps[3]; // HIDP_BUTTON_CAPS records per report type
    std::vector<std::uint8_t> ValueCaps[3];  // HIDP_VALUE_CAPS records per report type

    std::optional<std::string> Description, SetupManufacturer, DriverKey, Service, PdoName;
    std::string InstanceId;
    std::vector<std::string> BusChildren;
    bool HasRegistryKey = false; // Enum\<InstanceId>\Device Parameters exists
};

std::string SimFixtureText(const std::vector<TSimFixtureDevice>& devices);
std::vector<TSimFixtureDevice> ParseSimFixture(const std::string& text);

// Whole-file access under a per-process named mutex; a missing file or variable reads as no
// devices.
void WriteSimFixture(const std::string& path, const std::vector<TSimFixtureDevice>& devices);
std::vector<TSimFixtureDevice> ReadSimFixture();

// The registry key below HKEY_LOCAL_MACHINE that plays a device's hardware key.
std::string SimDeviceKeyPath(const std::string& instanceId);

// The last path element without extension: what a handle's file name and a fixture path share.
std::string SimPathStem(const std::string& path);
