// The pictures of the toolbar and the trees, drawn by our own code: 16 by
// 16 pixels, one image list per use.
#pragma once

#include <windows.h>
#include <commctrl.h>

namespace shell {

constexpr int kImageSize = 16;

// One picture per toolbar button, in the buttons' order.
HIMAGELIST CreateToolbarImages();
// kBlankImage (nothing) and kHookImage (the "Hook" picture).
HIMAGELIST CreateTreeImages();

}  // namespace shell
