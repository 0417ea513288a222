// Stand-in for setupapi.dll: lists the simulated devices as members of the HID class.
#define _SETUPAPI_
#include "sim/sim_fixture.h"

#include <windows.h>
#include <setupapi.h>

#include <atomic>
#include <cstddef>
#include <cstring>

namespace {

constexpr GUID HidClassGuid = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr std::uint32_t SetMagic = 0x53455453; // "STES"
constexpr DWORD LieSize = 0x10000;

std::atomic<long> openSets{0};

struct TSimDeviceSet {
    std::uint32_t Magic = SetMagic;
    std::vector<TSimFixtureDevice> Devices;
};

TSimDeviceSet* Set(HDEVINFO handle) {
    auto* set = static_cast<TSimDeviceSet*>(handle);
    if (handle == INVALID_HANDLE_VALUE || !set || set->Magic != SetMagic) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return set;
}

const TSimFixtureDevice* DeviceWithId(const TSimDeviceSet& set, ULONG_PTR id) {
    for (const auto& device : set.Devices)
        if (static_cast<ULONG_PTR>(device.Id) == id)
            return &device;
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

bool FillDeviceInfo(const TSimFixtureDevice& device, PSP_DEVINFO_DATA data) {
    if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return false;
    }
    data->ClassGuid = HidClassGuid;
    data->DevInst = static_cast<DWORD>(device.Id);
    data->Reserved = static_cast<ULONG_PTR>(device.Id);
    return true;
}

const TSimFixtureDevice* DeviceOf(HDEVINFO handle, PSP_DEVINFO_DATA data) {
    TSimDeviceSet* set = Set(handle);
    if (!set)
        return nullptr;
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    return DeviceWithId(*set, data->Reserved);
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

} // namespace

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* guid, PCSTR, HWND, DWORD flags) {
    if (!guid && !(flags & DIGCF_ALLCLASSES)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto* set = new TSimDeviceSet;
    if ((flags & DIGCF_ALLCLASSES) || IsEqualGUID(*guid, HidClassGuid))
        for (auto& device : ReadSimFixture())
            if (device.Present || !(flags & DIGCF_PRESENT))
                set->Devices.push_back(std::move(device));
    ++openSets;
    return set;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    TSimDeviceSet* set = Set(handle);
    if (!set)
        return FALSE;
    set->Magic = 0;
    delete set;
    --openSets;
    return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD index, PSP_DEVINFO_DATA data) {
    TSimDeviceSet* set = Set(handle);
    if (!set)
        return FALSE;
    for (const auto& device : set->Devices)
        if (device.FoundPerDevice && index-- == 0)
            return FillDeviceInfo(device, data);
    return Fail(ERROR_NO_MORE_ITEMS);
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA info, const GUID* guid,
                                        DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    TSimDeviceSet* set = Set(handle);
    if (!set)
        return FALSE;
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (!guid || !IsEqualGUID(*guid, HidClassGuid))
        return Fail(ERROR_NO_MORE_ITEMS);
    const TSimFixtureDevice* found = nullptr;
    if (info) {
        found = DeviceOf(handle, info);
        if (found && index != 0) // each simulated device has exactly one interface
            found = nullptr;
    } else if (index < set->Devices.size()) {
        found = &set->Devices[index];
    }
    if (!found)
        return Fail(ERROR_NO_MORE_ITEMS);
    data->InterfaceClassGuid = HidClassGuid;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = static_cast<ULONG_PTR>(found->Id);
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                             PDWORD required, PSP_DEVINFO_DATA info) {
    TSimDeviceSet* set = Set(handle);
    if (!set)
        return FALSE;
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return Fail(ERROR_INVALID_USER_BUFFER);
    const TSimFixtureDevice* device = DeviceWithId(*set, data->Reserved);
    if (!device)
        return FALSE;
    if (info && !FillDeviceInfo(*device, info))
        return FALSE;
    DWORD need = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                    device->Path.size() + 1);
    if (!detail) {
        if (size != 0)
            return Fail(ERROR_INVALID_USER_BUFFER);
        switch (device->DetailFault) {
        case TSimDetailFault::OtherError:
            return Fail(ERROR_INVALID_PARAMETER);
        case TSimDetailFault::ZeroSize:
            need = 0;
            break;
        case TSimDetailFault::HugeSize:
            need = 0x7ffffff0;
            break;
        case TSimDetailFault::None:
            break;
        }
        if (required)
            *required = need;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (required)
        *required = need;
    if (size < need)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(detail->DevicePath, device->Path.c_str(), device->Path.size() + 1);
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO handle, PSP_DEVINFO_DATA info,
                                              DWORD property, PDWORD type, PBYTE buffer, DWORD size,
                                              PDWORD required) {
    const TSimFixtureDevice* device = DeviceOf(handle, info);
    if (!device)
        return FALSE;
    const std::optional<std::string>* value = nullptr;
    switch (property) {
    case SPDRP_DEVICEDESC:
        value = &device->Description;
        break;
    case SPDRP_SERVICE:
        value = &device->Service;
        break;
    case SPDRP_DRIVER:
        value = &device->DriverKey;
        break;
    case SPDRP_MFG:
        value = &device->SetupManufacturer;
        break;
    case SPDRP_PHYSICAL_DEVICE_OBJECT_NAME:
        value = &device->PdoName;
        break;
    default:
        return Fail(ERROR_INVALID_DATA);
    }
    if (!*value)
        return Fail(ERROR_INVALID_DATA);
    DWORD need = static_cast<DWORD>((*value)->size() + 1);
    if (type)
        *type = REG_SZ;
    if (required)
        *required = need;
    if (!buffer || size < need)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(buffer, (*value)->c_str(), need);
    if (device->LieAboutSizes && required)
        *required = property == SPDRP_DEVICEDESC ? 0 : LieSize;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO handle, PSP_DEVINFO_DATA info, PSTR buffer,
                                        DWORD size, PDWORD required) {
    const TSimFixtureDevice* device = DeviceOf(handle, info);
    if (!device)
        return FALSE;
    DWORD need = static_cast<DWORD>(device->InstanceId.size() + 1);
    if (required)
        *required = need;
    if (!buffer || size < need)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(buffer, device->InstanceId.c_str(), need);
    if (device->LieAboutSizes && required)
        *required = LieSize;
    return TRUE;
}

HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO handle, PSP_DEVINFO_DATA info, DWORD, DWORD,
                                 DWORD keyType, REGSAM access) {
    const TSimFixtureDevice* device = DeviceOf(handle, info);
    if (!device)
        return static_cast<HKEY>(INVALID_HANDLE_VALUE);
    HKEY key = nullptr;
    if (keyType != DIREG_DEV || !device->HasRegistryKey ||
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, SimDeviceKeyPath(device->InstanceId).c_str(), 0, access,
                      &key) != ERROR_SUCCESS) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return static_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    return key;
}

// Resolved by the binding but never called on the HID path: present so that the binding
// finds every entry point it requires.
HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID*, HWND) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return INVALID_HANDLE_VALUE;
}
BOOL WINAPI SetupDiCreateDeviceInfoA(HDEVINFO, PCSTR, const GUID*, PCSTR, HWND, DWORD,
                                     PSP_DEVINFO_DATA) {
    return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}
BOOL WINAPI SetupDiGetINFClassA(PCSTR, LPGUID, PSTR, DWORD, PDWORD) {
    return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}
BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO, PSP_DEVINFO_DATA, DWORD, const BYTE*,
                                              DWORD) {
    return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}
BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA) {
    return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}
BOOL WINAPI SetupDiRemoveDevice(HDEVINFO, PSP_DEVINFO_DATA) {
    return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}
BOOL WINAPI SetupDiUnremoveDevice(HDEVINFO, PSP_DEVINFO_DATA) {
    return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}
BOOL WINAPI SetupDiOpenDeviceInfoA(HDEVINFO, PCSTR, HWND, DWORD, PSP_DEVINFO_DATA) {
    return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

// Lets tests see device information sets that were never destroyed.
LONG WINAPI TrelvonSimOpenSetCount() {
    return openSets.load();
}

} // extern "C"
