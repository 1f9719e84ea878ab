// Module-list routines over the text of the main settings file.
#include "modulelist.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

#include "raii.h"
#include "textconv.h"

namespace vx {
namespace {

struct Lines {
    std::vector<std::string> lines;
    bool finalBreak = false;  // the text ends with a line break
};

Lines Split(const std::string& text) {
    Lines result;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            result.lines.push_back(text.substr(start));
            return result;
        }
        size_t stop = end > start && text[end - 1] == '\r' ? end - 1 : end;
        result.lines.push_back(text.substr(start, stop - start));
        start = end + 1;
    }
    result.finalBreak = !text.empty();
    return result;
}

std::string Join(const std::vector<std::string>& lines, bool finalBreak) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        text += lines[i];
        if (i + 1 < lines.size() || finalBreak) text += "\r\n";
    }
    return text;
}

bool IsHeader(const std::string& line) { return !line.empty() && line[0] == '['; }
bool IsFreed(const std::string& line) { return line.rfind("//", 0) == 0; }

// A line's path as the kernel loads it: cut at a comment, trailing tabs,
// blanks, commas and semicolons trimmed.
std::string PathOfLine(const std::string& line) {
    std::string path = line.substr(0, line.find("//"));
    while (!path.empty() && std::strchr("\t\n ,;", path.back()) != nullptr) path.pop_back();
    return path;
}

// Index of the first header line, or npos.
size_t HeaderIndex(const std::vector<std::string>& lines) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (IsHeader(lines[i])) return i;
    return std::string::npos;
}

enum class Edit { kWrite, kCommentOut };

bool Rewrite(const std::string& text, Edit edit, const std::string& path, long n, std::string* out) {
    Lines in = Split(text);
    size_t header = HeaderIndex(in.lines);
    if (header == std::string::npos || n <= 0) return false;
    std::vector<std::string> lines(in.lines.begin(), in.lines.begin() + static_cast<ptrdiff_t>(header) + 1);
    long c = 0, e = 0;
    bool written = false;
    size_t i = header + 1;
    for (; i < in.lines.size() && !IsHeader(in.lines[i]); ++i) {
        const std::string& line = in.lines[i];
        if (line.size() >= 2) {
            ++c;
            if (c == n) {
                lines.push_back(edit == Edit::kWrite ? path : "//" + line);
                written = true;
            } else {
                lines.push_back(line);
            }
            continue;
        }
        ++e;
        // A new number goes before the empty line that ends the list; the
        // empty line right under the header never receives it.
        if (edit == Edit::kWrite && c + 1 == n && e != 1 && !written) {
            lines.push_back(path);
            written = true;
        }
        lines.push_back(line);
    }
    // A list that runs to the end of the file without its closing empty line.
    if (edit == Edit::kWrite && !written && c + 1 == n && i == in.lines.size()) {
        if (e == 0) lines.push_back("");
        lines.push_back(path);
        lines.push_back("");
        written = true;
    }
    lines.insert(lines.end(), in.lines.begin() + static_cast<ptrdiff_t>(i), in.lines.end());
    *out = Join(lines, in.finalBreak || written);
    return true;
}

}  // namespace

long FindFreeHookNumber(const std::string& text, const LiveHookNumbers& live) {
    Lines in = Split(text);
    size_t header = HeaderIndex(in.lines);
    if (header == std::string::npos) return 1;
    long c = 0;
    // Asked once, at the first freed line: the answer may take the reader a
    // second when the trace map is busy.
    std::optional<std::vector<long>> numbers;
    // The line after the header is the list's leading empty line.
    for (size_t i = header + 2; i < in.lines.size() && !IsHeader(in.lines[i]); ++i) {
        const std::string& line = in.lines[i];
        if (line.size() < 2) continue;
        if (IsFreed(line)) {
            if (!numbers) numbers = live();
            if (std::find(numbers->begin(), numbers->end(), c + 1) == numbers->end()) break;
        }
        ++c;
    }
    return c + 1;
}

bool WriteModuleLine(const std::string& text, const std::string& path, long n, std::string* out) {
    return Rewrite(text, Edit::kWrite, path, n, out);
}

bool CommentOutModuleLine(const std::string& text, long n, std::string* out) {
    return Rewrite(text, Edit::kCommentOut, std::string(), n, out);
}

std::vector<std::string> ReadModuleList(const std::string& text) {
    Lines in = Split(text);
    std::vector<std::string> modules;
    size_t header = HeaderIndex(in.lines);
    if (header == std::string::npos) return modules;
    for (size_t i = header + 1; i < in.lines.size() && !IsHeader(in.lines[i]); ++i)
        if (in.lines[i].size() >= 2 && !IsFreed(in.lines[i])) modules.push_back(PathOfLine(in.lines[i]));
    return modules;
}

std::vector<ModuleLine> ModuleLines(const std::string& text) {
    Lines in = Split(text);
    std::vector<ModuleLine> lines;
    // The list starts after the empty line under its header and ends at the
    // next empty one.
    const size_t header = HeaderIndex(in.lines);
    if (header == std::string::npos) return lines;
    for (size_t index = header + 2; index < in.lines.size() && !in.lines[index].empty(); ++index) {
        const std::string& line = in.lines[index];
        bool freed = IsFreed(line);
        lines.push_back({static_cast<long>(index - header - 1), PathOfLine(freed ? line.substr(2) : line), !freed});
    }
    return lines;
}

long HookNumberOfModule(const std::string& text, const std::string& path) {
    for (const ModuleLine& line : ModuleLines(text)) {
        if (line.active && line.path.size() == path.size() &&
            std::equal(line.path.begin(), line.path.end(), path.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            }))
            return line.number;
    }
    return 0;
}

std::string ModulePathOfHook(const std::string& text, long n) {
    std::vector<ModuleLine> lines = ModuleLines(text);
    if (n <= 0 || static_cast<size_t>(n) > lines.size()) return {};
    return lines[static_cast<size_t>(n - 1)].path;
}

bool ReadTextFile(const std::string& path, std::string* text, std::string* error) {
    if (ReadWholeFile(path, text)) return true;
    *error = "cannot read \"" + path + "\"";
    return false;
}

namespace {

bool ReplaceThroughCopy(const std::string& settingsPath, const std::string& text, std::string* error) {
    std::string temporary = settingsPath + "1";
    {
        vx::unique_file file(::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file || !::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size()) {
            *error = "cannot write \"" + temporary + "\"";
            return false;
        }
    }
    bool copied = ::CopyFileA(temporary.c_str(), settingsPath.c_str(), FALSE) != 0;
    ::DeleteFileA(temporary.c_str());
    if (!copied) *error = "cannot write \"" + settingsPath + "\"";
    return copied;
}

}  // namespace

bool WriteModuleLineInFile(const std::string& settingsPath, const std::string& path, long n, std::string* error) {
    std::string text, changed;
    if (!ReadTextFile(settingsPath, &text, error)) return false;
    if (!WriteModuleLine(text, path, n, &changed)) {
        *error = "\"" + settingsPath + "\" has no module list";
        return false;
    }
    return ReplaceThroughCopy(settingsPath, changed, error);
}

bool CommentOutModuleLineInFile(const std::string& settingsPath, long n, std::string* error) {
    std::string text, changed;
    if (!ReadTextFile(settingsPath, &text, error)) return false;
    if (!CommentOutModuleLine(text, n, &changed)) {
        *error = "\"" + settingsPath + "\" has no module list";
        return false;
    }
    return ReplaceThroughCopy(settingsPath, changed, error);
}

}  // namespace vx
