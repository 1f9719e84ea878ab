// The window's two panes. The left one holds the hooked list, the component
// list or the trace tree, whose nodes go in batch by batch with painting off;
// it reports selections and clicks to the window. The right one holds a
// node's details, with Quick Help over it on request and its title above it.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "keyedtree.h"
#include "tracetree.h"

namespace shell {

// What a notice of the left pane asks of the window.
struct PaneNotice {
    enum Kind { kNone, kSelected, kRightClicked, kDoubleClicked } kind = kNone;
    std::string key;
};

class TracePane {
public:
    void Create(HWND owner, HINSTANCE instance, HFONT font, HIMAGELIST images);
    HWND hwnd() const { return tree_.hwnd(); }
    KeyedTree& Tree() { return tree_; }
    const KeyedTree& Tree() const { return tree_; }

    // Trace nodes into the tree with painting off until Paint.
    void Insert(const std::vector<TreeNode>& nodes);
    // Painting on again; true when nodes went in since the last call.
    bool Paint();
    // Every node anew (an option changed), painted once.
    void Rebuild(const std::vector<TreeNode>& nodes);
    // Nodes already in the tree drawn anew: text, image and tint.
    void Update(const std::vector<TreeNode>& nodes);
    // Empty, painting on.
    void Clear();

    // WM_NOTIFY from the tree (`result` is what the window returns) and the
    // second look a click posts to the window (kClickedTree).
    PaneNotice OnNotify(NMHDR* header, LRESULT* result);
    PaneNotice OnClickedTree(WPARAM changesAtClick);
    static constexpr UINT kClickedTree = WM_APP + 0x110;

private:
    // Each node under its parent, expanded as it says; painting is the caller's.
    void Add(const std::vector<TreeNode>& nodes);

    KeyedTree tree_;
    bool redrawOff_ = false, changed_ = false;
    HTREEITEM clickSelected_ = nullptr;  // selected by the mouse click in progress
    WPARAM selectionChanges_ = 0;        // selection changes so far
};

class DetailsPane {
public:
    void Create(HWND owner, HINSTANCE instance, HFONT font, HIMAGELIST images);
    HWND hwnd() const { return tree_.hwnd(); }
    HWND title() const { return title_; }
    HWND help() const { return help_; }
    KeyedTree& Tree() { return tree_; }

    // The title; `behindHelp`: while Quick Help covers the pane the title
    // stays "Quick Help" and this one comes back with the pane.
    void SetTitle(const std::string& title, bool behindHelp);
    // Quick Help from an RTF file, or a line saying it is missing.
    void LoadHelp(const std::string& path);
    // Shows or hides Quick Help at `at` (pixels); false when nothing changed.
    bool ShowQuickHelp(bool show, const RECT& at);
    bool QuickHelpShown() const { return helpShown_; }

private:
    KeyedTree tree_;
    HWND title_ = nullptr, help_ = nullptr;
    bool helpShown_ = false;
    std::string savedTitle_;
};

}  // namespace shell
