#pragma once
#include <commctrl.h>

// The 14 images of the action list, 16x16: image i stands for action type i+1 (Play/Pause up to
// Shuffle). Drawn at run time; the caller destroys the list.
HIMAGELIST CreateActionImageList();
inline constexpr int kActionImageCount = 14;
