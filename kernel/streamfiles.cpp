#include "streamfiles.h"

#include "pendingtext.h"
#include "settings.h"
#include "tracemap.h"

namespace korbin {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The extra file is opened exclusively for a whole append or merge; the other
// side only ever waits for one such short operation.
constexpr int kExtraFileTries = 2000;

HANDLE OpenExtraExclusive(const char* path, DWORD access, DWORD disposition) {
    for (int i = 0; i < kExtraFileTries; ++i) {
        HANDLE h = ::CreateFileA(path, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_SHARING_VIOLATION) return h;
        ::Sleep(1);
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

bool TraceFiles::Build(const char* installFolder) {
    bool ok = JoinPath(folder, sizeof folder, installFolder, "") &&
              JoinPath(mainSettings, sizeof mainSettings, installFolder, "Vexilo.txt") &&
              JoinPath(advancedSettings, sizeof advancedSettings, installFolder, "VexiloAdv.txt") &&
              JoinPath(full, sizeof full, installFolder, "TraceFull.txt") &&
              JoinPath(distilled, sizeof distilled, installFolder, "TraceDistilled.txt") &&
              JoinPath(extra, sizeof extra, installFolder, "ExtraFile.txt");
    if (!ok) *this = TraceFiles{};
    return ok;
}

HANDLE OpenShared(const char* path, DWORD disposition) {
    return ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

bool SeekTo(HANDLE file, LONGLONG position) {
    LARGE_INTEGER to;
    to.QuadPart = position;
    return ::SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != 0;
}

LONGLONG SeekToRecordEnd(HANDLE file) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file, &size)) return -1;
    LONGLONG at = size.QuadPart > 0 ? size.QuadPart - 1 : 0;
    return SeekTo(file, at) ? at : -1;
}

bool NothingWrittenAfter(HANDLE file) {
    char probe;
    DWORD got = 1;
    return ::ReadFile(file, &probe, 1, &got, nullptr) && got == 0;
}

bool TraceFile::Ensure(TraceMap* map, const char* path) {
    const LONG current = map ? *vx::FileGeneration(map) : generation;
    if (handle && ((current ^ generation) & vx::kFileGenerationMask) == 0) return true;
    handle.reset(OpenShared(path, disposition));
    generation = current;
    end = -1;  // a file opened anew is looked at before it is written
    return static_cast<bool>(handle);
}

bool ExtraFile::MayHaveText(TraceMap* map, const char* path) {
    // Looking for the file costs more than the rest of the record. The word
    // is read first, so an append that lands after the look moves it again
    // for the next record.
    const LONG word = *vx::FileGeneration(map);
    if (looked_ && word == word_) return false;
    looked_ = true;
    word_ = word;
    return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool ExtraFile::Take(const char* path, ExtraText* taken) {
    vx::unique_file extra(OpenExtraExclusive(path, GENERIC_READ | DELETE, OPEN_EXISTING));
    if (!extra) return false;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(extra.get(), &size) || size.QuadPart > 0x7FFFFFFF) return false;
    size_t length = static_cast<size_t>(size.QuadPart);
    if (length) {
        taken->text = static_cast<char*>(::HeapAlloc(::GetProcessHeap(), 0, length));
        if (!taken->text) return false;  // stays for a later record
        DWORD got = 0;
        if (!::ReadFile(extra.get(), taken->text, static_cast<DWORD>(length), &got, nullptr) || got != length)
            return false;
    }
    // Deleted only once read; no appender can slip in while the handle is exclusive.
    FILE_DISPOSITION_INFO dispose = {TRUE};
    ::SetFileInformationByHandle(extra.get(), FileDispositionInfo, &dispose, sizeof dispose);
    if (length > 0 && taken->text[length - 1] == '\x01') --length;
    taken->length = length;
    return true;
}

void ExtraFile::Append(const char* path, TraceMap* map, const char* text, size_t length) {
    vx::unique_file extra(OpenExtraExclusive(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS));
    if (!extra) return;
    SeekToRecordEnd(extra.get());
    vx::WriteAll(extra.get(), text, length);
    extra.reset();
    // After the text is in: every direct writer looks for it at its next record.
    ::InterlockedExchangeAdd(vx::FileGeneration(map), vx::kExtraFileAppended);
}

}  // namespace korbin
