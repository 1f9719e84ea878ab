#include "images.h"

#include <initializer_list>
#include <optional>

#include "commands.h"
#include "raii.h"

namespace shell {
namespace {

constexpr COLORREF kMask = RGB(255, 0, 255);

// A small pen-and-brush painter over one 16x16 bitmap.
class Painter {
public:
    explicit Painter(HDC screen)
        : dc_(::CreateCompatibleDC(screen)),
          bitmap_(::CreateCompatibleBitmap(screen, kImageSize, kImageSize)),
          selected_(std::in_place, dc_.get(), bitmap_.get()) {
        RECT all = {0, 0, kImageSize, kImageSize};
        Fill(all, kMask);
    }
    // The picture, out of the painter's device context.
    vx::unique_bitmap Take() {
        selected_.reset();
        return std::move(bitmap_);
    }
    void Fill(RECT r, COLORREF c) {
        vx::unique_brush brush(::CreateSolidBrush(c));
        ::FillRect(dc_.get(), &r, brush.get());
    }
    void Box(int l, int t, int r, int b, COLORREF fill, COLORREF line) {
        Shape(fill, line, [&] { ::Rectangle(dc_.get(), l, t, r, b); });
    }
    void Disc(int l, int t, int r, int b, COLORREF fill, COLORREF line) {
        Shape(fill, line, [&] { ::Ellipse(dc_.get(), l, t, r, b); });
    }
    void Poly(const POINT* p, int n, COLORREF fill, COLORREF line) {
        Shape(fill, line, [&] { ::Polygon(dc_.get(), p, n); });
    }
    void Line(int x1, int y1, int x2, int y2, COLORREF c, int width = 1) {
        vx::unique_pen pen(::CreatePen(PS_SOLID, width, c));
        vx::select_object use(dc_.get(), pen.get());
        ::MoveToEx(dc_.get(), x1, y1, nullptr);
        ::LineTo(dc_.get(), x2, y2);
    }
    void Arc(int l, int t, int r, int b, int x1, int y1, int x2, int y2, COLORREF c, int width) {
        vx::unique_pen pen(::CreatePen(PS_SOLID, width, c));
        vx::select_object use(dc_.get(), pen.get());
        ::Arc(dc_.get(), l, t, r, b, x1, y1, x2, y2);
    }
    void Text(const char* text, COLORREF c, int height, bool bold) {
        vx::unique_font font(::CreateFontA(-height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0,
                                           NONANTIALIASED_QUALITY, 0, "Tahoma"));
        vx::select_object use(dc_.get(), font.get());
        ::SetBkMode(dc_.get(), TRANSPARENT);
        ::SetTextColor(dc_.get(), c);
        RECT all = {0, 0, kImageSize, kImageSize};
        ::DrawTextA(dc_.get(), text, -1, &all, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP);
    }

private:
    template <typename F>
    void Shape(COLORREF fill, COLORREF line, F draw) {
        vx::unique_brush brush(::CreateSolidBrush(fill));
        vx::unique_pen pen(::CreatePen(PS_SOLID, 1, line));
        vx::select_object useBrush(dc_.get(), brush.get()), usePen(dc_.get(), pen.get());
        draw();
    }
    // Declared in the order they are made; the selection ends first, the
    // device context last.
    vx::unique_memory_dc dc_;
    vx::unique_bitmap bitmap_;
    std::optional<vx::select_object> selected_;
};

const COLORREF kInk = RGB(40, 40, 40);
const COLORREF kBlue = RGB(40, 90, 190);
const COLORREF kLightBlue = RGB(170, 200, 245);
const COLORREF kGreen = RGB(30, 150, 50);
const COLORREF kRed = RGB(200, 40, 40);
const COLORREF kPaper = RGB(255, 255, 255);
const COLORREF kYellow = RGB(240, 200, 80);
const COLORREF kSteel = RGB(90, 100, 120);

void DrawHook(Painter& p) {
    // A fishing hook: an eye, a shank and a barbed curve, in a strong red so
    // that hooked DLLs stand out in a long list.
    const COLORREF hook = RGB(190, 30, 30);
    p.Disc(8, 0, 14, 6, kPaper, hook);
    p.Line(11, 6, 11, 11, hook, 2);
    p.Arc(3, 6, 12, 16, 11, 11, 3, 10, hook, 2);
    p.Line(3, 11, 3, 6, hook, 2);
    p.Line(3, 6, 6, 9, hook, 2);
}

void DrawButton(Painter& p, Button button) {
    auto is = [&](Button b) { return button == b; };
    if (is(Button::Com)) {  // a component: a box with pins on both sides
        p.Box(4, 2, 12, 14, kLightBlue, kBlue);
        for (int y = 4; y <= 11; y += 3) {
            p.Line(1, y, 4, y, kBlue);
            p.Line(12, y, 15, y, kBlue);
        }
    } else if (is(Button::HookUnhook)) {
        DrawHook(p);
    } else if (is(Button::TLib)) {  // a book
        p.Box(3, 1, 13, 15, RGB(180, 60, 60), RGB(110, 30, 30));
        p.Box(5, 3, 12, 13, kPaper, RGB(110, 30, 30));
        p.Line(6, 6, 11, 6, kInk);
        p.Line(6, 9, 11, 9, kInk);
    } else if (is(Button::Run)) {
        POINT t[] = {{4, 2}, {13, 8}, {4, 14}};
        p.Poly(t, 3, kGreen, RGB(10, 90, 20));
    } else if (is(Button::Stop)) {
        p.Box(3, 3, 13, 13, kRed, RGB(120, 20, 20));
    } else if (is(Button::Open)) {  // a folder
        p.Box(1, 4, 7, 7, kYellow, RGB(150, 110, 20));
        p.Box(1, 6, 15, 14, kYellow, RGB(150, 110, 20));
    } else if (is(Button::Save)) {  // a diskette
        p.Box(2, 2, 14, 14, kBlue, RGB(20, 40, 100));
        p.Box(4, 2, 12, 7, kPaper, RGB(20, 40, 100));
        p.Box(5, 10, 11, 14, RGB(200, 200, 200), RGB(20, 40, 100));
    } else if (is(Button::Find)) {  // a magnifier
        p.Disc(1, 1, 10, 10, kLightBlue, kInk);
        p.Line(9, 9, 14, 14, kInk, 3);
    } else if (is(Button::Copy)) {  // two pages
        p.Box(1, 1, 10, 12, kPaper, kInk);
        p.Box(6, 4, 15, 15, kPaper, kInk);
        p.Line(8, 8, 13, 8, kSteel);
        p.Line(8, 11, 13, 11, kSteel);
    } else if (is(Button::Final)) {  // a report: a page with a bar chart
        p.Box(2, 1, 14, 15, kPaper, kInk);
        p.Box(4, 9, 6, 13, kBlue, kBlue);
        p.Box(7, 5, 9, 13, kGreen, kGreen);
        p.Box(10, 7, 12, 13, kRed, kRed);
    } else if (is(Button::OnTop)) {  // a window above another
        p.Box(1, 6, 11, 15, RGB(210, 210, 210), kSteel);
        p.Box(5, 1, 15, 10, kLightBlue, kBlue);
        p.Line(5, 3, 15, 3, kBlue, 2);
    } else if (is(Button::Last)) {  // down to the last line
        p.Line(8, 1, 8, 10, kBlue, 2);
        POINT a[] = {{3, 7}, {13, 7}, {8, 12}};
        p.Poly(a, 3, kBlue, kBlue);
        p.Line(2, 14, 14, 14, kInk, 2);
    } else if (is(Button::Extend) || is(Button::Collapse)) {
        p.Box(2, 2, 14, 14, kPaper, kInk);
        p.Line(5, 8, 12, 8, kInk, 2);
        if (is(Button::Extend)) p.Line(8, 5, 8, 12, kInk, 2);
    } else if (is(Button::IUnk)) {
        p.Text("IU", kBlue, 11, true);
    } else if (is(Button::IDisp)) {
        p.Text("ID", kGreen, 11, true);
    } else if (is(Button::Sett)) {  // sliders
        for (int x : {4, 8, 12}) p.Line(x, 2, x, 14, kSteel);
        p.Box(2, 9, 7, 12, kLightBlue, kBlue);
        p.Box(6, 3, 11, 6, kLightBlue, kBlue);
        p.Box(10, 7, 15, 10, kLightBlue, kBlue);
    } else if (is(Button::Filter)) {  // a funnel
        POINT funnel[] = {{1, 2}, {15, 2}, {10, 8}, {10, 14}, {6, 12}, {6, 8}};
        p.Poly(funnel, 6, kLightBlue, kBlue);
    } else if (is(Button::Stats)) {  // a bar chart with its axes
        p.Line(2, 1, 2, 14, kInk);
        p.Line(2, 14, 15, 14, kInk);
        p.Box(4, 8, 7, 13, kBlue, kBlue);
        p.Box(8, 3, 11, 13, kGreen, kGreen);
        p.Box(12, 10, 15, 13, kRed, kRed);
    } else if (is(Button::Help)) {
        p.Disc(1, 1, 15, 15, kBlue, RGB(20, 40, 100));
        p.Text("?", kPaper, 12, true);
    }
}

void DrawLamp(Painter& p) {  // a lit bulb: tracing is on
    p.Disc(3, 0, 13, 10, kYellow, RGB(150, 110, 20));
    p.Line(8, 3, 8, 7, kPaper);
    p.Box(5, 10, 11, 15, RGB(180, 180, 180), kSteel);
    p.Line(5, 12, 11, 12, kSteel);
}

// The trace tree's pictures, by record type.
void DrawTraceImage(Painter& p, int image) {
    switch (image) {
    case kCallImage: {  // an arrow into a method
        p.Box(9, 2, 15, 14, kLightBlue, kBlue);
        p.Line(1, 8, 8, 8, kBlue, 2);
        POINT head[] = {{6, 4}, {10, 8}, {6, 12}};
        p.Poly(head, 3, kBlue, kBlue);
        break;
    }
    case kCreateImage:  // a new object: a green disc with a plus
        p.Disc(1, 1, 15, 15, kGreen, RGB(10, 90, 20));
        p.Line(4, 8, 12, 8, kPaper, 2);
        p.Line(8, 4, 8, 12, kPaper, 2);
        break;
    case kDestroyImage:  // a destroyed object: a red disc with a cross
        p.Disc(1, 1, 15, 15, kRed, RGB(120, 20, 20));
        p.Line(5, 5, 11, 11, kPaper, 2);
        p.Line(11, 5, 5, 11, kPaper, 2);
        break;
    case kLoadImage:  // a module coming in: a box and a down arrow
    case kUnloadImage: {  // and going out: an up arrow
        p.Box(2, 9, 14, 15, kYellow, RGB(150, 110, 20));
        bool in = image == kLoadImage;
        p.Line(8, in ? 0 : 3, 8, in ? 6 : 9, in ? kGreen : kRed, 2);
        POINT down[] = {{4, 4}, {12, 4}, {8, 8}};
        POINT up[] = {{4, 4}, {12, 4}, {8, 0}};
        p.Poly(in ? down : up, 3, in ? kGreen : kRed, in ? kGreen : kRed);
        break;
    }
    case kFailedImage: {  // a call that failed: the call's arrow, struck by a red cross
        p.Box(9, 2, 15, 14, kLightBlue, kBlue);
        p.Line(1, 8, 8, 8, kBlue, 2);
        POINT head[] = {{6, 4}, {10, 8}, {6, 12}};
        p.Poly(head, 3, kBlue, kBlue);
        p.Line(3, 3, 13, 13, kRed, 3);
        p.Line(13, 3, 3, 13, kRed, 3);
        break;
    }
    case kFinalImage:  // the report: a page with a bar chart
        p.Box(2, 1, 14, 15, kPaper, kInk);
        p.Box(4, 9, 6, 13, kBlue, kBlue);
        p.Box(7, 5, 9, 13, kGreen, kGreen);
        p.Box(10, 7, 12, 13, kRed, kRed);
        break;
    }
}

HIMAGELIST MakeList(int count) { return ::ImageList_Create(kImageSize, kImageSize, ILC_COLOR24 | ILC_MASK, count, 0); }

void AddPainted(HIMAGELIST list, Painter& p) { ::ImageList_AddMasked(list, p.Take().get(), kMask); }

}  // namespace

HIMAGELIST CreateToolbarImages() {
    HIMAGELIST list = MakeList(static_cast<int>(kToolbarButtonCount) + 1);
    if (!list) return nullptr;
    vx::window_dc screenDc;
    HDC screen = screenDc.get();
    for (size_t i = 0; i < kToolbarButtonCount; ++i) {
        Painter p(screen);
        DrawButton(p, kToolbarButtons[i].button);
        AddPainted(list, p);
    }
    {
        Painter lamp(screen);
        DrawLamp(lamp);
        AddPainted(list, lamp);
    }
    return list;
}

HIMAGELIST CreateTreeImages() {
    HIMAGELIST list = MakeList(kTreeImageCount);
    if (!list) return nullptr;
    vx::window_dc screenDc;
    HDC screen = screenDc.get();
    {
        Painter blank(screen);
        AddPainted(list, blank);
    }
    {
        Painter hook(screen);
        DrawHook(hook);
        AddPainted(list, hook);
    }
    for (int image = kCallImage; image < kTreeImageCount; ++image) {
        Painter trace(screen);
        DrawTraceImage(trace, image);
        AddPainted(list, trace);
    }
    return list;
}

}  // namespace shell
