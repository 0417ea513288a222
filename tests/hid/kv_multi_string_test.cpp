#include "hid/kv_multi_string.h"

#include <gtest/gtest.h>

namespace {

std::string Join(const std::string& bytes, const std::string& separator = ";") {
    return JoinMultiString(bytes.data(), bytes.size(), separator);
}

TEST(JoinMultiString, JoinsEntriesWithTheSeparator) {
    EXPECT_EQ(Join(std::string("A\0B\0\0", 5)), "A;B");
    EXPECT_EQ(Join(std::string("USB\\ROOT\0HID\\X&1\0\0", 19), ", "), "USB\\ROOT, HID\\X&1");
    EXPECT_EQ(Join(std::string("one\0\0", 5)), "one");
}

TEST(JoinMultiString, EmptyListsGiveTheEmptyText) {
    EXPECT_EQ(JoinMultiString(nullptr, 10, ";"), "");
    EXPECT_EQ(Join(std::string("\0", 1)), "");
    EXPECT_EQ(Join(std::string("\0\0", 2)), "");
    EXPECT_EQ(Join(std::string("\0\0\0\0\0\0", 6)), "");
}

TEST(JoinMultiString, SlackAfterTheListAddsNoSeparators) {
    // Size queries of the configuration manager answer an upper bound.
    EXPECT_EQ(Join(std::string("A\0B\0\0\0\0\0\0\0", 10)), "A;B");
}

TEST(JoinMultiString, NeverReadsTheLastCharacterOrBeyond) {
    // An unterminated list stops one short of its size; the last byte is the terminator slot.
    EXPECT_EQ(Join(std::string("A\0BC", 4)), "A;B");
    EXPECT_EQ(Join(std::string("ABCD", 4)), "ABC");
}

} // namespace
