// Find in Trace and Copy.
#include "findcopy.h"

#include <windows.h>

#include <climits>

namespace shell {

const char kWholeTraceSearched[] = "The whole trace has been searched.";
const char kSearchTextNotFound[] = "Search text is not found.";

namespace {

std::string Upper(std::string text) {
    if (!text.empty()) ::CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

}  // namespace

bool TextMatches(const std::string& nodeText, const std::string& searchText, bool matchCase) {
    if (matchCase) return nodeText.find(searchText) != std::string::npos;
    return Upper(nodeText).find(Upper(searchText)) != std::string::npos;
}

int32_t TraceSearch::Scan(int32_t from, int32_t to, const std::string& text, bool matchCase, int32_t total,
                          const std::function<std::string(int32_t)>& nodeText) {
    state_.FromIndex = from;
    state_.ToIndex = to;
    // The tree may have lost nodes since the search began (a rebuild).
    if (to > total) to = total;
    for (int32_t i = from < 1 ? 1 : from; i <= to; ++i)
        if (TextMatches(nodeText(i), text, matchCase)) return i;
    return 0;
}

FindResult TraceSearch::End() {
    FindResult result;
    result.outcome = state_.FoundOnce ? FindOutcome::WholeTraceSearched : FindOutcome::NotFound;
    state_.LastText.clear();  // the next step starts a new search
    return result;
}

FindResult TraceSearch::FindNext(const std::string& text, bool matchCase, int32_t total, int32_t selected,
                                 const std::function<std::string(int32_t)>& nodeText) {
    if (total <= 0) return FindResult{};
    const int32_t cur = selected >= 1 && selected <= total ? selected : 0;
    SearchState& s = state_;
    int32_t from, to;
    if (text != s.LastText || cur == 0 || cur != s.LastFoundIndex) {
        s.LastText = text;
        if (cur == 0 || cur == total) {
            s.WrapFrom = 1;
            s.StartIndex = total;
        } else {
            s.WrapFrom = cur + 1;
            s.StartIndex = cur;
        }
        from = s.WrapFrom;
        to = total;
        s.FoundOnce = false;
    } else if (cur == s.StartIndex) {
        // Back where the search began: complete, whatever was found.
        FindResult result;
        result.outcome = FindOutcome::WholeTraceSearched;
        s.LastText.clear();
        return result;
    } else if (cur + 1 <= s.WrapFrom) {  // already wrapped
        from = cur + 1;
        to = s.StartIndex;
    } else if (cur == total) {  // wrap now
        from = 1;
        to = s.StartIndex;
    } else {
        from = cur + 1;
        to = total;
    }

    int32_t hit = Scan(from, to, text, matchCase, total, nodeText);
    if (hit == 0 && to != s.StartIndex) hit = Scan(1, s.StartIndex, text, matchCase, total, nodeText);
    if (hit == 0) return End();
    s.LastFoundIndex = hit;
    s.FoundOnce = true;
    FindResult result;
    result.outcome = FindOutcome::Found;
    result.index = hit;
    return result;
}

std::string CopyPaneText(const std::vector<PaneLine>& lines) {
    std::string text;
    bool first = true;
    int collapsedAt = INT_MAX;  // level of the collapsed node whose branch is hidden
    for (const PaneLine& line : lines) {
        if (line.level > collapsedAt) continue;
        collapsedAt = line.expanded ? INT_MAX : line.level;
        if (!first) text += "\r\n" + std::string(static_cast<size_t>(4 * (line.level > 1 ? line.level - 1 : 0)), ' ');
        text += line.text;
        first = false;
    }
    return text;
}

}  // namespace shell
