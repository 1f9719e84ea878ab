#include "walks.h"

#include <cstring>

#include "regread.h"

namespace pollux {
namespace {
constexpr DWORD kInterfaceProgressStep = 50;
}

bool HasGuidShape(const char* name) {
    return std::strlen(name) > 37 && name[0] == '{' && name[9] == '-' && name[14] == '-' && name[19] == '-' &&
           name[24] == '-' && name[37] == '}';
}

bool IsInterfaceRegistered(const std::string& iid) {
    if (!HasGuidShape(iid.c_str())) return false;
    vx::unique_hkey key;
    return OpenKey(HKEY_CLASSES_ROOT, ("Interface\\" + iid).c_str(), &key);
}

InterfaceCursor::InterfaceCursor(ScanEvents& events) : events_(events) {
    done_ = !OpenInterfaceRoot(&root_);
}

bool InterfaceCursor::Next(InterfaceItem* item) {
    while (!done_) {
        char name[kRegistryBuffer];
        EnumResult r = EnumSubkey(root_.get(), index_, name);
        if (r == EnumResult::End) {
            events_.ProcessedInterfaces(static_cast<long>(index_));
            root_.reset();
            done_ = true;
            break;
        }
        ++index_;
        bool yielded = false;
        vx::unique_hkey key;
        char value[kInterfaceNameBuffer];
        if (r == EnumResult::Item && HasGuidShape(name) && OpenKey(root_.get(), name, &key) &&
            ReadString(key.get(), nullptr, value, sizeof value, false) && value[0]) {
            events_.InterfName(value);
            item->iid.assign(name, 38);
            item->name = value;
            yielded = true;
        }
        if (index_ % kInterfaceProgressStep == 0) events_.ProcessedInterfaces(static_cast<long>(index_));
        if (yielded) return true;
    }
    return false;
}

}  // namespace pollux
