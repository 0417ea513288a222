// Stand-in for hid.dll: answers the HID class queries for the simulated devices.
#include "sim/sim_lookup.h"

#include <windows.h>
// The SDK headers declare these functions without C linkage.
extern "C" {
#include <hidusage.h>
#include <hidsdi.h>
#include <hidpi.h>
}

#include <atomic>
#include <cstring>

namespace {

constexpr GUID HidClassGuid = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr std::uint32_t PreparsedMagic = 0x53494d50; // "PMIS"

std::atomic<long> preparsedCount{0};

// What a preparsed-data handle points to: a snapshot of the device at the time of the query.
struct TSimPreparsed {
    std::uint32_t Magic = PreparsedMagic;
    TSimFixtureDevice Device;
};

TSimPreparsed* Preparsed(PHIDP_PREPARSED_DATA data) {
    auto* p = reinterpret_cast<TSimPreparsed*>(data);
    return p && p->Magic == PreparsedMagic ? p : nullptr;
}

std::optional<TSimFixtureDevice> PresentDevice(HANDLE handle) {
    auto device = SimDeviceOfHandle(handle);
    if (!device || !device->Present) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return std::nullopt;
    }
    return device;
}

BOOLEAN CopyString(HANDLE handle, std::optional<std::wstring> TSimFixtureDevice::*field,
                   PVOID buffer, ULONG length) {
    auto device = PresentDevice(handle);
    if (!device || !(*device.*field)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Like the class driver: copy what fits, terminator included when there is room.
    const std::wstring& text = *(*device.*field);
    std::size_t bytes = std::min<std::size_t>((text.size() + 1) * sizeof(wchar_t), length);
    memcpy(buffer, text.c_str(), bytes);
    return TRUE;
}

// Copies one report type's capability records of a device, as many as the caller has room for.
NTSTATUS CopyCaps(PHIDP_PREPARSED_DATA data, HIDP_REPORT_TYPE type,
                  std::vector<std::uint8_t> (TSimFixtureDevice::*tables)[3], PVOID caps,
                  PUSHORT length) {
    TSimPreparsed* p = Preparsed(data);
    if (!p)
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    if (type < HidP_Input || type > HidP_Feature)
        return HIDP_STATUS_INVALID_REPORT_TYPE;
    const std::vector<std::uint8_t>& records = (p->Device.*tables)[type];
    constexpr std::size_t recordSize = 72;
    std::size_t count = records.size() / recordSize;
    std::size_t copied = std::min<std::size_t>(count, *length);
    if (copied > 0)
        memcpy(caps, records.data(), copied * recordSize);
    *length = static_cast<USHORT>(copied);
    return copied < count ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

} // namespace

extern "C" {

void WINAPI HidD_GetHidGuid(LPGUID guid) {
    *guid = HidClassGuid;
}

BOOLEAN WINAPI HidD_GetProductString(HANDLE handle, PVOID buffer, ULONG length) {
    return CopyString(handle, &TSimFixtureDevice::Product, buffer, length);
}

BOOLEAN WINAPI HidD_GetManufacturerString(HANDLE handle, PVOID buffer, ULONG length) {
    return CopyString(handle, &TSimFixtureDevice::Manufacturer, buffer, length);
}

BOOLEAN WINAPI HidD_GetSerialNumberString(HANDLE handle, PVOID buffer, ULONG length) {
    return CopyString(handle, &TSimFixtureDevice::SerialNumber, buffer, length);
}

BOOLEAN WINAPI HidD_GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA* data) {
    auto device = PresentDevice(handle);
    if (!device || device->NoPreparsedData)
        return FALSE;
    auto* p = new TSimPreparsed;
    p->Device = std::move(*device);
    ++preparsedCount;
    *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(p);
    return TRUE;
}

BOOLEAN WINAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA data) {
    TSimPreparsed* p = Preparsed(data);
    if (!p)
        return FALSE;
    p->Magic = 0;
    delete p;
    --preparsedCount;
    return TRUE;
}

BOOLEAN WINAPI HidD_GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
    auto device = PresentDevice(handle);
    if (!device || device->NoAttributes)
        return FALSE;
    // The class driver fills the three identifiers and leaves Size to the caller.
    attributes->VendorID = device->VendorID;
    attributes->ProductID = device->ProductID;
    attributes->VersionNumber = device->VersionNumber;
    return TRUE;
}

NTSTATUS WINAPI HidP_GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps) {
    TSimPreparsed* p = Preparsed(data);
    if (!p || p->Device.NoCaps || p->Device.Caps.size() != sizeof(HIDP_CAPS))
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    memcpy(caps, p->Device.Caps.data(), sizeof(HIDP_CAPS));
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS WINAPI HidP_GetButtonCaps(HIDP_REPORT_TYPE type, PHIDP_BUTTON_CAPS caps, PUSHORT length,
                                   PHIDP_PREPARSED_DATA data) {
    return CopyCaps(data, type, &TSimFixtureDevice::ButtonCaps, caps, length);
}

NTSTATUS WINAPI HidP_GetValueCaps(HIDP_REPORT_TYPE type, PHIDP_VALUE_CAPS caps, PUSHORT length,
                                  PHIDP_PREPARSED_DATA data) {
    return CopyCaps(data, type, &TSimFixtureDevice::ValueCaps, caps, length);
}

// Lets tests see preparsed data that was never released.
LONG WINAPI TrelvonSimPreparsedCount() {
    return preparsedCount.load();
}

} // extern "C"
