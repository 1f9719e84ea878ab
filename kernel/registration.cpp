#include "registration.h"

#include <windows.h>
#include <cstring>

#include "raii.h"
#include "stubname.h"

namespace korbin {
namespace {

constexpr DWORD kValueSize = 300;

// A REG_SZ value, NUL-terminated, into out; false when absent, of another
// type or too long.
bool ReadString(HKEY key, const char* name, char* out, DWORD outSize) {
    DWORD type = 0, size = outSize - 1;
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    out[size] = '\0';
    return true;
}

}  // namespace

bool RealPathFromRegistration(const char* installFolder, unsigned long hookNumber, char* out, size_t outSize) {
    char stub[MAX_PATH];
    char name[32];
    vx::FormatStubName(static_cast<long>(hookNumber), name, sizeof name);
    size_t folderLength = std::strlen(installFolder);
    if (folderLength + std::strlen(name) + 1 > sizeof stub) return false;
    std::memcpy(stub, installFolder, folderLength);
    std::strcpy(stub + folderLength, name);

    vx::unique_hkey classes;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, classes.put()) != ERROR_SUCCESS) return false;
    char clsid[kValueSize];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof clsid;
        LSTATUS status = ::RegEnumKeyExA(classes.get(), i, clsid, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) return false;
        char subkey[kValueSize + 16];
        if (length + sizeof "\\InprocServer32" > sizeof subkey) continue;
        std::memcpy(subkey, clsid, length);
        std::strcpy(subkey + length, "\\InprocServer32");
        vx::unique_hkey server;
        if (::RegOpenKeyExA(classes.get(), subkey, 0, KEY_READ, server.put()) != ERROR_SUCCESS) continue;
        char value[kValueSize];
        if (!ReadString(server.get(), nullptr, value, sizeof value) || ::lstrcmpiA(value, stub) != 0) continue;
        char real[kValueSize];
        if (!ReadString(server.get(), "TypeLib", real, sizeof real) || real[0] == '\0' ||
            std::strlen(real) + 1 > outSize)
            continue;
        std::strcpy(out, real);
        return true;
    }
}

}  // namespace korbin
