// The Edit menu: Find in Trace (placed over the right pane) and Find Next,
// Copy from either pane, and Font for both panes.
#include "mainwindow.h"

#include <commdlg.h>

#include "findcopy.h"

namespace shell {

namespace {

constexpr double kFindLeftOffset = 200, kFindTopOffset = 2600;  // twips

}  // namespace

void MainWindow::mnuEditFind_Click() {
    RECT window, pane;
    ::GetWindowRect(hwnd_, &window);
    ::GetWindowRect(details_.hwnd(), &pane);
    POINT paneTop = {pane.left, pane.top};
    ::ScreenToClient(hwnd_, &paneTop);
    find_->Show(window.left + Px(layout_.splitter.left + kFindLeftOffset), window.top + paneTop.y + Px(kFindTopOffset));
}

void MainWindow::mnuEditFindNext_Click() {
    if (!find_->FindNext()) mnuEditFind_Click();
}

void MainWindow::mnuEditCopy_Click() {
    HWND focus = ::GetFocus();
    std::string text;
    bool copies = false;
    if (focus == tracePane_.hwnd()) {
        if (HTREEITEM item = TreeView_GetSelection(tracePane_.hwnd())) text = tracePane_.Tree().ItemText(item);
        copies = true;
    } else if (focus == details_.hwnd()) {
        std::vector<PaneLine> lines;
        for (const KeyedTree::OrderedItem& item : details_.Tree().InTreeOrder())
            lines.push_back({item.level, details_.Tree().ItemText(item.item), item.expanded});
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
    if (HFONT current = reinterpret_cast<HFONT>(::SendMessageA(tracePane_.hwnd(), WM_GETFONT, 0, 0)))
        ::GetObjectA(current, sizeof chosen, &chosen);
    CHOOSEFONTA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hwnd_;
    dialog.lpLogFont = &chosen;
    dialog.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_EFFECTS;
    if (!::ChooseFontA(&dialog)) return;
    vx::unique_font font(::CreateFontIndirectA(&chosen));
    if (!font) return;
    for (HWND pane : {tracePane_.hwnd(), details_.hwnd()})
        ::SendMessageA(pane, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    // Not stored: the next start has the panes' own font again. The font
    // the panes used until now goes once they no longer do.
    paneFont_ = std::move(font);
}

}  // namespace shell
