#include "statuspanels.h"

#include <commctrl.h>

#include <algorithm>

#include "commands.h"
#include "layout.h"
#include "raii.h"

namespace shell {

void StatusPanels::Create(HWND owner, HINSTANCE instance, HFONT font, int dpi) {
    font_ = font;
    dpi_ = dpi;
    bar_ = ::CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, owner,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusId)), instance, nullptr);
    ::SendMessageA(bar_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    progress_ = ::CreateWindowExA(0, PROGRESS_CLASSA, nullptr, WS_CHILD, 0, 0, 10, 10, bar_,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kProgressId)), instance, nullptr);
}

int StatusPanels::Top() const {
    RECT r = {};
    ::GetWindowRect(bar_, &r);
    POINT top = {r.left, r.top};
    ::ScreenToClient(::GetParent(bar_), &top);
    return top.y;
}

int StatusPanels::Height() const {
    RECT r = {};
    ::GetWindowRect(bar_, &r);
    return r.bottom - r.top;
}

int StatusPanels::FirstPanelWidth() const {
    RECT first = {};
    ::SendMessageA(bar_, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&first));
    return first.right - first.left;
}

int StatusPanels::PanelIndex(const char* key) const {
    for (size_t i = 0; i < keys_.size(); ++i)
        if (keys_[i] == key) return static_cast<int>(i);
    return -1;
}

void StatusPanels::Set(const std::vector<std::pair<const char*, std::string>>& panels) {
    keys_.clear();
    for (const auto& panel : panels) keys_.push_back(panel.first);
    SizePanels();
    for (size_t i = 0; i < panels.size(); ++i)
        ::SendMessageA(bar_, SB_SETTEXTA, i, reinterpret_cast<LPARAM>(panels[i].second.c_str()));
}

void StatusPanels::SetText(const char* key, const std::string& text) {
    int index = PanelIndex(key);
    if (index < 0) return;
    ::SendMessageA(bar_, SB_SETTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.c_str()));
    if (index > 0) SizePanels();
}

void StatusPanels::Resize() {
    ::SendMessageA(bar_, WM_SIZE, 0, 0);
    SizePanels();
    PlaceProgressBar();
}

// The first panel takes the free width; the others fit their texts.
void StatusPanels::SizePanels() {
    if (keys_.empty()) return;
    RECT client;
    ::GetClientRect(bar_, &client);
    vx::window_dc statusDc(bar_);
    HDC dc = statusDc.get();
    vx::select_object use(dc, font_);
    std::vector<int> widths(keys_.size());
    for (size_t i = 1; i < keys_.size(); ++i) {
        char text[256] = {};
        ::SendMessageA(bar_, SB_GETTEXTA, i, reinterpret_cast<LPARAM>(text));
        SIZE size = {};
        ::GetTextExtentPoint32A(dc, text, lstrlenA(text), &size);
        widths[i] = size.cx + 16;
    }
    int rest = client.right - 20;  // room for the size grip
    for (size_t i = 1; i < widths.size(); ++i) rest -= widths[i];
    std::vector<int> edges(widths.size());
    int edge = std::max(rest, 40);
    edges[0] = edge;
    for (size_t i = 1; i < widths.size(); ++i) edges[i] = edge += widths[i];
    edges.back() = -1;
    ::SendMessageA(bar_, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}

void StatusPanels::PlaceProgressBar() {
    RECT first = {}, status = {};
    ::SendMessageA(bar_, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&first));
    ::GetClientRect(bar_, &status);
    // Over the first panel, inside its bevel (the bar is the status bar's child).
    auto px = [&](double twips) { return TwipsToPixels(twips, dpi_); };
    int left = first.left + px(10), top = px(60);
    int width = (first.right - first.left) - px(30), height = (status.bottom - status.top) - px(100);
    ::MoveWindow(progress_, left, top, std::max(width, 0), std::max(height, 2), TRUE);
}

void StatusPanels::BeginProgress(long maximum) {
    progressMaximum_ = std::max(maximum, 0L);
    PlaceProgressBar();
    ::SendMessageA(progress_, PBM_SETRANGE32, 0, progressMaximum_);
    ::SendMessageA(progress_, PBM_SETPOS, 0, 0);
    ::ShowWindow(progress_, SW_SHOW);
}

// More than announced: the bar stays full.
void StatusPanels::Progress(long position) {
    PlaceProgressBar();
    if (position <= progressMaximum_) ::SendMessageA(progress_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void StatusPanels::EndProgress() { ::ShowWindow(progress_, SW_HIDE); }

}  // namespace shell
