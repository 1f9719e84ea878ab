#include "images.h"

namespace polluxtest {
namespace {

HBITMAP DrawDisc(HDC screen, COLORREF fill, COLORREF ring) {
    HDC dc = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, kImageSize, kImageSize);
    HGDIOBJ oldBitmap = ::SelectObject(dc, bitmap);
    RECT all = {0, 0, kImageSize, kImageSize};
    HBRUSH background = ::CreateSolidBrush(RGB(255, 0, 255));  // the mask colour
    ::FillRect(dc, &all, background);
    ::DeleteObject(background);
    HBRUSH brush = ::CreateSolidBrush(fill);
    HPEN pen = ::CreatePen(PS_SOLID, 2, ring);
    HGDIOBJ oldBrush = ::SelectObject(dc, brush), oldPen = ::SelectObject(dc, pen);
    ::Ellipse(dc, 2, 2, kImageSize - 2, kImageSize - 2);
    ::SelectObject(dc, oldBrush);
    ::SelectObject(dc, oldPen);
    ::DeleteObject(brush);
    ::DeleteObject(pen);
    ::SelectObject(dc, oldBitmap);
    ::DeleteDC(dc);
    return bitmap;
}

}  // namespace

HIMAGELIST CreateStageImages() {
    HIMAGELIST list = ::ImageList_Create(kImageSize, kImageSize, ILC_COLOR24 | ILC_MASK, 3, 0);
    if (!list) return nullptr;
    HDC screen = ::GetDC(nullptr);
    const COLORREF colours[][2] = {{RGB(240, 240, 240), RGB(150, 150, 150)},
                                   {RGB(255, 190, 0), RGB(180, 120, 0)},
                                   {RGB(40, 180, 60), RGB(20, 110, 30)}};
    for (const auto& c : colours) {
        HBITMAP bitmap = DrawDisc(screen, c[0], c[1]);
        ::ImageList_AddMasked(list, bitmap, RGB(255, 0, 255));
        ::DeleteObject(bitmap);
    }
    ::ReleaseDC(nullptr, screen);
    return list;
}

int ImageIndex(StageImage image) { return static_cast<int>(image); }

}  // namespace polluxtest
