#pragma once
#include <windows.h>

// A dialog's static text as a web link: hand cursor, and the message below sent to the parent
// when the mouse enters (wParam 1) or leaves (0) it, with the label as lParam. The label must
// have SS_NOTIFY so that clicks reach the parent as STN_CLICKED.
inline constexpr UINT kLinkHoverMessage = WM_APP + 21;
void MakeLinkLabel(HWND label);

// Opens `address` in the user's default browser.
void OpenInBrowser(HWND owner, const char* address);
