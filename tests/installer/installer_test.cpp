// The installer of this build tree, run silently as scripted installs run it, on a prepared
// player folder whose winamp.exe is a copy of the player stand-in.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/host_script.h"
#include "shell/test_files.h"

using testing::HasSubstr;

namespace {

constexpr char kEntry[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\trelvon";
constexpr char kPlayerEntry[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Winamp";
constexpr char kPlayerKey[] = "Software\\Winamp";

std::string FileBytes(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

bool Exists(const std::string& name) {
    return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void SetValue(HKEY root, const char* key, const char* name, const std::string& value) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(handle);
}

// The value's text; "(none)" when the key or the value does not exist.
std::string Value(HKEY root, const char* key, const char* name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return "(none)";
    char text[MAX_PATH] = {};
    DWORD size = sizeof text - 1;
    const LONG result =
        RegQueryValueExA(handle, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(handle);
    return result == ERROR_SUCCESS ? text : "(none)";
}

// A started program; ended by force if a test leaves it running.
struct TChild {
    PROCESS_INFORMATION Process{};
    HANDLE Output = nullptr;
    ~TChild() {
        if (Process.hProcess != nullptr) {
            TerminateProcess(Process.hProcess, 1);
            // Its program file can be deleted only once it has gone.
            WaitForSingleObject(Process.hProcess, 5000);
            CloseHandle(Process.hProcess);
            CloseHandle(Process.hThread);
        }
        if (Output != nullptr)
            CloseHandle(Output);
    }
    // The exit code, or STILL_ACTIVE when it did not end in time.
    DWORD Wait(DWORD timeoutMs = 60000) const {
        WaitForSingleObject(Process.hProcess, timeoutMs);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(Process.hProcess, &code);
        return code;
    }
    // Everything it wrote to its standard output, once it has closed it.
    std::string ReadOutput() const {
        std::string text;
        char buffer[512];
        DWORD read = 0;
        while (ReadFile(Output, buffer, sizeof buffer, &read, nullptr) && read > 0)
            text.append(buffer, read);
        return text;
    }
};

void Start(TChild& child, std::string commandLine) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE write = nullptr;
    ASSERT_TRUE(CreatePipe(&child.Output, &write, &inherit, 0));
    SetHandleInformation(child.Output, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = write;
    // A program that a process which has just ended wrote was once refused for a moment under
    // Wine in CI; a few tries over 5 s cover that, and the error is shown when they do not.
    BOOL started = FALSE;
    DWORD error = 0;
    for (int attempt = 0; attempt < 20 && !started; ++attempt) {
        if (attempt > 0)
            Sleep(250);
        started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                 nullptr, &startup, &child.Process);
        error = GetLastError();
    }
    CloseHandle(write);
    ASSERT_TRUE(started) << commandLine << " (error " << error << ")";
}

// A player stand-in's window, once it has made one.
HWND WindowOf(const TChild& child) {
    for (int i = 0; i < 200; ++i, Sleep(50))
        for (HWND window = nullptr;
             (window = FindWindowExA(nullptr, window, "Winamp v1.x", nullptr)) != nullptr;) {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process == child.Process.dwProcessId)
                return window;
        }
    return nullptr;
}

// Until a program has the DLL loaded: a mapped image cannot be opened for writing.
bool AwaitLoaded(const std::string& dll) {
    // Up to 30 s: a player started while the machine is busy can take over 10 s to start.
    for (int i = 0; i < 600; ++i, Sleep(50)) {
        const HANDLE file =
            CreateFileA(dll.c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION)
            return true;
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    return false;
}

DWORD RunProgram(const std::string& commandLine) {
    TChild child;
    Start(child, commandLine);
    return child.Wait();
}

class Installer : public testing::Test {
protected:
    Installer() {
        Clean();
        CreateDirectoryA(folder_.c_str(), nullptr);
        CopyFileA(TestFile("trelvon_host.exe").c_str(), (folder_ + "\\winamp.exe").c_str(), FALSE);
    }
    ~Installer() override { Clean(); }

    void Clean() {
        for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            RegDeleteKeyA(root, kPlayerEntry);
        RegDeleteKeyA(HKEY_CURRENT_USER, kPlayerKey);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kEntry);
        for (const std::string& name :
             {Plugin(), folder_ + "\\uninstall_trelvon.exe", folder_ + "\\winamp.exe",
              other_ + "\\winamp.exe", HostSettingsPath()})
            DeleteFileA(name.c_str());
        RemoveDirectoryA((folder_ + "\\Plugins").c_str());
        RemoveDirectoryA(folder_.c_str());
        RemoveDirectoryA(other_.c_str());
    }

    // A player of the folder, with --folder and the options given; returns once its window is
    // there.
    void StartPlayer(TChild& player, const std::string& folder, const std::string& options = {}) {
        Start(player, '"' + folder + "\\winamp.exe\" --folder \"" + folder + "\"" + options);
        ASSERT_NE(WindowOf(player), nullptr) << "the player did not start";
    }
    // A second copy of the player, in a folder of its own.
    void StartOtherPlayer(TChild& player) {
        CreateDirectoryA(other_.c_str(), nullptr);
        CopyFileA(TestFile("trelvon_host.exe").c_str(), (other_ + "\\winamp.exe").c_str(), FALSE);
        StartPlayer(player, other_);
    }

    // Silent, as scripted installs run it; the folder comes from /D= or the registry.
    DWORD Setup(const std::string& arguments = {}) {
        return RunProgram('"' + TestFile("trelvon-" TRELVON_VERSION "-setup.exe") + "\" /S" +
                          arguments);
    }
    // In place (_?=), so that the call returns when the uninstaller has finished; it then
    // cannot delete itself.
    DWORD Uninstall(const std::string& arguments = {}) {
        const std::string uninstaller = folder_ + "\\uninstall_trelvon.exe";
        const DWORD code = RunProgram('"' + uninstaller + "\" /S" + arguments + " _?=" + folder_);
        DeleteFileA(uninstaller.c_str());
        return code;
    }
    std::string Plugin() const { return folder_ + "\\Plugins\\gen_trelvon.dll"; }
    void WriteSettings(const std::string& text) {
        std::ofstream(HostSettingsPath(), std::ios::binary) << text;
    }

    const std::string folder_ = TestFile("player");
    const std::string other_ = TestFile("other player");
};

TEST_F(Installer, FindsThePlayerThroughEachOfItsRegistryEntries) {
    struct TCase {
        HKEY Root;
        const char* Key;
        const char* Name;
        std::string Value;
    };
    const std::vector<TCase> cases = {
        {HKEY_CURRENT_USER, kPlayerKey, nullptr, folder_},
        {HKEY_LOCAL_MACHINE, kPlayerEntry, "InstallLocation", folder_ + "\\"},
        {HKEY_CURRENT_USER, kPlayerEntry, "InstallLocation", folder_},
        {HKEY_LOCAL_MACHINE, kPlayerEntry, "UninstallString",
         '"' + folder_ + "\\UninstWA.exe\" /uninstall"},
        {HKEY_CURRENT_USER, kPlayerEntry, "UninstallString", folder_ + "\\UninstWA.exe"},
    };
    for (const TCase& entry : cases) {
        SCOPED_TRACE(entry.Value);
        SetValue(entry.Root, entry.Key, entry.Name, entry.Value);
        EXPECT_EQ(Setup(), 0u);
        EXPECT_TRUE(Exists(Plugin()));
        RegDeleteKeyA(entry.Root, entry.Key);
        DeleteFileA(Plugin().c_str());
    }
    // An entry whose folder lacks the player is passed over for the next one.
    SetValue(HKEY_CURRENT_USER, kPlayerKey, nullptr, TestFile("elsewhere"));
    SetValue(HKEY_LOCAL_MACHINE, kPlayerEntry, "InstallLocation", folder_);
    EXPECT_EQ(Setup(), 0u);
    EXPECT_TRUE(Exists(Plugin()));
}

TEST_F(Installer, FreshInstallListsTheProgramAndThePlayerLoadsThePlugin) {
    SetValue(HKEY_CURRENT_USER, kPlayerKey, nullptr, folder_);
    // Without the plug-in loaded, the running player need not close.
    TChild running;
    StartPlayer(running, folder_);
    ASSERT_EQ(Setup(), 0u);
    EXPECT_EQ(running.Wait(0), STILL_ACTIVE) << "the player was closed";
    EXPECT_EQ(FileBytes(Plugin()), FileBytes(TestFile("gen_trelvon.dll")));
    EXPECT_THAT(Value(HKEY_LOCAL_MACHINE, kEntry, "DisplayName"), HasSubstr(TRELVON_VERSION));
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kEntry, "DisplayVersion"), TRELVON_VERSION);
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kEntry, "UninstallString"),
              '"' + folder_ + "\\uninstall_trelvon.exe\"");
    EXPECT_TRUE(Exists(folder_ + "\\uninstall_trelvon.exe"));

    TChild player;
    Start(player, '"' + folder_ + "\\winamp.exe\" --run 300 --folder " + folder_);
    EXPECT_EQ(player.Wait(), 0u);
    EXPECT_THAT(player.ReadOutput(),
                HasSubstr("loaded " + Plugin() + ": Quorivex HID Plugin v" TRELVON_VERSION));
}

TEST_F(Installer, UpgradeClosesOnlyThePlayerOfItsFolderAndKeepsTheSettings) {
    // The older version: any plug-in the player loads and keeps loaded.
    CreateDirectoryA((folder_ + "\\Plugins").c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(TestFile("gen_fake.dll").c_str(), Plugin().c_str(), FALSE));
    WriteSettings("HidIndex=0\r\nMode=-1\r\n");
    TChild player;
    StartPlayer(player, folder_);
    ASSERT_TRUE(AwaitLoaded(Plugin()));
    // Started later, its window is found first.
    TChild other;
    StartOtherPlayer(other);

    EXPECT_EQ(Setup(" /D=" + folder_), 0u);
    ASSERT_EQ(player.Wait(0), 0u) << "the player still runs";
    EXPECT_THAT(player.ReadOutput(), HasSubstr("quit()"));
    EXPECT_EQ(other.Wait(0), STILL_ACTIVE) << "the other folder's player was closed";
    EXPECT_EQ(FileBytes(Plugin()), FileBytes(TestFile("gen_trelvon.dll")));
    EXPECT_EQ(FileBytes(HostSettingsPath()), "HidIndex=0\r\nMode=-1\r\n");
}

TEST_F(Installer, StopsWithoutCopyingWhenThePlayerDoesNotClose) {
    CreateDirectoryA((folder_ + "\\Plugins").c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(TestFile("gen_fake.dll").c_str(), Plugin().c_str(), FALSE));
    TChild player;
    StartPlayer(player, folder_, " --stay --run 60000");
    ASSERT_TRUE(AwaitLoaded(Plugin()));
    // The installer waits 15 s for the player to end.
    EXPECT_EQ(Setup(" /D=" + folder_), 3u);
    EXPECT_EQ(FileBytes(Plugin()), FileBytes(TestFile("gen_fake.dll")));
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kEntry, "DisplayName"), "(none)");
}

TEST_F(Installer, UninstallRemovesDllAndEntryAndTheSettingsOnlyWhenAsked) {
    ASSERT_EQ(Setup(" /D=" + folder_), 0u);
    WriteSettings("Mode=0\r\n");
    EXPECT_EQ(Uninstall(), 0u);
    EXPECT_FALSE(Exists(Plugin()));
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kEntry, "DisplayName"), "(none)");
    EXPECT_TRUE(Exists(HostSettingsPath()));

    ASSERT_EQ(Setup(" /D=" + folder_), 0u);
    EXPECT_EQ(Uninstall(" /REMOVESETTINGS"), 0u);
    EXPECT_FALSE(Exists(Plugin()));
    EXPECT_FALSE(Exists(HostSettingsPath()));
}

TEST_F(Installer, UninstallFromThePlayerRemovesTheEntryTheUninstallerAndTheDll) {
    const std::string script = TestFile("uninstall.script");
    for (const char* answer : {"no", "yes"}) {
        SCOPED_TRACE(answer);
        ASSERT_EQ(Setup(" /D=" + folder_), 0u);
        WriteSettings("Mode=0\r\n");
        std::ofstream(script) << "answer " << answer << "\nload " << Plugin() << "\nuninstall\n";
        TChild player;
        Start(player, '"' + folder_ + "\\winamp.exe\" --script \"" + script + '"');
        ASSERT_EQ(player.Wait(), 0u) << player.ReadOutput();
        EXPECT_THAT(player.ReadOutput(), HasSubstr("uninstall() returned 1"));
        // The uninstaller goes on after the player; removing the entry is its last step.
        for (int i = 0; i < 200 && Value(HKEY_LOCAL_MACHINE, kEntry, "DisplayName") != "(none)";
             ++i)
            Sleep(100);
        EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kEntry, "DisplayName"), "(none)");
        EXPECT_FALSE(Exists(folder_ + "\\uninstall_trelvon.exe"));
        EXPECT_FALSE(Exists(Plugin()));
        EXPECT_EQ(Exists(HostSettingsPath()), std::string(answer) == "no");
    }
    DeleteFileA(script.c_str());
}

TEST_F(Installer, RefusesAFolderWithoutThePlayerInSilentMode) {
    DeleteFileA((folder_ + "\\winamp.exe").c_str());
    EXPECT_NE(Setup(" /D=" + folder_), 0u);
    EXPECT_FALSE(Exists(folder_ + "\\Plugins"));
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kEntry, "DisplayName"), "(none)");
    // Without /D and without any entry of the player it finds no folder either.
    EXPECT_NE(Setup(), 0u);
}

} // namespace
