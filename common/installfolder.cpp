// The installation folder from the App Paths key.
#include "installfolder.h"

#include <cstring>

#include "raii.h"

namespace vx {

bool InstallFolderFromValue(std::string_view value, char* out, size_t outSize) {
    if (!value.empty() && value.front() == '"') value.remove_prefix(1);
    size_t cut = value.rfind('\\');
    if (cut == std::string_view::npos) cut = value.rfind('/');
    if (cut == std::string_view::npos || cut + 2 > outSize) {
        if (outSize) out[0] = '\0';
        return false;
    }
    std::memcpy(out, value.data(), cut + 1);
    out[cut + 1] = '\0';
    return true;
}

bool LookUpInstallFolder(char* out, size_t outSize) {
    out[0] = '\0';
    vx::unique_hkey key;
    // Read access only: full access fails for users without administrator rights.
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Vexilo.exe", 0,
                        KEY_READ, key.put()) != ERROR_SUCCESS)
        return false;
    static char value[kAppPathReadLimit + 1];
    DWORD size = kAppPathReadLimit, type = 0;
    if (::RegQueryValueExA(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value),
                           &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    size = size > kAppPathReadLimit ? kAppPathReadLimit : size;
    value[size] = '\0';
    return InstallFolderFromValue(std::string_view(value, std::strlen(value)), out, outSize);
}

}  // namespace vx
