#pragma once
#include <string>
#include <string_view>

// Where kvhid.ini lives: the user's local application-data folder, then HID-Plugin, then
// `fileName`. Forming the path creates the HID-Plugin folder; when that fails the result is the
// bare `fileName`, resolved against the current folder. Each platform supplies its own.
std::string DefaultSettingsPath(const std::string& fileName);

// The file operations that saving and loading need, kept apart so that the text logic stays
// platform-free and tests can make any step fail. Paths are ANSI: on Windows they go straight to
// the ANSI system calls, so user folders with non-ASCII names keep working.
class THidSettingsStore {
public:
    virtual ~THidSettingsStore() = default;
    // Reads the whole file; false when it is missing or unreadable.
    virtual bool ReadWhole(const std::string& path, std::string& content) = 0;
    // Creates or truncates `path`, writes `content` and flushes it to the disk.
    virtual bool WriteNew(const std::string& path, std::string_view content) = 0;
    // Puts `source` in place of `target` in one step, replacing any existing `target`.
    virtual bool Replace(const std::string& source, const std::string& target) = 0;
    virtual void Remove(const std::string& path) = 0;
};

// The store of the system the program runs on.
THidSettingsStore& PlatformSettingsStore();

// Replaces the file at `path` with `content` so that a failure at any point, or a crash, leaves
// either the old file or the new one, never a part of either. The new text goes to a temporary
// file beside it first; on failure that file is removed and false is returned.
bool WriteSettingsFile(THidSettingsStore& store, const std::string& path, std::string_view content);
