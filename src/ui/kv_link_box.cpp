#include "ui/kv_link_box.h"

#include "framework/kv_error.h"
#include "framework/kv_module.h"
#include "framework/kv_notify_list.h"
#include "ui/kv_controls.h"

TkvDeviceBox::TkvDeviceBox(HWND parent, int id, int x, int y, int width, int height, HFONT font) {
    handle_ = CreateWindowExA(
        0, "COMBOBOX", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, x, y,
        width, height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), kvThisModule(),
        nullptr);
    if (handle_ == nullptr)
        throw EkvError("Cannot create the device box");
    SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
}

TkvDeviceBox::~TkvDeviceBox() {
    if (link_ != nullptr) {
        link_->RemoveNotify(MakeNotifyEvent<&TkvDeviceBox::LinkNotify>(this));
        RemoveFreeNotification(link_);
    }
    // The window goes with its parent dialog.
}

void TkvDeviceBox::SetkvLink(TkvBaseIO* port) {
    const TkvComboBox box(handle_);
    box.Clear();
    deviceItems_ = 0;
    if (port != nullptr) {
        TkvDeviceItems items;
        port->GetDeviceList(&items);
        for (const TkvDeviceItem& item : items)
            box.SetItemData(box.Add(item.Text), reinterpret_cast<LPARAM>(item.Device));
        deviceItems_ = box.Count();
        if (!absentName_.empty())
            box.Add(absentName_ + " (not connected)");
        SetItemIndex(port->DeviceIndex());
        port->AddNotify(MakeNotifyEvent<&TkvDeviceBox::LinkNotify>(this));
        FreeNotification(port);
    }
    if (link_ != nullptr && link_ != port) {
        link_->RemoveNotify(MakeNotifyEvent<&TkvDeviceBox::LinkNotify>(this));
        RemoveFreeNotification(link_);
    }
    link_ = port;
}

int TkvDeviceBox::ItemIndex() const {
    return TkvComboBox(handle_).Selection();
}

void TkvDeviceBox::SetItemIndex(int index) {
    const TkvComboBox box(handle_);
    if (index >= 0 && index < deviceItems_)
        box.Select(index);
    else
        box.Select(absentName_.empty() ? -1 : deviceItems_);
}

void TkvDeviceBox::SetAbsentItem(std::string name) {
    absentName_ = std::move(name);
    RefreshFromLink();
}

bool TkvDeviceBox::AbsentItemSelected() const {
    return !absentName_.empty() && ItemIndex() == deviceItems_;
}

std::vector<std::string> TkvDeviceBox::Items() const {
    const TkvComboBox box(handle_);
    std::vector<std::string> items;
    for (int i = 0; i < deviceItems_; ++i)
        items.push_back(box.ItemText(i));
    return items;
}

void TkvDeviceBox::LinkNotify(TkvBaseIO*, std::int32_t code) {
    if (code == nfDeviceChanged)
        RefreshFromLink();
}

void TkvDeviceBox::Change() {
    if (link_ == nullptr)
        return;
    link_->SetDeviceIndex(AbsentItemSelected() ? -1 : ItemIndex());
    if (OnChange)
        OnChange(this);
}

bool TkvDeviceBox::ForwardDeviceChange(UINT message, WPARAM wParam, LPARAM lParam) {
    return link_ != nullptr && link_->HandleDeviceChange(message, wParam, lParam);
}

void TkvDeviceBox::Notification(TkvComponent* component, TkvOperation operation) {
    TkvComponent::Notification(component, operation);
    if (operation == TkvOperation::opRemove && component == link_) {
        link_ = nullptr;
        TkvComboBox(handle_).Select(-1);
    }
}
