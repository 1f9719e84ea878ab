#include "pathtext.h"

#include <windows.h>
#include <oleauto.h>

#include "raii.h"
#include "regread.h"

namespace pollux {

std::wstring Wide(const std::string& text) {
    int n = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 1) return {};
    std::wstring wide(static_cast<size_t>(n - 1), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
    return wide;
}

std::string Narrow(const wchar_t* wide) {
    if (!wide) return {};
    int n = ::WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string text(static_cast<size_t>(n - 1), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide, -1, text.data(), n, nullptr, nullptr);
    return text;
}

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
