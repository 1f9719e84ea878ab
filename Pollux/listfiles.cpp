#include "listfiles.h"

#include "textconv.h"

namespace pollux {
namespace {

vx::unique_file OpenAlways(const std::string& path, bool* existed) {
    vx::unique_file file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    *existed = file && ::GetLastError() == ERROR_ALREADY_EXISTS;
    return file;
}

}  // namespace

ListPaths MakeListPaths(const std::string& f) {
    return {f + "TLBlist.txt",  f + "TLBlistTmp.txt",     f + "TLBlistInd.txt",  f + "TLBlistIndTmp.txt",
            f + "TLBlistChanges.txt", f + "TLBdistilled\\", f + "CompList.txt", f + "CompListTmp.txt",
            f + "CompListInd.txt", f + "CompListIndTmp.txt", f + "CompListChanges.txt"};
}

bool ReadPreviousList(const ListFiles& files, bool indexFirst, PreviousList* previous) {
    bool listExisted = false, indexExisted = false;
    vx::unique_file list, index;
    if (indexFirst) {
        index = OpenAlways(files.index, &indexExisted);
        if (index) list = OpenAlways(files.list, &listExisted);
    } else {
        list = OpenAlways(files.list, &listExisted);
        if (list) index = OpenAlways(files.index, &indexExisted);
    }
    if (!list || !index) return false;
    previous->existed = listExisted && indexExisted;
    return !previous->existed || (vx::ReadWholeFile(index.get(), &previous->indexBytes) && vx::ReadWholeFile(list.get(), &previous->text));
}

bool WriteScanResult(const ListFiles& files, bool first, const std::string& text, const std::string& indexBytes,
                     const std::string& changes) {
    if (first) return WriteFileText(files.list, text) && WriteFileText(files.index, indexBytes);
    return WriteFileText(files.changes, changes) && WriteFileText(files.listTmp, text) &&
           WriteFileText(files.indexTmp, indexBytes) && ReplaceFile(files.indexTmp, files.index) &&
           ReplaceFile(files.listTmp, files.list);
}

bool ReadFileText(const std::string& path, std::string* text) {
    vx::unique_file file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return file && vx::ReadWholeFile(file.get(), text);
}

bool WriteFileText(const std::string& path, const std::string& text) {
    vx::unique_file file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && (text.empty() || (::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                                                 nullptr) &&
                                     written == text.size()));
}

bool ReplaceFile(const std::string& from, const std::string& to) {
    return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != FALSE;
}

long ForEachTypeLibraryFile(const std::string& folder, const std::function<void(const std::string&, long)>& visit) {
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((folder + "*.tlb").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    long count = 0;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        ++count;
        visit(folder + data.cFileName, count);
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
    return count;
}

}  // namespace pollux
