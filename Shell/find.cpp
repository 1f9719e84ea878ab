// Find in Trace (the modeless dialog and Find Next), Copy from either pane,
// and Edit > Font for both panes.
#include "mainwindow.h"

#include <commdlg.h>

#include "findcopy.h"
#include "resource.h"

namespace shell {

namespace {

constexpr double kFindLeftOffset = 200, kFindTopOffset = 2600;  // twips

}  // namespace

INT_PTR CALLBACK MainWindow::FindProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        self = reinterpret_cast<MainWindow*>(lParam);
        ::SetDlgItemTextA(dialog, IDC_FINDWHAT, self->FindWhat.c_str());
        ::SendDlgItemMessageA(dialog, IDC_FINDWHAT, EM_SETSEL, 0, -1);
        ::CheckDlgButton(dialog, IDC_MATCHCASE, self->MatchCase ? BST_CHECKED : BST_UNCHECKED);
        ::EnableWindow(::GetDlgItem(dialog, IDOK), !self->FindWhat.empty());
        return TRUE;
    case WM_COMMAND:
        if (!self) break;
        switch (LOWORD(wParam)) {
        case IDC_FINDWHAT:
            if (HIWORD(wParam) == EN_CHANGE)
                ::EnableWindow(::GetDlgItem(dialog, IDOK), ::GetWindowTextLengthA(::GetDlgItem(dialog, IDC_FINDWHAT)) > 0);
            return TRUE;
        case IDOK:
            self->btnNext_Click();
            return TRUE;
        case IDCANCEL:
            // Only Cancel keeps what the dialog holds for the next search;
            // the window frame's close button does not.
            if (HIWORD(wParam) == BN_CLICKED && lParam) {
                self->FindWhat = self->FindDialogText();
                self->MatchCase = ::IsDlgButtonChecked(dialog, IDC_MATCHCASE) == BST_CHECKED;
            }
            self->CloseFindDialog();
            return TRUE;
        }
        break;
    case WM_CLOSE:
        self->CloseFindDialog();
        return TRUE;
    }
    return FALSE;
}

std::string MainWindow::FindDialogText() const {
    HWND edit = ::GetDlgItem(frmFind, IDC_FINDWHAT);
    std::string text(static_cast<size_t>(::GetWindowTextLengthA(edit)) + 1, '\0');
    text.resize(static_cast<size_t>(::GetWindowTextA(edit, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Loads the dialog hidden; its search state starts empty with each load.
bool MainWindow::LoadFindDialog() {
    if (frmFind) return true;
    search_ = TraceSearch();
    frmFind = ::CreateDialogParamA(instance_, MAKEINTRESOURCEA(IDD_FIND), hwnd_, FindProc, reinterpret_cast<LPARAM>(this));
    return frmFind != nullptr;
}

void MainWindow::CloseFindDialog() {
    if (!frmFind) return;
    HWND dialog = frmFind;
    frmFind = nullptr;
    ::DestroyWindow(dialog);
}

bool MainWindow::IsFindDialogMessage(MSG* msg) { return frmFind && ::IsDialogMessageA(frmFind, msg); }

void MainWindow::mnuEditFind_Click() {
    if (!LoadFindDialog()) return;
    RECT window, pane;
    ::GetWindowRect(hwnd_, &window);
    ::GetWindowRect(hwndTree2, &pane);
    POINT paneTop = {pane.left, pane.top};
    ::ScreenToClient(hwnd_, &paneTop);
    int left = window.left + Px(layout_.splitter.left + kFindLeftOffset);
    int top = window.top + paneTop.y + Px(kFindTopOffset);
    ::SetWindowPos(frmFind, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ::ShowWindow(frmFind, SW_SHOW);
    ::SetFocus(::GetDlgItem(frmFind, IDC_FINDWHAT));
}

void MainWindow::mnuEditFindNext_Click() {
    if (FindWhat.empty()) {
        mnuEditFind_Click();
        return;
    }
    if (!LoadFindDialog()) return;
    btnNext_Click();
}

void MainWindow::btnNext_Click() {
    std::vector<KeyedTree::OrderedItem> order = TreeView1.InTreeOrder();
    HTREEITEM selected = TreeView_GetSelection(hwndTree1);
    int32_t current = 0;
    for (size_t i = 0; i < order.size() && selected; ++i)
        if (order[i].item == selected) current = static_cast<int32_t>(i + 1);
    bool matchCase = ::IsDlgButtonChecked(frmFind, IDC_MATCHCASE) == BST_CHECKED;
    FindResult result = search_.FindNext(FindDialogText(), matchCase, static_cast<int32_t>(order.size()), current,
                                         [&](int32_t i) { return TreeView1.ItemText(order[static_cast<size_t>(i - 1)].item); });
    switch (result.outcome) {
    case FindOutcome::Nothing:
        return;
    case FindOutcome::Found: {
        HTREEITEM item = order[static_cast<size_t>(result.index - 1)].item;
        TreeView_EnsureVisible(hwndTree1, item);
        if (item == selected) {
            // No selection change to report it: the details are shown here.
            TreeView1_NodeClick(TreeView1.KeyOf(item), false);
        } else {
            TreeView_SelectItem(hwndTree1, item);
        }
        return;
    }
    case FindOutcome::WholeTraceSearched:
    case FindOutcome::NotFound: {
        const char* text = result.outcome == FindOutcome::NotFound ? kSearchTextNotFound : kWholeTraceSearched;
        HWND owner = frmFind && ::IsWindowVisible(frmFind) ? frmFind : hwnd_;
        ::MessageBoxA(owner, text, kAppTitle, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    }
}

void MainWindow::mnuEditCopy_Click() {
    HWND focus = ::GetFocus();
    std::string text;
    bool copies = false;
    if (focus == hwndTree1) {
        if (HTREEITEM item = TreeView_GetSelection(hwndTree1)) text = TreeView1.ItemText(item);
        copies = true;
    } else if (focus == hwndTree2) {
        std::vector<PaneLine> lines;
        for (const KeyedTree::OrderedItem& item : TreeView2.InTreeOrder())
            lines.push_back({item.level, TreeView2.ItemText(item.item), item.expanded});
        text = CopyPaneText(lines);
        copies = true;
    }
    // Another program may hold the clipboard for a moment (one that watches
    // it, say): wait a little for it rather than drop the copy.
    bool opened = false;
    for (int attempt = 0; attempt < 50 && !(opened = ::OpenClipboard(hwnd_)); ++attempt) ::Sleep(10);
    if (!opened) {
        ::MessageBoxA(hwnd_, "The clipboard is in use by another program; nothing was copied.", kAppTitle,
                      MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    ::EmptyClipboard();
    if (copies) {
        if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, text.size() + 1)) {
            if (void* to = ::GlobalLock(memory)) {
                memcpy(to, text.c_str(), text.size() + 1);
                ::GlobalUnlock(memory);
                if (!::SetClipboardData(CF_TEXT, memory)) ::GlobalFree(memory);
            } else {
                ::GlobalFree(memory);
            }
        }
    }
    ::CloseClipboard();
}

void MainWindow::mnuEditFont_Click() {
    LOGFONTA chosen = {};
    if (HFONT current = reinterpret_cast<HFONT>(::SendMessageA(hwndTree1, WM_GETFONT, 0, 0)))
        ::GetObjectA(current, sizeof chosen, &chosen);
    CHOOSEFONTA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hwnd_;
    dialog.lpLogFont = &chosen;
    dialog.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_EFFECTS;
    if (!::ChooseFontA(&dialog)) return;
    vx::unique_font font(::CreateFontIndirectA(&chosen));
    if (!font) return;
    for (HWND pane : {hwndTree1, hwndTree2})
        ::SendMessageA(pane, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    // Not stored: the next start has the panes' own font again. The font
    // the panes used until now goes once they no longer do.
    paneFont_ = std::move(font);
}

}  // namespace shell
