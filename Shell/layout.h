// The main window's two-pane layout in twips (1440 per inch): what
// Form_Resize and SizeControls compute, and the splitter's drag limits.
#pragma once

namespace shell {

constexpr double kTwipsPerInch = 1440;

struct TwipRect {
    double left = 0, top = 0, width = 0, height = 0;
};

struct PaneLayout {
    TwipRect treeTitle, tree1, splitter, details, tree2, progress;
};

struct LayoutInput {
    double windowWidth = 0;  // outer width, frame included
    double innerWidth = 0, innerHeight = 0;
    double toolbarTop = 0, toolbarHeight = 0;
    double statusTop = 0, statusHeight = 0;
    double firstPanelWidth = 0;
    double titleHeight = 0;
    double tree1Left = 0;
    double splitterLeft = 0;
};

// The full resize. `previous` is the layout before, whose right pane stays
// where it was when the splitter lies too close to the right edge.
PaneLayout ResizeLayout(const LayoutInput& in, const PaneLayout& previous);
// The panes around splitter position x (only the horizontal parts change).
void SizeControls(PaneLayout& layout, double x, double innerWidth);
// Where a dragged splitter may go: 1000 twips from either edge at least.
double ClampSplitter(double position, double windowWidth);

// Twips and pixels at the screen's resolution (dots per inch).
int TwipsToPixels(double twips, int dpi);
double PixelsToTwips(int pixels, int dpi);

}  // namespace shell
