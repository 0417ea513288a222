#include "hid/kv_hid_w32.h"

#include "hid/kv_win32.h"

#include <hidsdi.h>

#include <atomic>
#include <cwchar>
#include <mutex>
#include <vector>

namespace {

// HID.DLL's entry points, resolved once when the library loads; a missing one stays null.
struct THidApi {
    HMODULE Module = nullptr;
    decltype(HidD_GetHidGuid)* GetHidGuid = nullptr;
    decltype(HidD_GetProductString)* GetProductString = nullptr;
    decltype(HidD_GetManufacturerString)* GetManufacturerString = nullptr;
    decltype(HidD_GetSerialNumberString)* GetSerialNumberString = nullptr;
    decltype(HidD_GetPreparsedData)* GetPreparsedData = nullptr;
    decltype(HidD_FreePreparsedData)* FreePreparsedData = nullptr;
    decltype(HidD_GetAttributes)* GetAttributes = nullptr;
    decltype(HidP_GetCaps)* GetCaps = nullptr;
    decltype(HidP_GetButtonCaps)* GetButtonCaps = nullptr;
    decltype(HidP_GetValueCaps)* GetValueCaps = nullptr;
};

THidApi hidApi;
// Set once the table is filled; read without the lock by every wrapper.
std::atomic<const THidApi*> loadedApi{nullptr};
// Loading and unloading may race with a monitoring thread that frees preparsed data.
std::mutex hidMutex;

template <typename TPointer> void Resolve(HMODULE module, const char* name, TPointer& slot) {
    slot = reinterpret_cast<TPointer>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The table, loading HID.DLL on first use; null while it cannot be loaded.
const THidApi* Hid() {
    if (const THidApi* api = loadedApi.load(std::memory_order_acquire))
        return api;
    std::lock_guard lock(hidMutex);
    if (!hidApi.Module) {
        const HMODULE module = LoadBindingLibrary("HID.DLL");
        if (!module)
            return nullptr;
        hidApi = THidApi{module};
        Resolve(module, "HidD_GetHidGuid", hidApi.GetHidGuid);
        Resolve(module, "HidD_GetProductString", hidApi.GetProductString);
        Resolve(module, "HidD_GetManufacturerString", hidApi.GetManufacturerString);
        Resolve(module, "HidD_GetSerialNumberString", hidApi.GetSerialNumberString);
        Resolve(module, "HidD_GetPreparsedData", hidApi.GetPreparsedData);
        Resolve(module, "HidD_FreePreparsedData", hidApi.FreePreparsedData);
        Resolve(module, "HidD_GetAttributes", hidApi.GetAttributes);
        Resolve(module, "HidP_GetCaps", hidApi.GetCaps);
        Resolve(module, "HidP_GetButtonCaps", hidApi.GetButtonCaps);
        Resolve(module, "HidP_GetValueCaps", hidApi.GetValueCaps);
    }
    loadedApi.store(&hidApi, std::memory_order_release);
    return &hidApi;
}

std::string HidString(decltype(HidD_GetProductString)* function, HANDLE device) {
    if (!function)
        return {};
    constexpr ULONG BufferBytes = 2048;
    constexpr std::size_t BufferChars = BufferBytes / sizeof(wchar_t);
    std::vector<wchar_t> buffer(BufferChars, L'\0');
    if (!function(device, buffer.data(), BufferBytes))
        return {};
    // A string that fills the whole buffer comes without terminator.
    const std::string text = kvToAnsi(buffer.data(), wcsnlen(buffer.data(), BufferChars));
    // Devices put one or two placeholder characters where they have no string.
    return text.size() < 3 ? std::string() : text;
}

} // namespace

bool HidLoaded() {
    return Hid() != nullptr;
}

void UnloadHidDll() {
    std::lock_guard lock(hidMutex);
    loadedApi.store(nullptr, std::memory_order_release);
    if (hidApi.Module)
        FreeLibrary(hidApi.Module);
    hidApi = THidApi{};
}

void HidGetHidGuid(GUID& guid) {
    const THidApi* api = Hid();
    if (api && api->GetHidGuid)
        api->GetHidGuid(&guid);
}

std::string HidGetProductString(HANDLE device) {
    const THidApi* api = Hid();
    return api ? HidString(api->GetProductString, device) : std::string();
}

std::string HidGetManufacturerString(HANDLE device) {
    const THidApi* api = Hid();
    return api ? HidString(api->GetManufacturerString, device) : std::string();
}

std::string HidGetSerialNumberString(HANDLE device) {
    const THidApi* api = Hid();
    return api ? HidString(api->GetSerialNumberString, device) : std::string();
}

PHIDP_PREPARSED_DATA HidGetPreparsedData(HANDLE device) {
    PHIDP_PREPARSED_DATA data = nullptr;
    const THidApi* api = Hid();
    if (api && api->GetPreparsedData)
        api->GetPreparsedData(device, &data);
    return data;
}

bool HidGetAttributes(HANDLE device, TkvHiddAttributes& attributes) {
    const THidApi* api = Hid();
    if (!api || !api->GetAttributes)
        return false;
    // The system writes its own 12-byte layout; the packed record takes the identifiers.
    HIDD_ATTRIBUTES system{};
    system.Size = sizeof system;
    if (!api->GetAttributes(device, &system))
        return false;
    attributes.VendorID = system.VendorID;
    attributes.ProductID = system.ProductID;
    attributes.VersionNumber = system.VersionNumber;
    return true;
}

NTSTATUS HidGetCaps(PHIDP_PREPARSED_DATA data, HIDP_CAPS& caps) {
    const THidApi* api = Hid();
    return api && api->GetCaps ? api->GetCaps(data, &caps) : HIDP_STATUS_NULL;
}

bool HidFreePreparsedData(PHIDP_PREPARSED_DATA data) {
    const THidApi* api = Hid();
    return api && api->FreePreparsedData && api->FreePreparsedData(data);
}

NTSTATUS HidGetButtonCaps(HIDP_REPORT_TYPE type, HIDP_BUTTON_CAPS* caps, USHORT& length,
                          PHIDP_PREPARSED_DATA data) {
    const THidApi* api = Hid();
    return api && api->GetButtonCaps ? api->GetButtonCaps(type, caps, &length, data)
                                     : HIDP_STATUS_NULL;
}

NTSTATUS HidGetValueCaps(HIDP_REPORT_TYPE type, HIDP_VALUE_CAPS* caps, USHORT& length,
                         PHIDP_PREPARSED_DATA data) {
    const THidApi* api = Hid();
    return api && api->GetValueCaps ? api->GetValueCaps(type, caps, &length, data)
                                    : HIDP_STATUS_NULL;
}
