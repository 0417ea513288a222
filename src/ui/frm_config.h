#pragma once
#include <windows.h>
#include <commctrl.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/hid_processor.h"
#include "framework/kv_report_queue.h"
#include "hid/kv_hid.h"
#include "ui/kv_controls.h"
#include "ui/kv_dialog.h"
#include "ui/kv_link_box.h"

// The plug-in's settings dialog. It edits a copy of the engine's actions on a Simple page (six
// fixed commands) or an Extended page (a free list); only OK gives the engine the actions, the
// device choice and the mode, saves kvhid.ini and reopens the engine's devices. A hidden
// HID page, revealed by double-clicking the About page's title, shows the devices' capabilities
// and live reports through the dialog's own port.
class TfmConfig : public TkvDialog {
public:
    explicit TfmConfig(THidProcessor& engine);
    ~TfmConfig() override;

    enum TPage { pgActions, pgActionsExt, pgHid, pgAbout, kPageCount };

    THidProcessor& Engine;
    // The device numbering of the whole dialog: an action's DeviceIndex is a position in its list.
    TkvHid& kvHid1() { return *kvHid1_; }

protected:
    void FormCreate() override;
    void FormShow() override;
    void FormClose(INT_PTR result) override;
    void Command(int id, int code, HWND control) override;
    LRESULT Notify(const NMHDR& header) override;
    bool Message(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void DpiChanged() override;
    HWND FirstControl() override;
    bool KeyDown(HWND control, WPARAM key) override;
    bool SwitchPage(bool back) override;
    void HandleError(std::exception_ptr error) override;

private:
    // Layout of each page; the controls lie over the tab control's display area.
    void CreateSimplePage();
    void CreateExtendedPage();
    void CreateHidPage();
    void CreateAboutPage();
    // A control shown with `page`; kPageCount for one that every page shows.
    HWND AddPageControl(TPage page, const TkvControlArgs& args);
    // A static text that opens a web page when clicked; Style and Class are set here.
    HWND AddLink(TPage page, TkvControlArgs args);

    // The lists' columns at the dialog's DPI, the last one filling its list.
    void SizeColumns();
    // Tabs of the visible pages in page order; the active page's controls shown.
    void UpdateTabs();
    void ShowPage(TPage page);
    void ShowMode(bool extended);

    // The Simple command whose button has control id `id`, or -1.
    static int SimpleCommandOfButton(int id);
    void RefreshSimpleLabels();
    void LearnSimpleCommand(int command);
    bool LearnAction(THidAction& action);
    void RefreshActionList();
    LRESULT DrawActionItem(const NMLVCUSTOMDRAW& draw);
    int SelectedRow() const;
    void EditSelectedAction();
    void EditAction(THidAction* existing);
    void DeleteAction();
    void DrawColoredButton(const DRAWITEMSTRUCT& item, COLORREF color);

    // The HID page.
    // The user chose a device, in the box or by Autodetect: the chosen device from now on.
    void kvDeviceBox1Change();
    // The page and the Simple labels follow the box's device, which nobody chose anew.
    void ShowBoxDevice();
    void BuildHidTree();
    void ShowNodeInfo();
    void ShowGeneralInfo(const TkvHidDevice& device);
    template <class TRecord> void ShowCapsInfo(const TRecord& record);
    void AddInfoRow(const std::string& property, const std::string& value);
    void CheckBox1Click();
    // A fresh queue for kvHid1's reports, so that whatever an earlier opening of it left
    // behind is dropped. Only while no monitoring thread of kvHid1 runs.
    void RenewPortReports();
    void TakePortReports(WPARAM session);
    void ReceivePortReport(const TkvReport& report);
    void Autodetect();
    void DeviceChange(UINT message, WPARAM wParam, LPARAM lParam);
    // Finds the edited actions and the chosen device again in kvHid1's list, which has just
    // been (re)loaded, and selects the chosen device.
    void MatchDevices();

    // The wake-up of kvHid1's report queue.
    static constexpr UINT kPortMessage = WM_APP + 20;

    // What the dialog edits; the engine's own list stays as it was until OK.
    THidActionList actions_;
    // Devices the engine could not open when the dialog was shown, with the system's reason.
    std::map<std::int32_t, std::string> unopened_;
    // The chosen device as the dialog edits it: remembered, its position, and whether it is away.
    THidDeviceIdentity chosen_;
    std::int32_t chosenIndex_ = -1;
    bool chosenAway_ = false;
    std::unique_ptr<TkvHid> kvHid1_;
    std::unique_ptr<TkvDeviceBox> kvDeviceBox1_;
    HIMAGELIST img16_ = nullptr;
    std::array<std::vector<HWND>, kPageCount> pageControls_;
    std::array<bool, kPageCount> pageVisible_{true, true, true, true};
    TPage activePage_ = pgActions;
    // kvHid1's reports on their way to this dialog; a new one, with the next session number as
    // its tag, each time the user opens or closes the port.
    std::unique_ptr<TkvReportQueue> portReports_;
    std::uint32_t session_ = 0;
    bool created_ = false;
    // What the tab control paints its page area with: plain or themed, the page's labels match.
    COLORREF pageColor_ = CLR_INVALID;
};

// config's dialog: TfmConfig over `engine`, modal, owned by the player's window `owner`.
void RunConfigDialog(THidProcessor& engine, HWND owner);
