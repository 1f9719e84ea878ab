// Where the time of a decoded call goes: one checked read of client memory
// (on the caller's stack; on the heap, with its page query, against a copy
// through ReadProcessMemory),
// the value texts of a call with a BSTR, a VARIANT and an [out,retval]
// (entry and exit) formatted into nothing, and writing an ENTER-sized and an
// EXIT-sized record through the trace store (distilled only, then full and
// distilled, then both held for a reader attached) on a private map.
// Microseconds from one run.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "raii.h"
#include "describe.h"
#include "format.h"
#include "objects.h"
#include "benchstore.h"

namespace {

class NullSink final : public korbin::Sink {
public:
    void Piece(const char* text) override { bytes += static_cast<int>(std::strlen(text)); }
    void Indent(int) override {}
    int bytes = 0;
};

using Clock = LARGE_INTEGER;

double Microseconds(const Clock& start, const Clock& end, int times) {
    Clock frequency;
    ::QueryPerformanceFrequency(&frequency);
    return 1e6 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart) / times;
}

template <typename F>
double Time(int times, F f) {
    Clock start, end;
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < times; ++i) f();
    ::QueryPerformanceCounter(&end);
    return Microseconds(start, end, times);
}

// The value texts of one call: BSTR and VARIANT at entry, the out-value
// through its pointer at exit.
double FormatPair(int times) {
    vx::unique_bstr owned(::SysAllocString(L"a string argument"));
    BSTR text = owned.get();
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = 5;
    LONG out = 42;
    LONG* outPointer = &out;
    NullSink sink;
    double us = Time(times, [&] {
        korbin::FormatValue(sink, VT_BSTR, nullptr, &text);
        korbin::FormatValue(sink, VT_VARIANT, nullptr, &v);
        korbin::FormatValue(sink, korbin::EncodedType(VT_I4, 1), nullptr, &outPointer);
    });
    return us;
}

// Two records of an ENTER's and an EXIT's size and line count. With a
// reader, this process stands in for it: the section of held text is made
// and marked as taken in, and the text still held is written afterwards.
double WritePair(bool full, bool reader, int times, const char* folder, int round) {
    korbin::TraceStore store;
    if (!bench::OpenStore(store, "VxSplit", full, folder, round)) return 0;
    char name[sizeof store.mapName + sizeof vx::kPendingTextSuffix];
    std::snprintf(name, sizeof name, "%s%s", store.mapName, vx::kPendingTextSuffix);
    vx::unique_handle section(reader ? ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                            sizeof(vx::PendingText), name)
                                     : nullptr);
    vx::unique_view view(section ? ::MapViewOfFile(section.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr);
    if (view) static_cast<vx::PendingText*>(view.get())->readerProcess = static_cast<LONG>(::GetCurrentProcessId());
    const DWORD tid = ::GetCurrentThreadId(), pid = ::GetCurrentProcessId();
    double us = Time(times, [&] {
        store.LockDiagFile();
        store.Line("*** Serial# of call: %u.%u *** ", 3u, 9u);
        store.Line("\b TID=%lxh PID=%lxh [%d]", tid, pid, store.recordNumber());
        store.Line("Class: %s (instance# %d)", "VxSample Calc Class", 1);
        store.Line("Interface: %s", "ITypes");
        store.Line("\b (custom)");
        store.Line("Method: ");
        store.Line("\bVT_HRESULT");
        store.Line("\b %s (", "Strings");
        store.Line("               ");
        store.Line("\b[in]");
        store.Line("\b  a");
        store.Line("\b=\"a string argument\"");
        store.Line("\b  (VT_BSTR)");
        store.Line("\b );");
        store.UnLockDiagFile();
        store.LockDiagFile();
        store.Line("   *** Serial# of exit: %u.%u ***", 3u, 9u);
        store.Line("\b TID=%lxh PID=%lxh [%d]", tid, pid, store.recordNumber());
        store.Line("               [out,retval]");
        store.Line("\b  ptr=%xh", 0x12ff40u);
        store.Line("\b  *ptr=42 (2ah)");
        store.Line("\b  (VT_POINTER VT_I4)");
        store.Line("               HRESULT = %d (%xh)", 0, 0u);
        store.UnLockDiagFile();
    });
    store.WriteHeldFullText();
    bench::CloseStore(store);
    return us;
}

}  // namespace

int main(int argc, char** argv) {
    const int times = argc > 1 ? std::atoi(argv[1]) : 2000;
    char folder[MAX_PATH];
    ::GetTempPathA(sizeof folder, folder);
    LONG word = 7, copy = 0;
    auto* heapWord = static_cast<LONG*>(::HeapAlloc(::GetProcessHeap(), 0, sizeof(LONG)));
    *heapWord = 7;
    const double stackRead = Time(times, [&] { korbin::ReadClient(&word, &copy, sizeof copy); });
    const double heapRead = Time(times, [&] { korbin::ReadClient(heapWord, &copy, sizeof copy); });
    MEMORY_BASIC_INFORMATION info;
    const double query = Time(times, [&] { ::VirtualQuery(heapWord, &info, sizeof info); });
    SIZE_T got = 0;
    const double processRead =
        Time(times, [&] { ::ReadProcessMemory(::GetCurrentProcess(), heapWord, &copy, sizeof copy, &got); });
    ::HeapFree(::GetProcessHeap(), 0, heapWord);
    const double format = FormatPair(times);
    const double distilled = WritePair(false, false, times, folder, 1);
    const double both = WritePair(true, false, times, folder, 2);
    const double held = WritePair(true, true, times, folder, 3);
    std::printf("checked read of 4 bytes, caller's stack:        %8.1f us\n", stackRead);
    std::printf("checked read of 4 bytes, heap:                  %8.1f us\n", heapRead);
    std::printf("  its page query:                               %8.1f us\n", query);
    std::printf("  a copy through ReadProcessMemory instead:     %8.1f us\n", processRead);
    std::printf("value texts of one call (entry and exit):       %8.1f us\n", format);
    std::printf("ENTER+EXIT records written, distilled only:     %8.1f us\n", distilled);
    std::printf("ENTER+EXIT records written, full and distilled: %8.1f us\n", both);
    std::printf("  the same, held for a reader attached:         %8.1f us\n", held);
    return 0;
}
