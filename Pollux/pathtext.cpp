#include "pathtext.h"

#include <windows.h>
#include <oleauto.h>

#include "raii.h"
#include "regread.h"

namespace pollux {

bool ExpandedPath(const std::string& path, std::string* out) {
    if (!path.starts_with('%')) {
        *out = path;
        return true;
    }
    char expanded[kRegistryBuffer];
    DWORD n = ::ExpandEnvironmentStringsA(path.c_str(), expanded, sizeof expanded);
    if (n == 0 || n > sizeof expanded) return false;
    *out = expanded;
    return true;
}

bool TypeLibraryLoads(const std::string& path) {
    std::string expanded;
    vx::com_ptr<ITypeLib> library;
    return ExpandedPath(path, &expanded) && !expanded.empty() &&
           SUCCEEDED(::LoadTypeLibEx(Wide(expanded).c_str(), REGKIND_NONE, library.put()));
}

}  // namespace pollux
