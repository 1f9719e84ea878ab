// Scan benchmark: a first scan and an unchanged rescan of this prefix's own
// registry, both lists, in a fresh folder; seconds and items per second.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "engine.h"

namespace {

// Counts what the walks yield, so the rate is per item walked.
class Counting final : public pollux::ScanEvents {
public:
    void InterfName(const std::string&) override {}
    void CompName(const std::string&) override {}
    void OneMoreClass(const pollux::ClassItem&, bool) override { ++classes; }
    void ProcessedTLibs(long amount) override { libraries = amount; }
    void ProcessedImportedTLibs(long) override {}
    void ProcessedClasses(long amount) override { classKeys = amount; }
    void ProcessedInterfaces(long amount) override { interfaces = amount; }
    long classes = 0, classKeys = 0, libraries = 0, interfaces = 0;
};

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(f.QuadPart);
}

bool Run(const pollux::ScanEngine& engine, const char* what) {
    Counting c;
    LARGE_INTEGER a, b, d;
    ::QueryPerformanceCounter(&a);
    HRESULT tlb = engine.ScanTLBlist(c);
    ::QueryPerformanceCounter(&b);
    HRESULT comp = engine.ScanCompList(true, c);
    ::QueryPerformanceCounter(&d);
    if (FAILED(tlb) || FAILED(comp)) {
        std::printf("%s: scan failed (%08lx, %08lx)\n", what, static_cast<unsigned long>(tlb), static_cast<unsigned long>(comp));
        return false;
    }
    const double ts = Seconds(a, b), cs = Seconds(b, d);
    const long tlbItems = c.libraries + c.interfaces;
    std::printf("%-8s %u-bit  type libraries: %6.2f s (%ld libraries + %ld interfaces, %.0f items/s)"
                "  components: %6.2f s (%ld classes, %.0f items/s)  total %6.2f s\n",
                what, static_cast<unsigned>(sizeof(void*) * 8), ts, c.libraries, c.interfaces, tlbItems / ts, cs,
                c.classKeys, c.classKeys / cs, ts + cs);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (FAILED(::CoInitialize(nullptr))) return 1;
    char temp[MAX_PATH];
    ::GetTempPathA(sizeof temp, temp);
    std::string folder = argc > 1 ? argv[1] : std::string(temp) + "vxscanbench-" + std::to_string(::GetCurrentProcessId()) + "\\";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    pollux::ScanEngine engine;
    engine.SetFolder(folder);
    for (const std::string& name : {engine.paths().tlbList, engine.paths().tlbListInd, engine.paths().compList,
                                    engine.paths().compListInd})
        ::DeleteFileA(name.c_str());
    bool ok = Run(engine, "first") && Run(engine, "rescan");
    ::CoUninitialize();
    return ok ? 0 : 1;
}
