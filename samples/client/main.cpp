// vxclient SCENARIO [N]: drives the sample components and prints what every
// call returned. Exit code 0 after "done"; 1 when something that must work
// did not (class not registered, interface missing); 2 for a bad command line.
#include <cstdlib>
#include <cstring>

#include "VxSample.h"
#include "plain.h"
#include "scenarios.h"

namespace vxc {

const SampleClass kCalc = {&CLSID_Calc, "VxSample.Calc", L"VxSample.dll"};
const SampleClass kLicensed = {&CLSID_Licensed, "VxSample.Licensed", L"VxSample.dll"};
const SampleClass kDispOnly = {&CLSID_DispOnly, "VxSample.DispOnly", L"VxSample.dll"};
const SampleClass kBroken = {&CLSID_Broken, "VxSample.Broken", L"VxSample.dll"};
const SampleClass kPlain = {&CLSID_Plain, "VxPlain.Plain", L"VxPlain.dll"};

void Run::uses(const SampleClass& cls) {
    for (const std::wstring& dll : dlls_)
        if (dll == cls.dll) return;
    dlls_.emplace_back(cls.dll);
}

HRESULT create(Run& run, const SampleClass& cls, REFIID riid, void** ppv) {
    run.uses(cls);
    HRESULT hr = CoCreateInstance(*cls.clsid, nullptr, CLSCTX_INPROC_SERVER, riid, ppv);
    print(call_line(format("CoCreateInstance(%s)", cls.progid), hr));
    if (FAILED(hr)) {
        complain(format("cannot create %s: hr=%s%s", cls.progid, hr_text(hr).c_str(),
                        hr == REGDB_E_CLASSNOTREG ? " (class not registered)" : ""));
    }
    return hr;
}

HRESULT require(IUnknown* object, REFIID riid, const char* name, void** ppv) {
    HRESULT hr = object->QueryInterface(riid, ppv);
    if (FAILED(hr)) complain(format("QueryInterface(%s) failed: hr=%s", name, hr_text(hr).c_str()));
    return hr;
}

namespace {

struct Scenario {
    const char* name;
    ScenarioFn run;
    long default_n;
    bool inAll = false;
};

const Scenario kScenarios[] = {
    {"create", scenario_create, 0, true},   {"basic", scenario_basic, 0, true},
    {"types", scenario_types, 0, true},     {"values", scenario_values, 0, true},
    {"licensed", scenario_licensed, 0, true},
    {"disp", scenario_disp, 0, true},       {"broken", scenario_broken, 0, true},
    {"plain", scenario_plain, 0, true},     {"threads", scenario_threads, 4, true},
    // Not in "all": a benchmark loop, a wait for input, seconds of load, an abrupt end.
    {"loop", scenario_loop, 1000},          {"wait", scenario_wait, 0},
    {"hammer", scenario_hammer, 8},         {"torture", scenario_torture, 0},
    {"keep", scenario_keep, 0},            {"leak", scenario_leak, 0},
    {"raise", scenario_raise, 1000},      {"turns", scenario_turns, 3},
    // Not in "all" either: its records are checked on their own.
    {"known", scenario_known, 0},           {"knownloop", scenario_knownloop, 1000},
};

// The scenarios marked for it, in this order.
HRESULT scenario_all(Run& run, long n) {
    for (const Scenario& s : kScenarios) {
        if (!s.inAll) continue;
        print(format("== %s", s.name));
        const bool threads = std::strcmp(s.name, "threads") == 0;
        RETURN_IF_FAILED(s.run(run, threads && n > 0 ? n : s.default_n));
    }
    return S_OK;
}

void usage() {
    std::fputs("usage: vxclient SCENARIO [N]\n"
               "scenarios: create [N] basic types values licensed disp broken plain threads [N] loop [N] wait\n"
               "           hammer [N] torture keep leak raise [N] turns [N] known knownloop [N] all\n",
               stderr);
}

}  // namespace
}  // namespace vxc

int main(int argc, char** argv) {
    using namespace vxc;
    if (argc < 2 || argc > 3) {
        usage();
        return 2;
    }
    ScenarioFn run_fn = nullptr;
    long n = 0;
    if (std::strcmp(argv[1], "all") == 0) {
        run_fn = scenario_all;
    } else {
        for (const Scenario& s : kScenarios) {
            if (std::strcmp(argv[1], s.name) == 0) {
                run_fn = s.run;
                n = s.default_n;
            }
        }
    }
    if (!run_fn) {
        complain(format("unknown scenario '%s'", argv[1]));
        usage();
        return 2;
    }
    if (argc == 3) {
        char* end = nullptr;
        n = std::strtol(argv[2], &end, 10);
        if (*end != '\0' || n <= 0) {
            complain(format("N must be a positive number, not '%s'", argv[2]));
            return 2;
        }
    }

    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        complain(format("CoInitializeEx failed: hr=%s", hr_text(hr).c_str()));
        return 1;
    }
    Run run;
    hr = run_fn(run, n);

    // CoFreeUnusedLibraries alone waits ten minutes before freeing a DLL of
    // threading model Both; the Ex form with no delay frees it now, so the
    // unload (and what a tracer writes for it) happens before CoUninitialize.
    CoFreeUnusedLibrariesEx(0, 0);
    CoFreeUnusedLibraries();
    for (const std::wstring& dll : run.dlls())
        print(format("unloaded %s: %s", utf8(dll).c_str(), GetModuleHandleW(dll.c_str()) ? "no" : "yes"));
    CoUninitialize();

    if (FAILED(hr)) return 1;
    print("done");
    return 0;
}
