// Change signatures: a file's (its path text, times and size) and an entry's
// (an interface without a type library: its id and name).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "indexrecord.h"

namespace pollux {

// The text read as little-endian 64-bit words from its start, in steps of 8
// while the step's offset is inside the text, zero bytes following it.
ScanSignature SumText(std::string_view text);

// Path text plus creation and last-write times plus the size with its halves
// swapped; 0 becomes 1.
ScanSignature AttributeSignature(std::string_view pathText, const WIN32_FILE_ATTRIBUTE_DATA& data);

// The file signature of a registered path: expanded when it begins with "%",
// a trailing resource index ("x.dll\3") dropped to find the file; 0 when the
// file is not there or the expanded path does not fit its 300 bytes.
ScanSignature FileSignature(const std::string& path);

// The 38-character interface id text and the interface's name; 0 becomes 1.
ScanSignature EntrySignature(std::string_view idString, std::string_view name);

}  // namespace pollux
