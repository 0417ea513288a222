#include "hid/kv_win32.h"

#include "sim/sim_bus.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A device open for reading, with a monitoring-style overlapped record.
struct TReadSetup {
    TSimBus Bus;
    int Id = Bus.AddDevice(TSimDevice{});
    TkvHandle Device = OpenDevice(Bus.DevicePath(Id), GENERIC_READ | GENERIC_WRITE);
    TkvHandle Event{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    OVERLAPPED Ov{};
    std::uint8_t Buffer[8] = {};
    TReadSetup() {
        Ov.hEvent = Event.Get();
        Bus.WaitForConnections(Id, 1, 2s);
    }
};

TEST(Overlapped, ReadDeliversAReportAndKeepsTheCallersEvent) {
    TReadSetup s;
    s.Ov.Offset = 0x1234; // stale fields from an earlier operation must be cleared
    s.Bus.SendInput(s.Id, {5, 6, 7}, 100ms);
    EXPECT_TRUE(ReadOverlapped(s.Device.Get(), s.Buffer, 8, s.Ov));
    EXPECT_EQ(s.Buffer[0], 5);
    EXPECT_EQ(s.Buffer[2], 7);
    EXPECT_EQ(s.Ov.hEvent, s.Event.Get());
}

TEST(Overlapped, CancelFromAnotherThreadReleasesThePendingRead) {
    TReadSetup s;
    std::atomic<int> result{-1};
    std::thread reader([&] { result = ReadOverlapped(s.Device.Get(), s.Buffer, 8, s.Ov); });
    std::this_thread::sleep_for(150ms);
    // A signal of the event alone must not end the wait: the read still owns the buffer.
    SetEvent(s.Event.Get());
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(CancelPendingIo(s.Device.Get(), &s.Ov));
    reader.join();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(HasOverlappedIoCompleted(&s.Ov));
    // Nothing pending any more: cancelling again is harmless.
    EXPECT_TRUE(CancelPendingIo(s.Device.Get(), &s.Ov));
}

TEST(Overlapped, UnplugFailsTheRead) {
    TReadSetup s;
    std::atomic<int> result{-1};
    std::thread reader([&] { result = ReadOverlapped(s.Device.Get(), s.Buffer, 8, s.Ov); });
    std::this_thread::sleep_for(100ms);
    s.Bus.Unplug(s.Id);
    reader.join();
    EXPECT_EQ(result, 0);
}

TEST(Overlapped, WriteNoWaitReturnsAtOnceForAQueuedWrite) {
    // A pipe whose buffer is too small for the write, with no reader: the write stays queued.
    const char* name = "\\\\.\\pipe\\trelvon-test-queued";
    TkvHandle server(CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                      PIPE_TYPE_MESSAGE, 1, 16, 16, 0, nullptr));
    ASSERT_TRUE(server);
    TkvHandle client = OpenDevice(name, GENERIC_READ | GENERIC_WRITE);
    ASSERT_TRUE(client);
    static std::uint8_t data[4096] = {1};
    TkvHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED ov{};
    ov.hEvent = event.Get();
    EXPECT_TRUE(WriteOverlappedNoWait(client.Get(), data, sizeof data, ov));
    EXPECT_FALSE(HasOverlappedIoCompleted(&ov));

    std::vector<std::uint8_t> got(sizeof data);
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(server.Get(), got.data(), sizeof data, &read, nullptr) ||
                GetLastError() == ERROR_IO_PENDING);
    DWORD written = 0;
    EXPECT_TRUE(GetOverlappedResult(client.Get(), &ov, &written, TRUE));
    EXPECT_EQ(written, sizeof data);
}

TEST(Overlapped, FailuresOtherThanPendingAreReportedWithTheirCode) {
    TSimBus bus;
    TSimDevice info;
    info.Access = TSimAccess::ReadOnly;
    int id = bus.AddDevice(info);
    TkvHandle device = OpenDevice(bus.DevicePath(id), GENERIC_READ);
    OVERLAPPED ov{};
    std::uint8_t byte = 0;
    EXPECT_FALSE(WriteOverlapped(device.Get(), &byte, 1, ov));
    EXPECT_FALSE(WriteOverlappedNoWait(device.Get(), &byte, 1, ov));
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD transferred = 0, error = 0;
    EXPECT_FALSE(WaitOverlapped(device.Get(), ov, transferred, error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// Test keys below HKEY_CURRENT_USER\Software\trelvon-test, removed again afterwards.
class Registry : public testing::Test {
protected:
    void SetUp() override {
        path_ = "Software\\trelvon-test\\" + std::to_string(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(key_);
        RegDeleteKeyA(HKEY_CURRENT_USER, path_.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\trelvon-test");
    }
    void Set(const char* name, DWORD type, const void* data, DWORD size) {
        RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(data), size);
    }
    std::string Read(const char* name) {
        return ReadRegistryString(HKEY_CURRENT_USER, path_, name);
    }

    std::string path_;
    HKEY key_ = nullptr;
};

TEST_F(Registry, KeyPathBelowTheMachineHiveIsRelativeToIt) {
    HKEY key = nullptr;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control", 0, KEY_READ, &key),
        ERROR_SUCCESS);
    HKEY root = nullptr;
    std::string path = GetKeyPath(key, &root);
    EXPECT_TRUE(StartsWithNoCase(path, "SYSTEM\\")) << path;
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
    std::string full = GetKeyPath(key);
    EXPECT_TRUE(StartsWithNoCase(full, "\\REGISTRY\\MACHINE\\SYSTEM\\")) << full;
    RegCloseKey(key);

    // The relative path names the same key again.
    HKEY again = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &again), ERROR_SUCCESS);
    RegCloseKey(again);
}

TEST_F(Registry, KeyPathBelowTheUsersHiveLosesTheUsersIdentifier) {
    HKEY root = nullptr;
    EXPECT_TRUE(SameTextNoCase(GetKeyPath(key_, &root), path_)) << GetKeyPath(key_);
    EXPECT_EQ(root, HKEY_CURRENT_USER);
}

TEST_F(Registry, KeyPathOfAnInvalidKeyIsEmptyAndLeavesTheRoot) {
    HKEY root = HKEY_CLASSES_ROOT;
    EXPECT_EQ(GetKeyPath(static_cast<HKEY>(INVALID_HANDLE_VALUE), &root), "");
    EXPECT_EQ(root, HKEY_CLASSES_ROOT);
}

TEST_F(Registry, ReadsTextValuesWithoutTheirTerminator) {
    Set("Port", REG_SZ, "COM3", 5);
    Set("Empty", REG_SZ, "", 1);
    Set("Unterminated", REG_SZ, "ABC", 3);
    Set("Nothing", REG_SZ, "", 0);
    std::string port = Read("Port");
    EXPECT_EQ(port, "COM3");
    EXPECT_EQ(port.size(), 4u);
    EXPECT_EQ(Read("Empty"), "");
    EXPECT_EQ(Read("Unterminated"), "ABC");
    EXPECT_EQ(Read("Nothing"), "");
    EXPECT_EQ(Read("Missing"), "");
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, path_ + "\\absent", "Port"), "");
}

TEST(SystemLibrary, LoadsFromTheSystemDirectoryOnlyNeverFromTheCurrentFolder) {
    // Plant a copy of a real DLL in the current folder under a name of its own.
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    std::string source = std::string(system) + "\\version.dll";
    const char* planted = "trelvon-planted.dll";
    ASSERT_TRUE(CopyFileA(source.c_str(), planted, FALSE));
    HMODULE fromCurrent = LoadLibraryA(planted);
    EXPECT_NE(fromCurrent, nullptr); // the hole being closed
    if (fromCurrent)
        FreeLibrary(fromCurrent);
    EXPECT_EQ(LoadSystemLibrary(planted), nullptr);
    DeleteFileA(planted);

    HMODULE hid = LoadSystemLibrary("hid.dll");
    ASSERT_NE(hid, nullptr);
    char file[MAX_PATH];
    GetModuleFileNameA(hid, file, MAX_PATH);
    EXPECT_TRUE(StartsWithNoCase(file, system)) << file;
    FreeLibrary(hid);
}

} // namespace
