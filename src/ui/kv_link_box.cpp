#include "ui/kv_link_box.h"

#include "framework/kv_error.h"
#include "framework/kv_module.h"
#include "framework/kv_notify_list.h"


TkvDeviceBox::TkvDeviceBox(HWND parent, int id, int x, int y, int width, int height, HFONT font) {
    handle_ = CreateWindowExA(
        0, "COMBOBOX", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, x, y,
        width, height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        kvThisModule(), nullptr);
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
    SendMessageA(handle_, CB_RESETCONTENT, 0, 0);
    if (port != nullptr) {
        TkvDeviceItems items;
        port->GetDeviceList(&items);
        for (const TkvDeviceItem& item : items) {
            const auto index =
                SendMessageA(handle_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.Text.c_str()));
            SendMessageA(handle_, CB_SETITEMDATA, index, reinterpret_cast<LPARAM>(item.Device));
        }
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
    return static_cast<int>(SendMessageA(handle_, CB_GETCURSEL, 0, 0));
}

void TkvDeviceBox::SetItemIndex(int index) {
    const auto count = SendMessageA(handle_, CB_GETCOUNT, 0, 0);
    SendMessageA(handle_, CB_SETCURSEL, index >= 0 && index < count ? index : -1, 0);
}

std::vector<std::string> TkvDeviceBox::Items() const {
    std::vector<std::string> items;
    const auto count = SendMessageA(handle_, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const auto length = SendMessageA(handle_, CB_GETLBTEXTLEN, i, 0);
        std::vector<char> buffer(static_cast<std::size_t>(length > 0 ? length : 0) + 1);
        SendMessageA(handle_, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buffer.data()));
        items.emplace_back(buffer.data());
    }
    return items;
}

void TkvDeviceBox::LinkNotify(TkvBaseIO*, std::int32_t code) {
    if (code == nfDeviceChanged)
        RefreshFromLink();
}

void TkvDeviceBox::Change() {
    if (link_ == nullptr)
        return;
    link_->SetDeviceIndex(ItemIndex());
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
        SendMessageA(handle_, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    }
}
