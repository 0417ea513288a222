#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/hid_action.h"

class TMessageBoxCatcher;
class THostLog;
class THostPlugin;
class TPlayerWindow;

// A scripted session of the player stand-in: one step a line, words separated by blanks, '#'
// starts a comment line.
//
//   device <name> [<key>=<value> ...]   a device on the simulated bus from the start, listed
//                                       after the ones before it. Keys: name, manufacturer,
//                                       serial (underscores read as blanks), vid, pid, version,
//                                       usagepage, usage (hexadecimal), length (input report
//                                       bytes, 8 unless given)
//   insert <name> <position> [<key>=<value> ...]
//                                       a device plugged in now, keys as for `device`, listed at
//                                       that position among the present devices (0 first; beyond
//                                       the end last); its arrival is announced
//   button <device> <button> <report>... [release <report>...]
//                                       what a button sends, each report in hexadecimal; the bus
//                                       pads shorter reports with zeros to the device's length
//   ini <text>                          a line of kvhid.ini; the lines so far are written before
//                                       the next load, so a later load reads what the plug-in
//                                       saved meanwhile
//   bind <device> <button> <action>     an ActionNN line of kvhid.ini (numbered after the ones
//                                       before it) for the device at its position in the
//                                       plug-in's device list at this point of the script (its
//                                       index among the present devices in bus order), binding
//                                       the button to the action named as the
//                                       plug-in names it ("Play/Pause", "Volume Up", "Rate 3"),
//                                       a command beyond the types with its Command key, with codes
//                                       computed from the button's reports: for a repeating
//                                       action the press code covers the press reports and the
//                                       release code the release reports (none without them);
//                                       for any other action the press code covers what a press
//                                       sends, press and release reports together; and the
//                                       bytes of those bursts, as learning keeps them
//   bindcode <device> <button> <action> the same without the bytes, as older versions wrote it
//   spacing <ms>                        time between the reports of one press, hold or release
//                                       (20 unless changed)
//   load [<file>]                       load the plug-in (default: the one the host was given)
//   config                              call the plug-in's config
//   quit                                call quit and free the plug-in
//   uninstall                           remove the plug-in from the player's preferences:
//                                       call its uninstall hook; when that allows it, quit,
//                                       free the plug-in and delete its DLL (unless it is gone
//                                       already)
//   answer <ok|cancel|yes|no>           from here on, every message box is logged with its text
//                                       and answered at once with that button
//   playstate <0|1|3>                   the play-state query's answer
//   fullscreen <0|1>                    the full-screen query's answer
//   volume <0..255>                     the player's volume, which the volume query answers
//                                       until the next volume is set (128 at first)
//   wait <ms>                           serve messages for that long
//   press <device> <button>             send the press reports, then the release reports
//   hold <device> <button>              send the press reports
//   release <device> <button>           send the release reports
//   unplug <device> / plug <device>     take a device off the bus and back, announced as the
//                                       system does
//   move <device>                       the device is unplugged and comes back on another port:
//                                       a new path (and a new instance id unless it has a serial
//                                       number), its place in the bus order kept
//   suspend                             the system sleeps: the suspend broadcast, then every
//                                       present device goes away without device notifications
//   resume [samepaths]                  the devices come back as new device nodes with their
//                                       arrivals announced, or with `samepaths` at their old
//                                       paths without device notifications; then the resume
//                                       broadcast
//                                       Steps that change the bus serve messages until their
//                                       announcements are delivered (10 s at most).
//   expect <words>                      the next command must read <words>, within
//                                       ExpectTimeout (2 s unless changed)
//   silence <ms>                        serve messages for that long; no command may come
using THostReport = std::vector<std::uint8_t>;

struct THostStep {
    enum class TKind {
        Device,
        Ini,
        Load,
        Config,
        Quit,
        Uninstall,
        PlayState,
        FullScreen,
        Volume,
        Wait,
        Press,
        Hold,
        Release,
        Unplug,
        Plug,
        Insert,
        Move,
        Suspend,
        Resume,
        Expect,
        Spacing,
        Silence,
        Answer
    };
    TKind Kind;
    int Line;
    std::string Text;                  // ini line, file to load, expected words, device name,
                                       // the answer's button
    std::vector<std::string> Settings; // a device's key=value words
    int Number = 0;                    // play state, full-screen flag, volume, milliseconds,
                                       // device, resume as new device nodes (1) or not (0), the
                                       // answer's button id
    std::vector<THostReport> Reports;  // what press, hold or release sends
    std::string Button;                // the button that press, hold or release works
    std::size_t Position = 0;          // where an inserted device is listed
};

// Raises EkvError naming the line of the first mistake.
std::vector<THostStep> ParseHostScript(const std::string& text);

// The simulated HID bus as far as a script drives it; devices are numbered in the order the
// script declares them.
class THostDeviceDriver {
public:
    virtual ~THostDeviceDriver() = default;
    virtual void AddDevice(int device, const std::vector<std::string>& settings) = 0;
    virtual void SendReport(int device, const THostReport& report) = 0;
    virtual void SetPresent(int device, bool present) = 0;
    virtual void InsertDevice(int device, std::size_t position,
                              const std::vector<std::string>& settings) = 0;
    virtual void MoveDevice(int device) = 0;
    virtual void Suspend() = 0;
    virtual void Resume(bool newNodes) = 0;
    // Waits at most `milliseconds` for the announcements of the changes so far, serving the
    // messages sent to this thread's windows meanwhile; tells whether all are delivered.
    virtual bool WaitForAnnouncements(DWORD milliseconds) = 0;
};

// Runs scripts against one player window; owns the plug-in a script loads.
class THostSession {
public:
    // driver may be null when no script step needs devices.
    THostSession(TPlayerWindow& player, THostLog& log, std::string pluginFileName,
                 THostDeviceDriver* driver);
    ~THostSession();

    // Raises EkvError, naming the line, when a step fails or an expectation is not met.
    void Run(const std::vector<THostStep>& steps);
    void Run(const THostStep& step);
    THostPlugin* Plugin() const { return plugin_.get(); }
    DWORD ExpectTimeout() const { return expectTimeout_; }
    void SetExpectTimeout(DWORD milliseconds) { expectTimeout_ = milliseconds; }
    // Calls quit and frees the plug-in, if one is loaded.
    void Unload();

private:
    void Load(const std::string& fileName);
    void Uninstall();
    void Expect(const std::string& words);
    void ExpectSilence(DWORD milliseconds);
    // Serves messages until the plug-in's windows have had the bus's announcements.
    void AwaitAnnouncements();
    THostDeviceDriver& Driver();

    TPlayerWindow& player_;
    THostLog& log_;
    std::string pluginFileName_;
    THostDeviceDriver* driver_;
    std::unique_ptr<THostPlugin> plugin_;
    std::unique_ptr<TMessageBoxCatcher> boxAnswer_; // from the first `answer` step on
    std::string boxAnswerName_;                     // the button it answers with, in words
    std::vector<std::string> settingsLines_;
    bool settingsPending_ = false; // lines came since the file was last written
    DWORD expectTimeout_ = 2000;
    DWORD spacing_ = 20;
    std::size_t expected_; // commands before this one are past expecting
};

// Where the plug-in reads kvhid.ini: the local application-data folder, then HID-Plugin.
std::string HostSettingsPath();

// The words of a `bind` step's action, as the plug-in names action types; -1 for none.
int HostActionType(const std::string& name);
// The same for the commands beyond the types ("Stop after this track", "Rate 3", "Menu command
// 40001"), which bind as an Unknown action with its ActionNNCommand line.
std::optional<THidCommand> HostCommand(const std::string& name);
