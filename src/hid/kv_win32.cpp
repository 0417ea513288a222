#include "hid/kv_win32.h"

#include "framework/kv_handle.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace {

// Answers of the system beyond these are treated as corrupt rather than allocated.
constexpr ULONG MaxKeyNameBytes = 64 * 1024;
constexpr DWORD MaxRegistryValueBytes = 1024 * 1024;

void ClearOverlapped(OVERLAPPED& overlapped) {
    // Everything before the event: the caller's event handle must survive.
    std::memset(&overlapped, 0, offsetof(OVERLAPPED, hEvent));
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    std::size_t length = std::strlen(prefix);
    return text.size() >= length && _strnicmp(text.c_str(), prefix, length) == 0;
}

TkvLibraryLoader libraryLoader = &LoadSystemLibrary;

template <typename TPointer> void Resolve(HMODULE module, const char* name, TPointer& slot) {
    slot = module != nullptr
               ? reinterpret_cast<TPointer>(reinterpret_cast<void*>(GetProcAddress(module, name)))
               : nullptr;
}

// The system's message for an error code, without its line break; empty when unknown.
std::wstring SystemErrorTextWide(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring result;
    if (text != nullptr) {
        result.assign(text, length);
        LocalFree(text);
    }
    while (!result.empty() && result.back() <= L' ')
        result.pop_back();
    return result;
}

std::string NarrowFromWide(std::wstring_view text, UINT codePage) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(codePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

} // namespace

const TkvSystemEntryPoints& SystemEntryPoints() {
    // kernel32 and ntdll are mapped into every process for its whole life.
    static const TkvSystemEntryPoints entryPoints = [] {
        TkvSystemEntryPoints table;
        const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
        Resolve(kernel32, "CancelIoEx", table.CancelIoEx);
        Resolve(kernel32, "AddDllDirectory", table.AddDllDirectory);
        Resolve(GetModuleHandleA("ntdll.dll"), "ZwQueryKey", table.ZwQueryKey);
        return table;
    }();
    return entryPoints;
}

std::string kvToAnsi(const wchar_t* text, std::size_t length) {
    return text != nullptr ? NarrowFromWide(std::wstring_view(text, length), CP_ACP)
                           : std::string();
}

bool ReadOverlapped(HANDLE handle, void* buffer, DWORD count, OVERLAPPED& overlapped) {
    ClearOverlapped(overlapped);
    DWORD transferred = 0;
    if (ReadFile(handle, buffer, count, &transferred, &overlapped))
        return true;
    DWORD error = 0;
    return WaitOverlapped(handle, overlapped, transferred, error);
}

bool WriteOverlapped(HANDLE handle, const void* buffer, DWORD count, OVERLAPPED& overlapped) {
    ClearOverlapped(overlapped);
    DWORD transferred = 0;
    if (WriteFile(handle, buffer, count, &transferred, &overlapped))
        return true;
    DWORD error = 0;
    return WaitOverlapped(handle, overlapped, transferred, error);
}

bool WriteOverlappedNoWait(HANDLE handle, const void* buffer, DWORD count, OVERLAPPED& overlapped) {
    ClearOverlapped(overlapped);
    if (WriteFile(handle, buffer, count, nullptr, &overlapped))
        return true;
    return GetLastError() == ERROR_IO_PENDING;
}

bool WaitOverlapped(HANDLE handle, OVERLAPPED& overlapped, DWORD& transferred, DWORD& error) {
    error = GetLastError();
    if (error != ERROR_IO_PENDING)
        return false;
    BOOL done = FALSE;
    // A signal of the event alone lets GetOverlappedResult return while the kernel still owns
    // the buffer; only a completed (or cancelled) operation may end the wait.
    do {
        done = GetOverlappedResult(handle, &overlapped, &transferred, TRUE);
    } while (!HasOverlappedIoCompleted(&overlapped));
    if (!done)
        error = GetLastError();
    return done != FALSE;
}

bool CancelPendingIo(HANDLE handle, OVERLAPPED* overlapped) {
    const auto cancelIoEx = SystemEntryPoints().CancelIoEx;
    if (!cancelIoEx)
        return false;
    if (cancelIoEx(handle, overlapped))
        return true;
    // Nothing left to cancel: the operation has already completed.
    return GetLastError() == ERROR_NOT_FOUND;
}

std::string SystemErrorText(DWORD code) {
    const std::wstring text = SystemErrorTextWide(code);
    return kvToAnsi(text.data(), text.size());
}

std::string SystemErrorTextUtf8(DWORD code) {
    return Utf8FromWide(SystemErrorTextWide(code));
}

std::wstring WideFromUtf8(std::string_view text) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string Utf8FromWide(std::wstring_view text) {
    return NarrowFromWide(text, CP_UTF8);
}

std::string GetKeyPath(HKEY key, HKEY* root) {
    std::string result;
    if (key == nullptr || key == static_cast<HKEY>(INVALID_HANDLE_VALUE))
        return result;
    if (const auto zwQueryKey = SystemEntryPoints().ZwQueryKey) {
        constexpr int KeyNameInformation = 3;
        ULONG needed = 0;
        zwQueryKey(key, KeyNameInformation, nullptr, 0, &needed);
        if (needed > sizeof(ULONG) && needed <= MaxKeyNameBytes) {
            // Two spare zero bytes terminate the name whatever the system wrote.
            std::vector<std::uint8_t> block(needed + 2, 0);
            if (zwQueryKey(key, KeyNameInformation, block.data(), needed, &needed) >= 0) {
                ULONG nameBytes = 0;
                std::memcpy(&nameBytes, block.data(), sizeof nameBytes);
                std::size_t room = block.size() - 2 - sizeof(ULONG);
                std::size_t chars = std::min<std::size_t>(nameBytes, room) / sizeof(wchar_t);
                std::vector<wchar_t> name(chars + 1, L'\0');
                std::memcpy(name.data(), block.data() + sizeof(ULONG), chars * sizeof(wchar_t));
                result = kvToAnsi(name.data(), chars);
            }
        }
    }

    if (root) {
        // Registry names are case-insensitive and Wine spells the roots in mixed case.
        if (StartsWithNoCase(result, "\\REGISTRY\\MACHINE\\")) {
            *root = HKEY_LOCAL_MACHINE;
            result.erase(0, 18);
        } else if (StartsWithNoCase(result, "\\REGISTRY\\USER\\")) {
            *root = HKEY_CURRENT_USER;
            result.erase(0, 15);
            // The user's security identifier; the hive itself has an empty path.
            std::size_t slash = result.find('\\');
            result.erase(0, slash == std::string::npos ? result.size() : slash + 1);
        } else {
            *root = nullptr;
        }
    }
    return result;
}

std::string ReadRegistryString(HKEY root, const std::string& subkey, const std::string& name) {
    TkvRegKey key;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS)
        return {};
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        size > MaxRegistryValueBytes)
        return {};
    std::string result(size + 1, ' ');
    if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(result.data()), &size) != ERROR_SUCCESS ||
        size > result.size())
        return {};
    if (type == REG_SZ && size > 0 && result[size - 1] == '\0')
        --size;
    result.resize(size);
    return result;
}

HMODULE LoadSystemLibrary(const char* name) {
    // LOAD_LIBRARY_SEARCH_SYSTEM32 exists where AddDllDirectory does (Vista with KB2533623 and
    // later); older systems reject the flag with ERROR_INVALID_PARAMETER.
    constexpr DWORD SearchSystem32 = 0x00000800;
    if (SystemEntryPoints().AddDllDirectory != nullptr) {
        HMODULE module = LoadLibraryExA(name, nullptr, SearchSystem32);
        if (module || GetLastError() != ERROR_INVALID_PARAMETER)
            return module;
    }
    char directory[MAX_PATH];
    UINT length = GetSystemDirectoryA(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    std::string path(directory, length);
    path += '\\';
    path += name;
    // The altered search path makes the library's own imports resolve from there as well.
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

TkvLibraryLoader SetLibraryLoader(TkvLibraryLoader loader) {
    TkvLibraryLoader previous = libraryLoader;
    libraryLoader = loader ? loader : &LoadSystemLibrary;
    return previous;
}

HMODULE LoadBindingLibrary(const char* name) {
    return libraryLoader(name);
}
