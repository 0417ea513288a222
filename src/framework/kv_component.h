#pragma once
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

enum class TkvOperation { opRemove };

// The base of every component: ownership, a name, the loading state and removal notices.
//
// A component created with an owner belongs to it: the owner destroys its components, last
// inserted first. A component destroyed by other means (a unique_ptr, the stack) leaves its
// owner's list first, so an owner never destroys a component twice.
//
// Links between components are plain pointers. The linking side calls FreeNotification(linked)
// and is then told by Notification(linked, opRemove) when the linked component goes, so that it
// can drop its pointer. Both sides forget each other on destruction; no pointer dangles.
class TkvComponent {
public:
    explicit TkvComponent(TkvComponent* owner = nullptr);
    virtual ~TkvComponent();
    TkvComponent(const TkvComponent&) = delete;
    TkvComponent& operator=(const TkvComponent&) = delete;

    // Creates a component owned by `owner`; the owner destroys it.
    template <class T, class... Args> static T* CreateOwned(TkvComponent& owner, Args&&... args) {
        return new T(&owner, std::forward<Args>(args)...);
    }

    TkvComponent* Owner() const { return owner_; }
    std::size_t ComponentCount() const { return components_.size(); }
    TkvComponent* Component(std::size_t index) const { return components_.at(index); }

    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

    // While loading, stored properties are being applied; EndLoading runs Loaded() once.
    bool Loading() const { return loading_; }
    void BeginLoading() { loading_ = true; }
    void EndLoading();
    // There is no form designer in the plug-in.
    bool Designing() const { return false; }

    // Asks to be told by Notification() when `other` is destroyed.
    void FreeNotification(TkvComponent* other);
    // Withdraws that request.
    void RemoveFreeNotification(TkvComponent* other);

protected:
    virtual void Loaded() {}
    virtual void Notification(TkvComponent* component, TkvOperation operation);

    // A derived destructor whose watchers call back into the derived part sends the removal
    // notices itself, before that part is gone; the base destructor then has nothing left to send.
    void SendRemovalNotices();
    void DestroyComponents();

private:
    TkvComponent* owner_ = nullptr;
    std::vector<TkvComponent*> components_;
    std::string name_;
    bool loading_ = false;
    bool destroying_ = false;
    std::vector<TkvComponent*> watchers_; // told when this component goes
    std::vector<TkvComponent*> watched_;  // this component asked to be told about these
};
