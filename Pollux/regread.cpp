#include "regread.h"

namespace pollux {

EnumResult EnumSubkey(HKEY key, DWORD index, char* name) {
    DWORD length = kRegistryBuffer;
    LSTATUS status = ::RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) return EnumResult::Item;
    if (status == ERROR_MORE_DATA) return EnumResult::TooLong;
    return EnumResult::End;
}

bool ReadString(HKEY key, const char* valueName, char* out, DWORD size, bool allowExpand, DWORD* type) {
    DWORD kind = 0;
    DWORD bytes = size;
    if (::RegQueryValueExA(key, valueName, nullptr, &kind, reinterpret_cast<BYTE*>(out), &bytes) != ERROR_SUCCESS)
        return false;
    if (kind != REG_SZ && !(allowExpand && kind == REG_EXPAND_SZ)) return false;
    // A stored string may lack its terminator: a full buffer without one is too long.
    if (bytes >= size && out[size - 1] != '\0') return false;
    out[bytes < size ? bytes : size - 1] = '\0';
    if (type) *type = kind;
    return true;
}

bool OpenKey(HKEY parent, const char* name, vx::unique_hkey* key) {
    return ::RegOpenKeyExA(parent, name, 0, KEY_READ, key->put()) == ERROR_SUCCESS;
}

long SubkeyCount(HKEY key) {
    DWORD count = 0;
    if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr) != ERROR_SUCCESS)
        return 0;
    return static_cast<long>(count);
}

}  // namespace pollux
