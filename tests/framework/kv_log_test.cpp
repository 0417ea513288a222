#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "framework/kv_error.h"
#include "framework/kv_log.h"
#include "support/recording_log.h"

namespace {

TEST(KvFormat, FillsPlaceholdersInOrder) {
    EXPECT_EQ(kvFormat("Fatal Error: %u, %u, %s", {16u, 2u, "Active device is not selected"}),
              "Fatal Error: 16, 2, Active device is not selected");
    EXPECT_EQ(kvFormat("device has opened %s R:%d W:%d in:%u out:%u",
                       {"\\\\?\\hid#1", true, false, 9u, 0u}),
              "device has opened \\\\?\\hid#1 R:1 W:0 in:9 out:0");
    EXPECT_EQ(kvFormat("%d %u", {-1, -1}), "-1 4294967295");
    EXPECT_EQ(kvFormat("%d", {4294967295u}), "-1");
    EXPECT_EQ(kvFormat("%s|%s", {7u, -7}), "7|-7");
    EXPECT_EQ(kvFormat("100%% done", {}), "100% done");
}

TEST(KvFormat, ValuesAreNeverReadAsFormat) {
    EXPECT_EQ(kvFormat("name %s", {"%s%n%x%%"}), "name %s%n%x%%");
    EXPECT_EQ(kvFormat("%s and %u", {"only"}), "only and %u");
    EXPECT_EQ(kvFormat("%x %5d %", {1u}), "%x %5d %");
    EXPECT_EQ(kvFormatLiteral("50% of %s"), "50%% of %%s");
    EXPECT_EQ(kvFormat(kvFormatLiteral("50% of %s") + "%u", {3u}), "50% of %s3");
}

TEST(TkvCustomLogFileTest, DoErrorRaisesUnlessTheCallbackClearsFatal) {
    TkvRecordingLog log;
    try {
        log.DoError(16, 5, "Access denied.");
        FAIL() << "no error raised";
    } catch (const EkvError& e) {
        EXPECT_STREQ(e.what(), "Access denied.");
    }

    TkvComponent* sender = nullptr;
    std::uint32_t seen[2] = {};
    log.OnFatalError = [&](TkvComponent* s, std::uint32_t code, std::uint32_t subCode,
                           const std::string&, bool& fatal) {
        sender = s;
        seen[0] = code;
        seen[1] = subCode;
        fatal = false;
    };
    EXPECT_NO_THROW(log.DoError(16, 5, "Access denied."));
    EXPECT_EQ(sender, &log);
    EXPECT_EQ(seen[0], 16u);
    EXPECT_EQ(seen[1], 5u);
    EXPECT_EQ(log.Count(), 0u); // the log reports nothing about its own errors
}

TEST(KvRecordingLog, KeepsLevelsBlanksAndFormattedLines) {
    TkvRecordingLog log;
    log.WriteLine(1, "close device.");
    log.WriteBlank();
    log.WriteFmt(2, "Do input data [%u] bytes ", {9u});
    using Line = TkvRecordingLog::Line;
    EXPECT_EQ(log.Lines(), (std::vector<Line>{{1, "close device.", false},
                                              {0, "", true},
                                              {2, "Do input data [9] bytes ", false}}));
}

TEST(KvRecordingLog, KeepsLinesWholeWhenThreadsWriteAtOnce) {
    TkvRecordingLog log;
    std::vector<std::thread> writers;
    for (unsigned t = 0; t < 4; ++t)
        writers.emplace_back([&log, t] {
            for (unsigned i = 0; i < 500; ++i)
                log.WriteFmt(2, "writer %u line %u", {t, i});
        });
    for (auto& writer : writers)
        writer.join();
    const auto texts = log.Texts();
    ASSERT_EQ(texts.size(), 2000u);
    for (unsigned t = 0; t < 4; ++t)
        EXPECT_EQ(std::count(texts.begin(), texts.end(), kvFormat("writer %u line %u", {t, 499u})),
                  1);
}

} // namespace
