#include "framework/kv_component.h"

#include <algorithm>

namespace {

void EraseOne(std::vector<TkvComponent*>& list, TkvComponent* item) {
    auto it = std::find(list.begin(), list.end(), item);
    if (it != list.end())
        list.erase(it);
}

} // namespace

TkvComponent::TkvComponent(TkvComponent* owner) : owner_(owner) {
    if (owner_ != nullptr)
        owner_->components_.push_back(this);
}

TkvComponent::~TkvComponent() {
    SendRemovalNotices();
    DestroyComponents();
    if (owner_ != nullptr)
        EraseOne(owner_->components_, this);
}

void TkvComponent::EndLoading() {
    if (!loading_)
        return;
    loading_ = false;
    Loaded();
}

void TkvComponent::FreeNotification(TkvComponent* other) {
    if (other == nullptr || other == this || destroying_ || other->destroying_)
        return;
    if (std::find(watched_.begin(), watched_.end(), other) != watched_.end())
        return;
    watched_.push_back(other);
    other->watchers_.push_back(this);
}

void TkvComponent::RemoveFreeNotification(TkvComponent* other) {
    if (other == nullptr)
        return;
    EraseOne(watched_, other);
    EraseOne(other->watchers_, this);
}

void TkvComponent::Notification(TkvComponent*, TkvOperation) {}

void TkvComponent::SendRemovalNotices() {
    destroying_ = true;
    // A watcher may unlink or destroy other components while it is told, so each one is taken
    // off the list before it is called.
    while (!watchers_.empty()) {
        TkvComponent* watcher = watchers_.back();
        watchers_.pop_back();
        EraseOne(watcher->watched_, this);
        watcher->Notification(this, TkvOperation::opRemove);
    }
    while (!watched_.empty()) {
        TkvComponent* other = watched_.back();
        watched_.pop_back();
        EraseOne(other->watchers_, this);
    }
}

void TkvComponent::DestroyComponents() {
    while (!components_.empty()) {
        TkvComponent* child = components_.back();
        components_.pop_back();
        child->owner_ = nullptr;
        delete child;
    }
}
