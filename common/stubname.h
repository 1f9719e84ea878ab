// The name of a hook stub copy: "Zor#_" followed by the hook number (two
// digits at least) and ".dll". Header-only and free of the C++ library's
// strings, so the stub itself reads its own number through it.
#pragma once

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vx {

constexpr char kStubPrefix[] = "Zor#_";

// "Zor#_NN.dll" into out (at least 32 bytes).
inline void FormatStubName(long hookNumber, char* out, size_t outSize) {
    std::snprintf(out, outSize, "%s%.2ld.dll", kStubPrefix, hookNumber);
}

// The hook number in a stub copy's path, read as the stub reads its own:
// "Zor#_", then "ZOR#_", then "zor#_" (exact case, the first form present
// wins), then every digit after it; 0 when none.
inline long StubHookNumber(const char* path) {
    static const char* const kPrefixes[] = {"Zor#_", "ZOR#_", "zor#_"};
    for (const char* prefix : kPrefixes) {
        if (const char* at = std::strstr(path, prefix)) return std::strtol(at + 5, nullptr, 10);
    }
    return 0;
}

// True when a server path names a stub copy: "Zor#_" in any letter case.
inline bool NamesStubCopy(const char* path) {
    for (const char* at = path; *at; ++at) {
        size_t i = 0;
        while (i < 5 && at[i] && std::toupper(static_cast<unsigned char>(at[i])) ==
                                     std::toupper(static_cast<unsigned char>(kStubPrefix[i])))
            ++i;
        if (i == 5) return true;
    }
    return false;
}

}  // namespace vx
