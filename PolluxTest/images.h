// The three stage pictures, drawn once into an image list.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "progress.h"

namespace polluxtest {

inline constexpr int kImageSize = 16;

// "NotYet" a grey ring, "InProgress" an amber disc, "Done" a green disc.
HIMAGELIST CreateStageImages();
int ImageIndex(StageImage image);

}  // namespace polluxtest
