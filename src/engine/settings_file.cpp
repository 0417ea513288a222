#include "engine/settings_file.h"

bool WriteSettingsFile(THidSettingsStore& store, const std::string& path,
                       std::string_view content) {
    // Same folder as the target, so that the final step is a rename within one volume.
    const std::string temporary = path + ".tmp";
    if (store.WriteNew(temporary, content) && store.Replace(temporary, path))
        return true;
    store.Remove(temporary);
    return false;
}
