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

// One list's files: the list, its index, their temporaries and the change list.
struct ListFiles {
    const std::string& list;
    const std::string& index;
    const std::string& listTmp;
    const std::string& indexTmp;
    const std::string& changes;
};

// What the previous scan left: opened (read and write, no sharing, the
// index first when asked), read whole and closed. previous->existed is
// false for a first scan (either file was missing).
struct PreviousList {
    bool existed = false;
    std::string text, indexBytes;
};
bool ReadPreviousList(const ListFiles& files, bool indexFirst, PreviousList* previous);

// A first scan writes the list and the index; a later one the change list,
// then both through their temporaries, which replace them.
bool WriteScanResult(const ListFiles& files, bool first, const std::string& text, const std::string& indexBytes,
                     const std::string& changes);

bool ReadAll(HANDLE file, std::string* text);
bool ReadFileText(const std::string& path, std::string* text);
bool WriteFileText(const std::string& path, const std::string& text);
// Visits the files (not folders) matching "*.tlb" in a folder (ending in a
// backslash), in directory order, counting from 1; returns the count.
long ForEachTypeLibraryFile(const std::string& folder, const std::function<void(const std::string& path, long count)>& visit);

// Replaces `to` by `from` (move with replace).
bool ReplaceFile(const std::string& from, const std::string& to);

}  // namespace pollux
