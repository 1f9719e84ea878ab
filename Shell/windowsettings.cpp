#include "windowsettings.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "raii.h"
#include "textconv.h"

namespace shell {
namespace {

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

void ReadBool(const std::map<std::string, std::string>& texts, const char* name, bool* value) {
    auto found = texts.find(name);
    if (found != texts.end()) ParseBool(found->second, value);
}

void ReadNumber(const std::map<std::string, std::string>& texts, const char* name, float* value) {
    auto found = texts.find(name);
    if (found != texts.end()) ParseNumber(found->second, value);
}

}  // namespace

std::string BoolText(bool value) { return value ? "True" : "False"; }

bool ParseBool(const std::string& text, bool* value) {
    std::string t = Trimmed(text);
    if (vx::EqualNoCase(t, "True")) {
        *value = true;
        return true;
    }
    if (vx::EqualNoCase(t, "False")) {
        *value = false;
        return true;
    }
    return false;
}

std::string NumberText(float value) {
    char text[48];
    if (value == std::floor(value) && std::fabs(value) < 1e9f)
        std::snprintf(text, sizeof text, "%ld", static_cast<long>(value));
    else
        std::snprintf(text, sizeof text, "%.7g", static_cast<double>(value));
    return text;
}

bool ParseNumber(const std::string& text, float* value) {
    std::string t = Trimmed(text);
    if (t.empty()) return false;
    errno = 0;
    char* end = nullptr;
    double parsed = std::strtod(t.c_str(), &end);
    // A word, a number with trailing text, or one too large for any screen.
    if (*end != '\0' || errno != 0 || !std::isfinite(parsed) || std::fabs(parsed) > 1e7) return false;
    *value = static_cast<float>(parsed);
    return true;
}

namespace {

// A whole number in [least, most]; anything else keeps the default.
void ReadWhole(const std::map<std::string, std::string>& texts, const char* name, long least, long most, long* value) {
    auto found = texts.find(name);
    if (found == texts.end()) return;
    std::string t = Trimmed(found->second);
    char* end = nullptr;
    errno = 0;
    long parsed = t.empty() ? 0 : std::strtol(t.c_str(), &end, 10);
    if (!t.empty() && *end == '\0' && errno == 0 && parsed >= least && parsed <= most) *value = parsed;
}

}  // namespace

WindowSettings WindowSettings::FromTexts(const std::map<std::string, std::string>& texts) {
    WindowSettings s;
    ReadBool(texts, "TreeIsExpanded", &s.TreeIsExpanded);
    ReadBool(texts, "ShowUserMethods", &s.ShowUserMethods);
    ReadBool(texts, "ShowIUnknown", &s.ShowIUnknown);
    ReadBool(texts, "ShowIDispatch", &s.ShowIDispatch);
    ReadBool(texts, "EnsureVisibleLastItem", &s.EnsureVisibleLastItem);
    ReadBool(texts, "AlwaysOnTop", &s.AlwaysOnTop);
    ReadBool(texts, "NestByArrivalOrder", &s.NestByArrivalOrder);
    if (auto it = texts.find("FilterRules"); it != texts.end()) s.FilterRules = it->second;
    if (auto it = texts.find("HighlightRules"); it != texts.end()) s.HighlightRules = it->second;
    ReadNumber(texts, "MainLeft", &s.MainLeft);
    ReadNumber(texts, "MainTop", &s.MainTop);
    ReadNumber(texts, "MainWidth", &s.MainWidth);
    ReadNumber(texts, "MainHeight", &s.MainHeight);
    ReadNumber(texts, "Splitter", &s.Splitter);
    // A window too small to grab is as unusable as one off the screen.
    WindowSettings defaults;
    if (s.MainWidth < 1500 || s.MainHeight < 1500) {
        s.MainWidth = defaults.MainWidth;
        s.MainHeight = defaults.MainHeight;
    }
    if (s.Splitter < 0) s.Splitter = defaults.Splitter;
    float state = 0;
    auto found = texts.find("WindowState");
    if (found != texts.end() && ParseNumber(found->second, &state) && (state == 0 || state == 1 || state == 2))
        s.WindowState = static_cast<int>(state);
    ReadWhole(texts, "MaxViewRecords", kFewestViewRecords, kMostViewRecords, &s.MaxViewRecords);
    ReadWhole(texts, "ExitWaitSeconds", 1, 600, &s.ExitWaitSeconds);
    return s;
}

std::map<std::string, std::string> WindowSettings::ToTexts(bool normal) const {
    std::map<std::string, std::string> texts = {
        {"TreeIsExpanded", BoolText(TreeIsExpanded)},
        {"ShowUserMethods", BoolText(ShowUserMethods)},
        {"ShowIUnknown", BoolText(ShowIUnknown)},
        {"ShowIDispatch", BoolText(ShowIDispatch)},
        {"EnsureVisibleLastItem", BoolText(EnsureVisibleLastItem)},
        {"AlwaysOnTop", BoolText(AlwaysOnTop)},
        {"NestByArrivalOrder", BoolText(NestByArrivalOrder)},
        {"FilterRules", FilterRules},
        {"HighlightRules", HighlightRules},
        // A minimized window is remembered as normal.
        {"WindowState", WindowState == 2 ? "2" : "0"},
    };
    if (normal) {
        texts["MainLeft"] = NumberText(MainLeft);
        texts["MainTop"] = NumberText(MainTop);
        texts["MainWidth"] = NumberText(MainWidth);
        texts["MainHeight"] = NumberText(MainHeight);
        texts["Splitter"] = NumberText(Splitter);
    }
    return texts;
}

std::map<std::string, std::string> ReadSettingTexts(HKEY root) {
    std::map<std::string, std::string> texts;
    vx::unique_hkey key;
    if (::RegOpenKeyExA(root, kSettingsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return texts;
    for (DWORD i = 0;; ++i) {
        // Filter rules run longer than the other values.
        char name[300], data[16384];
        DWORD nameSize = sizeof name, dataSize = sizeof data - 1, type = 0;
        LONG rc = ::RegEnumValueA(key.get(), i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
        data[dataSize] = '\0';
        texts[name] = data;
    }
    return texts;
}

bool WriteSettingTexts(const std::map<std::string, std::string>& texts, HKEY root) {
    vx::unique_hkey key;
    if (::RegCreateKeyExA(root, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = true;
    for (const auto& [name, text] : texts)
        ok &= ::RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
    return ok;
}

}  // namespace shell
