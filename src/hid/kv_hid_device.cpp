#include "hid/kv_hid_device.h"

#include <array>

#include "framework/kv_error.h"

namespace {

constexpr char IndexOutOfRange[] = "Index is out of range";

// The count must fit the table as well: a caller passing a value kind to ButtonCaps (or the
// other way round) is checked against one table and would read another.
template <typename TCaps>
TCaps CapsAt(const std::vector<TCaps>& table, std::int32_t index, std::uint16_t count) {
    if (index < 0 || index >= count || static_cast<std::size_t>(index) >= table.size())
        throw EkvError(IndexOutOfRange);
    return table[static_cast<std::size_t>(index)];
}

} // namespace

TkvHidDevice::TkvHidDevice(const TkvDevice& source) {
    FriendlyName = source.FriendlyName;
    PdoName = source.PdoName;
    DevicePath = source.DevicePath;
    RegistryPath = source.RegistryPath;
    Description = source.Description;
    Service = source.Service;
    DriverKey = source.DriverKey;
    InstanceId = source.InstanceId;
    BusChildren = source.BusChildren;
    PortName = source.PortName;
    Manufacturer = source.Manufacturer;
    DevInst = source.DevInst;
}

std::uint16_t TkvHidDevice::ReportLength(std::int32_t kind) const {
    switch (kind) {
    case 0:
        return OutputReportLength();
    case 1:
        return InputReportLength();
    default:
        return FeatureReportLength();
    }
}

std::uint16_t TkvHidDevice::CapsCount(std::int32_t kind) const {
    const std::array<USHORT, 9> counts{
        Caps.NumberInputButtonCaps,   Caps.NumberInputValueCaps,   Caps.NumberInputDataIndices,
        Caps.NumberOutputButtonCaps,  Caps.NumberOutputValueCaps,  Caps.NumberOutputDataIndices,
        Caps.NumberFeatureButtonCaps, Caps.NumberFeatureValueCaps, Caps.NumberFeatureDataIndices};
    if (kind < 0 || kind >= static_cast<std::int32_t>(counts.size()))
        return 0;
    return counts[static_cast<std::size_t>(kind)];
}

HIDP_BUTTON_CAPS TkvHidDevice::ButtonCaps(std::int32_t index, std::int32_t kind) const {
    const auto& table = kind == hckOutputButton    ? OutputButtonCaps
                        : kind == hckFeatureButton ? FeatureButtonCaps
                                                   : InputButtonCaps;
    return CapsAt(table, index, CapsCount(kind));
}

HIDP_VALUE_CAPS TkvHidDevice::ValueCaps(std::int32_t index, std::int32_t kind) const {
    const auto& table = kind == hckOutputValue    ? OutputValueCaps
                        : kind == hckFeatureValue ? FeatureValueCaps
                                                  : InputValueCaps;
    return CapsAt(table, index, CapsCount(kind));
}

void TkvHidDevice::LoadCapsTables() {
    // What the parser answers is not used: the tables keep the counts of Caps, zero-filled
    // where the parser wrote less.
    auto loadButtons = [this](std::vector<HIDP_BUTTON_CAPS>& table, HIDP_REPORT_TYPE type,
                              USHORT count) {
        table.assign(count, HIDP_BUTTON_CAPS{});
        if (count == 0)
            return;
        USHORT length = count;
        HidGetButtonCaps(type, table.data(), length, fPpd);
    };
    auto loadValues = [this](std::vector<HIDP_VALUE_CAPS>& table, HIDP_REPORT_TYPE type,
                             USHORT count) {
        table.assign(count, HIDP_VALUE_CAPS{});
        if (count == 0)
            return;
        USHORT length = count;
        HidGetValueCaps(type, table.data(), length, fPpd);
    };
    loadButtons(InputButtonCaps, HidP_Input, Caps.NumberInputButtonCaps);
    loadValues(InputValueCaps, HidP_Input, Caps.NumberInputValueCaps);
    loadButtons(OutputButtonCaps, HidP_Output, Caps.NumberOutputButtonCaps);
    loadValues(OutputValueCaps, HidP_Output, Caps.NumberOutputValueCaps);
    loadButtons(FeatureButtonCaps, HidP_Feature, Caps.NumberFeatureButtonCaps);
    loadValues(FeatureValueCaps, HidP_Feature, Caps.NumberFeatureValueCaps);
}

std::string UsagePageName(std::uint16_t page) {
    switch (page) {
    case 0:
        return "Undefined";
    case 1:
        return "Generic";
    case 2:
        return "Simulation";
    case 3:
        return "VR";
    case 4:
        return "Sport";
    case 5:
        return "Game";
    case 7:
        return "Keyboard";
    case 8:
        return "LED";
    case 9:
        return "Button";
    case 10:
        return "Ordinal";
    case 11:
        return "Telephony";
    case 12:
        return "Consumer";
    case 13:
        return "Digitizer";
    case 16:
        return "Unicode";
    case 20:
        return "Alphanumeric";
    default:
        return "Unknown";
    }
}

bool IsWindowsOwnedUsage(std::uint16_t page, std::uint16_t usage) {
    return page == HID_USAGE_PAGE_GENERIC &&
           (usage == HID_USAGE_GENERIC_KEYBOARD || usage == HID_USAGE_GENERIC_KEYPAD ||
            usage == HID_USAGE_GENERIC_MOUSE);
}

std::string TkvHidDevice::ListText() const {
    return WindowsOwned() ? FriendlyName + " (used by Windows)" : FriendlyName;
}
