// The list window: a summary line over a report list view.
#include "listwindow.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>

#include "layout.h"
#include "raii.h"

namespace shell {
namespace {

constexpr double kMargin = 120, kSummaryHeight = 330;  // twips
constexpr double kHeight = 6500;

int Px(double twips) {
    HDC screen = ::GetDC(nullptr);
    int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    return TwipsToPixels(twips, dpi);
}

}  // namespace

bool ListWindow::Create(HINSTANCE instance, HWND owner) {
    if (window_) return true;
    WNDCLASSA cls = {};
    cls.lpfnWndProc = Proc;
    cls.hInstance = instance;
    cls.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = className_;
    ::RegisterClassA(&cls);  // fails harmlessly once registered
    double width = 2 * kMargin + 400;
    for (const Column& c : columns_) width += c.width;
    window_ = ::CreateWindowExA(WS_EX_TOOLWINDOW, className_, "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                Px(width), Px(kHeight), owner, nullptr, instance, this);
    if (!window_) return false;
    summary_ = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, 0, 0, 0, 0, window_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSummaryId)), instance, nullptr);
    list_ = ::CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                              WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0, 0, 0, 0,
                              window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kListId)), instance, nullptr);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (int i = 0; i < static_cast<int>(columns_.size()); ++i) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = columns_[i].numeric ? LVCFMT_RIGHT : LVCFMT_LEFT;
        column.pszText = const_cast<char*>(columns_[i].title);
        column.cx = Px(columns_[i].width);
        ListView_InsertColumn(list_, i, &column);
    }
    return true;
}

void ListWindow::Show(HINSTANCE instance, HWND owner, HFONT font, const std::string& title, const std::string& summary,
                      std::vector<std::vector<std::string>> rows, std::function<void(size_t)> activate) {
    if (!Create(instance, owner)) return;
    // The panes' font, also when the user chose another since the last showing.
    for (HWND control : {summary_, list_}) ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    Layout();
    rows_ = std::move(rows);
    activate_ = std::move(activate);
    sortColumn_ = -1;
    ::SetWindowTextA(window_, title.c_str());
    ::SetWindowTextA(summary_, summary.c_str());
    ::SendMessageA(list_, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(list_);
    for (size_t i = 0; i < rows_.size(); ++i) {
        std::vector<std::string>& row = rows_[i];
        row.resize(columns_.size());
        LVITEMA item = {};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = static_cast<int>(i);
        item.pszText = row[0].data();
        item.lParam = static_cast<LPARAM>(i);
        int at = ListView_InsertItem(list_, &item);
        for (int c = 1; c < static_cast<int>(row.size()); ++c) ListView_SetItemText(list_, at, c, row[c].data());
    }
    ::SendMessageA(list_, WM_SETREDRAW, TRUE, 0);
    ::ShowWindow(window_, SW_SHOW);
    ::SetForegroundWindow(window_);
}

void ListWindow::SetColumnTitle(int column, const std::string& title) {
    if (!list_) return;
    LVCOLUMNA c = {};
    c.mask = LVCF_TEXT;
    c.pszText = const_cast<char*>(title.c_str());
    ListView_SetColumn(list_, column, &c);
}

void ListWindow::Close() {
    if (!window_) return;
    HWND window = window_;
    window_ = summary_ = list_ = nullptr;
    ::DestroyWindow(window);
}

void ListWindow::Layout() {
    RECT client;
    ::GetClientRect(window_, &client);
    // The summary line grows with a large font instead of cutting its text.
    TEXTMETRICA text = {};
    {
        vx::window_dc dc(summary_);
        vx::select_object font(dc.get(), reinterpret_cast<HGDIOBJ>(::SendMessageA(summary_, WM_GETFONT, 0, 0)));
        ::GetTextMetricsA(dc.get(), &text);
    }
    const int margin = Px(kMargin), line = std::max(Px(kSummaryHeight) - margin, static_cast<int>(text.tmHeight));
    ::MoveWindow(summary_, margin, margin, client.right - 2 * margin, line, TRUE);
    ::MoveWindow(list_, margin, 2 * margin + line, client.right - 2 * margin, client.bottom - 3 * margin - line, TRUE);
}

int CALLBACK ListWindow::Compare(LPARAM a, LPARAM b, LPARAM selfParam) {
    auto* self = reinterpret_cast<ListWindow*>(selfParam);
    const std::string& x = self->rows_[static_cast<size_t>(a)][static_cast<size_t>(self->sortColumn_)];
    const std::string& y = self->rows_[static_cast<size_t>(b)][static_cast<size_t>(self->sortColumn_)];
    int order;
    if (self->columns_[static_cast<size_t>(self->sortColumn_)].numeric) {
        // Empty cells (no count for the row) sort below every number.
        long long u = x.empty() ? -1 : std::atoll(x.c_str()), v = y.empty() ? -1 : std::atoll(y.c_str());
        order = u < v ? -1 : u > v;
    } else {
        order = ::lstrcmpiA(x.c_str(), y.c_str());
    }
    return self->ascending_ ? order : -order;
}

void ListWindow::SortBy(int column) {
    // A second click on the same header turns the order round; numbers start
    // with the largest, as one looks for the most called.
    ascending_ = column == sortColumn_ ? !ascending_ : !columns_[static_cast<size_t>(column)].numeric;
    sortColumn_ = column;
    ListView_SortItems(list_, Compare, reinterpret_cast<LPARAM>(this));
}

LRESULT CALLBACK ListWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE)
        ::SetWindowLongPtrA(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
    auto* self = reinterpret_cast<ListWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_SIZE:
        if (self && self->list_) self->Layout();
        return 0;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (!self || header->idFrom != kListId) return 0;
        if (header->code == LVN_COLUMNCLICK) self->SortBy(reinterpret_cast<NMLISTVIEW*>(lParam)->iSubItem);
        if (header->code == NM_DBLCLK) {
            int item = reinterpret_cast<NMITEMACTIVATE*>(lParam)->iItem;
            LVITEMA row = {};
            row.mask = LVIF_PARAM;
            row.iItem = item;
            if (item >= 0 && ListView_GetItem(self->list_, &row) && self->activate_)
                self->activate_(static_cast<size_t>(row.lParam));
        }
        return 0;
    }
    case WM_CLOSE:
        if (self) self->Close();
        return 0;
    case WM_NCDESTROY:
        // Gone with its owner, the main window.
        if (self && self->window_ == window) self->window_ = self->summary_ = self->list_ = nullptr;
        break;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace shell
