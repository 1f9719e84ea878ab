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

// The part of a path after its last backslash (the whole path without one).
std::string FileNameOf(const std::string& path);

}  // namespace vx
