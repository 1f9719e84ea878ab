// The list files of one scan folder and whole-file reads and writes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "raii.h"

namespace pollux {

// The eleven paths, each the scan folder followed by a fixed name.
struct ListPaths {
    std::string tlbList, tlbListTmp, tlbListInd, tlbListIndTmp, tlbListChanges, tlbDistilled;
    std::string compList, compListTmp, compListInd, compListIndTmp, compListChanges;
};
ListPaths MakeListPaths(const std::string& folder);

// A list and its index, opened at the start of a scan (read and write, no
// sharing) and held until the scan has read them.
struct OpenedList {
    vx::unique_file list, index;
    bool existed = false;  // both were there: an incremental scan
};
bool OpenList(const std::string& list, const std::string& index, OpenedList* opened, bool indexFirst);

bool ReadAll(HANDLE file, std::string* text);
bool ReadFileText(const std::string& path, std::string* text);
bool WriteFileText(const std::string& path, const std::string& text);
// Visits the files (not folders) matching "*.tlb" in a folder (ending in a
// backslash), in directory order, counting from 1; returns the count.
long ForEachTypeLibraryFile(const std::string& folder, const std::function<void(const std::string& path, long count)>& visit);

// Replaces `to` by `from` (move with replace).
bool ReplaceFile(const std::string& from, const std::string& to);

}  // namespace pollux
