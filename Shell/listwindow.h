// A window of rows under a summary line, owned by the main window: Compare
// With's differences and the statistics. Its columns sort on a click of
// their header (numbers as numbers); a double click acts on a row.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace shell {

class ListWindow {
public:
    struct Column {
        const char* title;
        double width;  // twips
        bool numeric = false;
    };
    static constexpr int kSummaryId = 101, kListId = 102;

    ListWindow(const char* className, std::vector<Column> columns)
        : className_(className), columns_(std::move(columns)) {}
    ListWindow(const ListWindow&) = delete;
    ListWindow& operator=(const ListWindow&) = delete;
    ~ListWindow() { Close(); }

    // Shows the rows (replacing what it showed); `activate(row)` runs on a
    // double click, with the row's index in `rows`.
    void Show(HINSTANCE instance, HWND owner, HFONT font, const std::string& title, const std::string& summary,
              std::vector<std::vector<std::string>> rows, std::function<void(size_t)> activate);
    void SetColumnTitle(int column, const std::string& title);
    void Close();
    HWND hwnd() const { return window_; }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static int CALLBACK Compare(LPARAM a, LPARAM b, LPARAM self);
    bool Create(HINSTANCE instance, HWND owner);
    void Layout();
    void SortBy(int column);

    const char* className_;
    std::vector<Column> columns_;
    HWND window_ = nullptr, summary_ = nullptr, list_ = nullptr;
    std::vector<std::vector<std::string>> rows_;
    std::function<void(size_t)> activate_;
    int sortColumn_ = -1;
    bool ascending_ = true;
};

}  // namespace shell
