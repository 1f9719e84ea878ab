#include "settings.h"

#include <cstring>

#include "answers.h"
#include "raii.h"

namespace korbin {
namespace {

constexpr std::string_view kFullQ = "Print full diagnostic ? [Y/N]:";
constexpr std::string_view kDistilledQ = "Print distilled diagnostic ? [Y/N]:";
constexpr std::string_view kBeyondQ = "Print BeyondVtbl methods ? [Y/N]:";
constexpr std::string_view kSpecificQ = "Print SpecificInfo ? [Y/N]:";
constexpr std::string_view kFindAllQ = "Find all supported interfaces ? [Y/N]:";
constexpr std::string_view kHookAllQ = "Hook all supported interfaces ? [Y/N]:";
constexpr std::string_view kPolicyQ =
    "FilePolicy ? [FILE_BACKUPlast(1) / FILE_BACKUPall(2) / FILE_OVERRIDE(3)]:";
constexpr std::string_view kIUnknownQ = "Print IUnknown methods ? [Y/N]:";
constexpr std::string_view kIDispatchQ = "Print IDispatch methods ? [Y/N]:";
constexpr std::string_view kModulesHeader = "[List of modules with components to investigate]";
constexpr std::string_view kStructureHeader = "[Path to file with TypeLibs structure]";

// A Y/N question: `value` becomes `on` when an answer letter for it stands in
// the two places, the opposite when the other letter does. A question that is
// absent or answered with neither letter cannot be read: it keeps the value
// the whole file would give if it could not be read, and is counted.
void YesNo(std::string_view text, std::string_view q, char onLetter, bool& value, bool unreadable, int& unread) {
    switch (vx::ReadYesNo(text, q, onLetter)) {
    case vx::YesNo::On: value = true; return;
    case vx::YesNo::Off: value = false; return;
    case vx::YesNo::Unreadable: break;
    }
    value = unreadable;
    ++unread;
}

// Cuts a line at its carriage return (or the end), then at "//", then trims
// trailing tabs, line feeds, blanks, commas and semicolons.
bool CutLine(std::string_view text, size_t start, char* out, size_t outSize) {
    size_t end = text.find('\r', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
    size_t comment = line.find("//");
    if (comment != std::string_view::npos) line = line.substr(0, comment);
    while (!line.empty() && std::strchr("\t\n ,;", line.back()) != nullptr) line.remove_suffix(1);
    if (line.size() + 1 > outSize) return false;
    std::memcpy(out, line.data(), line.size());
    out[line.size()] = '\0';
    return true;
}

bool IsLetterOrUnderscore(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

}  // namespace

SettingsRead ApplyAdvancedSettings(const std::string_view* text, Switches& s) {
    if (text == nullptr) {
        s.fullTrace = false;
        s.distilledTrace = true;
        s.hideBeyondVtbl = true;
        s.specificInfo = false;
        s.findAllInterfaces = false;
        s.hookAllInterfaces = false;
        s.filePolicy = FilePolicy::BackupLast;
        return SettingsRead::FileUnreadable;
    }
    int unread = 0;
    YesNo(*text, kFullQ, 'Y', s.fullTrace, false, unread);
    YesNo(*text, kDistilledQ, 'Y', s.distilledTrace, true, unread);
    YesNo(*text, kBeyondQ, 'N', s.hideBeyondVtbl, true, unread);
    YesNo(*text, kSpecificQ, 'Y', s.specificInfo, false, unread);
    YesNo(*text, kFindAllQ, 'Y', s.findAllInterfaces, false, unread);
    YesNo(*text, kHookAllQ, 'Y', s.hookAllInterfaces, false, unread);
    char a[2];
    s.filePolicy = FilePolicy::BackupLast;
    if (vx::AnswerOf(*text, kPolicyQ, a) && (vx::AnswerHas(a, '1', '2') || vx::AnswerHas(a, '3', '3'))) {
        if (vx::AnswerHas(a, '1', '1')) s.filePolicy = FilePolicy::BackupLast;
        else if (vx::AnswerHas(a, '2', '2')) s.filePolicy = FilePolicy::BackupAll;
        else s.filePolicy = FilePolicy::Override;
    } else {
        ++unread;
    }
    return unread ? SettingsRead::AnswersUnreadable : SettingsRead::Read;
}

SettingsRead ApplyMainSettings(const std::string_view* text, Switches& s) {
    if (text == nullptr) {
        s.hideIUnknown = false;
        s.hideIDispatch = false;
        return SettingsRead::FileUnreadable;
    }
    int unread = 0;
    YesNo(*text, kIUnknownQ, 'N', s.hideIUnknown, false, unread);
    YesNo(*text, kIDispatchQ, 'N', s.hideIDispatch, false, unread);
    return unread ? SettingsRead::AnswersUnreadable : SettingsRead::Read;
}

bool FindModuleLine(std::string_view text, unsigned long k, char* out, size_t outSize) {
    if (k == 0) return false;
    size_t pos = text.find(kModulesHeader);
    if (pos == std::string_view::npos) return false;
    // End of the header line, then end of the skipped line after it.
    pos = text.find('\r', pos);
    if (pos == std::string_view::npos) return false;
    pos = text.find('\r', pos + 1);
    if (pos == std::string_view::npos) return false;
    for (unsigned long line = 1;; ++line) {
        pos += 2;  // the line break
        if (pos > text.size()) return false;
        if (line == k) break;
        pos = text.find('\r', pos);
        if (pos == std::string_view::npos) return false;
    }
    return CutLine(text, pos, out, outSize);
}

bool FindStructurePath(std::string_view text, char* out, size_t outSize) {
    size_t pos = text.find(kStructureHeader);
    if (pos == std::string_view::npos) return false;
    for (;;) {
        size_t lineEnd = text.find('\r', pos);
        if (lineEnd == std::string_view::npos) return false;
        size_t start = lineEnd;
        while (start < text.size() && !IsLetterOrUnderscore(text[start])) ++start;
        if (start >= text.size()) return false;
        if (text.substr(lineEnd, start - lineEnd).find("//") == std::string_view::npos)
            return CutLine(text, start, out, outSize);
        pos = start;  // a comment line: look past it
    }
}

int ReadSettingsFile(const char* path, char* buf, size_t bufSize) {
    if (path[0] == '\0' || bufSize == 0) return -1;
    vx::unique_file file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return -1;
    DWORD want = static_cast<DWORD>(bufSize - 1);
    if (want > kSettingsReadLimit) want = kSettingsReadLimit;
    DWORD got = 0;
    if (!::ReadFile(file.get(), buf, want, &got, nullptr)) return -1;
    buf[got] = '\0';
    return static_cast<int>(got);
}

bool JoinPath(char* out, size_t outSize, const char* folder, const char* name) {
    size_t a = std::strlen(folder), b = std::strlen(name);
    if (a + b + 1 > outSize) {
        if (outSize) out[0] = '\0';
        return false;
    }
    std::memcpy(out, folder, a);
    std::memcpy(out + a, name, b + 1);
    return true;
}

}  // namespace korbin
