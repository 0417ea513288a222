// Writes the settings fuzzer's dictionary: an entry for every kvhid.ini key of the engine's
// table, at the positions where the action list changes its rules, then the values that the
// hand-kept file names. A key added to the table reaches the fuzzer without anyone listing it.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "engine/settings_keys.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: settings_dict <values.dict> <settings.dict>\n";
        return 2;
    }
    std::ifstream values(argv[1], std::ios::binary);
    std::ofstream out(argv[2], std::ios::binary);
    const auto entry = [&](const std::string& text) { out << '"' << text << "=\"\n"; };
    // The first, the last an older version reads, the first it ignores, the last and one past it.
    constexpr int kPositions[] = {0, 31, 32, kMaxActions - 1, kMaxActions};
    for (const THidSettingsKey& key : SettingsKeys()) {
        if (!key.OfAction()) {
            entry(std::string(key.Name));
            continue;
        }
        for (const int position : kPositions)
            entry(key.NameAt(position));
        // The suffix alone, to be spliced behind an action line's name.
        const std::string suffix(key.Name.substr(std::string_view("ActionNN").size()));
        if (!suffix.empty())
            entry(suffix);
    }
    out << values.rdbuf();
    return values && out ? 0 : 1;
}
