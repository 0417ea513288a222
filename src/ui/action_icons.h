#pragma once
#include <commctrl.h>

#include <cstdint>

// The 16 images of the action list, `size` pixels square (16 at 96 DPI): image i stands for
// action type i+1 (Play/Pause up to Repeat), and the last one for every command beyond the types.
// Drawn at run time; the caller destroys the list.
HIMAGELIST CreateActionImageList(int size = 16);
inline constexpr int kActionImageCount = 16;
inline constexpr int kCommandImage = kActionImageCount - 1;
