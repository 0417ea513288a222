#pragma once
// Run-time bindings to HID.DLL. Every wrapper loads the library on first use and gives a neutral
// answer when the library or the function is missing.
#include <windows.h>
#include <hidusage.h>
#include <hidpi.h>

#include <cstdint>
#include <string>

// The attributes as the device record keeps them: 10 bytes, packed. The SDK's HIDD_ATTRIBUTES
// is padded to 12, so the record has its own declaration.
#pragma pack(push, 1)
struct TkvHiddAttributes {
    ULONG Size = sizeof(TkvHiddAttributes);
    USHORT VendorID = 0;
    USHORT ProductID = 0;
    USHORT VersionNumber = 0;
};
#pragma pack(pop)
static_assert(sizeof(TkvHiddAttributes) == 10);
static_assert(sizeof(HIDP_CAPS) == 64);
static_assert(sizeof(HIDP_BUTTON_CAPS) == 72);
static_assert(sizeof(HIDP_VALUE_CAPS) == 72);

// Loads HID.DLL if that has not happened yet; a failed load is tried again on the next call.
bool HidLoaded();

// Leaves `guid` unchanged when HID.DLL is missing.
void HidGetHidGuid(GUID& guid);
// The device's strings in the ANSI code page; empty when absent or shorter than 3 characters.
std::string HidGetProductString(HANDLE device);
std::string HidGetManufacturerString(HANDLE device);
std::string HidGetSerialNumberString(HANDLE device);
// Null when not obtainable.
PHIDP_PREPARSED_DATA HidGetPreparsedData(HANDLE device);
bool HidGetAttributes(HANDLE device, TkvHiddAttributes& attributes);
// HIDP_STATUS_NULL when HID.DLL or the function is missing.
NTSTATUS HidGetCaps(PHIDP_PREPARSED_DATA data, HIDP_CAPS& caps);
bool HidFreePreparsedData(PHIDP_PREPARSED_DATA data);
NTSTATUS HidGetButtonCaps(HIDP_REPORT_TYPE type, HIDP_BUTTON_CAPS* caps, USHORT& length,
                          PHIDP_PREPARSED_DATA data);
NTSTATUS HidGetValueCaps(HIDP_REPORT_TYPE type, HIDP_VALUE_CAPS* caps, USHORT& length,
                         PHIDP_PREPARSED_DATA data);

// Frees HID.DLL; the next wrapper call loads it again.
void UnloadHidDll();
