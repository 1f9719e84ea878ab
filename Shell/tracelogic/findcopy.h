// Find in Trace (one search step over the left pane's nodes, with its wrap
// rules and messages) and Copy (the right pane's visible nodes as indented
// lines).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace shell {

// The two end-of-search messages.
extern const char kWholeTraceSearched[];  // "The whole trace has been searched."
extern const char kSearchTextNotFound[];  // "Search text is not found."

// Kept by the Find dialog while it is loaded. Indexes are 1-based positions
// of the left pane's nodes in the tree's own order.
struct SearchState {
    int32_t FromIndex = 0;
    int32_t ToIndex = 0;
    int32_t WrapFrom = 0;
    int32_t StartIndex = 0;
    int32_t LastFoundIndex = 0;
    std::string LastText;
    bool FoundOnce = false;
};

enum class FindOutcome {
    Nothing,             // empty pane: no message
    Found,               // select Index, scroll to it and show its details
    WholeTraceSearched,  // message kWholeTraceSearched
    NotFound,            // message kSearchTextNotFound
};

struct FindResult {
    FindOutcome outcome = FindOutcome::Nothing;
    int32_t index = 0;  // the node found
};

// Whether a node's text matches: with matchCase an exact substring, else the
// upper-cased text (ANSI code page) contains the upper-cased search text.
bool TextMatches(const std::string& nodeText, const std::string& searchText, bool matchCase);

class TraceSearch {
public:
    // One Find Next step. total: nodes of the left pane; selected: index of
    // the selected node, 0 for none; nodeText(i): text of node i (1..total).
    FindResult FindNext(const std::string& text, bool matchCase, int32_t total, int32_t selected,
                        const std::function<std::string(int32_t)>& nodeText);

    const SearchState& State() const { return state_; }

private:
    // Tests from..to; the index of the first match or 0.
    int32_t Scan(int32_t from, int32_t to, const std::string& text, bool matchCase, int32_t total,
                 const std::function<std::string(int32_t)>& nodeText);
    FindResult End();

    SearchState state_;
};

// One node of the right pane in tree order: its level (1 for a root node),
// its text and whether it is expanded.
struct PaneLine {
    int level = 1;
    std::string text;
    bool expanded = true;
};

// Copy from the right pane: the nodes not inside a collapsed branch, the
// first one's text alone, each further one after CR LF and 4 x (level - 1)
// blanks.
std::string CopyPaneText(const std::vector<PaneLine>& lines);

}  // namespace shell
