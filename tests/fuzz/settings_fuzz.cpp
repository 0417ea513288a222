// Feeds any bytes to the action text form and to the kvhid.ini reader. Besides crashes and
// undefined behaviour it checks that whatever was read is written back in a form that reads the
// same again, so that a save after a load never changes what the user configured.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/hid_processor.h"

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    THidAction action, again;
    action.FromText(text);
    const std::string actionText = action.ToText();
    Check(actionText.size() >= 18 && actionText.size() <= 28);
    again.FromText(actionText);
    Check(again.ToText() == actionText);

    THidProcessor engine;
    engine.ReadSettingsText(text);
    Check(engine.Count() <= 32);
    const std::string saved = engine.SettingsText();
    THidProcessor reloaded;
    reloaded.ReadSettingsText(saved);
    Check(reloaded.SettingsText() == saved);
    return 0;
}
