// The configuration dialog's HID page: the device choice, its identity and capability records,
// live reports of the dialog's own port, and Autodetect.
#include "ui/frm_config.h"

#include <string>

#include "engine/hid_dispatcher.h"
#include "framework/kv_hex.h"
#include "ui/frm_hid_action.h"
#include "ui/ui_ids.h"

namespace {

// The capability groups of the HID tree: root text, child text, kind, and whether the records
// are button records.
struct TCapsGroup {
    const char* Root;
    const char* Child;
    std::int32_t Kind;
    bool Buttons;
};
constexpr TCapsGroup kCapsGroups[] = {
    {"Input Buttons", "Input Button ", hckInputButton, true},
    {"Input Values", "Input Values ", hckInputValue, false},
    {"Output Buttons", "Output Button ", hckOutputButton, true},
    {"Output Values", "Output Values ", hckOutputValue, false},
    {"Feature Buttons", "Feature Button ", hckFeatureButton, true},
    {"Feature Values", "Feature Values ", hckFeatureValue, false}};

// Marks the tree's "General HID Info" node, which belongs to no group.
constexpr LPARAM kGeneralNode = -1;
// The report log shows the newest lines; about 60 characters each, well within the edit's
// default 32K limit, which would otherwise stop the log after some 600 reports.
constexpr int kShownReportLines = 300;

std::string TrueFalse(bool value) {
    return value ? "True" : "False";
}

std::string UsagePageText(unsigned page) {
    return kvHex(page, 4) + " (" + UsagePageName(static_cast<std::uint16_t>(page)) + ")";
}

} // namespace

void TfmConfig::CreateHidPage() {
    AddPageControl(pgHid, {.Class = "STATIC",
                           .Text = "Active HID device:",
                           .Style = SS_LEFT,
                           .Bounds = {16, 40, 106, 13},
                           .Id = idHidLabel});
    kvDeviceBox1_ = std::make_unique<TkvDeviceBox>(Handle(), idDeviceBox, 0, 0, 0, 0, nullptr);
    Arrange(kvDeviceBox1_->Handle(), {124, 36, 248, 200});
    pageControls_[pgHid].push_back(kvDeviceBox1_->Handle());
    kvDeviceBox1_->SetResetOnChanged(false);
    kvDeviceBox1_->SetkvLink(kvHid1_.get());
    kvDeviceBox1_->OnChange = [this](TkvDeviceBox*) { kvDeviceBox1Change(); };
    AddPageControl(pgHid, {.Class = "BUTTON",
                           .Text = "Auto&detect",
                           .Style = WS_TABSTOP,
                           .Bounds = {380, 35, 84, 23},
                           .Id = idAutodetect});
    AddPageControl(pgHid, {.Class = WC_TREEVIEWA,
                           .Style = WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT |
                                    TVS_SHOWSELALWAYS,
                           .Bounds = {16, 66, 121, 81},
                           .Id = idHidTree,
                           .ExStyle = WS_EX_CLIENTEDGE});
    const TkvListView info(
        AddPageControl(pgHid, {.Class = WC_LISTVIEWA,
                               .Style = WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_NOSORTHEADER,
                               .Bounds = {144, 66, 320, 81},
                               .Id = idHidInfo,
                               .ExStyle = WS_EX_CLIENTEDGE}));
    info.SetExtendedStyle(LVS_EX_FULLROWSELECT);
    info.AddColumn(0, "Property", 0);
    info.AddColumn(1, "Value", 0);
    // Check boxes ask their parent for a background: the page's, not the dialog's grey.
    SetControlColors(AddPageControl(pgHid, {.Class = "BUTTON",
                                            .Text = "Open selected HID device and show HID reports",
                                            .Style = WS_TABSTOP | BS_AUTOCHECKBOX,
                                            .Bounds = {16, 152, 300, 17},
                                            .Id = idHidOpen}),
                     GetSysColor(COLOR_BTNTEXT), pageColor_);
    AddPageControl(pgHid,
                   {.Class = "EDIT",
                    .Style = WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                    .Bounds = {16, 172, 448, 62},
                    .Id = idHidReports,
                    .ExStyle = WS_EX_CLIENTEDGE});
}

void TfmConfig::kvDeviceBox1Change() {
    // A device present was chosen: it is remembered from now on. Otherwise the choice stays,
    // a device that is away or a position beyond the list (as an older kvhid.ini may hold).
    if (kvHid1_->CurrentDevice() != nullptr) {
        chosenIndex_ = kvHid1_->DeviceIndex();
        chosen_ = PresentDevices(*kvHid1_).at(static_cast<std::size_t>(chosenIndex_));
        chosenAway_ = false;
    }
    ShowBoxDevice();
}

void TfmConfig::ShowBoxDevice() {
    BuildHidTree();
    RefreshSimpleLabels();
}

void TfmConfig::BuildHidTree() {
    const TkvTreeView tree(Control(idHidTree));
    tree.Clear();
    if (const TkvHidDevice* device = kvHid1_->CurrentDevice()) {
        tree.Add(TVI_ROOT, "General HID Info", kGeneralNode);
        for (int group = 0; group < 6; ++group) {
            const int count = device->CapsCount(kCapsGroups[group].Kind);
            if (count <= 0)
                continue;
            const HTREEITEM root = tree.Add(TVI_ROOT, kCapsGroups[group].Root, group);
            for (int n = 0; n < count; ++n)
                tree.Add(root, kCapsGroups[group].Child + std::to_string(n), n);
        }
    }
    if (const HTREEITEM first = tree.First())
        tree.Select(first);
    ShowNodeInfo();
}

void TfmConfig::ShowNodeInfo() {
    const TkvTreeView tree(Control(idHidTree));
    TkvListView(Control(idHidInfo)).Clear();
    const HTREEITEM selected = tree.Selection();
    const TkvHidDevice* device = kvHid1_->CurrentDevice();
    if (selected == nullptr || device == nullptr)
        return;
    if (selected == tree.First())
        ShowGeneralInfo(*device);
    const HTREEITEM parent = tree.Parent(selected);
    if (parent == nullptr)
        return;
    const TCapsGroup& group = kCapsGroups[tree.ItemData(parent)];
    const auto record = static_cast<std::int32_t>(tree.ItemData(selected));
    if (group.Buttons)
        ShowCapsInfo(device->ButtonCaps(record, group.Kind));
    else
        ShowCapsInfo(device->ValueCaps(record, group.Kind));
}

void TfmConfig::ShowGeneralInfo(const TkvHidDevice& device) {
    AddInfoRow("Friendly Name", device.FriendlyName);
    AddInfoRow("Description", device.Description);
    AddInfoRow("Manufacturer", device.Manufacturer);
    AddInfoRow("Service", device.Service);
    AddInfoRow("VendorID", kvHex(device.VendorID(), 4));
    AddInfoRow("ProductID", kvHex(device.ProductID(), 4));
    AddInfoRow("Ver", std::to_string(device.VersionNumber()) + " [" +
                          kvHex(device.VersionNumber(), 4) + "h]");
    AddInfoRow("Usage Page", UsagePageText(device.UsagePage()));
    if (device.WindowsOwned())
        AddInfoRow("Status", "Used by Windows as a keyboard or mouse: no program can read it");
    if (kvHid1_->Active())
        AddInfoRow("R/W modes:",
                   TrueFalse(kvHid1_->CanRead()) + " / " + TrueFalse(kvHid1_->CanWrite()));
    if (const auto failed = unopened_.find(kvHid1_->DeviceIndex()); failed != unopened_.end())
        AddInfoRow("Status", "Present, but the plug-in could not open it: " + failed->second);
}

template <class TRecord> void TfmConfig::ShowCapsInfo(const TRecord& record) {
    AddInfoRow("Usage Page", UsagePageText(record.UsagePage));
    AddInfoRow("Report ID", kvHex(record.ReportID, 2));
    AddInfoRow("Bit Field", kvHex(record.BitField, 4));
    AddInfoRow("Is Range", TrueFalse(record.IsRange));
    AddInfoRow("Is Designator Range", TrueFalse(record.IsDesignatorRange));
    const auto pair = [](unsigned low, unsigned high) {
        return std::to_string(low) + " / " + std::to_string(high);
    };
    if (record.IsRange) {
        const auto& range = record.Range;
        AddInfoRow("Usage Min/Max", pair(range.UsageMin, range.UsageMax));
        AddInfoRow("String Min/Max", pair(range.StringMin, range.StringMax));
        AddInfoRow("Designator Min/Max", pair(range.DesignatorMin, range.DesignatorMax));
        AddInfoRow("Data Index Min/Max", pair(range.DataIndexMin, range.DataIndexMax));
    } else {
        const auto& single = record.NotRange;
        AddInfoRow("Usage", std::to_string(single.Usage) + " [" + kvHex(single.Usage, 4) + "h]");
        AddInfoRow("String", std::to_string(single.StringIndex));
        AddInfoRow("Designator", std::to_string(single.DesignatorIndex));
        AddInfoRow("Data Index", std::to_string(single.DataIndex));
    }
}

void TfmConfig::AddInfoRow(const std::string& property, const std::string& value) {
    if (value.find_first_not_of(" \t\r\n") == std::string::npos)
        return;
    const TkvListView list(Control(idHidInfo));
    list.SetCell(list.AddRow(property), 1, value);
}

void TfmConfig::CheckBox1Click() {
    const bool open = IsDlgButtonChecked(Handle(), idHidOpen) == BST_CHECKED;
    try {
        kvHid1_->SetActive(false);
        RenewPortReports();
        kvHid1_->SetActive(open);
    } catch (...) {
        CheckDlgButton(Handle(), idHidOpen, kvHid1_->Active() ? BST_CHECKED : BST_UNCHECKED);
        throw;
    }
}

void TfmConfig::RenewPortReports() {
    // A monitoring thread that closed the port itself may still be on its way out.
    kvHid1_->JoinThread();
    portReports_ = std::make_unique<TkvReportQueue>(Handle(), kPortMessage, ++session_);
}

void TfmConfig::TakePortReports(WPARAM session) {
    if (!portReports_ || session != portReports_->Tag())
        return; // from a port the user has closed or opened again since
    for (const TkvReport& report : portReports_->TakeAll())
        ReceivePortReport(report);
}

void TfmConfig::ReceivePortReport(const TkvReport& report) {
    if (report.Closed) {
        CheckDlgButton(Handle(), idHidOpen, BST_UNCHECKED);
        return;
    }
    std::string line = "HID Report is received: " + std::to_string(report.Bytes.size()) + " bytes ";
    for (const std::uint8_t byte : report.Bytes)
        line += kvHex(byte, 2) + " ";
    line += "\r\n";
    TkvEdit(Control(idHidReports)).Append(line, kShownReportLines);
}

void TfmConfig::Autodetect() {
    try {
        TfmHidAction learning;
        learning.ListenIndex = -1;
        if (learning.ShowModal(Handle()) == IDOK) {
            kvHid1_->SetDeviceIndex(learning.ListenIndex);
            kvDeviceBox1Change();
        }
    } catch (...) {
        // Autodetect changes nothing when it fails.
    }
    RefreshSimpleLabels();
}

void TfmConfig::DeviceChange(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!kvHid1_->HandleDeviceChange(message, wParam, lParam))
        return;
    // Only the position of a choice an older version saved is known, and whatever holds it now
    // may stand in for a device that is away: it is not taken as chosen.
    MatchDevices();
    ShowBoxDevice();
    RefreshActionList();
}

void TfmConfig::MatchDevices() {
    const std::vector<THidDeviceIdentity> present = PresentDevices(*kvHid1_);
    actions_.MatchDevices(present);
    PlaceDevices({{chosenIndex_, chosen_, chosenAway_}}, present);
    kvDeviceBox1_->SetAbsentItem(chosenAway_ ? chosen_.Name : std::string());
    kvHid1_->SetDeviceIndex(chosenAway_ ? -1 : chosenIndex_);
}
