// The status bar: panels named by key (which panels a mode shows comes from
// the mode table), each but the first as wide as its text, and the progress
// bar over the first panel while a listing or a trace file is read.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace shell {

class StatusPanels {
public:
    // `font` measures the texts; the window owns it.
    void Create(HWND owner, HINSTANCE instance, HFONT font, int dpi);
    HWND hwnd() const { return bar_; }
    // The bar's top in the owner's client area, its height, its first panel's width.
    int Top() const;
    int Height() const;
    int FirstPanelWidth() const;

    void Set(const std::vector<std::pair<const char*, std::string>>& panels);
    // A key the mode does not show is left alone.
    void SetText(const char* key, const std::string& text);
    // After the owner's size changed.
    void Resize();

    // The progress bar: shown from 0 of `maximum`, moved, hidden.
    void BeginProgress(long maximum);
    void Progress(long position);
    void EndProgress();

private:
    int PanelIndex(const char* key) const;
    void SizePanels();
    void PlaceProgressBar();

    HWND bar_ = nullptr, progress_ = nullptr;
    HFONT font_ = nullptr;
    int dpi_ = 96;
    long progressMaximum_ = 0;
    std::vector<std::string> keys_;
};

}  // namespace shell
