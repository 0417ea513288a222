#pragma once
// Driving the learning dialog through the simulated bus, as a user with a remote would.
#include <windows.h>

#include <chrono>
#include <cstddef>
#include <string>

#include <gtest/gtest.h>

#include "sim/sim_bus.h"
#include "support/win_test_support.h"
#include "ui/ui_driver.h"
#include "ui/ui_ids.h"

// What the learning dialog asks for once a repeating action's press was heard, and once the
// first press of a button was.
inline const std::string kReleasePrompt = "Please RELEASE button on remote control now!";
inline const std::string kAgainPrompt = "Press the same button again";

// The learning dialog of `caption` once it listens: shown, with `connections` ports open to
// `device` on the bus. Null, with the reason as a failure, when either does not happen in time.
inline HWND WaitForLearning(const TSimBus& bus, const std::string& caption, int device,
                            std::size_t connections = 1) {
    const HWND learning = WaitForDialog(caption);
    if (learning == nullptr) {
        ADD_FAILURE() << "no learning dialog \"" << caption << "\"";
        return nullptr;
    }
    if (!bus.WaitForConnections(device, connections, std::chrono::milliseconds(3000))) {
        ADD_FAILURE() << "\"" << caption << "\" does not listen on device " << device;
        return nullptr;
    }
    return learning;
}

// True once the learning dialog asks for `prompt`.
inline bool WaitForPrompt(HWND learning, const std::string& prompt, DWORD timeoutMs = 3000) {
    return PumpUntil([&] { return ItemText(learning, idActionMessage) == prompt; }, timeoutMs);
}

// A button learned as the dialog asks: its press report, and for a repeating action its release
// report after the prompt, twice; then the dialog closes.
inline void LearnButton(TSimBus& bus, HWND learning, int device, const TSimReport& press,
                        const TSimReport* release = nullptr) {
    for (const bool first : {true, false}) {
        bus.SendInput(device, press);
        if (release != nullptr) {
            ASSERT_TRUE(WaitForPrompt(learning, kReleasePrompt));
            bus.SendInput(device, *release);
        }
        if (first) {
            ASSERT_TRUE(WaitForPrompt(learning, kAgainPrompt));
        }
    }
    ASSERT_TRUE(WaitGone(learning));
}
