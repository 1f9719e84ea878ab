#include "knownlibrary.h"

#include <oleauto.h>
#include <cstdio>
#include <cstring>

#include "knowndigest.h"
#include "raii.h"

namespace korbin {

bool KnownLibraryLooksWhole(const char* path) {
    vx::unique_file file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file || ::GetFileSize(file.get(), nullptr) != kKnownLibrarySize) return false;
    // FNV-1a over the whole file, in pieces: the loader trusts every offset in it.
    uint32_t digest = 0x811C9DC5;
    unsigned char piece[4096];
    DWORD got = 0, total = 0;
    while (::ReadFile(file.get(), piece, sizeof piece, &got, nullptr) && got > 0) {
        for (DWORD i = 0; i < got; ++i) digest = (digest ^ piece[i]) * 0x01000193;
        total += got;
    }
    return total == kKnownLibrarySize && digest == kKnownLibraryDigest;
}

void KnownLibraryNotice(const char* path, char* out, size_t outSize) {
    out[0] = '\0';
    if (!KnownLibraryLooksWhole(path))
        std::snprintf(out, outSize,
                      "Library of standard interfaces %s is missing or damaged: standard interfaces are "
                      "described only where a type library, the registry or the structure file does",
                      path);
}

ITypeLib* LoadKnownLibrary(const char* path) {
    if (!KnownLibraryLooksWhole(path)) return nullptr;
    wchar_t widePath[MAX_PATH];
    ITypeLib* library = nullptr;
    if (::MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH) == 0 ||
        FAILED(::LoadTypeLibEx(widePath, REGKIND_NONE, &library)))
        return nullptr;
    return library;
}

}  // namespace korbin
