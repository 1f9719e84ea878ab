#include "filepolicy.h"

#include <cstdio>
#include <cstring>

#include "raii.h"

namespace korbin {
namespace {

// Far more backups than anyone keeps; the bound only stops a runaway search.
constexpr unsigned kMaxBackups = 99999;

bool Exists(const char* path) { return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

bool BackupName(const char* path, unsigned n, char* out, size_t outSize) {
    size_t len = std::strlen(path);
    if (len < 4) return false;
    int written = std::snprintf(out, outSize, "%.*s%.2u.txt", static_cast<int>(len - 4), path, n);
    return written > 0 && static_cast<size_t>(written) < outSize;
}

void ApplyFilePolicy(const char* path, FilePolicy policy) {
    if (Exists(path)) {
        char backup[MAX_PATH];
        switch (policy) {
        case FilePolicy::Override:
            ::DeleteFileA(path);
            break;
        case FilePolicy::BackupAll:
            for (unsigned n = 1; n <= kMaxBackups; ++n) {
                if (!BackupName(path, n, backup, sizeof backup)) break;
                if (!Exists(backup)) {
                    ::MoveFileA(path, backup);
                    break;
                }
            }
            break;
        case FilePolicy::BackupLast:
            if (BackupName(path, 1, backup, sizeof backup)) {
                ::DeleteFileA(backup);
                ::MoveFileA(path, backup);
            }
            break;
        }
    }
    vx::unique_file file(::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace korbin
