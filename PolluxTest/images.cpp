#include "images.h"

#include "raii.h"

namespace polluxtest {
namespace {

vx::unique_bitmap DrawDisc(HDC screen, COLORREF fill, COLORREF ring) {
    vx::unique_memory_dc dc(::CreateCompatibleDC(screen));
    vx::unique_bitmap bitmap(::CreateCompatibleBitmap(screen, kImageSize, kImageSize));
    vx::select_object drawOn(dc.get(), bitmap.get());
    RECT all = {0, 0, kImageSize, kImageSize};
    vx::unique_brush background(::CreateSolidBrush(RGB(255, 0, 255)));  // the mask colour
    ::FillRect(dc.get(), &all, background.get());
    vx::unique_brush brush(::CreateSolidBrush(fill));
    vx::unique_pen pen(::CreatePen(PS_SOLID, 2, ring));
    vx::select_object useBrush(dc.get(), brush.get()), usePen(dc.get(), pen.get());
    ::Ellipse(dc.get(), 2, 2, kImageSize - 2, kImageSize - 2);
    return bitmap;  // the selections end before the device context and the bitmap goes out
}

}  // namespace

HIMAGELIST CreateStageImages() {
    HIMAGELIST list = ::ImageList_Create(kImageSize, kImageSize, ILC_COLOR24 | ILC_MASK, 3, 0);
    if (!list) return nullptr;
    vx::window_dc screen;
    const COLORREF colours[][2] = {{RGB(240, 240, 240), RGB(150, 150, 150)},
                                   {RGB(255, 190, 0), RGB(180, 120, 0)},
                                   {RGB(40, 180, 60), RGB(20, 110, 30)}};
    for (const auto& c : colours) ::ImageList_AddMasked(list, DrawDisc(screen.get(), c[0], c[1]).get(), RGB(255, 0, 255));
    return list;
}

int ImageIndex(StageImage image) { return static_cast<int>(image); }

}  // namespace polluxtest
