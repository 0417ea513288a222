#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// Paths in this unit are UTF-8 text: on Windows they reach the wide system calls, so that a
// profile folder of any name works, whatever the ANSI code page can spell.

// Where kvhid.ini lives: the user's local application-data folder, then HID-Plugin, then
// `fileName`. Forming the path creates the HID-Plugin folder when it can; one that cannot be made
// shows as a failure when the file is written. Raises EkvError when the system names no such
// folder: the settings never go to the current folder instead. Each platform supplies its own.
std::string DefaultSettingsPath(const std::string& fileName);

// A real kvhid.ini holds a few kilobytes. A larger file is not read at all, so that a damaged one
// cannot stall the player while it starts.
inline constexpr std::size_t kSettingsFileLimit = 1024 * 1024;

// The file operations that saving and loading need, kept apart so that the text logic stays
// platform-free and tests can make any step fail.
class THidSettingsStore {
public:
    virtual ~THidSettingsStore() = default;
    // Reads the whole file; false when it is missing, unreadable or larger than
    // kSettingsFileLimit, which the store reports to the diagnostic output.
    virtual bool ReadWhole(const std::string& path, std::string& content) = 0;
    // Creates or truncates `path`, writes `content` and flushes it to the disk.
    virtual bool WriteNew(const std::string& path, std::string_view content) = 0;
    // Puts `source` in place of `target` in one step, replacing any existing `target`.
    virtual bool Replace(const std::string& source, const std::string& target) = 0;
    virtual void Remove(const std::string& path) = 0;
    // True when something exists at `path`, readable or not.
    virtual bool Exists(const std::string& path) = 0;
    // The system's text (UTF-8) for why the last failed WriteNew or Replace failed.
    virtual std::string LastErrorText() const { return {}; }
};

// A line for the debugger output about kvhid.ini: something in it is left out.
void SettingsWarning(const std::string& text);

// The store of the system the program runs on.
THidSettingsStore& PlatformSettingsStore();

// Replaces the file at `path` with `content` so that a failure at any point, or a crash, leaves
// either the old file or the new one, never a part of either. The new text goes to a temporary
// file beside it first; on failure that file is removed and false is returned.
bool WriteSettingsFile(THidSettingsStore& store, const std::string& path, std::string_view content);
