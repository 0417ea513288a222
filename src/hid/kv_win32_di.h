#pragma once
// Run-time bindings to the device installer (SetupAPI.dll) and the configuration manager, and
// the enumeration of a device class into generic device records.
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/kv_device.h"

// The resolved entry points. The configuration-manager ones come from the module in which
// CM_Locate_DevNodeA was found: SetupAPI.dll itself, else cfgmgr32.dll.
struct TkvSetupApi {
    HMODULE SetupApiModule = nullptr;
    HMODULE CfgMgrModule = nullptr; // loaded only when SetupAPI.dll lacks CM_Locate_DevNodeA
    HMODULE CmModule = nullptr;     // one of the two above, not owned separately

    decltype(&::SetupDiGetClassDevsA) SetupDiGetClassDevsA = nullptr;
    decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList = nullptr;
    decltype(&::SetupDiEnumDeviceInfo) SetupDiEnumDeviceInfo = nullptr;
    decltype(&::SetupDiGetDeviceRegistryPropertyA) SetupDiGetDeviceRegistryPropertyA = nullptr;
    decltype(&::SetupDiOpenDevRegKey) SetupDiOpenDevRegKey = nullptr;
    decltype(&::SetupDiEnumDeviceInterfaces) SetupDiEnumDeviceInterfaces = nullptr;
    decltype(&::SetupDiGetDeviceInterfaceDetailA) SetupDiGetDeviceInterfaceDetailA = nullptr;
    decltype(&::SetupDiCreateDeviceInfoList) SetupDiCreateDeviceInfoList = nullptr;
    decltype(&::SetupDiCreateDeviceInfoA) SetupDiCreateDeviceInfoA = nullptr;
    decltype(&::SetupDiGetINFClassA) SetupDiGetINFClassA = nullptr;
    decltype(&::SetupDiSetDeviceRegistryPropertyA) SetupDiSetDeviceRegistryPropertyA = nullptr;
    decltype(&::SetupDiCallClassInstaller) SetupDiCallClassInstaller = nullptr;
    decltype(&::SetupDiGetDeviceInstanceIdA) SetupDiGetDeviceInstanceIdA = nullptr;
    BOOL(WINAPI* SetupDiRemoveDevice)(HDEVINFO, PSP_DEVINFO_DATA) = nullptr;
    BOOL(WINAPI* SetupDiUnremoveDevice)(HDEVINFO, PSP_DEVINFO_DATA) = nullptr;
    decltype(&::SetupDiOpenDeviceInfoA) SetupDiOpenDeviceInfoA = nullptr;
    decltype(&::CM_Locate_DevNodeA) CM_Locate_DevNodeA = nullptr;
    decltype(&::CM_Get_DevNode_Registry_PropertyA) CM_Get_DevNode_Registry_PropertyA = nullptr;
    decltype(&::CM_Get_Parent) CM_Get_Parent = nullptr;
    decltype(&::CM_Get_Device_ID_List_SizeA) CM_Get_Device_ID_List_SizeA = nullptr;
    decltype(&::CM_Get_Device_ID_ListA) CM_Get_Device_ID_ListA = nullptr;
    decltype(&::CM_Get_Child) CM_Get_Child = nullptr;
    decltype(&::CM_Get_Sibling) CM_Get_Sibling = nullptr;
    decltype(&::CM_Request_Device_EjectA) CM_Request_Device_EjectA = nullptr;
};

// Loads and resolves everything on the first call; true when every required entry point is
// there. A failure unloads what was loaded, and the next call tries again.
bool SetupApiLoaded();
// The table as the last SetupApiLoaded left it.
const TkvSetupApi& SetupApi();
// Frees SetupAPI.dll and cfgmgr32.dll and clears the table.
void UnloadSetupApi();
// Frees every library the HID access code loaded (HID.DLL, SetupAPI.dll, cfgmgr32.dll). The
// plug-in calls it from quit(), never from DllMain, where FreeLibrary is not allowed.
void UnloadHidLibraries();

// Appends one record per device of the class (all classes when `guid` is null) to `list`.
// Per-device mode walks the devices and reads their hardware key and instance; otherwise only
// the interfaces are walked. Nothing is added when SetupAPI is not available.
void EnumerateDevices(const GUID* guid, bool presentOnly, bool perDevice, bool withInterface,
                      std::vector<std::unique_ptr<TkvDevice>>& list);

// A text registry property of a device, without its terminating NUL; empty when missing.
std::string GetRegistryProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property);
// The instance IDs of a device's bus-relation (else removal-relation) devices, joined.
std::string GetRelatedDeviceIds(const std::string& instanceId, const std::string& separator,
                                bool busRelations);
