#include <gtest/gtest.h>

#include <cctype>
#include <memory>

#include "framework/kv_data_processor.h"
#include "framework/kv_error.h"
#include "support/recording_log.h"
#include "support/win_test_support.h"
#include "test_port.h"

namespace {

using Line = TkvRecordingLog::Line;

class TProbeProcessor : public TkvCustomDataProcessor {
public:
    using TkvCustomDataProcessor::TkvCustomDataProcessor;
    bool handles = false;
    int timeouts = 0;
    std::string seen;

    void DoReceive(const void* buffer, std::uint32_t count, bool& handled) override {
        seen.append(static_cast<const char*>(buffer), count);
        handled = handled || handles;
        TkvCustomDataProcessor::DoReceive(buffer, count, handled);
    }
    void DoTimeout(bool& flag) override {
        ++timeouts;
        flag = true;
    }
};

struct TNotified {
    void Changed(TkvBaseIO*, std::int32_t) {}
    TkvNotifyEvent Event() { return MakeNotifyEvent<&TNotified::Changed>(this); }
};

TEST(TkvCustomDataProcessorTest, LinkedProcessorAnswersMediumChangesInItsLog) {
    TTestPort port;
    TkvRecordingLog log;
    TProbeProcessor processor;
    processor.SetLog(&log);
    processor.SetLogPrefix("dp: ");
    port.SetDataProcessor(&processor);
    port.SetDataProcessor(&processor);
    EXPECT_EQ(processor.Port(), &port);
    for (std::int32_t code : {nfMediumClosed, nfMediumOpened, nfDeviceChanged})
        port.Notify(code);
    EXPECT_EQ(log.Texts(), (std::vector<std::string>{"dp: Medium Closed", "dp: Medium Opened"}));
    EXPECT_TRUE(port.DoTimeout());

    port.SetDataProcessor(nullptr);
    EXPECT_EQ(processor.Port(), nullptr);
    port.Notify(nfMediumClosed);
    EXPECT_EQ(log.Count(), 2u);
}

TEST(TkvCustomDataProcessorTest, ChainSeesDataFirstAndHandledDataSkipsOnlyTheTerminal) {
    const HWND control =
        CreateWindowExA(0, "EDIT", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    TTestPort port;
    port.SetTerminal(control);
    TProbeProcessor first, second;
    first.SetNextProcessor(&first);
    EXPECT_EQ(first.NextProcessor(), nullptr);
    port.SetDataProcessor(&first);
    first.SetNextProcessor(&second);
    EXPECT_EQ(second.Port(), &port);
    std::uint32_t delivered = 0;
    port.OnAfterReceive = [&](TkvBaseIO*, const void*, std::uint32_t count) { delivered = count; };

    port.DoReceive("ab", 2);
    EXPECT_EQ(port.terminalWrites, 1);
    second.handles = true;
    port.DoReceive("cde", 3);
    EXPECT_EQ(port.terminalWrites, 1);
    EXPECT_EQ(delivered, 3u);
    EXPECT_EQ(second.seen, "abcde");
    port.SetTerminal(nullptr);
    DestroyWindow(control);
}

TEST(TkvCustomDataProcessorTest, SendsGoThroughTheHookThenThePort) {
    TTestPort port;
    TkvRecordingLog log;
    TProbeProcessor processor;
    processor.SetLog(&log);
    port.SetDataProcessor(&processor);
    int hookCalls = 0;
    bool handle = false;
    processor.OnDataSend = [&](TkvCustomDataProcessor*, void* data, std::int32_t count,
                               bool isString, bool& handled) {
        ++hookCalls;
        auto* bytes = static_cast<char*>(data);
        for (std::int32_t i = 0; i < count; ++i)
            bytes[i] = static_cast<char>(std::toupper(bytes[i]));
        if (isString && bytes[0] == 'T')
            throw EkvError("hook fault");
        handled = handle;
    };
    char data[] = {'a', 'b', 'c'};
    processor.DoDataSend(data, 0);
    processor.DoStringSend("");
    EXPECT_EQ(hookCalls, 0);
    EXPECT_EQ(log.Count(), 0u);

    processor.DoDataSend(data, 3);
    const std::string text = "xyz";
    processor.DoStringSend(text);
    EXPECT_NO_THROW(processor.DoStringSend("throws"));
    EXPECT_EQ(port.sent, "ABCXYZ");
    EXPECT_EQ(text, "xyz");

    handle = true;
    processor.SetTimeout(0);
    processor.DoDataSend(data, 2);
    processor.DoStringSend("kept");
    EXPECT_EQ(port.sent, "ABCXYZ");
    EXPECT_TRUE(processor.Timer().Enabled()); // a handled send starts the reply timeout
    EXPECT_EQ(log.Texts(),
              (std::vector<std::string>{"DoDataSend: 3 bytes", "DoDataSend: 2 bytes"}));
}

TEST(TkvCustomDataProcessorTest, TimeoutFiresOnceAndZeroStopsItKeepingTheInterval) {
    TProbeProcessor processor;
    processor.SetTimeout(20);
    EXPECT_EQ(processor.Timer().Interval(), 20u);
    ASSERT_TRUE(PumpUntil([&] { return processor.timeouts == 1; }));
    EXPECT_FALSE(processor.Timer().Enabled());
    processor.SetTimeout(0);
    EXPECT_EQ(processor.Timer().Interval(), 20u);
    EXPECT_FALSE(processor.Timer().Enabled());
}

TEST(TkvCustomDataProcessorTest, DoErrorLogsWithoutPrefixAndRaisesUnlessCleared) {
    TkvRecordingLog log;
    TProbeProcessor processor;
    processor.SetLog(&log);
    processor.SetLogPrefix("dp: ");
    EXPECT_THROW(processor.DoError(1, 2, "bad reply"), EkvError);
    processor.OnFatalError = [](TkvComponent*, std::uint32_t, std::uint32_t, const std::string&,
                                bool& fatal) { fatal = false; };
    EXPECT_NO_THROW(processor.DoError(1, 2, "bad reply"));
    EXPECT_EQ(log.Lines(), (std::vector<Line>(2, {0, "Fatal Error: 1, 2, bad reply", false})));
}

TEST(TkvCustomDataProcessorTest, LinksAreClearedWhicheverSideGoesFirst) {
    TTestPort port;
    TNotified other;
    auto processor = std::make_unique<TProbeProcessor>();
    auto next = std::make_unique<TProbeProcessor>();
    auto log = std::make_unique<TkvRecordingLog>();
    port.AddNotify(other.Event());
    port.SetDataProcessor(processor.get());
    processor->SetNextProcessor(next.get());
    processor->SetLog(log.get());
    next.reset();
    log.reset();
    EXPECT_EQ(processor->NextProcessor(), nullptr);
    EXPECT_EQ(processor->Log(), nullptr);
    processor.reset();
    EXPECT_EQ(port.DataProcessor(), nullptr);
    TNotified fresh;
    EXPECT_EQ(port.AddNotify(fresh.Event()), 1); // only `other` was left

    auto shortLivedPort = std::make_unique<TTestPort>();
    TProbeProcessor survivor;
    shortLivedPort->SetDataProcessor(&survivor);
    shortLivedPort.reset();
    EXPECT_EQ(survivor.Port(), nullptr);
}

} // namespace
