#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/device_identity.h"
#include "engine/hid_action.h"

// kvhid.ini keeps Action00 to Action255. Older versions read the first 32 and ignore the rest,
// so a longer list stays readable both ways.
inline constexpr int kMaxActions = 256;

// What kvhid.ini keeps of the engine besides its actions.
struct THidFileSettings {
    std::int32_t DeviceIndex = 0;
    THidDeviceIdentity ChosenDevice;
    bool ExtendedMode = false;
    bool QuickResponse = true;
};

// How a key of the file itself is read and written. Read gets the value without surrounding
// blanks, empty when the key is missing; Write gives the value, or none to leave the key out.
struct THidFileKeyRules {
    void (*Read)(std::string_view value, THidFileSettings& settings);
    std::optional<std::string> (*Write)(const THidFileSettings& settings);
};

// How a key of one action is read and written; `key` names it in warnings. Read returns false to
// leave the whole action out, which only the action line does.
struct THidActionKeyRules {
    bool (*Read)(std::string_view value, std::string_view key, THidAction& action);
    std::optional<std::string> (*Write)(const THidAction& action);
};

// One key of kvhid.ini. Older versions read HidIndex, Mode and the action lines only, and ignore
// every other key, so each new setting gets a key of its own and is written only when it says
// more than its default: a file without it reads as before in every version.
struct THidSettingsKey {
    // As the file spells it; in an action's key "NN" stands for the action's position.
    std::string_view Name;
    // The feature that added it; "always" for what every version reads.
    std::string_view Since;
    // When it is written.
    std::string_view Written;
    std::variant<THidFileKeyRules, THidActionKeyRules> Rules;

    bool OfAction() const { return std::holds_alternative<THidActionKeyRules>(Rules); }
    // The name for the action at `position`: two digits at least, no leading zero above 9.
    std::string NameAt(int position) const;
};

// Every key, in the order the file is written and read.
std::span<const THidSettingsKey> SettingsKeys();

// What a kvhid.ini text holds: the file's settings, and its actions in the order of their
// positions, leaving out actions of types not in `supportedActions` (bit n: type n). Reads any
// bytes; what is unreadable reads as its default.
struct THidSettingsContent {
    THidFileSettings File;
    std::vector<std::unique_ptr<THidAction>> Actions;
};
THidSettingsContent ParseSettings(std::string_view text, std::uint16_t supportedActions);

// The text of kvhid.ini for these settings and the first kMaxActions actions.
std::string FormatSettings(const THidFileSettings& file,
                           std::span<const std::unique_ptr<THidAction>> actions);
// The lines of one action at `position`, as the whole text holds them.
std::string FormatActionSettings(int position, const THidAction& action);
