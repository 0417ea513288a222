#pragma once
// The fixture of the end-to-end tests: gen_trelvon.dll in the player stand-in, driven by scripts
// on a simulated HID bus of its own.
#include "framework/kv_error.h"
#include "host/host_log.h"
#include "host/host_script.h"
#include "host/host_sim_driver.h"
#include "host/player_window.h"
#include "support/win_test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

// The test program's folder, with a trailing backslash.
inline std::string TestFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

inline std::string PluginFile() {
    return TestFolder() + "gen_trelvon.dll";
}

class EndToEnd : public testing::Test {
protected:
    EndToEnd() { DeleteFileA(HostSettingsPath().c_str()); }
    ~EndToEnd() override {
        End();
        DeleteFileA(HostSettingsPath().c_str());
    }

    // Runs a script on a fresh bus; the plug-in stays loaded until End or the next Run.
    void Run(const std::string& script) {
        End();
        bus_ = std::make_unique<THostSimDriver>();
        session_ = std::make_unique<THostSession>(player_, log_, PluginFile(), bus_.get());
        try {
            session_->Run(ParseHostScript(script));
        } catch (const EkvError& error) {
            ADD_FAILURE() << error.what();
        }
    }
    // Unloads the plug-in, then takes the devices away.
    void End() {
        session_.reset();
        bus_.reset();
    }
    std::size_t Connections(int device) { return bus_->Bus().Connections(bus_->BusId(device)); }

    THostLog log_;
    TPlayerWindow player_{log_};
    std::unique_ptr<THostSimDriver> bus_;
    std::unique_ptr<THostSession> session_;
};
