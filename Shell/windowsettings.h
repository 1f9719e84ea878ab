// The per-user values of the main window, kept as strings under
// HKEY_CURRENT_USER\Software\Vexilo\Settings: their defaults, their text forms
// and the fallback to the default for a text that does not parse.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "termination.h"

namespace shell {

constexpr char kSettingsKey[] = "Software\\Vexilo\\Settings";

struct WindowSettings {
    bool TreeIsExpanded = true;
    bool ShowUserMethods = true;
    bool ShowIUnknown = true;
    bool ShowIDispatch = true;
    bool EnsureVisibleLastItem = true;
    bool AlwaysOnTop = false;
    bool NestByArrivalOrder = false;
    std::string FilterRules, HighlightRules;  // TraceFilter::ToText
    float MainLeft = 2000;  // twips
    float MainTop = 2000;
    float MainWidth = 12000;
    float MainHeight = 8000;
    float Splitter = 5330;
    int WindowState = 0;  // 0 normal, 1 minimized, 2 maximized
    // Records the trace view holds at most (a per-user value that is read,
    // never written): a long live trace must not exhaust a 32-bit process.
    long MaxViewRecords = kDefaultMaxViewRecords;
    static constexpr long kDefaultMaxViewRecords = 1000000;
    static constexpr long kFewestViewRecords = 1000;
    static constexpr long kMostViewRecords = 20000000;
    // How long the exit waits for the reader to stop watching the hooked
    // classes (read, never written).
    long ExitWaitSeconds = kDefaultExitWaitSeconds;
    static constexpr long kDefaultExitWaitSeconds = kTerminationWaitMs / 1000;  // one default wait

    // From the stored texts by value name; a missing or unparsable text keeps the default.
    static WindowSettings FromTexts(const std::map<std::string, std::string>& texts);
    // The texts written at exit. `normal` says whether the window was in its
    // normal state: only then are the five measures written.
    std::map<std::string, std::string> ToTexts(bool normal) const;
};

// The options the window keeps per user, from the stored values to the
// running ones at start and back at the exit.
template <typename From, typename To>
void CopyViewOptions(const From& from, To& to) {
    to.TreeIsExpanded = from.TreeIsExpanded;
    to.ShowUserMethods = from.ShowUserMethods;
    to.ShowIUnknown = from.ShowIUnknown;
    to.ShowIDispatch = from.ShowIDispatch;
    to.EnsureVisibleLastItem = from.EnsureVisibleLastItem;
    to.AlwaysOnTop = from.AlwaysOnTop;
    to.NestByArrivalOrder = from.NestByArrivalOrder;
    to.FilterRules = from.FilterRules;
    to.HighlightRules = from.HighlightRules;
}

// "True"/"False" (any letter case on reading).
std::string BoolText(bool value);
bool ParseBool(const std::string& text, bool* value);
// A decimal number; a whole value is written without a fraction.
std::string NumberText(float value);
bool ParseNumber(const std::string& text, float* value);

// The registry side: every value of the section, and writing some back.
std::map<std::string, std::string> ReadSettingTexts(HKEY root = HKEY_CURRENT_USER);
bool WriteSettingTexts(const std::map<std::string, std::string>& texts, HKEY root = HKEY_CURRENT_USER);

}  // namespace shell
