// The three registry walks as cursors: each Next() yields one item, keeping
// the open keys and positions between calls, and fires the walk's progress.
#pragma once

#include <string>
#include <vector>

#include "events.h"
#include "raii.h"

namespace pollux {

// HKCR\CLSID: classes with an in-process server.
class ClassCursor {
public:
    explicit ClassCursor(ScanEvents& events);
    bool Next(ClassItem* item);

private:
    bool Read(const char* name, ClassItem* item);
    ScanEvents& events_;
    vx::unique_hkey root_;
    DWORD index_ = 0;
    bool done_ = false;
};

// One registered type library version: its first locale's path.
struct TypeLibItem {
    std::string path;
    std::string libid;
    std::string version;
};

// HKCR\TypeLib: one path per library version; 64-bit processes look for
// "win64" before "win32" under each locale.
class TypeLibCursor {
public:
    explicit TypeLibCursor(ScanEvents& events);
    bool Next(TypeLibItem* item);

private:
    bool NextLibrary();
    bool PathOfVersion(HKEY version, std::string* path);
    ScanEvents& events_;
    vx::unique_hkey root_;
    vx::unique_hkey library_;
    std::string libid_;
    DWORD libraryIndex_ = 0;
    DWORD versionIndex_ = 0;
    bool done_ = false;
};

struct InterfaceItem {
    std::string iid;   // the first 38 characters of the key's name
    std::string name;  // its default value, not empty
};

// HKCR\Interface: named interfaces whose key has the shape of an id.
class InterfaceCursor {
public:
    explicit InterfaceCursor(ScanEvents& events);
    bool Next(InterfaceItem* item);

private:
    ScanEvents& events_;
    vx::unique_hkey root_;
    DWORD index_ = 0;
    bool done_ = false;
};

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx...": longer than 37 characters, "{"
// first, "-" at 9, 14, 19 and 24, "}" at 37.
bool HasGuidShape(const char* name);

// HKCR\Interface has a key for the id (the registry ignores letter case).
bool IsInterfaceRegistered(const std::string& iid);

// HKCR\TypeLib and HKCR\Interface, under the first of their spellings that opens.
bool OpenTypeLibRoot(vx::unique_hkey* key);
bool OpenInterfaceRoot(vx::unique_hkey* key);

}  // namespace pollux
