#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include "engine/hid_processor.h"
#include "engine/settings_file_win32.h"
#include "framework/kv_handle.h"

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
    DeleteFileA(file.c_str());
}

// Paths are handed to the ANSI calls unchanged: a folder name in the ANSI code page (here an
// accented letter) is the folder the user sees, created with its missing parents.
TEST(THidProcessorSettingsWin32Test, AnsiFolderNamesWithMissingParents) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string top = std::string(temp) + "trelvon_\xE9t\xE9";
    const std::string folder = top + "\\a\\b";
    ASSERT_TRUE(CreateFolderTree(folder));
    EXPECT_TRUE(IsFolder(folder));
    THidProcessor engine;
    engine.SetExtendedMode(true);
    ASSERT_TRUE(engine.SaveSettings(folder + "\\kvhid.ini"));
    EXPECT_TRUE(engine.LoadSettings(folder + "\\kvhid.ini"));
    EXPECT_TRUE(engine.ExtendedMode());
    if (GetACP() == 1252) {
        wchar_t wide[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, wide);
        EXPECT_TRUE(GetFileAttributesW(
                        (std::wstring(wide) + L"trelvon_\u00E9t\u00E9\\a\\b\\kvhid.ini").c_str()) !=
                    INVALID_FILE_ATTRIBUTES);
    }
    DeleteFileA((folder + "\\kvhid.ini").c_str());
    RemoveDirectoryA(folder.c_str());
    RemoveDirectoryA((top + "\\a").c_str());
    RemoveDirectoryA(top.c_str());
}

} // namespace
