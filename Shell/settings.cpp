#include "settings.h"

#include <vector>

#include "modulelist.h"

namespace shell {
namespace {

constexpr char kIUnknownQuestion[] = "Print IUnknown methods ? [Y/N]:";
constexpr char kIDispatchQuestion[] = "Print IDispatch methods ? [Y/N]:";
constexpr char kExitQuestion[] = "Exit with remaining hooks ? [Y/N]:";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        size_t stop = end > start && text[end - 1] == '\r' ? end - 1 : end;
        lines.push_back(text.substr(start, stop - start));
        start = end + 1;
    }
    return lines;
}

bool Contains(const std::string& line, const std::string& part) { return line.find(part) != std::string::npos; }

// Index of the first non-empty line at or after `from` holding `question`, or the line count.
size_t FindQuestion(const std::vector<std::string>& lines, size_t from, const char* question) {
    for (size_t i = from; i < lines.size(); ++i)
        if (!lines[i].empty() && Contains(lines[i], question)) return i;
    return lines.size();
}

}  // namespace

void Settings::InitFromText(const std::string& text) {
    std::vector<std::string> lines = Lines(text);
    // The answers are read exactly: a capital Y after one blank.
    size_t at = FindQuestion(lines, 0, kIUnknownQuestion);
    CollectIUnknown = at < lines.size() && Contains(lines[at], std::string(kIUnknownQuestion) + " Y");
    CollectIDispatch = at + 1 < lines.size() && Contains(lines[at + 1], std::string(kIDispatchQuestion) + " Y");
    size_t exit = FindQuestion(lines, at < lines.size() ? at + 1 : 0, kExitQuestion);
    ExitWithLeftHooks = exit < lines.size() && Contains(lines[exit], std::string(kExitQuestion) + " Y");
}

bool Settings::Init() {
    std::string text, error;
    if (!vx::ReadTextFile(ZorTxtFile, &text, &error)) return false;
    InitFromText(text);
    return true;
}

}  // namespace shell
