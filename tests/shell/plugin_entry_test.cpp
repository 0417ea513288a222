// gen_trelvon.dll loaded as the player loads it, on the simulated bus: the export, the record,
// and init, config and quit in every order the player may call them.
#include <gtest/gtest.h>

#include <fstream>

#include "engine/hid_processor.h"
#include "hid/port_test_support.h"
#include "host/host_plugin.h"
#include "shell/winamp.h"
#include "test_files.h"

namespace {

// The export directory's names of a loaded module.
std::vector<std::string> ExportNames(HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::vector<std::string> result;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        result.emplace_back(reinterpret_cast<const char*>(base + names[i]));
    return result;
}

class Plugin : public testing::Test {
protected:
    Plugin() {
        device_ = bus_.AddDevice(TSimDevice{});
        settings_ = THidProcessor().DefaultSettingsPath();
        std::ofstream(settings_, std::ios::binary)
            << "HidIndex=0\r\nMode=0\r\nAction00=C12345678FFFFFFFF0\r\n";
        threads_ = ProcessThreadCount();
        Load();
    }
    ~Plugin() override {
        library_.Reset();
        DeleteFileA(settings_.c_str());
    }
    void Load() {
        library_.Reset(LoadLibraryA(TestFile("gen_trelvon.dll").c_str()));
        ASSERT_NE(library_.Get(), nullptr);
        const auto get = reinterpret_cast<winampGetGeneralPurposePluginProc>(
            reinterpret_cast<void*>(GetProcAddress(library_.Get(), WinampPluginExportName)));
        ASSERT_NE(get, nullptr);
        header_ = get();
        header_->hwndParent = nullptr;
        header_->hDllInstance = library_.Get();
    }
    std::size_t Connections() { return bus_.Connections(device_); }
    bool ConnectionsReach(std::size_t count) {
        return PumpUntil([&] { return Connections() == count; }, 3000);
    }
    // config shows the configuration dialog, which the box catcher closes again with OK; it
    // shows no error.
    bool OnlyTheDialogShown() const {
        return boxes_.Boxes().size() == 1 && boxes_.Boxes()[0].Caption.rfind("HID Plugin", 0) == 0;
    }
    bool ClassLeft(const char* name) {
        WNDCLASSA info{};
        return GetClassInfoA(library_.Get(), name, &info) != FALSE;
    }

    TBindingReset reset_;
    TSimBus bus_;
    int device_ = 0;
    std::string settings_;
    std::size_t threads_ = 0;
    TLibraryHandle library_;
    winampGeneralPurposePlugin* header_ = nullptr;
    TMessageBoxCatcher boxes_;
};

TEST_F(Plugin, ExportsTheRecordOfVersion16WithAStableDescriptionAndTheUninstallHook) {
    EXPECT_EQ(ExportNames(library_.Get()),
              (std::vector<std::string>{WinampPluginExportName, WinampUninstallExportName}));
    EXPECT_EQ(header_->version, 16);
    EXPECT_STREQ(header_->description, "Quorivex HID Plugin v" TRELVON_VERSION);
    const char* first = header_->description;
    const auto get = reinterpret_cast<winampGetGeneralPurposePluginProc>(
        reinterpret_cast<void*>(GetProcAddress(library_.Get(), WinampPluginExportName)));
    EXPECT_EQ(get(), header_);
    EXPECT_EQ(header_->description, first);
}

TEST_F(Plugin, InitThenConfigShareOneEngineAndQuitReleasesEverything) {
    EXPECT_EQ(header_->init(), 0);
    EXPECT_TRUE(ConnectionsReach(1));
    header_->config();
    EXPECT_TRUE(OnlyTheDialogShown());
    Sleep(100);
    EXPECT_EQ(Connections(), 1u); // the same engine, no second port
    EXPECT_TRUE(ClassLeft("THidReportWindow"));

    header_->quit();
    EXPECT_TRUE(ConnectionsReach(0));
    EXPECT_FALSE(ClassLeft("THidReportWindow"));
    EXPECT_FALSE(ClassLeft("TkvTimerWindow"));
    EXPECT_EQ(GetModuleHandleA("setupapi.dll"), nullptr);
    EXPECT_EQ(GetModuleHandleA("hid.dll"), nullptr);
    header_->quit(); // twice: nothing
    EXPECT_EQ(ProcessThreadCount(), threads_);
}

TEST_F(Plugin, ConfigWithoutInitCreatesTheEngineAndQuitWithoutInitDoesNothing) {
    header_->quit();
    header_->config();
    EXPECT_TRUE(OnlyTheDialogShown());
    EXPECT_TRUE(ConnectionsReach(1));
    header_->quit();
    EXPECT_TRUE(ConnectionsReach(0));
}

TEST_F(Plugin, ABoundDeviceThatRefusesToOpenIsLeftOutAndInitStillSucceeds) {
    // Listed (the engine's list load opens it to ask), but the port's own opens are refused.
    bus_.LimitOpens(device_, 1);
    EXPECT_EQ(header_->init(), 0);
    EXPECT_EQ(Connections(), 0u);
    EXPECT_EQ(ProcessThreadCount(), threads_);

    // The dialog that could rebind the device opens, not the "not initialized" box.
    header_->config();
    EXPECT_TRUE(OnlyTheDialogShown());
    header_->quit();
    EXPECT_EQ(ProcessThreadCount(), threads_);
    EXPECT_FALSE(ClassLeft("THidReportWindow"));
    EXPECT_FALSE(ClassLeft("TkvTimerWindow"));

    bus_.LimitOpens(device_, -1);
    EXPECT_EQ(header_->init(), 0);
    EXPECT_TRUE(ConnectionsReach(1));
    header_->quit();
}

TEST_F(Plugin, InitAndQuitWhileTheDeviceStreamsLeaveNothingBehind) {
    // Held here: under Wine every load of a library leaves two handles behind, which would hide
    // what the plug-in itself leaves.
    const TLibraryHandle hid(LoadLibraryA("hid.dll")), setupapi(LoadLibraryA("setupapi.dll"));
    // A first round, so that the simulator has set up its streaming once.
    header_->init();
    bus_.StreamInput(device_, {{1}}, 1000, 10);
    Sleep(200);
    header_->quit();
    ASSERT_TRUE(ConnectionsReach(0));
    const DWORD handles = SteadyHandleCount();
    for (int round = 0; round < 5; ++round) {
        ASSERT_EQ(header_->init(), 0);
        ASSERT_TRUE(ConnectionsReach(1));
        bus_.StreamInput(device_, {{1}, {2}}, 1000, 200);
        Sleep(50);
        header_->quit();
    }
    EXPECT_TRUE(CountsSettle(threads_, handles)) << ProcessHandleCount() << " against " << handles;

    for (int round = 0; round < 3; ++round) {
        library_.Reset();
        EXPECT_EQ(GetModuleHandleA("gen_trelvon.dll"), nullptr);
        Load();
        ASSERT_EQ(header_->init(), 0);
        bus_.StreamInput(device_, {{1}, {2}}, 1000, 100);
        Sleep(30);
        header_->quit();
    }
    EXPECT_TRUE(PumpUntil([&] { return ProcessThreadCount() == threads_; }));
}

} // namespace
