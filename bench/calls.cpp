// Cost of a call through a patched method-table slot, against the same call
// on an unpatched table: (a) on an object the kernel does not know, (b) on a
// traced object with both trace streams off; each with 10, 1,000 and 10,000
// live intercepted interfaces in the process. Ratios come from one run.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kernel.h"
#include "objects.h"

namespace {

// An object with IDispatch's seven slots; only GetTypeInfoCount is timed.
struct Fake {
    void** table;
};

HRESULT STDMETHODCALLTYPE QueryInterface(Fake*, REFIID, void** out) {
    *out = nullptr;
    return E_NOINTERFACE;
}
ULONG STDMETHODCALLTYPE AddRef(Fake*) { return 2; }
ULONG STDMETHODCALLTYPE Release(Fake*) { return 1; }
HRESULT STDMETHODCALLTYPE GetTypeInfoCount(Fake*, UINT* count) {
    *count = 0;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE NotUsed(Fake*) { return E_NOTIMPL; }

void* g_traced[7] = {reinterpret_cast<void*>(QueryInterface), reinterpret_cast<void*>(AddRef),
                     reinterpret_cast<void*>(Release),        reinterpret_cast<void*>(GetTypeInfoCount),
                     reinterpret_cast<void*>(NotUsed),        reinterpret_cast<void*>(NotUsed),
                     reinterpret_cast<void*>(NotUsed)};
void* g_plain[7];  // the same methods, never patched

// A class object whose CreateInstance hands out Fake objects on g_traced.
struct Factory {
    void** table;
};
HRESULT STDMETHODCALLTYPE FactoryQuery(Factory*, REFIID, void** out) {
    *out = nullptr;
    return E_NOINTERFACE;
}
HRESULT STDMETHODCALLTYPE CreateInstance(Factory*, IUnknown*, REFIID, void** out) {
    auto* object = new Fake{g_traced};
    *out = object;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE LockServer(Factory*, BOOL) { return S_OK; }
void* g_factoryTable[5] = {reinterpret_cast<void*>(FactoryQuery), reinterpret_cast<void*>(AddRef),
                           reinterpret_cast<void*>(Release), reinterpret_cast<void*>(CreateInstance),
                           reinterpret_cast<void*>(LockServer)};

using CountFn = HRESULT(STDMETHODCALLTYPE*)(Fake*, UINT*);
using CreateFn = HRESULT(STDMETHODCALLTYPE*)(Factory*, IUnknown*, REFIID, void**);

double NanosecondsPerCall(Fake* object, int calls) {
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    UINT count = 0;
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < calls; ++i) reinterpret_cast<CountFn>(object->table[3])(object, &count);
    ::QueryPerformanceCounter(&end);
    return 1e9 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart) / calls;
}

}  // namespace

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::atoi(argv[1]) : 200000;
    std::memcpy(g_plain, g_traced, sizeof g_plain);
    korbin::Kernel& k = korbin::g_kernel;
    ::InitializeCriticalSection(&k.initLock);
    if (FAILED(::LoadTypeLibEx(L"stdole2.tlb", REGKIND_NONE, &k.stdole))) {
        std::fprintf(stderr, "bench_calls: stdole2.tlb not found\n");
        return 1;
    }
    // No trace map: both streams write nothing.
    Factory factory{g_factoryTable};
    const CLSID clsid = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    korbin::InterceptClassObject(clsid, IID_IClassFactory, &factory, nullptr);

    Fake plain{g_plain};
    Fake unknown{g_traced};  // shares the patched table, never handed out
    std::printf("calls per measurement: %d\n", calls);
    std::printf("%-10s %12s %14s %14s %10s %10s\n", "live", "plain ns", "unknown ns", "traced ns", "(a) +ns",
                "(b) +ns");
    std::vector<Fake*> objects;
    for (int live : {10, 1000, 10000}) {
        while (static_cast<int>(objects.size()) < live) {
            void* out = nullptr;
            reinterpret_cast<CreateFn>(factory.table[3])(&factory, nullptr, IID_IDispatch, &out);
            objects.push_back(static_cast<Fake*>(out));
        }
        // The first object: the end of the list, the worst case of a linear search.
        Fake* traced = objects.front();
        double base = NanosecondsPerCall(&plain, calls);
        double a = NanosecondsPerCall(&unknown, calls);
        double b = NanosecondsPerCall(traced, calls);
        std::printf("%-10d %12.1f %14.1f %14.1f %10.1f %10.1f\n", live, base, a, b, a - base, b - base);
    }
    return 0;
}
