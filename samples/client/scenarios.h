// vxclient's scenarios. Each prints one line per call and returns a failure
// HRESULT only for what must not fail (a class that cannot be created, an
// interface that is missing); expected failures are printed and go on.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>
#include <vector>

#include "output.h"
#include "raii.h"

namespace vxc {

// A class of one of the sample servers.
struct SampleClass {
    const CLSID* clsid;
    const char* progid;
    const wchar_t* dll;  // file name of its server
};

extern const SampleClass kCalc;
extern const SampleClass kLicensed;
extern const SampleClass kDispOnly;
extern const SampleClass kBroken;
extern const SampleClass kPlain;

// State of one client run.
class Run {
public:
    // Servers whose unloading the run reports at its end, in first-use order.
    void uses(const SampleClass& cls);
    const std::vector<std::wstring>& dlls() const { return dlls_; }

private:
    std::vector<std::wstring> dlls_;
};

// CoCreateInstance in-process, printing "CoCreateInstance(<progid>) hr=...".
// A failure is reported on stderr and returned.
HRESULT create(Run& run, const SampleClass& cls, REFIID riid, void** ppv);

template <typename I>
HRESULT create(Run& run, const SampleClass& cls, REFIID riid, vx::com_ptr<I>& out) {
    return create(run, cls, riid, out.put_void());
}

// QueryInterface that must succeed; a failure is reported and returned.
HRESULT require(IUnknown* object, REFIID riid, const char* name, void** ppv);

// A VT_I4 VARIANT, for late-bound calls.
VARIANT long_arg(LONG value);

using ScenarioFn = HRESULT (*)(Run& run, long n);

HRESULT scenario_create(Run& run, long n);
HRESULT scenario_basic(Run& run, long n);
HRESULT scenario_types(Run& run, long n);
HRESULT scenario_values(Run& run, long n);
HRESULT scenario_licensed(Run& run, long n);
HRESULT scenario_disp(Run& run, long n);
HRESULT scenario_broken(Run& run, long n);
HRESULT scenario_plain(Run& run, long n);
// VxSample's Widget through its standard interfaces.
HRESULT scenario_known(Run& run, long n);
// Timed pairs of calls, one on a registered interface, one on a known one.
HRESULT scenario_knownloop(Run& run, long n);
HRESULT scenario_threads(Run& run, long n);
HRESULT scenario_turns(Run& run, long n);
HRESULT scenario_loop(Run& run, long n);
// Calc.Raise n times, each exception caught by the client, then ordinary calls.
HRESULT scenario_raise(Run& run, long n);
HRESULT scenario_wait(Run& run, long n);
HRESULT scenario_hammer(Run& run, long n);
HRESULT scenario_torture(Run& run, long n);
HRESULT scenario_keep(Run& run, long n);
// Creates an object, calls it once and never releases it (a leak).
HRESULT scenario_leak(Run& run, long n);

}  // namespace vxc
