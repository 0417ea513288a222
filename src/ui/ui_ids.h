#pragma once
// Control ids of the dialogs, for the dialogs themselves and for whatever drives them by
// window messages as a user would. IDOK and IDCANCEL are the OK and Cancel buttons.

// TfmHidAction
inline constexpr int idActionMessage = 101;  // lMessage
inline constexpr int idActionAnimate = 102;  // Animate1
inline constexpr int idActionProgress = 103; // pbTotal
inline constexpr int idActionHint = 104;     // Label2

// TfmActionEdit
inline constexpr int idEditActionLabel = 201;  // Label1
inline constexpr int idEditPlayerAction = 202; // ePlayerAction
inline constexpr int idEditHidLabel = 203;     // Label2
inline constexpr int idEditActiveHid = 204;    // eActiveHid
inline constexpr int idEditStatusLabel = 205;  // Label3
inline constexpr int idEditStatus = 206;       // eStatus
inline constexpr int idEditAssign = 207;       // bAssign
inline constexpr int idEditBevel = 208;        // Bevel1
inline constexpr int idEditDelayLabel = 209;
inline constexpr int idEditDelay = 210;
inline constexpr int idEditIntervalLabel = 211;
inline constexpr int idEditInterval = 212;
inline constexpr int idEditMenuLabel = 213;
inline constexpr int idEditMenuNumber = 214;

// TfmConfig
inline constexpr int idPages = 300;
inline constexpr int idPowered = 301; // lPowered
inline constexpr int idQuickResponse = 302;
// Simple page: button and label of the n-th command (0..5) are idSimpleButton + 2n and + 2n + 1.
inline constexpr int idSimpleButton = 310;
inline constexpr int kSimpleCommandCount = 6;
constexpr int idSimpleCommandButton(int n) {
    return idSimpleButton + 2 * n;
}
constexpr int idSimpleCommandLabel(int n) {
    return idSimpleButton + 2 * n + 1;
}
inline constexpr int idMore = 330;         // bMore
inline constexpr int idActions = 340;      // lvActions
inline constexpr int idAdd = 341;          // bAdd
inline constexpr int idEdit = 342;         // bEdit
inline constexpr int idDelete = 343;       // dDelete
inline constexpr int idSimple = 344;       // bSimple
inline constexpr int idHidLabel = 350;     // Label1
inline constexpr int idDeviceBox = 351;    // kvDeviceBox1
inline constexpr int idAutodetect = 352;   // Button3
inline constexpr int idHidTree = 353;      // TreeView1
inline constexpr int idHidInfo = 354;      // ListView1
inline constexpr int idHidOpen = 355;      // CheckBox1
inline constexpr int idHidReports = 356;   // Memo1
inline constexpr int idAboutTitle = 360;   // Label7
inline constexpr int idAboutVersion = 361; // lVer
inline constexpr int idAboutSupport = 362; // Label14
inline constexpr int idAboutLink = 363;    // Label6
inline constexpr int idAboutContact = 364;
