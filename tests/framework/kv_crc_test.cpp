#include <gtest/gtest.h>

#include <string_view>

#include "framework/kv_crc.h"

namespace {

std::uint32_t CodeOf(std::string_view bytes) {
    std::uint32_t code = kCrcStart;
    for (unsigned char b : bytes)
        code = kvcrc(code, b);
    return code;
}

// Codes are the complement of zlib's crc32 over the same bytes.
TEST(KvCrcTest, MatchesComplementOfStandardCrc32) {
    EXPECT_EQ(CodeOf("abc"), 0xCADBBE3Du);
    EXPECT_EQ(CodeOf("123456789"), 0x340BC6D9u);
    EXPECT_EQ(CodeOf(""), kCrcStart);
}

} // namespace
