// The comparison window: a summary line over a report list view.
#include "comparewindow.h"

#include <commctrl.h>

#include "layout.h"

namespace shell {
namespace {

constexpr double kMargin = 120, kSummaryHeight = 330;  // twips
constexpr double kWidth = 14400, kHeight = 6500;
// Columns: mark, this trace's record and call, the file's record and call.
struct Column {
    const char* title;
    double width;  // twips
};
constexpr Column kColumns[] = {{"", 300}, {"#", 700}, {"This trace", 6000}, {"#", 700}, {"", 6000}};

}  // namespace

int CompareWindow::Px(double twips) const {
    HDC screen = ::GetDC(nullptr);
    int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    return TwipsToPixels(twips, dpi);
}

bool CompareWindow::Create(HINSTANCE instance, HWND owner, HFONT font) {
    if (window_) return true;
    WNDCLASSA cls = {};
    cls.lpfnWndProc = Proc;
    cls.hInstance = instance;
    cls.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = kClassName;
    ::RegisterClassA(&cls);  // fails harmlessly once registered
    window_ = ::CreateWindowExA(WS_EX_TOOLWINDOW, kClassName, "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                Px(kWidth), Px(kHeight), owner, nullptr, instance, this);
    if (!window_) return false;
    summary_ = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, 0, 0, 0, 0, window_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSummaryId)), instance, nullptr);
    list_ = ::CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                              WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0, 0, 0, 0,
                              window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kListId)), instance, nullptr);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (HWND control : {summary_, list_}) ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = const_cast<char*>(kColumns[i].title);
        column.cx = Px(kColumns[i].width);
        ListView_InsertColumn(list_, i, &column);
    }
    Layout();
    return true;
}

void CompareWindow::Show(HINSTANCE instance, HWND owner, HFONT font, const std::string& fileName,
                         const std::string& summary, std::vector<CompareRow> rows, std::function<void(int32_t)> select) {
    if (!Create(instance, owner, font)) return;
    rows_ = std::move(rows);
    select_ = std::move(select);
    ::SetWindowTextA(window_, ("Compare With " + fileName).c_str());
    ::SetWindowTextA(summary_, summary.c_str());
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT;
    column.pszText = const_cast<char*>(fileName.c_str());
    ListView_SetColumn(list_, 4, &column);
    ::SendMessageA(list_, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(list_);
    for (size_t i = 0; i < rows_.size(); ++i) {
        const CompareRow& row = rows_[i];
        std::string texts[] = {row.mark, row.viewNum ? std::to_string(row.viewNum) : "", row.viewText,
                               row.fileRecord ? std::to_string(row.fileRecord) : "", row.fileText};
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.pszText = texts[0].data();
        int at = ListView_InsertItem(list_, &item);
        for (int c = 1; c < static_cast<int>(std::size(texts)); ++c) ListView_SetItemText(list_, at, c, texts[c].data());
    }
    ::SendMessageA(list_, WM_SETREDRAW, TRUE, 0);
    ::ShowWindow(window_, SW_SHOW);
    ::SetForegroundWindow(window_);
}

void CompareWindow::Close() {
    if (!window_) return;
    HWND window = window_;
    window_ = summary_ = list_ = nullptr;
    ::DestroyWindow(window);
}

void CompareWindow::Layout() {
    RECT client;
    ::GetClientRect(window_, &client);
    int margin = Px(kMargin), top = Px(kSummaryHeight);
    ::MoveWindow(summary_, margin, margin, client.right - 2 * margin, top - margin, TRUE);
    ::MoveWindow(list_, margin, margin + top, client.right - 2 * margin, client.bottom - 2 * margin - top, TRUE);
}

LRESULT CALLBACK CompareWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE)
        ::SetWindowLongPtrA(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
    auto* self = reinterpret_cast<CompareWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_SIZE:
        if (self && self->list_) self->Layout();
        return 0;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (self && header->idFrom == kListId && header->code == NM_DBLCLK) {
            int row = reinterpret_cast<NMITEMACTIVATE*>(lParam)->iItem;
            if (row >= 0 && static_cast<size_t>(row) < self->rows_.size() && self->rows_[row].viewNum && self->select_)
                self->select_(self->rows_[row].viewNum);
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
