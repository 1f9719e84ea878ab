// The pictures of the toolbar and the trees, drawn by our own code: 16 by
// 16 pixels, one image list per use.
#pragma once

#include <windows.h>
#include <commctrl.h>

namespace shell {

constexpr int kImageSize = 16;


// Pictures of the trees' image list: nothing, the "Hook" picture, then the
// trace tree's pictures in the order of NodeImage.
enum TreeImage : int {
    kBlankImage = 0,
    kHookImage,
    kCallImage,
    kCreateImage,
    kDestroyImage,
    kLoadImage,
    kUnloadImage,
    kFinalImage,
    kFailedImage,
    kTreeImageCount
};

// One picture per toolbar button, in the buttons' order, then the "Lamp"
// that the "Run" button shows while tracing (kLampImage).
HIMAGELIST CreateToolbarImages();
HIMAGELIST CreateTreeImages();

}  // namespace shell
