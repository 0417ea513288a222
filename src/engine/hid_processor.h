#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/hid_action.h"
#include "engine/hid_burst.h"
#include "engine/settings_keys.h"

class THidProcessor;

// The engine's system side: one handler per device in use with its port and burst timer, the
// repeat timer, and the window that carries reports from the monitoring threads to the UI thread.
// Only Windows has one (engine/hid_dispatcher.h). Elsewhere the engine serves no devices, and the
// matching, burst and repeat rules below run on their own, which is how they are tested.
class THidDispatcher {
public:
    virtual ~THidDispatcher() = default;
    // One handler per distinct device that an action uses and that exists, in order of first use.
    virtual void OpenDevices() = 0;
    // Every port closed and its monitoring thread ended; reports still on their way are dropped.
    virtual void CloseDevices() = 0;
    // Off without a value; otherwise one tick after that many milliseconds (at least 1), also
    // when it was running.
    virtual void SetRepeatTimer(std::optional<std::uint32_t> dueInMs) = 0;
    // Milliseconds, wrapping: the clock of the timers and of the reports' stamps.
    virtual std::uint32_t Now() const = 0;
    // Devices that actions use and that exist but refused to open at the last OpenDevices, with
    // the system's reason; the other devices are served all the same.
    virtual std::map<std::int32_t, std::string> UnopenedDevices() const { return {}; }
};

// The platform's dispatcher for `engine`, or none where there are no devices to serve.
std::unique_ptr<THidDispatcher> CreateHidDispatcher(THidProcessor& engine);

// Reports of one device less than this apart form one burst, reduced to one code.
inline constexpr std::uint32_t kBurstSilenceMs = 300;

// What a save did: true when the file was written; otherwise the file it was meant for and the
// system's reason, both UTF-8.
struct THidSaveResult {
    bool Saved = false;
    std::string Path;
    std::string Reason;
    explicit operator bool() const { return Saved; }
};

// An ordered list of actions that owns them. The engine is one; the configuration dialog edits
// another, a copy, so that Cancel leaves the engine as it was.
class THidActionList {
public:
    THidActionList() = default;
    THidActionList(const THidActionList&) = delete;
    THidActionList& operator=(const THidActionList&) = delete;
    virtual ~THidActionList() = default;

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
    // The first action of `type` without a command; when there is none, a new unassigned one is
    // appended.
    THidAction& ActionForType(std::uint8_t type);
    // This list becomes a copy of `source`: new actions with its types, codes and devices. An
    // action held here hands its hold to the same binding in the copy.
    void AssignActions(const THidActionList& source);
    // Actions of this copy that know only their position take the device that the same action
    // (type, codes and position) of `source` has been given since, by a press: the engine goes
    // on serving while the dialog edits its copy.
    void KeepIdentifiedDevices(const THidActionList& source);
    // Finds every remembered device again in `present`, the devices listed now (PlaceDevices).
    void MatchDevices(const std::vector<THidDeviceIdentity>& present);

protected:
    const THidAction* FirstActionOfType(std::uint8_t type) const;
    // What MatchDevices places: every action's device.
    virtual std::vector<THidDevicePlace> DevicePlaces();
    std::vector<std::unique_ptr<THidAction>> actions_;
    // The devices the last MatchDevices placed on, numbered: what a position names.
    std::vector<THidDeviceIdentity> present_;
};

// The action engine: the ordered list of actions it owns, the device chosen in the configuration
// dialog, the Simple/Extended mode and their settings file. List order is the order of kvhid.ini
// and the order in which actions are tried against a report burst.
class THidProcessor : public THidActionList {
public:
    THidProcessor();
    ~THidProcessor() override;

    // Bit n set: this engine accepts action type n.
    std::uint16_t SupportedActions() const { return supportedActions_; }
    bool SupportsAction(std::uint8_t type) const;

    std::int32_t DeviceIndex() const { return deviceIndex_; }
    void SetDeviceIndex(std::int32_t value) { deviceIndex_ = value; }
    // The device chosen in the configuration dialog as it is remembered, and whether it is away;
    // DeviceIndex() is its position (the last one known while it is away).
    const THidDeviceIdentity& ChosenDevice() const { return chosenDevice_; }
    void SetChosenDevice(const THidDeviceIdentity& value) { chosenDevice_ = value; }
    bool ChosenDeviceAway() const { return chosenDeviceAway_; }
    bool ExtendedMode() const { return extendedMode_; }
    void SetExtendedMode(bool value) { extendedMode_ = value; }
    // On: a burst that equals a learned one ends at once instead of after the silence.
    bool QuickResponse() const { return quickResponse_; }
    void SetQuickResponse(bool value) { quickResponse_ = value; }
    const std::string& SettingsFileName() const { return settingsFileName_; }
    void SetSettingsFileName(std::string value) { settingsFileName_ = std::move(value); }

    // The full path (UTF-8) of SettingsFileName() in the user's settings folder, which it may
    // create. Raises EkvError when the system names no such folder.
    std::string DefaultSettingsPath() const;
    // An empty or blank name means DefaultSettingsPath(). Loading first destroys every action;
    // failures are swallowed, and the result only tells whether the file was read.
    bool LoadSettings(const std::string& fileName = {});
    // Never raises; the engine's state stays as it is, and so does the old file on failure. A
    // file that existed but could not be loaded is kept as `<name>.bak` before it is replaced,
    // and the save fails when that cannot be done.
    THidSaveResult SaveSettings(const std::string& fileName = {});
    // The content of kvhid.ini without the file (ParseSettings, FormatSettings): read from any
    // bytes, its actions appended to the list, and written as saved.
    void ReadSettingsText(std::string_view content);
    std::string SettingsText() const;

    // Carries out the command of an action type; the engine itself has no command to run.
    virtual void ExecuteAction(std::uint8_t type);
    // Carries out a command beyond the types, for an action that has one; here it is what an
    // Unknown action would run.
    virtual void ExecuteCommand(const THidCommand& command);

    // --- dispatching ---
    THidDispatcher* Dispatcher() const { return dispatcher_.get(); }
    // Replaces the platform's dispatcher: tests serve the engine with one on a clock of their own.
    void SetDispatcher(std::unique_ptr<THidDispatcher> value) { dispatcher_ = std::move(value); }
    // A device that refuses to open is left out and named in UnopenedDevices().
    void OpenDevices();
    void CloseDevices();
    void ReopenDevices();
    std::map<std::int32_t, std::string> UnopenedDevices() const;
    // The action a burst code from `device` stands for: the first in list order that matches,
    // and in Simple mode only among the first actions of their type, or of their command.
    THidAction* FindAction(std::uint32_t code, std::int32_t device);
    // What a completed burst does: carries out the matching action, and for a repeating action
    // with a release code toggles between held (repeating) and released. A matching action that
    // knows only its position learns the device there (IdentifyDevice).
    void CompleteBurst(std::uint32_t code, std::int32_t device);
    // The same for a burst whose bytes may be known. An action that matches and lacks the bytes
    // of that burst keeps them. A burst that matches nothing but is a repeating action's press
    // burst followed by its release burst is a tap: the command runs twice and nothing repeats.
    void CompleteBurst(const THidBurst& burst, std::int32_t device);
    // True when the running burst of `device` can end now, because waiting for more reports
    // cannot change which action it matches: QuickResponse() is on, every live action of the
    // device knows the bytes of the burst it awaits, the burst equals one of them, and no other
    // awaited burst is longer and begins with it.
    bool CompletesAtOnce(const THidBurst& burst, std::int32_t device) const;
    // Runs every held repeating action whose repeat is due, each on its own schedule, and arms
    // the repeat timer for the next one due; a hold repeats no more once kLongestHoldMs have
    // passed since its press, but stays held until its release.
    void RepeatTick();
    // A device that went away (unplugged) can send no release burst: its held actions are let go
    // so that the player's volume does not run on for half a minute.
    void ReleaseDevice(std::int32_t device);
    // True while a held action has a repeat to come and the timer is armed for it.
    bool Repeating() const { return repeating_; }
    // The dispatcher's clock, 0 without one.
    std::uint32_t Now() const;

protected:
    void SetSupportedActions(std::uint16_t value) { supportedActions_ = value; }
    // The actions' devices and the chosen device.
    std::vector<THidDevicePlace> DevicePlaces() override;

private:
    std::string ResolveSettingsPath(const std::string& fileName) const;
    // The first action in list order that a burst of `device` could match and that passes
    // `test`: in Simple mode only the first action of each type is served.
    template <class TTest> THidAction* FirstLiveAction(std::int32_t device, TTest&& test) const;
    void RunAction(THidAction* action);
    // A burst from `device` completed `action`. When the action knows only its position, that
    // burst is the evidence of which device the position means: the action takes its identity,
    // and so do the other bindings that know only the same position, the chosen device among
    // them. From then on they follow that device wherever it is listed, and wait while it is away.
    void IdentifyDevice(const THidAction& action, std::int32_t device);
    void CompleteTap(const THidBurst& burst, std::int32_t device);
    // Arms the repeat timer for the earliest repeat due, or stops it when none is.
    void ScheduleRepeat();
    void StopRepeat();

    std::uint16_t supportedActions_ = kAllHidActions;
    std::int32_t deviceIndex_ = -1;
    THidDeviceIdentity chosenDevice_;
    bool chosenDeviceAway_ = false;
    bool extendedMode_ = false;
    bool quickResponse_ = true;
    std::string settingsFileName_ = "kvhid.ini";
    // The file the last load found but could not read (locked, damaged, too large): the user's
    // bindings may still be in it, so it is not overwritten unseen.
    std::string unreadSettingsPath_;
    bool repeating_ = false;
    // Declared last so that it goes first: the dispatcher closes its devices before the actions
    // it serves are destroyed.
    std::unique_ptr<THidDispatcher> dispatcher_;
};
