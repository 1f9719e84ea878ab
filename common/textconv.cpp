// Conversions between ANSI and wide text.
#include "textconv.h"

#include "raii.h"

namespace vx {

std::string Narrow(const wchar_t* text) {
    if (!text) return {};
    int n = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string narrow(static_cast<size_t>(n - 1), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), n, nullptr, nullptr);
    return narrow;
}

std::wstring Wide(const std::string& text) {
    int n = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 1) return {};
    std::wstring wide(static_cast<size_t>(n - 1), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
    return wide;
}

BSTR NewBstr(const std::string& text) { return ::SysAllocString(Wide(text).c_str()); }

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                                                    b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40];
    return ::StringFromGUID2(guid, text, 40) ? text : L"";
}

bool ReadWholeFile(HANDLE file, std::string* text) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file, &size) || size.QuadPart > 0x7FFFFFFF) return false;
    text->resize(static_cast<size_t>(size.QuadPart));
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
    DWORD got = 0;
    return text->empty() ||
           (::ReadFile(file, text->data(), static_cast<DWORD>(text->size()), &got, nullptr) && got == text->size());
}

bool ReadWholeFile(const std::string& path, std::string* text) {
    vx::unique_file file(OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING));
    return file && ReadWholeFile(file.get(), text);
}

std::string FileNameOf(const std::string& path) {
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::wstring LongPath(const std::string& fullPath) {
    std::wstring wide = Wide(fullPath);
    if (wide.size() < MAX_PATH || wide.rfind(L"\\\\", 0) == 0 || wide.size() < 3 || wide[1] != L':') return wide;
    return L"\\\\?\\" + wide;
}

HANDLE OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
    return ::CreateFileW(LongPath(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

DWORD FileAttributes(const std::string& path) { return ::GetFileAttributesW(LongPath(path).c_str()); }

std::string FullPathOf(const std::string& name) {
    std::wstring wide = Wide(name);
    DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return {};
    std::wstring full(needed, L'\0');
    DWORD n = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (n == 0 || n >= needed) return {};
    full.resize(n);
    return Narrow(full.c_str());
}

}  // namespace vx
