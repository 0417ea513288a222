#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/hid_action.h"

// The report dispatcher (device handlers with their ports, the burst and repeat timers) needs the
// system and is built only for Windows. The engine holds it through this incomplete type so that
// this header, and everything platform-free that includes it, never sees a system header.
class THidDispatcher;

// The action engine: the ordered list of actions it owns, the device chosen in the configuration
// dialog, the Simple/Extended mode and their settings file. List order is the order of kvhid.ini
// and the order in which actions are tried against a report burst.
class THidProcessor {
public:
    THidProcessor();
    THidProcessor(const THidProcessor&) = delete;
    THidProcessor& operator=(const THidProcessor&) = delete;
    virtual ~THidProcessor();

    int Count() const { return static_cast<int>(actions_.size()); }
    // Throws EkvError for a position outside 0..Count()-1.
    THidAction& Actions(int index);
    const THidAction& Actions(int index) const;
    // Appends; the list owns the action from then on.
    THidAction& Add(std::unique_ptr<THidAction> action);
    // Takes the action out of the list and hands it to the caller, who destroys it by letting
    // the result go.
    std::unique_ptr<THidAction> Delete(int index);
    // Destroys every action.
    void Clear();
    // The first action of `type`; when there is none, a new unassigned one is appended.
    THidAction& ActionForType(std::uint8_t type);

    // Bit n set: this engine accepts action type n.
    std::uint16_t SupportedActions() const { return supportedActions_; }
    bool SupportsAction(std::uint8_t type) const;

    std::int32_t DeviceIndex() const { return deviceIndex_; }
    void SetDeviceIndex(std::int32_t value) { deviceIndex_ = value; }
    bool ExtendedMode() const { return extendedMode_; }
    void SetExtendedMode(bool value) { extendedMode_ = value; }
    const std::string& SettingsFileName() const { return settingsFileName_; }
    void SetSettingsFileName(std::string value) { settingsFileName_ = std::move(value); }

    // The full path of SettingsFileName() in the user's settings folder (which it may create).
    std::string DefaultSettingsPath() const;
    // An empty or blank name means DefaultSettingsPath(). Loading first destroys every action;
    // failures are swallowed, and the results only tell whether the file was read or written.
    bool LoadSettings(const std::string& fileName = {});
    bool SaveSettings(const std::string& fileName = {});
    // The content of kvhid.ini without the file: read from any bytes, and written as saved.
    void ReadSettingsText(std::string_view content);
    std::string SettingsText() const;

    // Carries out the command of an action type; the engine itself has no command to run.
    virtual void ExecuteAction(std::uint8_t type);

protected:
    void SetSupportedActions(std::uint16_t value) { supportedActions_ = value; }

private:
    std::string ResolveSettingsPath(const std::string& fileName) const;

    std::vector<std::unique_ptr<THidAction>> actions_;
    std::uint16_t supportedActions_ = kAllHidActions;
    std::int32_t deviceIndex_ = -1;
    bool extendedMode_ = false;
    std::string settingsFileName_ = "kvhid.ini";
    // Declared last so that it goes first: the dispatcher closes its devices before the actions
    // it serves are destroyed. The unit that defines THidDispatcher supplies the deleter.
    std::unique_ptr<THidDispatcher, void (*)(THidDispatcher*)> dispatcher_{nullptr, nullptr};
};
