// CONTRIBUTING's table of kvhid.ini keys against the engine's own: the same keys in the same
// order, each with the feature that added it and the rule for when it is written. The prose
// column stays the writer's. Native only: it reads the source tree.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine/settings_keys.h"

namespace {

TEST(SettingsKeysTest, ContributingDescribesEveryKeyAsTheTableHasIt) {
    std::ifstream file(TRELVON_CONTRIBUTING);
    ASSERT_TRUE(file) << TRELVON_CONTRIBUTING;
    std::vector<std::string> documented;
    bool inSection = false;
    for (std::string line; std::getline(file, line);) {
        if (line.starts_with("## ")) {
            inSection = line == "## kvhid.ini keys";
        } else if (inSection && line.starts_with("| `")) {
            // The key, since and written cells, as "`key` | since | written".
            std::size_t end = 1;
            for (int cell = 0; cell < 3 && end != std::string::npos; ++cell)
                end = line.find(" |", end + 1);
            documented.push_back(line.substr(2, end - 2));
        }
    }
    std::vector<std::string> expected;
    std::string rows;
    for (const THidSettingsKey& key : SettingsKeys()) {
        expected.push_back("`" + std::string(key.Name) + "` | " + std::string(key.Since) + " | " +
                           std::string(key.Written));
        rows += "| " + expected.back() + " | ... |\n";
    }
    EXPECT_EQ(documented, expected) << "CONTRIBUTING.md wants these rows:\n" << rows;
}

} // namespace
