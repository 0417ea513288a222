#include "hid/kv_hid_w32.h"

#include "hid/kv_win32.h"

#include <hidsdi.h>

#include <cwchar>
#include <mutex>
#include <vector>

namespace {

HMODULE hidModule = nullptr;
// The monitoring thread of a port may release preparsed data while the owning thread loads.
std::mutex hidMutex;

// The HID.DLL function `name` with the type of its SDK declaration, or null.
template <typename TFunction> TFunction* HidFunction(const char* name) {
    if (!HidLoaded())
        return nullptr;
    return reinterpret_cast<TFunction*>(reinterpret_cast<void*>(GetProcAddress(hidModule, name)));
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
    std::size_t length = wcsnlen(buffer.data(), BufferChars);
    std::string text;
    if (length > 0) {
        int size = WideCharToMultiByte(CP_ACP, 0, buffer.data(), static_cast<int>(length), nullptr,
                                       0, nullptr, nullptr);
        if (size > 0) {
            text.resize(static_cast<std::size_t>(size));
            WideCharToMultiByte(CP_ACP, 0, buffer.data(), static_cast<int>(length), text.data(),
                                size, nullptr, nullptr);
        }
    }
    // Devices put one or two placeholder characters where they have no string.
    return text.size() < 3 ? std::string() : text;
}

} // namespace

bool HidLoaded() {
    std::lock_guard lock(hidMutex);
    if (!hidModule)
        hidModule = LoadBindingLibrary("HID.DLL");
    return hidModule != nullptr;
}

void UnloadHidDll() {
    std::lock_guard lock(hidMutex);
    if (hidModule)
        FreeLibrary(hidModule);
    hidModule = nullptr;
}

void HidGetHidGuid(GUID& guid) {
    if (auto function = HidFunction<decltype(HidD_GetHidGuid)>("HidD_GetHidGuid"))
        function(&guid);
}

std::string HidGetProductString(HANDLE device) {
    return HidString(HidFunction<decltype(HidD_GetProductString)>("HidD_GetProductString"), device);
}

std::string HidGetManufacturerString(HANDLE device) {
    return HidString(
        HidFunction<decltype(HidD_GetManufacturerString)>("HidD_GetManufacturerString"), device);
}

std::string HidGetSerialNumberString(HANDLE device) {
    return HidString(
        HidFunction<decltype(HidD_GetSerialNumberString)>("HidD_GetSerialNumberString"), device);
}

PHIDP_PREPARSED_DATA HidGetPreparsedData(HANDLE device) {
    PHIDP_PREPARSED_DATA data = nullptr;
    if (auto function = HidFunction<decltype(HidD_GetPreparsedData)>("HidD_GetPreparsedData"))
        function(device, &data);
    return data;
}

bool HidGetAttributes(HANDLE device, TkvHiddAttributes& attributes) {
    auto function = HidFunction<decltype(HidD_GetAttributes)>("HidD_GetAttributes");
    if (!function)
        return false;
    // The system writes its own 12-byte layout; the packed record takes the identifiers.
    HIDD_ATTRIBUTES system{};
    system.Size = sizeof system;
    if (!function(device, &system))
        return false;
    attributes.VendorID = system.VendorID;
    attributes.ProductID = system.ProductID;
    attributes.VersionNumber = system.VersionNumber;
    return true;
}

NTSTATUS HidGetCaps(PHIDP_PREPARSED_DATA data, HIDP_CAPS& caps) {
    auto function = HidFunction<decltype(HidP_GetCaps)>("HidP_GetCaps");
    return function ? function(data, &caps) : HIDP_STATUS_NULL;
}

bool HidFreePreparsedData(PHIDP_PREPARSED_DATA data) {
    auto function = HidFunction<decltype(HidD_FreePreparsedData)>("HidD_FreePreparsedData");
    return function && function(data);
}

NTSTATUS HidGetButtonCaps(HIDP_REPORT_TYPE type, HIDP_BUTTON_CAPS* caps, USHORT& length,
                          PHIDP_PREPARSED_DATA data) {
    auto function = HidFunction<decltype(HidP_GetButtonCaps)>("HidP_GetButtonCaps");
    return function ? function(type, caps, &length, data) : HIDP_STATUS_NULL;
}

NTSTATUS HidGetValueCaps(HIDP_REPORT_TYPE type, HIDP_VALUE_CAPS* caps, USHORT& length,
                         PHIDP_PREPARSED_DATA data) {
    auto function = HidFunction<decltype(HidP_GetValueCaps)>("HidP_GetValueCaps");
    return function ? function(type, caps, &length, data) : HIDP_STATUS_NULL;
}
