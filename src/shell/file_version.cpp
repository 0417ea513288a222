#include "shell/file_version.h"

#include <windows.h>

#include <initializer_list>
#include <vector>

namespace {

// Fills each %u of format with the next value; the format is only ever a short pattern from our
// own code, but a stray conversion must not read past the values as printf would.
std::string FormatParts(const std::string& format, std::initializer_list<unsigned> values) {
    std::string text;
    auto next = values.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            const char conversion = format[i + 1];
            if (conversion == '%') {
                text += '%';
                ++i;
                continue;
            }
            if (conversion == 'u') {
                if (next != values.end())
                    text += std::to_string(*next++);
                ++i;
                continue;
            }
        }
        text += format[i];
    }
    return text;
}

std::string OperatingSystemText() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info))
        return {};
    const bool nt = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    // On the 95 line the high word of the build number repeats major and minor.
    const unsigned build = nt ? info.dwBuildNumber : LOWORD(info.dwBuildNumber);
    return "Windows " + WindowsVersionName(info.dwMajorVersion, info.dwMinorVersion, nt) + " [" +
           FormatParts("%u.%u.%u", {info.dwMajorVersion, info.dwMinorVersion, build}) + "] " +
           info.szCSDVersion;
}

} // namespace

std::string WindowsVersionName(unsigned major, unsigned minor, bool ntPlatform) {
    switch (major) {
    case 3:
        return "NT 3.51";
    case 4:
        if (minor == 10)
            return "98";
        if (minor == 90)
            return "Me";
        return ntPlatform ? "NT 4" : "95";
    case 5:
        if (minor == 0)
            return "2000";
        if (minor == 1)
            return "XP";
        if (minor == 2)
            return "2003";
        return {};
    case 6:
        return minor == 0 ? "Vista" : "Longhorn";
    default:
        return {};
    }
}

std::string FileVersionText(const std::string& fileName, const std::string& format) {
    if (fileName.empty())
        return OperatingSystemText();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(fileName.c_str(), &handle);
    if (size == 0)
        return {};
    std::vector<char> block(size, 0);
    if (!GetFileVersionInfoA(fileName.c_str(), 0, size, block.data()))
        return {};
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) ||
        fixed == nullptr || fixedSize < sizeof(VS_FIXEDFILEINFO))
        return {};
    return FormatParts(format.empty() ? "%u.%u.%u.%u" : format,
                       {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                        HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)});
}
