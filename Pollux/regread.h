// Registry reads into the walks' fixed buffers: a name or value that does not
// fit is refused (the item yields nothing), never cut into a wrong path and
// never written past the buffer.
#pragma once

#include <windows.h>

#include "raii.h"

namespace pollux {

inline constexpr DWORD kRegistryBuffer = 300;   // names and values
inline constexpr DWORD kInterfaceNameBuffer = 200;
inline constexpr DWORD kPathBuffer = MAX_PATH;

enum class EnumResult { Item, TooLong, End };

// Subkey `index` of key into name (kRegistryBuffer bytes); TooLong for a name
// that does not fit, so the caller can pass over it and go on.
EnumResult EnumSubkey(HKEY key, DWORD index, char* name);

// A REG_SZ value (REG_EXPAND_SZ too when allowExpand, then returned as it
// is) into out[size], NUL-terminated; false when missing, of another type,
// or longer than the buffer.
bool ReadString(HKEY key, const char* valueName, char* out, DWORD size, bool allowExpand, DWORD* type = nullptr);

// Opens a subkey for reading; false when it cannot be opened.
bool OpenKey(HKEY parent, const char* name, vx::unique_hkey* key);

// The number of subkeys; 0 when the key cannot be queried.
long SubkeyCount(HKEY key);

}  // namespace pollux
