#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/kv_base_io.h"
#include "framework/kv_component.h"

// A drop-down list of the devices of a linked port, kept in step with it: picking an item sets
// the port's DeviceIndex, and every device-list or device-index change of the port refills the
// list and selects the port's device. Item k is device k, so the list is never sorted.
class TkvDeviceBox : public TkvComponent {
public:
    // Creates the combo box, always a fixed drop-down list, as child `id` of `parent`.
    TkvDeviceBox(HWND parent, int id, int x, int y, int width, int height, HFONT font);
    ~TkvDeviceBox() override;

    HWND Handle() const { return handle_; }
    TkvBaseIO* kvLink() const { return link_; }
    // Refills the items from `port` (which loads its list when it has none), selects its
    // DeviceIndex and subscribes to its notifications; a previous link is unsubscribed.
    void SetkvLink(TkvBaseIO* port);
    void RefreshFromLink() { SetkvLink(link_); }
    // Kept for forms that set it; the box itself does not read it.
    bool ResetOnChanged() const { return resetOnChanged_; }
    void SetResetOnChanged(bool value) { resetOnChanged_ = value; }
    // -1 for none. Setting it by program does not reach the port.
    int ItemIndex() const;
    void SetItemIndex(int index);
    // The port's devices, without the absent one.
    std::vector<std::string> Items() const;
    // A remembered device that is not present: listed after the port's devices by its name with
    // " (not connected)", and selected while the port has no device. Empty: no such item.
    void SetAbsentItem(std::string name);
    bool AbsentItemSelected() const;

    // The port's notifications: a changed device list or index refills the box.
    void LinkNotify(TkvBaseIO* sender, std::int32_t code);
    // The parent's CBN_SELCHANGE: the user picked an item.
    void Change();
    // WM_DEVICECHANGE handed on to the linked port; false without a link.
    bool ForwardDeviceChange(UINT message, WPARAM wParam, LPARAM lParam);

    // Runs after a user's choice has reached the port and the box has followed it.
    std::function<void(TkvDeviceBox* Sender)> OnChange;

protected:
    void Notification(TkvComponent* component, TkvOperation operation) override;

private:
    HWND handle_ = nullptr;
    TkvBaseIO* link_ = nullptr;
    bool resetOnChanged_ = false;
    std::string absentName_;
    int deviceItems_ = 0; // the port's devices, the items before the absent one
};
