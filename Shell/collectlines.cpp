#include "collectlines.h"

#include <windows.h>

#include <optional>

#include "modulelist.h"
#include "raii.h"

namespace shell {

namespace {

constexpr char kIUnknownQuestion[] = "Print IUnknown methods ? [Y/N]:";
constexpr char kIDispatchQuestion[] = "Print IDispatch methods ? [Y/N]:";

struct Line {
    size_t start, next;  // the line and its end of line
};

// The first non-empty line that holds `question`.
std::optional<Line> QuestionLine(const std::string& text, const char* question) {
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        size_t next = end == std::string::npos ? text.size() : end + 1;
        size_t bare = next;
        while (bare > start && (text[bare - 1] == '\n' || text[bare - 1] == '\r')) --bare;
        if (bare > start && text.substr(start, bare - start).find(question) != std::string::npos)
            return Line{start, next};
        start = next;
    }
    return std::nullopt;
}

std::string AnswerLine(const char* question, bool on) { return std::string(question) + (on ? " Y\r\n" : " N\r\n"); }

}  // namespace

bool RewriteCollectLines(const std::string& text, bool iu, bool id, std::string* out) {
    std::optional<Line> unknown = QuestionLine(text, kIUnknownQuestion);
    if (!unknown) return false;
    // Each answer on its own question's line; a file without the IDispatch
    // question gets it right after the IUnknown one.
    std::optional<Line> dispatch = QuestionLine(text, kIDispatchQuestion);
    if (!dispatch || dispatch->start == unknown->start) dispatch = Line{unknown->next, unknown->next};
    const Line* first = dispatch->start < unknown->start ? &*dispatch : &*unknown;
    const Line* second = first == &*unknown ? &*dispatch : &*unknown;
    auto answer = [&](const Line* line) {
        return line == &*unknown ? AnswerLine(kIUnknownQuestion, iu) : AnswerLine(kIDispatchQuestion, id);
    };
    std::string result = text.substr(0, first->start) + answer(first);
    result += text.substr(first->next, second->start - first->next) + answer(second) + text.substr(second->next);
    *out = std::move(result);
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
