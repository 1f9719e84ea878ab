#include "signature.h"

#include <cstring>

#include "pathtext.h"
#include "regread.h"

namespace pollux {
namespace {

ScanSignature NonZero(ScanSignature s) { return s == 0 ? 1 : s; }

ScanSignature Filetime(const FILETIME& t) { return (static_cast<ScanSignature>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// The attributes of the file a registered path names; a trailing component
// that begins with a digit is a resource index behind a module's path.
bool FileAttributes(const char* path, WIN32_FILE_ATTRIBUTE_DATA* data) {
    if (::GetFileAttributesExA(path, GetFileExInfoStandard, data)) return true;
    char full[kPathBuffer];
    char* last = nullptr;
    DWORD n = ::GetFullPathNameA(path, sizeof full, full, &last);
    if (n == 0 || n >= sizeof full || !last || last == full || !(*last >= '0' && *last <= '9')) return false;
    last[-1] = '\0';
    return ::GetFileAttributesExA(full, GetFileExInfoStandard, data) != FALSE;
}

}  // namespace

ScanSignature SumText(std::string_view text) {
    ScanSignature sum = 0;
    for (size_t at = 0; at < text.size(); at += 8) {
        unsigned char word[8] = {};
        std::memcpy(word, text.data() + at, text.size() - at < 8 ? text.size() - at : 8);
        ScanSignature value = 0;
        for (int i = 7; i >= 0; --i) value = (value << 8) | word[i];
        sum += value;
    }
    return sum;
}

ScanSignature AttributeSignature(std::string_view pathText, const WIN32_FILE_ATTRIBUTE_DATA& data) {
    const ScanSignature size = data.nFileSizeHigh | (static_cast<ScanSignature>(data.nFileSizeLow) << 32);
    return NonZero(SumText(pathText) + Filetime(data.ftCreationTime) + Filetime(data.ftLastWriteTime) + size);
}

ScanSignature FileSignature(const std::string& path) {
    std::string text;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!ExpandedPath(path, &text) || text.empty() || !FileAttributes(text.c_str(), &data)) return 0;
    return AttributeSignature(text, data);
}

ScanSignature EntrySignature(std::string_view idString, std::string_view name) {
    return NonZero(SumText(idString) + SumText(name));
}

}  // namespace pollux
