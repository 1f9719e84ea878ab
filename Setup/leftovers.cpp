#include "leftovers.h"

#include <tlhelp32.h>

#include <cctype>

#include "raii.h"

namespace vxsetup {
namespace {

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

std::vector<std::string> ClearFolder(const std::string& folder, const std::string& keep) {
    std::vector<std::string> left;
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((folder + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return left;
    do {
        std::string name = data.cFileName, path = folder + name;
        if (name == "." || name == "..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            std::vector<std::string> inner = ClearFolder(path + "\\", keep);
            left.insert(left.end(), inner.begin(), inner.end());
            if (inner.empty()) ::RemoveDirectoryA(path.c_str());
            continue;
        }
        if (Upper(path) == Upper(keep)) continue;
        ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(path.c_str());
        // A file deleted while another process keeps it open stays until closed.
        if (Exists(path)) left.push_back(path);
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
    return left;
}

std::vector<Holder> HoldersOf(const std::vector<std::string>& files) {
    std::vector<Holder> holders;
    std::vector<std::string> wanted;
    for (const std::string& file : files) wanted.push_back(Upper(file));
    // Snapshots fail with INVALID_HANDLE_VALUE, as files do.
    vx::unique_file processes(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!processes) return holders;
    PROCESSENTRY32 process = {};
    process.dwSize = sizeof process;
    for (BOOL more = ::Process32First(processes.get(), &process); more;
         more = ::Process32Next(processes.get(), &process)) {
        if (process.th32ProcessID == ::GetCurrentProcessId() || process.th32ProcessID == 0) continue;
        vx::unique_file modules(
            ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, process.th32ProcessID));
        if (!modules) continue;
        MODULEENTRY32 module = {};
        module.dwSize = sizeof module;
        bool holds = false;
        for (BOOL m = ::Module32First(modules.get(), &module); m && !holds; m = ::Module32Next(modules.get(), &module))
            for (const std::string& file : wanted) holds = holds || Upper(module.szExePath) == file;
        if (holds) holders.push_back({process.th32ProcessID, process.szExeFile});
    }
    return holders;
}

std::string HolderText(const std::vector<Holder>& holders) {
    std::string text;
    for (const Holder& holder : holders)
        text += (text.empty() ? "" : ", ") + holder.name + " (process " + std::to_string(holder.pid) + ")";
    return text;
}

}  // namespace vxsetup
