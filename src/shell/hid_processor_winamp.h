#pragma once
#include <windows.h>

#include <cstdint>

#include "engine/hid_processor.h"

// The engine the plug-in creates: the action engine limited to the commands the player serves,
// each carried out as a message to the player's main window.
class TWinampHidProcessor : public THidProcessor {
public:
    // All but Full Screen: its messages are the player's internal business, and nothing here
    // could tell whether they still do what they did.
    static constexpr std::uint16_t kPlayerActions = 0xF7FF;
    // In the user's local application-data folder, under HID-Plugin.
    static constexpr char kSettingsFileName[] = "kvhid.ini";
    // What unmuting gives when the player did not tell its volume before the Mute.
    static constexpr std::uint32_t kUnmutedVolume = 128;

    TWinampHidProcessor();

    // The state the last Mute set, and the volume that unmuting gives back: the player's own
    // before the Mute, or the middle volume when it had none to tell.
    bool Muted() const { return muted_; }
    std::uint32_t VolumeBeforeMute() const { return volumeBeforeMute_; }
    HWND PlayerWindow() const { return playerWindow_; }
    void SetPlayerWindow(HWND window) { playerWindow_ = window; }

    void ExecuteAction(std::uint8_t type) override;
    void ExecuteCommand(const THidCommand& command) override;

private:
    // Sends; the player answers before it returns. Only called for Full Screen (code 11).
    void ToggleFullScreen();
    void PostCommand(WPARAM command);
    void ToggleMute();

    bool muted_ = false;
    std::uint32_t volumeBeforeMute_ = kUnmutedVolume;
    HWND playerWindow_ = nullptr;
};
