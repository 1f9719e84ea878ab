// ANSI text inside the product, wide text at the OLE boundary; path text.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace vx {

// In the system's ANSI code page; empty for a null pointer.
std::string Narrow(const wchar_t* text);
std::wstring Wide(const std::string& text);
// A new BSTR holding the text (the caller frees it).
BSTR NewBstr(const std::string& text);

// Equal ignoring letter case (the invariant locale's rule, as for paths).
bool EqualNoCase(const std::string& a, const std::string& b);

// "{xxxxxxxx-...}" of a GUID; empty if it cannot be made.
std::wstring GuidText(const GUID& guid);

// A whole file into text; false when it cannot be read (too large included).
bool ReadWholeFile(HANDLE file, std::string* text);
bool ReadWholeFile(const std::string& path, std::string* text);

// The part of a path after its last backslash (the whole path without one).
std::string FileNameOf(const std::string& path);

// Files of any path length. The ANSI file functions stop at MAX_PATH (under
// Wine even with the "\\?\" prefix): these go through the wide ones, with
// the prefix on a full path of MAX_PATH characters or more.
std::wstring LongPath(const std::string& fullPath);
HANDLE OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition);
DWORD FileAttributes(const std::string& path);
// The full path of a name (relative or not, of any length); empty on failure.
std::string FullPathOf(const std::string& name);

}  // namespace vx
