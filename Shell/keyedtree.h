// A tree of keyed nodes over the system tree view: nodes are found by a text
// key, children are added under a parent's key, and the nodes keep their
// insertion order for index lookups. Each node can carry a picture from the
// tree's image list and a text colour of its own. Both panes of the main
// window and the trace tree use it.
#pragma once

#include <windows.h>
#include <commctrl.h>

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

    void Attach(HWND tree);
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
    // Removes the node and everything under it.
    bool Remove(const std::string& key);
    void Clear();

    bool Exists(const std::string& key) const { return index_.count(key) != 0; }
    size_t Count() const { return index_.size(); }
    // The key of the node at position i (0 first) in insertion order of the nodes still there.
    std::string KeyAt(size_t i) const;
    std::string KeyOf(HTREEITEM item) const;
    HTREEITEM ItemOf(const std::string& key) const;

    std::string Text(const std::string& key) const;
    void SetText(const std::string& key, const std::string& text);
    int Image(const std::string& key) const;
    void SetImage(const std::string& key, int image);
    COLORREF Colour(const std::string& key) const;
    void SetColour(const std::string& key, COLORREF colour);

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
    struct Node {
        std::string key;
        HTREEITEM item = nullptr;
        COLORREF colour = kDefaultColour;
        int image = kNoImage;
        bool alive = false;
    };
    void Forget(HTREEITEM item);
    const Node* Find(const std::string& key) const;
    Node* Find(const std::string& key);

    HWND tree_ = nullptr;
    // lParam of each item is its position here: a key, never a pointer.
    std::vector<Node> nodes_;
    std::unordered_map<std::string, size_t> index_;
    bool hasImages_ = false;
};

}  // namespace shell
