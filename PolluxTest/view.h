// The scanner window as the run sees it: one call shows the stage pictures
// and the bar as they are now.
#pragma once

#include "progress.h"

namespace polluxtest {

// Control ids of the window, also read by the end-to-end test.
enum ControlId : int {
    kPicTLibs = 101,
    kPicInterf = 102,
    kPicClasses = 103,
    kProgressBar1 = 104,
};

class ScanView {
public:
    virtual ~ScanView() = default;
    virtual void Show(const Display& display) = 0;
};

}  // namespace polluxtest
