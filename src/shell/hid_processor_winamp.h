#pragma once
#include <windows.h>

#include <cstdint>

#include "engine/hid_processor.h"

// The engine the plug-in creates: the action engine limited to the commands the player serves,
// each carried out as a message to the player's main window.
class TWinampHidProcessor : public THidProcessor {
public:
    // Full Screen, Eject, Shuffle and Repeat have no player command behind them.
    static constexpr std::uint16_t kPlayerActions = 0x27FF;
    // In the user's local application-data folder, under HID-Plugin.
    static constexpr char kSettingsFileName[] = "kvhid.ini";

    TWinampHidProcessor();

    // The state the last Mute set; the player's own volume is never read back.
    bool Muted() const { return muted_; }
    HWND PlayerWindow() const { return playerWindow_; }
    void SetPlayerWindow(HWND window) { playerWindow_ = window; }

    void ExecuteAction(std::uint8_t type) override;

private:
    // Sends; the player answers before it returns. Only called for Full Screen (code 11).
    void ToggleFullScreen();
    void PostCommand(WPARAM command);

    bool muted_ = false;
    HWND playerWindow_ = nullptr;
};
