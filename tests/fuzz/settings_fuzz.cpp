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
    Check(engine.Count() <= kMaxActions);
    const std::string saved = engine.SettingsText();
    THidProcessor reloaded;
    reloaded.ReadSettingsText(saved);
    Check(reloaded.SettingsText() == saved);

    // Found again among devices listed now, or away: still written in a form that reads the same.
    THidDeviceIdentity listed;
    listed.Path = "\\\\?\\hid#a";
    listed.VendorID = 0x1209;
    listed.UsagePage = 0x0C;
    reloaded.MatchDevices({listed, listed});
    const std::string matched = reloaded.SettingsText();
    THidProcessor matchedAgain;
    matchedAgain.ReadSettingsText(matched);
    Check(matchedAgain.SettingsText() == matched);
    return 0;
}
