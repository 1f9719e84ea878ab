// Hook number from a stub copy's file name.
#pragma once

#include <cstdlib>
#include <cstring>

// Searches "Zor#_", then "ZOR#_", then "zor#_" (exact case, first form present
// wins) and reads the signed decimal after it as strtol does; 0 when none.
inline long HookNumberFromPath(const char* path) {
    static const char* const kPrefixes[] = {"Zor#_", "ZOR#_", "zor#_"};
    for (const char* prefix : kPrefixes) {
        if (const char* at = std::strstr(path, prefix)) return std::strtol(at + 5, nullptr, 10);
    }
    return 0;
}
