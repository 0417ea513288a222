#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "framework/kv_error.h"
#include "framework/kv_notify_list.h"

namespace {

// A listener whose reaction to a notification each test chooses.
struct TListener {
    int id = 0;
    std::vector<int>* calls = nullptr;
    std::function<void()> react;

    void Changed(TkvBaseIO* sender, std::int32_t code) {
        calls->push_back(id * 100 + code);
        lastSender = sender;
        if (react)
            react();
    }
    TkvNotifyEvent Event() { return MakeNotifyEvent<&TListener::Changed>(this); }
    TkvBaseIO* lastSender = nullptr;
};

class TkvNotifyListTest : public ::testing::Test {
protected:
    std::vector<int> calls;
    TListener a{1, &calls, {}}, b{2, &calls, {}}, c{3, &calls, {}};
    std::unique_ptr<TkvNotifyList> list = std::make_unique<TkvNotifyList>();
    TkvBaseIO* const port = reinterpret_cast<TkvBaseIO*>(0x1234);
};

TEST_F(TkvNotifyListTest, CallbacksAreFoundByFunctionAndObject) {
    EXPECT_EQ(a.Event(), a.Event());
    EXPECT_NE(a.Event(), b.Event());
    EXPECT_EQ(list->Add(a.Event()), 0);
    EXPECT_EQ(list->Add(b.Event()), 1);
    EXPECT_EQ(list->IndexOf(b.Event()), 1);
    EXPECT_EQ(list->IndexOf(c.Event()), -1);
    EXPECT_EQ(list->Get(1), b.Event());
    list->Delete(0);
    EXPECT_EQ(list->IndexOf(b.Event()), 0);
    EXPECT_THROW(list->Get(1), EkvError);
    EXPECT_THROW(list->Delete(-1), EkvError);
    list->Clear();
    EXPECT_EQ(list->Count(), 0);
}

TEST_F(TkvNotifyListTest, BroadcastCallsEveryEntryInOrderAndSkipsEmptySlots) {
    list->Add(b.Event());
    list->Add(TkvNotifyEvent{});
    list->Add(a.Event());
    list->Broadcast(port, nfDeviceChanged);
    EXPECT_EQ(calls, (std::vector<int>{203, 103}));
    EXPECT_EQ(a.lastSender, port);
}

TEST_F(TkvNotifyListTest, EntryRemovedDuringBroadcastIsNotCalled) {
    a.react = [&] { list->Delete(list->IndexOf(b.Event())); };
    list->Add(a.Event());
    list->Add(b.Event());
    list->Add(c.Event());
    list->Broadcast(port, 1);
    EXPECT_EQ(calls, (std::vector<int>{101, 301}));
}

TEST_F(TkvNotifyListTest, EntryAddedDuringBroadcastWaitsForTheNextOne) {
    a.react = [&] {
        if (list->IndexOf(c.Event()) < 0)
            list->Add(c.Event());
    };
    list->Add(a.Event());
    list->Broadcast(port, 1);
    EXPECT_EQ(calls, (std::vector<int>{101}));
    list->Broadcast(port, 2);
    EXPECT_EQ(calls, (std::vector<int>{101, 102, 302}));
}

TEST_F(TkvNotifyListTest, CallbackMayRemoveItselfClearOrDestroyTheList) {
    a.react = [&] { list->Delete(list->IndexOf(a.Event())); };
    b.react = [&] { list->Clear(); };
    list->Add(a.Event());
    list->Add(b.Event());
    list->Add(c.Event());
    list->Broadcast(port, 1);
    EXPECT_EQ(calls, (std::vector<int>{101, 201}));

    calls.clear();
    a.react = [&] { list.reset(); };
    list->Add(a.Event());
    list->Add(b.Event());
    list->Broadcast(port, 2);
    EXPECT_EQ(calls, (std::vector<int>{102}));
}

} // namespace
