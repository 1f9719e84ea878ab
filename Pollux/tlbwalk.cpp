#include "walks.h"

#include <cstring>

#include "regread.h"

namespace pollux {
namespace {

constexpr DWORD kLibraryProgressStep = 5;

bool AllDigits(const char* name) { return name[0] && std::strspn(name, "0123456789") == std::strlen(name); }

// The platform keys a process of this width can load, its own first.
std::initializer_list<const char*> Platforms() {
    static const std::initializer_list<const char*> wide = {"win64", "win32"};
    static const std::initializer_list<const char*> narrow = {"win32"};
    return sizeof(void*) == 8 ? wide : narrow;
}

bool PlatformPath(HKEY locale, std::string* path) {
    for (const char* platform : Platforms()) {
        vx::unique_hkey key;
        if (!OpenKey(locale, platform, &key)) continue;
        char value[kRegistryBuffer];
        DWORD type = 0;
        if (!ReadString(key.get(), nullptr, value, sizeof value, true, &type)) continue;
        if (type == REG_EXPAND_SZ) {
            char expanded[kRegistryBuffer];
            DWORD n = ::ExpandEnvironmentStringsA(value, expanded, sizeof expanded);
            if (n == 0 || n > sizeof expanded) continue;
            *path = expanded;
        } else {
            *path = value;
        }
        return true;
    }
    return false;
}

bool OpenFirstOf(std::initializer_list<const char*> names, vx::unique_hkey* key) {
    for (const char* name : names)
        if (OpenKey(HKEY_CLASSES_ROOT, name, key)) return true;
    return false;
}

}  // namespace

bool OpenTypeLibRoot(vx::unique_hkey* key) { return OpenFirstOf({"TypeLib", "typelib", "TYPELIB", "Typelib", "typeLib"}, key); }
bool OpenInterfaceRoot(vx::unique_hkey* key) { return OpenFirstOf({"Interface", "interface", "INTERFACE"}, key); }

TypeLibCursor::TypeLibCursor(ScanEvents& events) : events_(events) {
    done_ = !OpenTypeLibRoot(&root_);
}

bool TypeLibCursor::NextLibrary() {
    for (;;) {
        char name[kRegistryBuffer];
        EnumResult r = EnumSubkey(root_.get(), libraryIndex_, name);
        if (r == EnumResult::End) return false;
        ++libraryIndex_;
        if (r == EnumResult::Item && OpenKey(root_.get(), name, &library_)) {
            libid_ = name;
            versionIndex_ = 0;
            return true;
        }
        if (libraryIndex_ % kLibraryProgressStep == 0) events_.ProcessedTLibs(static_cast<long>(libraryIndex_));
    }
}

bool TypeLibCursor::PathOfVersion(HKEY version, std::string* path) {
    char name[kRegistryBuffer];
    for (DWORD i = 0;; ++i) {
        EnumResult r = EnumSubkey(version, i, name);
        if (r == EnumResult::End) return false;
        vx::unique_hkey locale;
        if (r == EnumResult::Item && AllDigits(name) && OpenKey(version, name, &locale) &&
            PlatformPath(locale.get(), path))
            return true;
    }
}

bool TypeLibCursor::Next(TypeLibItem* item) {
    while (!done_) {
        if (!library_ && !NextLibrary()) {
            events_.ProcessedTLibs(static_cast<long>(libraryIndex_));
            root_.reset();
            done_ = true;
            break;
        }
        char name[kRegistryBuffer];
        EnumResult r = EnumSubkey(library_.get(), versionIndex_, name);
        if (r == EnumResult::End) {
            library_.reset();
            if (libraryIndex_ % kLibraryProgressStep == 0) events_.ProcessedTLibs(static_cast<long>(libraryIndex_));
            continue;
        }
        ++versionIndex_;
        vx::unique_hkey version;
        if (r != EnumResult::Item || !OpenKey(library_.get(), name, &version) || !PathOfVersion(version.get(), &item->path))
            continue;
        item->libid = libid_;
        item->version = name;
        events_.CompName(item->path);
        return true;
    }
    return false;
}

}  // namespace pollux
