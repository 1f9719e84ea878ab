#include "layout.h"

#include <cmath>

namespace shell {

void SizeControls(PaneLayout& l, double x, double innerWidth) {
    l.splitter.left = x;
    l.splitter.top = l.tree1.top;
    l.splitter.height = l.tree1.height;
    l.tree1.width = x - 15;
    l.treeTitle.width = l.tree1.width;
    l.tree2.width = innerWidth - l.tree1.width - 80;
    l.tree2.left = l.tree1.left + l.tree1.width + 45;
    l.details.left = l.tree2.left;
    l.details.width = l.tree2.width;
}

PaneLayout ResizeLayout(const LayoutInput& in, const PaneLayout& previous) {
    PaneLayout l = previous;
    l.treeTitle.left = l.tree1.left = in.tree1Left;
    l.treeTitle.height = l.details.height = in.titleHeight;
    l.treeTitle.top = in.toolbarTop + in.toolbarHeight + 15;
    l.details.top = l.treeTitle.top;
    l.tree1.height = in.innerHeight - in.toolbarHeight - in.statusHeight - in.titleHeight - 50;
    l.tree1.top = l.treeTitle.top + l.treeTitle.height + 30;
    l.tree2.top = l.tree1.top;
    l.tree2.height = l.tree1.height;
    l.splitter.left = in.splitterLeft;
    l.splitter.width = previous.splitter.width > 0 ? previous.splitter.width : 45;
    if (in.splitterLeft + 105 <= in.windowWidth) {
        SizeControls(l, in.splitterLeft, in.innerWidth);
    } else {
        l.tree1.width = in.windowWidth - 105;
        l.treeTitle.width = l.tree1.width;
    }
    l.progress.width = in.firstPanelWidth - 30;
    l.progress.top = in.statusTop + 60;
    return l;
}

double ClampSplitter(double position, double windowWidth) {
    if (position < 1000) return 1000;
    if (position > windowWidth - 1000) return windowWidth - 1000;
    return position;
}

int TwipsToPixels(double twips, int dpi) { return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch)); }

double PixelsToTwips(int pixels, int dpi) { return pixels * kTwipsPerInch / dpi; }

}  // namespace shell
