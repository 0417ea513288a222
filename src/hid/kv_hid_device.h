#pragma once
#include <windows.h>
#include <hidusage.h>
#include <hidpi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "framework/kv_device.h"
#include "hid/kv_hid_w32.h"

// The nine count fields of HIDP_CAPS, in their order in the structure.
enum HidCapsKind : std::int32_t {
    hckInputButton = 0,
    hckInputValue = 1,
    hckInputDataIndices = 2,
    hckOutputButton = 3,
    hckOutputValue = 4,
    hckOutputDataIndices = 5,
    hckFeatureButton = 6,
    hckFeatureValue = 7,
    hckFeatureDataIndices = 8,
};

// True for a top-level collection that Windows keeps to itself: the generic desktop page's
// keyboard, keypad and mouse.
bool IsWindowsOwnedUsage(std::uint16_t page, std::uint16_t usage);

// A HID device of a port's device list: the setup services' record plus the HID strings,
// attributes and capability tables, kept byte for byte as the system returned them.
class TkvHidDevice : public TkvDevice {
public:
    TkvHidDevice() = default;
    // Takes the texts and DevInst of an enumerated record; Index, Owner and SortKey are the
    // list's business.
    explicit TkvHidDevice(const TkvDevice& source);

    std::string SerialNumber;
    // Held only while the device is being queried or is open on a port.
    PHIDP_PREPARSED_DATA fPpd = nullptr;
    TkvHiddAttributes Attributes;
    HIDP_CAPS Caps{};
    // Empty when the count of their kind is 0; otherwise exactly that many records.
    std::vector<HIDP_BUTTON_CAPS> InputButtonCaps, OutputButtonCaps, FeatureButtonCaps;
    std::vector<HIDP_VALUE_CAPS> InputValueCaps, OutputValueCaps, FeatureValueCaps;

    std::uint16_t VendorID() const { return Attributes.VendorID; }
    std::uint16_t ProductID() const { return Attributes.ProductID; }
    std::uint16_t VersionNumber() const { return Attributes.VersionNumber; }
    std::uint16_t UsagePage() const { return Caps.UsagePage; }
    std::uint16_t Usage() const { return Caps.Usage; }
    // Windows opens keyboard and mouse collections for itself alone: no program reads them.
    bool WindowsOwned() const { return IsWindowsOwnedUsage(UsagePage(), Usage()); }
    // The FriendlyName, marked " (used by Windows)" when WindowsOwned.
    std::string ListText() const override;
    // Each includes the report ID byte.
    std::uint16_t InputReportLength() const { return Caps.InputReportByteLength; }
    std::uint16_t OutputReportLength() const { return Caps.OutputReportByteLength; }
    std::uint16_t FeatureReportLength() const { return Caps.FeatureReportByteLength; }

    // 0: output, 1: input, anything else: feature.
    std::uint16_t ReportLength(std::int32_t kind) const;
    // 0 for a kind outside 0..8.
    std::uint16_t CapsCount(std::int32_t kind) const;
    // Kind 3 reads the output table, 6 the feature table, any other the input table; the index
    // is checked against CapsCount(kind). Raises EkvError "Index is out of range".
    HIDP_BUTTON_CAPS ButtonCaps(std::int32_t index, std::int32_t kind) const;
    // Kind 4 reads the output table, 7 the feature table, any other the input table.
    HIDP_VALUE_CAPS ValueCaps(std::int32_t index, std::int32_t kind) const;

    // Fills the six tables from fPpd for the counts in Caps.
    void LoadCapsTables();
};

// The name of a HID usage page as the information page shows it.
std::string UsagePageName(std::uint16_t page);
