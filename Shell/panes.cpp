#include "panes.h"

#include <richedit.h>

#include "commands.h"
#include "images.h"
#include "raii.h"

namespace shell {
namespace {

constexpr DWORD kTreeStyle = TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS | WS_TABSTOP;

HWND MakeControl(HWND owner, HINSTANCE instance, HFONT font, const char* cls, DWORD style, int id) {
    HWND w = ::CreateWindowExA(WS_EX_CLIENTEDGE, cls, "", WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, owner,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    ::SendMessageA(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return w;
}

std::string TextOf(HWND edit) {
    char text[512] = {};
    ::GetWindowTextA(edit, text, sizeof text);
    return text;
}

DWORD CALLBACK ReadRtf(DWORD_PTR cookie, BYTE* buffer, LONG size, LONG* got) {
    DWORD n = 0;
    BOOL ok = ::ReadFile(reinterpret_cast<HANDLE>(cookie), buffer, static_cast<DWORD>(size), &n, nullptr);
    *got = static_cast<LONG>(n);
    return ok ? 0 : 1;
}

}  // namespace

void TracePane::Create(HWND owner, HINSTANCE instance, HFONT font, HIMAGELIST images) {
    // Lazy: a saved trace of a million records opens with its top level alone in the control.
    tree_.Attach(MakeControl(owner, instance, font, WC_TREEVIEWA, kTreeStyle, kTree1Id), true);
    tree_.SetImageList(images);
}

// Painting stays off while batches go in: the tree view repaints (and
// scrolls) per insert otherwise, which costs milliseconds a node, and a
// repaint per batch of a few dozen records still costs more than the batch.
void TracePane::Insert(const std::vector<TreeNode>& nodes) {
    if (nodes.empty()) return;
    if (!redrawOff_) {
        tree_.SetRedraw(false);
        redrawOff_ = true;
    }
    Add(nodes);
    changed_ = true;
}

namespace {

// Failed calls in red, highlighted ones in blue.
COLORREF TintColour(NodeTint tint) {
    switch (tint) {
    case NodeTint::Failed: return RGB(190, 0, 0);
    case NodeTint::Highlighted: return RGB(0, 70, 210);
    case NodeTint::Plain: break;
    }
    return KeyedTree::kDefaultColour;
}

}  // namespace

void TracePane::Add(const std::vector<TreeNode>& nodes) {
    for (const TreeNode& node : nodes) {
        std::string parent = node.ParentKey();
        tree_.Add(parent, node.Key(), node.Text, kCallImage + static_cast<int>(node.Image), node.Expanded);
        if (node.Tint != NodeTint::Plain) tree_.SetColour(node.Key(), TintColour(node.Tint));
        if (!parent.empty() && tree_.IsExpanded(parent) != node.Expanded) tree_.Expand(parent, node.Expanded);
    }
}

void TracePane::Update(const std::vector<TreeNode>& nodes) {
    for (const TreeNode& node : nodes) {
        std::string key = node.Key();
        tree_.SetText(key, node.Text);
        tree_.SetImage(key, kCallImage + static_cast<int>(node.Image));
        tree_.SetColour(key, TintColour(node.Tint));
    }
    if (!nodes.empty()) changed_ = true;
}

bool TracePane::Paint() {
    if (redrawOff_) {
        tree_.SetRedraw(true);
        redrawOff_ = false;
    }
    bool changed = changed_;
    changed_ = false;
    return changed;
}

void TracePane::Rebuild(const std::vector<TreeNode>& nodes) {
    tree_.SetRedraw(false);
    redrawOff_ = changed_ = false;
    tree_.Clear();
    Add(nodes);
    if (!nodes.empty()) tree_.EnsureVisible(nodes.front().Key());
    tree_.SetRedraw(true);
}

void TracePane::Clear() {
    Paint();
    tree_.Clear();
}

PaneNotice TracePane::OnNotify(NMHDR* header, LRESULT* result) {
    *result = 0;
    if (tree_.OnNotify(header, result)) return {};
    HWND tree = hwnd();
    switch (header->code) {
    case NM_CUSTOMDRAW:
        *result = tree_.OnCustomDraw(reinterpret_cast<NMTVCUSTOMDRAW*>(header));
        return {};
    case TVN_SELCHANGEDA:
    case TVN_SELCHANGEDW: {
        auto* change = reinterpret_cast<NMTREEVIEWA*>(header);
        ++selectionChanges_;
        clickSelected_ = change->action == TVC_BYMOUSE ? change->itemNew.hItem : nullptr;
        return {PaneNotice::kSelected, tree_.KeyOf(change->itemNew.hItem)};
    }
    case NM_CLICK:
        // A click that does not change the selection shows the selected
        // node again (over Quick Help, or a final report that has grown).
        // Tree controls differ in whether the selection follows the click's
        // notice or goes before it: a selection by this click is seen either
        // way, before (clickSelected_) or after (the count).
        if (!clickSelected_) ::PostMessageA(::GetParent(tree), kClickedTree, selectionChanges_, 0);
        clickSelected_ = nullptr;
        return {};
    case NM_RCLICK: {
        *result = 1;
        TVHITTESTINFO hit = {};
        ::GetCursorPos(&hit.pt);
        ::ScreenToClient(tree, &hit.pt);
        HTREEITEM item = TreeView_HitTest(tree, &hit);
        if (!item) return {};
        TreeView_SelectItem(tree, item);
        return {PaneNotice::kRightClicked, tree_.KeyOf(item)};
    }
    case NM_DBLCLK:
        return {PaneNotice::kDoubleClicked, {}};
    }
    return {};
}

PaneNotice TracePane::OnClickedTree(WPARAM changesAtClick) {
    PaneNotice notice;
    if (changesAtClick == selectionChanges_) {
        if (HTREEITEM selected = TreeView_GetSelection(hwnd())) notice = {PaneNotice::kSelected, tree_.KeyOf(selected)};
    }
    clickSelected_ = nullptr;
    return notice;
}

void DetailsPane::Create(HWND owner, HINSTANCE instance, HFONT font, HIMAGELIST images) {
    title_ = MakeControl(owner, instance, font, "EDIT", ES_READONLY | ES_AUTOHSCROLL, kDetailsId);
    tree_.Attach(MakeControl(owner, instance, font, WC_TREEVIEWA, kTreeStyle, kTree2Id));
    tree_.SetImageList(images);
    ::LoadLibraryA("riched20.dll");
    help_ = MakeControl(owner, instance, font, RICHEDIT_CLASSA, ES_MULTILINE | ES_READONLY | WS_VSCROLL | ES_AUTOVSCROLL,
                        kHelpId);
    ::ShowWindow(help_, SW_HIDE);
}

void DetailsPane::SetTitle(const std::string& title, bool behindHelp) {
    if (behindHelp && helpShown_)
        savedTitle_ = title;
    else
        ::SetWindowTextA(title_, title.c_str());
}

void DetailsPane::LoadHelp(const std::string& path) {
    vx::unique_file help(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (help) {
        EDITSTREAM stream = {reinterpret_cast<DWORD_PTR>(help.get()), 0, ReadRtf};
        ::SendMessageA(help_, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    } else {
        ::SetWindowTextA(help_, ("Quick Help is missing: " + path).c_str());
    }
}

bool DetailsPane::ShowQuickHelp(bool show, const RECT& at) {
    if (show == helpShown_) return false;
    helpShown_ = show;
    if (show) {
        savedTitle_ = TextOf(title_);
        ::SetWindowTextA(title_, "Quick Help");
        ::MoveWindow(help_, at.left, at.top, at.right - at.left, at.bottom - at.top, TRUE);
        ::ShowWindow(help_, SW_SHOW);
        ::SetWindowPos(help_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        ::ShowWindow(hwnd(), SW_HIDE);
    } else {
        ::ShowWindow(help_, SW_HIDE);
        ::ShowWindow(hwnd(), SW_SHOW);
        ::SetWindowTextA(title_, savedTitle_.c_str());
    }
    return true;
}

}  // namespace shell
