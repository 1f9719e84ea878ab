#include "walks.h"

#include <cstring>

#include "regread.h"

namespace pollux {
namespace {

constexpr DWORD kClassProgressStep = 50;

bool ContainsStubName(const char* path) {
    static const char kStub[] = "zor#_";
    for (const char* p = path; *p; ++p)
        if (::_strnicmp(p, kStub, sizeof kStub - 1) == 0) return true;
    return false;
}

}  // namespace

ClassCursor::ClassCursor(ScanEvents& events) : events_(events) { done_ = !OpenKey(HKEY_CLASSES_ROOT, "CLSID", &root_); }

bool ClassCursor::Next(ClassItem* item) {
    while (!done_) {
        char name[kRegistryBuffer];
        EnumResult r = EnumSubkey(root_.get(), index_, name);
        if (r == EnumResult::End) {
            events_.ProcessedClasses(static_cast<long>(index_));
            root_.reset();
            done_ = true;
            break;
        }
        ++index_;
        if (r == EnumResult::Item && Read(name, item)) return true;
        // Progress only after a key that yields nothing: a walk of servers
        // alone reports once, at its end.
        if (index_ % kClassProgressStep == 0) events_.ProcessedClasses(static_cast<long>(index_));
    }
    return false;
}

bool ClassCursor::Read(const char* name, ClassItem* item) {
    if (name[0] != '{' || std::strlen(name) < 38 || name[37] != '}') return false;
    vx::unique_hkey classKey, server;
    if (!OpenKey(root_.get(), name, &classKey) || !OpenKey(classKey.get(), "InprocServer32", &server)) return false;
    char value[kRegistryBuffer];
    item->clsid = name;
    item->named = ReadString(classKey.get(), nullptr, value, sizeof value, false);
    item->name = item->named ? value : "";
    item->serverPath = ReadString(server.get(), nullptr, value, sizeof value, true) ? value : "";
    item->realPath.clear();
    if (ContainsStubName(item->serverPath.c_str()) && ReadString(server.get(), "TypeLib", value, sizeof value, true))
        item->realPath = value;
    return true;
}

}  // namespace pollux
