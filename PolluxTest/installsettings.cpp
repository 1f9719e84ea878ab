#include "installsettings.h"

#include <windows.h>

#include <vector>

#include "raii.h"
#include "textconv.h"

namespace polluxtest {
namespace {

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

bool WriteWhole(const std::string& path, const std::string& text) {
    vx::unique_file file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

}  // namespace

bool InsertInstallPaths(std::string_view text, const std::string& folder, std::string* out) {
    const std::pair<std::string_view, std::string> inserts[] = {
        {"[Path to Vexilo utility]", folder + "\\Vexilo.dll"},
        {"[Path to catalog with imported type libraries]", folder + "\\TLBdistilled"},
        {"[Path to file with TypeLibs structure]", folder + "\\TLBlist.txt"},
    };
    out->clear();
    size_t next = 0;
    for (std::string_view line : Lines(text)) {
        out->append(line).append("\r\n");
        if (next < std::size(inserts) && line == inserts[next].first) out->append(inserts[next++].second).append("\r\n");
    }
    return next == std::size(inserts);
}

bool PrepareSettingsFile(const std::string& folder) {
    const std::string file = folder + "\\Vexilo.txt", temporary = folder + "\\Vexilo1.txt";
    std::string text, rewritten;
    if (!vx::ReadWholeFile(file, &text) || !InsertInstallPaths(text, folder, &rewritten)) return false;
    bool done = WriteWhole(temporary, rewritten) && ::CopyFileA(temporary.c_str(), file.c_str(), FALSE);
    ::DeleteFileA(temporary.c_str());
    return done;
}

}  // namespace polluxtest
