#include "engine/settings_file_win32.h"

#include <windows.h>
#include <shlobj.h>

#include "engine/settings_file.h"
#include "framework/kv_handle.h"

namespace {

bool IsDelimiter(const char* at) {
    return *at == '\\' || *at == '/';
}

// Walks the path character by character: in a double-byte code page the trail byte of a
// character may equal '\', and must not be taken for a delimiter.
std::string::size_type LastDelimiter(const std::string& path) {
    std::string::size_type last = std::string::npos;
    for (const char* at = path.c_str(); *at != '\0'; at = CharNextA(at))
        if (IsDelimiter(at))
            last = static_cast<std::string::size_type>(at - path.c_str());
    return last;
}

bool EndsWithDelimiter(const std::string& path) {
    return !path.empty() && LastDelimiter(path) == path.size() - 1;
}

class TWin32SettingsStore final : public THidSettingsStore {
public:
    bool ReadWhole(const std::string& path, std::string& content) override {
        // Sharing delete lets another save replace the file while this one is being read.
        TkvHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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
            text.append(buffer, got);
        }
        content = std::move(text);
        return true;
    }

    bool WriteNew(const std::string& path, std::string_view content) override {
        TkvHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        while (!content.empty()) {
            DWORD written = 0;
            if (!WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written,
                           nullptr) ||
                written == 0)
                return false;
            content.remove_prefix(written);
        }
        return FlushFileBuffers(file.Get()) != FALSE;
    }

    bool Replace(const std::string& source, const std::string& target) override {
        return MoveFileExA(source.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    }

    void Remove(const std::string& path) override { DeleteFileA(path.c_str()); }
};

} // namespace

bool CreateFolderTree(const std::string& folder) {
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const std::string::size_type cut = LastDelimiter(folder);
    if (cut != std::string::npos && cut > 0) {
        const std::string parent = folder.substr(0, cut);
        const bool isDrive = parent.size() == 2 && parent[1] == ':';
        if (!isDrive && !CreateFolderTree(parent))
            return false;
    }
    return CreateDirectoryA(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

THidSettingsStore& PlatformSettingsStore() {
    static TWin32SettingsStore store;
    return store;
}

std::string DefaultSettingsPath(const std::string& fileName) {
    try {
        char buffer[MAX_PATH] = {};
        std::string folder;
        // A failing shell call leaves the folder empty: the path then starts at the root of the
        // current drive.
        if (SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_LOCAL_APPDATA, TRUE))
            folder = buffer;
        if (!EndsWithDelimiter(folder))
            folder += '\\';
        folder += "HID-Plugin";
        if (!CreateFolderTree(folder))
            return fileName;
        return folder + '\\' + fileName;
    } catch (const std::exception&) {
        return fileName;
    }
}
