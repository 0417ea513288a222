// The simulator runs only on systems that have the Vista file and I/O functions.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include "sim/sim_lookup.h"

std::optional<TSimFixtureDevice> SimDeviceOfHandle(HANDLE handle) {
    // The file name of a pipe or file handle is available even for a query-only handle, and
    // names the device without depending on which pipe instance the client got.
    alignas(FILE_NAME_INFO) char buffer[sizeof(FILE_NAME_INFO) + MAX_PATH * sizeof(WCHAR)];
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, buffer, sizeof buffer))
        return std::nullopt;
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer);
    std::wstring wide(info->FileName, info->FileNameLength / sizeof(WCHAR));
    std::string name(wide.begin(), wide.end()); // simulator paths are plain ASCII
    std::string stem = SimPathStem(name);
    for (auto& device : ReadSimFixture())
        if (SimPathStem(device.Path) == stem)
            return device;
    return std::nullopt;
}
