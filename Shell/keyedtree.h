// A tree of keyed nodes over the system tree view: nodes are found by a text
// key, children are added under a parent's key. Each node can carry a picture
// from the tree's image list and a text colour of its own. Both panes of the
// main window and the trace tree use it.
// A lazy tree keeps every node in its own model and hands the control only
// the top level and the children of nodes that have been expanded: the
// control's cost per item grows with its item count, and a saved trace opens
// collapsed. Find works on the model, so nodes not yet in the control count.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace shell {

class KeyedTree {
public:
    static constexpr int kNoImage = -1;
    static constexpr COLORREF kDefaultColour = CLR_DEFAULT;

    KeyedTree() = default;
    KeyedTree(const KeyedTree&) = delete;
    KeyedTree& operator=(const KeyedTree&) = delete;

    // A lazy tree needs its owner to pass the tree's notices to OnNotify.
    void Attach(HWND tree, bool lazy = false);
    HWND hwnd() const { return tree_; }

    // Pictures come from this list; kNoImage leaves a node without one.
    void SetImageList(HIMAGELIST images);

    // Adds a node under parentKey (a root when parentKey is empty). False,
    // and nothing added, when the key is already taken or the parent is missing.
    // `expanded` is set as the node is inserted: its children, added later,
    // show at once, without a message per insert.
    bool Add(const std::string& parentKey, const std::string& key, const std::string& text, int image = kNoImage,
             bool expanded = false);
    bool IsExpanded(const std::string& key) const;
    // TVN_GETDISPINFO (whether a node has children) and TVN_ITEMEXPANDING
    // (its children into the control) of a lazy tree; true when handled.
    bool OnNotify(NMHDR* header, LRESULT* result);
    void Clear();

    bool Exists(const std::string& key) const { return index_.count(key) != 0; }
    size_t Count() const { return index_.size(); }
    std::string KeyOf(HTREEITEM item) const;
    // Null for a node that is not in the control (yet).
    HTREEITEM ItemOf(const std::string& key) const;
    // The keys of every node in the tree's order (each parent before its
    // children), the branches not yet in the control included.
    std::vector<std::string> KeysInTreeOrder() const;

    std::string Text(const std::string& key) const;
    void SetText(const std::string& key, const std::string& text);
    int Image(const std::string& key) const;
    void SetImage(const std::string& key, int image);
    COLORREF Colour(const std::string& key) const;
    void SetColour(const std::string& key, COLORREF colour);

    // These three put the node into the control first when it is not there.
    void Expand(const std::string& key, bool expand = true);
    void EnsureVisible(const std::string& key);
    void Select(const std::string& key);
    std::string SelectedKey() const;

    // Painting off while many nodes are added, on again afterwards.
    void SetRedraw(bool on);

    // The owner passes the tree's NM_CUSTOMDRAW here; it paints node colours.
    LRESULT OnCustomDraw(NMTVCUSTOMDRAW* draw) const;

    // Every node in the tree's own order (each parent before its children),
    // collapsed branches included, with its level (1 for a root) and whether
    // it is expanded. Keyless nodes added to the control directly count too.
    struct OrderedItem {
        HTREEITEM item;
        int level;
        bool expanded;
    };
    std::vector<OrderedItem> InTreeOrder() const;
    std::string ItemText(HTREEITEM item) const;

private:
    static constexpr uint32_t kNone = UINT32_MAX;
    // Positions in nodes_ link the model: children in order of addition.
    struct Node {
        std::string key;
        std::string text;
        HTREEITEM item = nullptr;  // null while the node is not in the control
        COLORREF colour = kDefaultColour;
        int image = kNoImage;
        uint32_t parent = kNone, firstChild = kNone, lastChild = kNone, prev = kNone, next = kNone;
        bool expanded = false;  // as inserted; the control's state once filled
        bool filled = false;    // its children are in the control
    };
    void Link(uint32_t at);
    // Into the control under its parent, which is there and filled; with
    // the children of nodes inserted expanded. False when the control refused.
    bool Insert(uint32_t at);
    // The node's children into the control.
    void Fill(uint32_t at);
    // The node into the control, with the branches above it filled.
    HTREEITEM Materialize(const std::string& key);
    uint32_t PositionOf(const std::string& key) const;
    const Node* Find(const std::string& key) const;
    Node* Find(const std::string& key);

    HWND tree_ = nullptr;
    bool lazy_ = false;
    // lParam of each item is its position here: a key, never a pointer.
    std::vector<Node> nodes_;
    std::unordered_map<std::string, uint32_t> index_;
    uint32_t firstRoot_ = kNone, lastRoot_ = kNone;
    bool hasImages_ = false;
};

}  // namespace shell
