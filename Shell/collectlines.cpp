#include "collectlines.h"

#include <windows.h>

#include "modulelist.h"
#include "raii.h"

namespace shell {

bool RewriteCollectLines(const std::string& text, bool iu, bool id, std::string* out) {
    constexpr char kQuestion[] = "Print IUnknown methods ? [Y/N]:";
    std::string result;
    size_t start = 0;
    bool found = false;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        size_t next = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(start, next - start);
        std::string bare = line;
        while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r')) bare.pop_back();
        if (!bare.empty() && bare.find(kQuestion) != std::string::npos) {
            found = true;
            result += std::string("Print IUnknown methods ? [Y/N]: ") + (iu ? "Y" : "N") + "\r\n";
            // The next line holds the IDispatch answer; a file that ends here gets it appended.
            size_t after = next;
            size_t afterEnd = after < text.size() ? text.find('\n', after) : std::string::npos;
            size_t rest = after >= text.size() ? text.size() : (afterEnd == std::string::npos ? text.size() : afterEnd + 1);
            result += std::string("Print IDispatch methods ? [Y/N]: ") + (id ? "Y" : "N") + "\r\n";
            result += text.substr(rest);
            break;
        }
        result += line;
        start = next;
    }
    if (!found) return false;
    *out = result;
    return true;
}

bool RewriteCollectLinesInFile(const std::string& settingsPath, bool iu, bool id, std::string* error) {
    std::string text, changed;
    if (!vx::ReadTextFile(settingsPath, &text, error)) return false;
    if (!RewriteCollectLines(text, iu, id, &changed)) {
        *error = "\"" + settingsPath + "\" has no line \"Print IUnknown methods ? [Y/N]:\"";
        return false;
    }
    std::string temporary = settingsPath + "1";
    {
        vx::unique_file file(::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file || !::WriteFile(file.get(), changed.data(), static_cast<DWORD>(changed.size()), &written, nullptr) ||
            written != changed.size()) {
            *error = "cannot write \"" + temporary + "\"";
            return false;
        }
    }
    bool copied = ::CopyFileA(temporary.c_str(), settingsPath.c_str(), FALSE) != 0;
    ::DeleteFileA(temporary.c_str());
    if (!copied) *error = "cannot write \"" + settingsPath + "\"";
    return copied;
}

}  // namespace shell
