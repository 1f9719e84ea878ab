#include "knownlibrary.h"

#include <oleauto.h>
#include <cstdio>
#include <cstring>

#include "raii.h"

namespace korbin {
namespace {

// The type-library file's own signature, at its start.
constexpr char kSignature[4] = {'M', 'S', 'F', 'T'};
// A header and one type description at least; tens of kilobytes in fact.
constexpr DWORD kSmallestSize = 0x200;
// Far beyond what the interfaces listed need: a larger file is not ours.
constexpr DWORD kLargestSize = 16 * 1024 * 1024;

}  // namespace

bool KnownLibraryLooksWhole(const char* path) {
    vx::unique_file file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    const DWORD size = ::GetFileSize(file.get(), nullptr);
    char head[sizeof kSignature];
    DWORD got = 0;
    return size != INVALID_FILE_SIZE && size >= kSmallestSize && size <= kLargestSize &&
           ::ReadFile(file.get(), head, sizeof head, &got, nullptr) && got == sizeof head &&
           std::memcmp(head, kSignature, sizeof head) == 0;
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
