#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "engine/hid_processor.h"
#include "engine/settings_file_win32.h"
#include "framework/kv_handle.h"
#include "hid/kv_win32.h"
#include "support/test_folder.h"
#include "support/win_test_support.h"

namespace {

std::string LocalAppData() {
    char folder[MAX_PATH] = {};
    EXPECT_TRUE(SHGetSpecialFolderPathA(nullptr, folder, CSIDL_LOCAL_APPDATA, FALSE));
    return folder;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The user's real settings folder in the prefix; the test starts without it.
TEST(THidProcessorSettingsWin32Test, FirstSaveCreatesFolderAndFileInLocalAppData) {
    const std::string folder = LocalAppData() + "\\HID-Plugin";
    const std::string file = folder + "\\kvhid.ini";
    DeleteFileA(file.c_str());
    RemoveDirectoryA(folder.c_str());
    ASSERT_FALSE(IsFolder(folder));
    char profile[MAX_PATH] = {};
    GetEnvironmentVariableA("USERPROFILE", profile, MAX_PATH);
    EXPECT_EQ(folder.rfind(profile, 0), 0u) << folder << " is not in the profile " << profile;

    THidProcessor engine;
    EXPECT_FALSE(engine.LoadSettings(""));
    EXPECT_EQ(engine.DeviceIndex(), -1);
    EXPECT_TRUE(IsFolder(folder));
    EXPECT_EQ(engine.DefaultSettingsPath(), file);
    engine.ActionForType(atPlayPause).DeviceIndex = 1;
    ASSERT_TRUE(engine.SaveSettings(" \t"));
    THidProcessor loaded;
    EXPECT_TRUE(loaded.LoadSettings(file));
    EXPECT_EQ(loaded.SettingsText(), engine.SettingsText());
}

// A replace that the system refuses (the file is held open without delete sharing) must leave
// the old content and no temporary file behind.
TEST(THidProcessorSettingsWin32Test, LockedFileKeepsItsContent) {
    const std::string file = LocalAppData() + "\\HID-Plugin\\locked.ini";
    THidProcessor engine;
    engine.SetDeviceIndex(5);
    ASSERT_TRUE(engine.SaveSettings(file));
    {
        TkvHandle holder(CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        engine.SetDeviceIndex(6);
        EXPECT_FALSE(engine.SaveSettings(file));
    }
    EXPECT_EQ(GetFileAttributesA((file + ".tmp").c_str()), INVALID_FILE_ATTRIBUTES);
    THidProcessor loaded;
    EXPECT_TRUE(loaded.LoadSettings(file));
    EXPECT_EQ(loaded.DeviceIndex(), 5);
    // A backup tool or an editor that holds the file open for writing does not hide it.
    {
        TkvHandle writer(CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer);
        EXPECT_TRUE(loaded.LoadSettings(file));
        EXPECT_EQ(loaded.DeviceIndex(), 5);
    }
    DeleteFileA(file.c_str());
}

// Paths are UTF-8 and reach the wide calls: a folder whose name the ANSI code page cannot spell
// is the folder the user sees, created with its missing parents.
TEST(THidProcessorSettingsWin32Test, FolderNamesBeyondTheAnsiCodePage) {
    const TTestFolder top("trelvon_\u041F\u0451\u0442\u0440");
    const std::string folder = top.PathOf("a\\b");
    ASSERT_TRUE(CreateFolderTree(folder));
    THidProcessor engine;
    engine.SetExtendedMode(true);
    ASSERT_TRUE(engine.SaveSettings(folder + "\\kvhid.ini"));
    EXPECT_TRUE(engine.LoadSettings(folder + "\\kvhid.ini"));
    EXPECT_TRUE(engine.ExtendedMode());
    EXPECT_NE(GetFileAttributesW((top.Path().wstring() + L"\\a\\b\\kvhid.ini").c_str()),
              INVALID_FILE_ATTRIBUTES);
}

// Points the user's Local AppData elsewhere while it lives, as a profile of another name would.
class TLocalAppDataRedirect {
public:
    explicit TLocalAppDataRedirect(const std::wstring& folder) {
        RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key_);
        wchar_t old[MAX_PATH] = {};
        DWORD size = sizeof old;
        had_ = RegQueryValueExW(key_, kName, nullptr, &type_, reinterpret_cast<BYTE*>(old),
                                &size) == ERROR_SUCCESS;
        old_ = old;
        Set(folder, REG_EXPAND_SZ);
    }
    ~TLocalAppDataRedirect() {
        if (had_)
            Set(old_, type_);
        else
            RegDeleteValueW(key_, kName);
        RegCloseKey(key_);
    }

private:
    void Set(const std::wstring& value, DWORD type) {
        RegSetValueExW(key_, kName, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    static constexpr const wchar_t* kKey =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    static constexpr const wchar_t* kName = L"Local AppData";
    HKEY key_ = nullptr;
    bool had_ = false;
    DWORD type_ = REG_EXPAND_SZ;
    std::wstring old_;
};

// The settings folder comes from the wide shell call. A Local AppData whose name the ANSI code
// page cannot spell gets the settings; one where no folder can be made gets an error, and the
// settings never go to the current folder instead.
TEST(THidProcessorSettingsWin32Test, LocalAppDataOfAnyNameAndNoFallBackToTheCurrentFolder) {
    const TTestFolder folder("trelvon_\u041F\u0451\u0442\u0440");
    const std::wstring profile = folder.Path().wstring();
    const std::wstring file = profile + L"\\Local\\HID-Plugin\\kvhid.ini";
    {
        TLocalAppDataRedirect redirect(profile + L"\\Local");
        THidProcessor engine;
        engine.SetDeviceIndex(3);
        const THidSaveResult saved = engine.SaveSettings();
        EXPECT_TRUE(saved) << saved.Reason;
        EXPECT_EQ(saved.Path, Utf8FromWide(file));
        THidProcessor loaded;
        EXPECT_TRUE(loaded.LoadSettings());
        EXPECT_EQ(loaded.DeviceIndex(), 3);
    }
    EXPECT_NE(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);

    // A file where the folder should be: nothing can be made below it.
    const std::wstring blocker = profile + L"\\blocker";
    CloseHandle(CreateFileW(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DeleteFileA("kvhid.ini");
    {
        TLocalAppDataRedirect redirect(blocker + L"\\Local");
        THidProcessor engine;
        engine.ActionForType(atNext);
        EXPECT_FALSE(engine.LoadSettings());
        EXPECT_EQ(engine.Count(), 0);
        const THidSaveResult saved = engine.SaveSettings();
        EXPECT_FALSE(saved);
        EXPECT_FALSE(saved.Reason.empty());
    }
    EXPECT_EQ(GetFileAttributesA("kvhid.ini"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA("kvhid.ini.tmp"), INVALID_FILE_ATTRIBUTES);
}

TEST(THidProcessorSettingsWin32Test, AnUnreadableCommandIsNamedInTheDebuggerOutput) {
    TDebuggerOutput warnings;
    THidProcessor engine;
    engine.ReadSettingsText("Action00=A00000001FFFFFFFF0\r\nAction00Command=rate:9\r\n"
                            "Action01=A00000002FFFFFFFF0\r\nAction01Command=menu:12\r\n"
                            "Action02=A00000003FFFFFFFF0\r\nAction02Command=" +
                            std::string(5000, 'x') +
                            "\r\nAction03=A00000004FFFFFFFF0\r\nAction03Command=rate:5\r\n");
    ASSERT_EQ(engine.Count(), 4);
    EXPECT_TRUE(engine.Actions(3).HasCommand());
    std::vector<std::string> expected;
    for (const char* key : {"Action00", "Action01", "Action02"})
        expected.push_back(std::string("trelvon: ") + key +
                           "Command in kvhid.ini names no command this version knows and is "
                           "ignored");
    EXPECT_EQ(warnings.Texts(), expected);
}

} // namespace
