#include "finddialog.h"

#include <commctrl.h>

#include "mainwindow.h"
#include "resource.h"

namespace shell {

INT_PTR CALLBACK FindDialog::Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<FindDialog*>(::GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        self = reinterpret_cast<FindDialog*>(lParam);
        ::SetDlgItemTextA(dialog, IDC_FINDWHAT, self->findWhat_.c_str());
        ::SendDlgItemMessageA(dialog, IDC_FINDWHAT, EM_SETSEL, 0, -1);
        ::CheckDlgButton(dialog, IDC_MATCHCASE, self->matchCase_ ? BST_CHECKED : BST_UNCHECKED);
        ::EnableWindow(::GetDlgItem(dialog, IDOK), !self->findWhat_.empty());
        return TRUE;
    case WM_COMMAND:
        if (!self) break;
        switch (LOWORD(wParam)) {
        case IDC_FINDWHAT:
            if (HIWORD(wParam) == EN_CHANGE)
                ::EnableWindow(::GetDlgItem(dialog, IDOK), ::GetWindowTextLengthA(::GetDlgItem(dialog, IDC_FINDWHAT)) > 0);
            return TRUE;
        case IDOK:
            self->Next();
            return TRUE;
        case IDCANCEL:
            // Only Cancel keeps what the dialog holds for the next search;
            // the window frame's close button does not.
            if (HIWORD(wParam) == BN_CLICKED && lParam) {
                self->findWhat_ = self->Text();
                self->matchCase_ = ::IsDlgButtonChecked(dialog, IDC_MATCHCASE) == BST_CHECKED;
            }
            self->Close();
            return TRUE;
        }
        break;
    case WM_CLOSE:
        if (self) self->Close();
        return TRUE;
    }
    return FALSE;
}

std::string FindDialog::Text() const {
    HWND edit = ::GetDlgItem(dialog_, IDC_FINDWHAT);
    std::string text(static_cast<size_t>(::GetWindowTextLengthA(edit)) + 1, '\0');
    text.resize(static_cast<size_t>(::GetWindowTextA(edit, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Loads the dialog hidden; its search state starts empty with each load.
bool FindDialog::Load() {
    if (dialog_) return true;
    search_ = TraceSearch();
    dialog_ = ::CreateDialogParamA(instance_, MAKEINTRESOURCEA(IDD_FIND), owner_, Proc, reinterpret_cast<LPARAM>(this));
    return dialog_ != nullptr;
}

void FindDialog::Close() {
    if (!dialog_) return;
    HWND dialog = dialog_;
    dialog_ = nullptr;
    ::DestroyWindow(dialog);
}

void FindDialog::Show(int left, int top) {
    if (!Load()) return;
    ::SetWindowPos(dialog_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ::ShowWindow(dialog_, SW_SHOW);
    ::SetFocus(::GetDlgItem(dialog_, IDC_FINDWHAT));
}

bool FindDialog::FindNext() {
    if (findWhat_.empty()) return false;
    if (Load()) Next();
    return true;
}

void FindDialog::Next() {
    // The tree's own model: collapsed branches may not be in the control yet.
    KeyedTree& tree = pane_.Tree();
    std::vector<std::string> order = tree.KeysInTreeOrder();
    std::string selected = tree.SelectedKey();
    int32_t current = 0;
    for (size_t i = 0; i < order.size() && !selected.empty(); ++i)
        if (order[i] == selected) current = static_cast<int32_t>(i + 1);
    bool matchCase = ::IsDlgButtonChecked(dialog_, IDC_MATCHCASE) == BST_CHECKED;
    FindResult result = search_.FindNext(Text(), matchCase, static_cast<int32_t>(order.size()), current,
                                         [&](int32_t i) { return tree.Text(order[static_cast<size_t>(i - 1)]); });
    switch (result.outcome) {
    case FindOutcome::Nothing:
        return;
    case FindOutcome::Found: {
        const std::string& key = order[static_cast<size_t>(result.index - 1)];
        tree.EnsureVisible(key);
        if (key == selected)
            showSelected_(key);
        else
            tree.Select(key);
        return;
    }
    case FindOutcome::WholeTraceSearched:
    case FindOutcome::NotFound: {
        const char* text = result.outcome == FindOutcome::NotFound ? kSearchTextNotFound : kWholeTraceSearched;
        HWND owner = dialog_ && ::IsWindowVisible(dialog_) ? dialog_ : owner_;
        ::MessageBoxA(owner, text, kAppTitle, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    }
}

}  // namespace shell
