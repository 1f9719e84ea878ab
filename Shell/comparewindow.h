// Compare With: the differences between the trace shown and a saved trace,
// one row each, side by side; a double-click on a row with a call of the
// trace shown selects it in the trace tree.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "traceexchange.h"

namespace shell {

class CompareWindow {
public:
    static constexpr char kClassName[] = "VexiloCompare";
    static constexpr int kSummaryId = 101, kListId = 102;

    CompareWindow() = default;
    CompareWindow(const CompareWindow&) = delete;
    CompareWindow& operator=(const CompareWindow&) = delete;
    ~CompareWindow() { Close(); }

    // Shows the rows (replacing what it showed); `select(num)` runs on a
    // double-click of a row of the trace shown.
    void Show(HINSTANCE instance, HWND owner, HFONT font, const std::string& fileName, const std::string& summary,
              std::vector<CompareRow> rows, std::function<void(int32_t)> select);
    void Close();
    HWND hwnd() const { return window_; }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool Create(HINSTANCE instance, HWND owner, HFONT font);
    void Layout();
    int Px(double twips) const;

    HWND window_ = nullptr, summary_ = nullptr, list_ = nullptr;
    std::vector<CompareRow> rows_;
    std::function<void(int32_t)> select_;
};

}  // namespace shell
