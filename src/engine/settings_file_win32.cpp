#include "engine/settings_file_win32.h"

#include <windows.h>
#include <shlobj.h>

#include "engine/settings_file.h"
#include "framework/kv_error.h"
#include "framework/kv_handle.h"
#include "hid/kv_win32.h"

namespace {

bool IsDelimiter(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool CreateWideFolderTree(const std::wstring& folder) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    std::wstring::size_type cut = folder.size();
    while (cut > 0 && !IsDelimiter(folder[cut - 1]))
        --cut;
    if (cut > 1) {
        const std::wstring parent = folder.substr(0, cut - 1);
        const bool isDrive = parent.size() == 2 && parent[1] == L':';
        if (!isDrive && !CreateWideFolderTree(parent))
            return false;
    }
    return CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

class TWin32SettingsStore final : public THidSettingsStore {
public:
    bool ReadWhole(const std::string& path, std::string& content) override {
        // Sharing delete lets another save replace the file while this one is being read; sharing
        // write lets it be read while a backup tool or an editor holds it open for writing.
        TkvHandle file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        std::string text;
        char buffer[4096];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr))
                return false;
            if (got == 0)
                break;
            if (text.size() + got > kSettingsFileLimit) {
                OutputDebugStringW(
                    WideFromUtf8(path + " is larger than 1 MiB and is not loaded").c_str());
                return false;
            }
            text.append(buffer, got);
        }
        content = std::move(text);
        return true;
    }

    bool WriteNew(const std::string& path, std::string_view content) override {
        TkvHandle file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return Failed();
        while (!content.empty()) {
            DWORD written = 0;
            if (!WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written,
                           nullptr) ||
                written == 0)
                return Failed();
            content.remove_prefix(written);
        }
        return FlushFileBuffers(file.Get()) || Failed();
    }

    bool Replace(const std::string& source, const std::string& target) override {
        return MoveFileExW(WideFromUtf8(source).c_str(), WideFromUtf8(target).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
               Failed();
    }

    void Remove(const std::string& path) override { DeleteFileW(WideFromUtf8(path).c_str()); }

    bool Exists(const std::string& path) override {
        return GetFileAttributesW(WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    std::string LastErrorText() const override { return SystemErrorTextUtf8(lastError_); }

private:
    bool Failed() {
        lastError_ = GetLastError();
        return false;
    }
    DWORD lastError_ = ERROR_SUCCESS;
};

} // namespace

bool CreateFolderTree(const std::string& folder) {
    return CreateWideFolderTree(WideFromUtf8(folder));
}

void SettingsWarning(const std::string& text) {
    OutputDebugStringW(WideFromUtf8(text).c_str());
}

THidSettingsStore& PlatformSettingsStore() {
    static TWin32SettingsStore store;
    return store;
}

std::string DefaultSettingsPath(const std::string& fileName) {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                SHGFP_TYPE_CURRENT, buffer)) ||
        buffer[0] == L'\0')
        throw EkvError("The local application-data folder is not known");
    std::wstring folder = buffer;
    if (!IsDelimiter(folder.back()))
        folder += L'\\';
    folder += L"HID-Plugin";
    CreateWideFolderTree(folder); // a folder that cannot be made shows when the file is written
    return Utf8FromWide(folder) + '\\' + fileName;
}
