#include "hid/kv_win32_di.h"

#include "framework/kv_handle.h"

#include "hid/kv_hid_w32.h"
#include "hid/kv_win32.h"

#include <cstddef>
#include <cstring>

namespace {

// Answers of the system beyond these are treated as corrupt rather than allocated.
constexpr DWORD MaxDetailBytes = 64 * 1024;
constexpr ULONG MaxIdListChars = 1024 * 1024;
constexpr DWORD PropertyBufferBytes = 512;
constexpr DWORD InstanceIdChars = 256;

TkvSetupApi setupApi;

template <typename TPointer> void Resolve(HMODULE module, const char* name, TPointer& slot) {
    slot = module
               ? reinterpret_cast<TPointer>(reinterpret_cast<void*>(GetProcAddress(module, name)))
               : nullptr;
}

bool Resolved(const TkvSetupApi& a) {
    // SetupDiRemoveDevice, SetupDiUnremoveDevice, SetupDiOpenDeviceInfoA and
    // CM_Request_Device_EjectA are optional.
    return a.SetupDiGetClassDevsA && a.SetupDiDestroyDeviceInfoList && a.SetupDiEnumDeviceInfo &&
           a.SetupDiGetDeviceRegistryPropertyA && a.SetupDiOpenDevRegKey &&
           a.SetupDiEnumDeviceInterfaces && a.SetupDiGetDeviceInterfaceDetailA &&
           a.SetupDiCreateDeviceInfoList && a.SetupDiCreateDeviceInfoA && a.SetupDiGetINFClassA &&
           a.SetupDiSetDeviceRegistryPropertyA && a.SetupDiCallClassInstaller &&
           a.SetupDiGetDeviceInstanceIdA && a.CM_Locate_DevNodeA &&
           a.CM_Get_DevNode_Registry_PropertyA && a.CM_Get_Parent &&
           a.CM_Get_Device_ID_List_SizeA && a.CM_Get_Device_ID_ListA && a.CM_Get_Child &&
           a.CM_Get_Sibling;
}

bool LoadSetupApi(TkvSetupApi& a) {
    a.SetupApiModule = LoadBindingLibrary("SetupAPI.dll");
    if (!a.SetupApiModule)
        return false;
    HMODULE s = a.SetupApiModule;
    Resolve(s, "SetupDiGetClassDevsA", a.SetupDiGetClassDevsA);
    Resolve(s, "SetupDiDestroyDeviceInfoList", a.SetupDiDestroyDeviceInfoList);
    Resolve(s, "SetupDiEnumDeviceInfo", a.SetupDiEnumDeviceInfo);
    Resolve(s, "SetupDiGetDeviceRegistryPropertyA", a.SetupDiGetDeviceRegistryPropertyA);
    Resolve(s, "SetupDiOpenDevRegKey", a.SetupDiOpenDevRegKey);
    Resolve(s, "SetupDiEnumDeviceInterfaces", a.SetupDiEnumDeviceInterfaces);
    Resolve(s, "SetupDiGetDeviceInterfaceDetailA", a.SetupDiGetDeviceInterfaceDetailA);
    Resolve(s, "SetupDiCreateDeviceInfoList", a.SetupDiCreateDeviceInfoList);
    Resolve(s, "SetupDiCreateDeviceInfoA", a.SetupDiCreateDeviceInfoA);
    Resolve(s, "SetupDiGetINFClassA", a.SetupDiGetINFClassA);
    Resolve(s, "SetupDiSetDeviceRegistryPropertyA", a.SetupDiSetDeviceRegistryPropertyA);
    Resolve(s, "SetupDiCallClassInstaller", a.SetupDiCallClassInstaller);
    Resolve(s, "SetupDiGetDeviceInstanceIdA", a.SetupDiGetDeviceInstanceIdA);
    Resolve(s, "SetupDiRemoveDevice", a.SetupDiRemoveDevice);
    Resolve(s, "SetupDiUnremoveDevice", a.SetupDiUnremoveDevice);
    Resolve(s, "SetupDiOpenDeviceInfoA", a.SetupDiOpenDeviceInfoA);

    // Older systems keep the configuration manager in cfgmgr32.dll only.
    Resolve(s, "CM_Locate_DevNodeA", a.CM_Locate_DevNodeA);
    a.CmModule = s;
    if (!a.CM_Locate_DevNodeA) {
        if (!a.CfgMgrModule)
            a.CfgMgrModule = LoadBindingLibrary("cfgmgr32.dll");
        a.CmModule = a.CfgMgrModule;
        Resolve(a.CmModule, "CM_Locate_DevNodeA", a.CM_Locate_DevNodeA);
    }
    HMODULE cm = a.CmModule;
    Resolve(cm, "CM_Get_DevNode_Registry_PropertyA", a.CM_Get_DevNode_Registry_PropertyA);
    Resolve(cm, "CM_Get_Parent", a.CM_Get_Parent);
    Resolve(cm, "CM_Get_Device_ID_List_SizeA", a.CM_Get_Device_ID_List_SizeA);
    Resolve(cm, "CM_Get_Device_ID_ListA", a.CM_Get_Device_ID_ListA);
    Resolve(cm, "CM_Get_Child", a.CM_Get_Child);
    Resolve(cm, "CM_Get_Sibling", a.CM_Get_Sibling);
    Resolve(cm, "CM_Request_Device_EjectA", a.CM_Request_Device_EjectA);
    return Resolved(a);
}

// Destroys a device information set on scope exit.
struct TDestroyDeviceInfoList {
    void operator()(HDEVINFO set) const { setupApi.SetupDiDestroyDeviceInfoList(set); }
};
using TDeviceInfoSet = TkvScoped<HDEVINFO, TDestroyDeviceInfoList>;

// The device path of an interface, or empty when its detail record cannot be read.
// `requiredSize` is the size the system asked for.
std::string InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interfaceData,
                          DWORD requiredSize) {
    if (requiredSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) || requiredSize > MaxDetailBytes)
        return {};
    // One spare zero byte terminates the path whatever the system wrote.
    std::vector<std::uint8_t> block(requiredSize + 1, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!setupApi.SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, requiredSize,
                                                   nullptr, nullptr))
        return {};
    return detail->DevicePath;
}

void ReadProperties(HDEVINFO set, SP_DEVINFO_DATA& info, TkvDevice& device) {
    device.DriverKey = GetRegistryProperty(set, info, SPDRP_DRIVER);
    device.Service = GetRegistryProperty(set, info, SPDRP_SERVICE);
    device.PdoName = GetRegistryProperty(set, info, SPDRP_PHYSICAL_DEVICE_OBJECT_NAME);
    device.Description = GetRegistryProperty(set, info, SPDRP_DEVICEDESC);
    device.Manufacturer = GetRegistryProperty(set, info, SPDRP_MFG);
}

void ReadHardwareKey(HDEVINFO set, SP_DEVINFO_DATA& info, TkvDevice& device) {
    HKEY key =
        setupApi.SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == static_cast<HKEY>(INVALID_HANDLE_VALUE) || key == nullptr)
        return;
    HKEY root = nullptr;
    device.RegistryPath = GetKeyPath(key, &root);
    RegCloseKey(key);
    device.DevicePath = ReadRegistryString(HKEY_LOCAL_MACHINE, device.RegistryPath, "SymbolicName");
    device.PortName = ReadRegistryString(HKEY_LOCAL_MACHINE, device.RegistryPath, "PortName");
}

void ReadInstance(HDEVINFO set, SP_DEVINFO_DATA& info, TkvDevice& device) {
    char id[InstanceIdChars] = {};
    DWORD required = 0;
    if (!setupApi.SetupDiGetDeviceInstanceIdA(set, &info, id, InstanceIdChars, &required) ||
        required == 0 || required > InstanceIdChars)
        return;
    device.InstanceId.assign(id, strnlen(id, required - 1));
    device.DevInst = info.DevInst;
    device.BusChildren = GetRelatedDeviceIds(device.InstanceId, ";", true);
}

void EnumeratePerDevice(HDEVINFO set, const GUID* guid, bool withInterface,
                        std::vector<std::unique_ptr<TkvDevice>>& list) {
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD index = 0; setupApi.SetupDiEnumDeviceInfo(set, index, &info); ++index) {
        auto device = std::make_unique<TkvDevice>();
        ReadProperties(set, info, *device);
        ReadHardwareKey(set, info, *device);
        ReadInstance(set, info, *device);
        if (withInterface) {
            SP_DEVICE_INTERFACE_DATA interfaceData{};
            interfaceData.cbSize = sizeof interfaceData;
            if (setupApi.SetupDiEnumDeviceInterfaces(set, &info, guid, 0, &interfaceData)) {
                DWORD required = 0;
                setupApi.SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0,
                                                          &required, nullptr);
                std::string path = InterfacePath(set, interfaceData, required);
                if (!path.empty())
                    device->DevicePath = path;
            }
        }
        list.push_back(std::move(device));
    }
}

void EnumerateInterfaces(HDEVINFO set, const GUID* guid,
                         std::vector<std::unique_ptr<TkvDevice>>& list) {
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    for (DWORD index = 0;
         setupApi.SetupDiEnumDeviceInterfaces(set, nullptr, guid, index, &interfaceData); ++index) {
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        DWORD required = 0;
        BOOL answered = setupApi.SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0,
                                                                  &required, &info);
        if (answered || GetLastError() != ERROR_INSUFFICIENT_BUFFER || required == 0)
            continue;
        std::string path = InterfacePath(set, interfaceData, required);
        if (path.empty())
            continue;
        auto device = std::make_unique<TkvDevice>();
        ReadProperties(set, info, *device);
        device->DevicePath = path;
        list.push_back(std::move(device));
    }
}

} // namespace

bool SetupApiLoaded() {
    if (setupApi.SetupApiModule)
        return true;
    if (LoadSetupApi(setupApi))
        return true;
    UnloadSetupApi();
    return false;
}

const TkvSetupApi& SetupApi() {
    return setupApi;
}

void UnloadSetupApi() {
    if (setupApi.SetupApiModule)
        FreeLibrary(setupApi.SetupApiModule);
    if (setupApi.CfgMgrModule)
        FreeLibrary(setupApi.CfgMgrModule);
    setupApi = TkvSetupApi{};
}

void UnloadHidLibraries() {
    UnloadHidDll();
    UnloadSetupApi();
}

void EnumerateDevices(const GUID* guid, bool presentOnly, bool perDevice, bool withInterface,
                      std::vector<std::unique_ptr<TkvDevice>>& list) {
    if (!SetupApiLoaded())
        return;
    DWORD flags = 0;
    if (presentOnly)
        flags |= DIGCF_PRESENT;
    if (withInterface)
        flags |= DIGCF_DEVICEINTERFACE;
    if (!guid)
        flags |= DIGCF_ALLCLASSES;
    TDeviceInfoSet set(setupApi.SetupDiGetClassDevsA(guid, nullptr, nullptr, flags));
    if (!set.Valid())
        return;
    if (perDevice)
        EnumeratePerDevice(set.Get(), guid, withInterface, list);
    else
        EnumerateInterfaces(set.Get(), guid, list);
}

std::string GetRegistryProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    if (!setupApi.SetupDiGetDeviceRegistryPropertyA)
        return {};
    BYTE buffer[PropertyBufferBytes] = {};
    DWORD required = 0;
    if (!setupApi.SetupDiGetDeviceRegistryPropertyA(set, &device, property, nullptr, buffer,
                                                    PropertyBufferBytes, &required) ||
        required == 0 || required > PropertyBufferBytes)
        return {};
    return std::string(reinterpret_cast<const char*>(buffer), required - 1);
}

std::string GetRelatedDeviceIds(const std::string& instanceId, const std::string& separator,
                                bool busRelations) {
    if (!setupApi.CM_Get_Device_ID_List_SizeA || !setupApi.CM_Get_Device_ID_ListA)
        return {};
    ULONG filter =
        busRelations ? CM_GETIDLIST_FILTER_BUSRELATIONS : CM_GETIDLIST_FILTER_REMOVALRELATIONS;
    ULONG size = 0;
    if (setupApi.CM_Get_Device_ID_List_SizeA(&size, instanceId.c_str(), filter) != CR_SUCCESS ||
        size == 0 || size > MaxIdListChars)
        return {};
    std::vector<char> buffer(size, '\0');
    if (setupApi.CM_Get_Device_ID_ListA(instanceId.c_str(), buffer.data(), size, filter) !=
        CR_SUCCESS)
        return {};
    return JoinMultiString(buffer.data(), size, separator);
}
