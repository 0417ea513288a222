#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/kv_component.h"

namespace {

// Records its destruction and every removal notice it gets into a shared journal.
class TProbe : public TkvComponent {
public:
    TProbe(TkvComponent* owner, std::string name, std::vector<std::string>& journal)
        : TkvComponent(owner), journal_(journal) {
        SetName(std::move(name));
    }
    ~TProbe() override { journal_.push_back("destroy " + Name()); }

    int loadedCalls = 0;
    std::function<void(TkvComponent*)> onRemoved;

protected:
    void Loaded() override { ++loadedCalls; }
    void Notification(TkvComponent* component, TkvOperation operation) override {
        ASSERT_EQ(operation, TkvOperation::opRemove);
        journal_.push_back(Name() + " told " + component->Name());
        if (onRemoved)
            onRemoved(component);
    }

private:
    std::vector<std::string>& journal_;
};

TEST(TkvComponentTest, OwnerDestroysItsComponentsLastFirst) {
    std::vector<std::string> journal;
    auto owner = std::make_unique<TProbe>(nullptr, "owner", journal);
    auto* a = TkvComponent::CreateOwned<TProbe>(*owner, "a", journal);
    TkvComponent::CreateOwned<TProbe>(*owner, "b", journal);
    EXPECT_EQ(a->Owner(), owner.get());
    ASSERT_EQ(owner->ComponentCount(), 2u);
    EXPECT_EQ(owner->Component(0), a);

    owner.reset();
    EXPECT_EQ(journal, (std::vector<std::string>{"destroy owner", "destroy b", "destroy a"}));
}

TEST(TkvComponentTest, ComponentDestroyedOtherwiseLeavesItsOwner) {
    std::vector<std::string> journal;
    TProbe owner(nullptr, "owner", journal);
    {
        TProbe local(&owner, "local", journal);
        EXPECT_EQ(owner.ComponentCount(), 1u);
    }
    EXPECT_EQ(owner.ComponentCount(), 0u); // the owner will not destroy it a second time
}

TEST(TkvComponentTest, WatcherIsToldOnceWhenWatchedComponentGoes) {
    std::vector<std::string> journal;
    TProbe watcher(nullptr, "watcher", journal);
    auto linked = std::make_unique<TProbe>(nullptr, "linked", journal);
    watcher.FreeNotification(linked.get());
    watcher.FreeNotification(linked.get());
    watcher.FreeNotification(&watcher); // asking about oneself means nothing
    linked.reset();
    EXPECT_EQ(journal, (std::vector<std::string>{"destroy linked", "watcher told linked"}));
}

TEST(TkvComponentTest, WithdrawnOrDestroyedWatcherIsNotTold) {
    std::vector<std::string> journal;
    auto linked = std::make_unique<TProbe>(nullptr, "linked", journal);
    {
        TProbe goneFirst(nullptr, "goneFirst", journal);
        goneFirst.FreeNotification(linked.get());
    }
    TProbe withdrawn(nullptr, "withdrawn", journal);
    withdrawn.FreeNotification(linked.get());
    withdrawn.RemoveFreeNotification(linked.get());
    linked.reset();
    EXPECT_EQ(journal, (std::vector<std::string>{"destroy goneFirst", "destroy linked"}));
}

TEST(TkvComponentTest, OwnedComponentTellsItsWatchersWhenTheOwnerGoes) {
    std::vector<std::string> journal;
    TProbe watcher(nullptr, "watcher", journal);
    auto owner = std::make_unique<TProbe>(nullptr, "owner", journal);
    auto* child = TkvComponent::CreateOwned<TProbe>(*owner, "child", journal);
    watcher.FreeNotification(child);
    owner.reset();
    EXPECT_EQ(journal,
              (std::vector<std::string>{"destroy owner", "destroy child", "watcher told child"}));
}

TEST(TkvComponentTest, WatcherMayDestroyAnotherWatchedComponentWhileTold) {
    std::vector<std::string> journal;
    TProbe watcher(nullptr, "watcher", journal);
    auto first = std::make_unique<TProbe>(nullptr, "first", journal);
    auto second = std::make_unique<TProbe>(nullptr, "second", journal);
    watcher.FreeNotification(first.get());
    watcher.FreeNotification(second.get());
    second->FreeNotification(first.get());
    watcher.onRemoved = [&, firstAddress = first.get()](TkvComponent* gone) {
        if (gone == firstAddress)
            second.reset();
    };
    first.reset();
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "watcher told second"), 1);
}

TEST(TkvComponentTest, LoadedRunsOnceWhenLoadingEnds) {
    std::vector<std::string> journal;
    TProbe probe(nullptr, "probe", journal);
    EXPECT_FALSE(probe.Loading());
    probe.EndLoading();
    EXPECT_EQ(probe.loadedCalls, 0);
    probe.BeginLoading();
    EXPECT_TRUE(probe.Loading());
    probe.EndLoading();
    probe.EndLoading();
    EXPECT_FALSE(probe.Loading());
    EXPECT_EQ(probe.loadedCalls, 1);
    EXPECT_FALSE(probe.Designing());
}

} // namespace
