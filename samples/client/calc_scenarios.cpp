// Early-bound scenarios on VxSample.Calc: create, basic, threads, loop.
#include <cstdio>
#include <thread>

#include "VxSample.h"
#include "scenarios.h"

namespace vxc {
namespace {

std::string add_call(ICalc* calc, const char* who, LONG a, LONG b) {
    LONG total = 0;
    HRESULT hr = calc->Add(a, b, &total);
    return call_line(format("%s.Add(%ld,%ld)", who, a, b), hr,
                     SUCCEEDED(hr) ? format("%ld", total) : "");
}

std::string recurse_call(ICalc* calc, LONG depth) {
    LONG total = 0;
    HRESULT hr = calc->Recurse(depth, &total);
    return call_line(format("Calc.Recurse(%ld)", depth), hr, SUCCEEDED(hr) ? format("%ld", total) : "");
}

std::string name_call(ICalc* calc, const char* who) {
    vx::unique_bstr name;
    HRESULT hr = calc->get_Name(name.put());
    return call_line(format("%s.Name", who), hr, SUCCEEDED(hr) ? quoted(name.get()) : "");
}

std::string divide_call(ICalc* calc, double a, double b) {
    double quotient = 0;
    HRESULT hr = calc->Divide(a, b, &quotient);
    return call_line("Calc.Divide(" + real(a) + "," + real(b) + ")", hr,
                     SUCCEEDED(hr) ? real(quotient) : "");
}

// One thread of the threads scenario: its own apartment (the MTA) and its
// own object; lines are kept for the main thread to print in order.
void thread_body(int index, std::vector<std::string>& lines, HRESULT& result) {
    const std::string who = format("thread %d: ", index);
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    result = hr;
    if (FAILED(hr)) {
        lines.push_back(who + call_line("CoInitializeEx(MULTITHREADED)", hr));
        return;
    }
    {
        vx::com_ptr<ICalc> calc;
        hr = CoCreateInstance(CLSID_Calc, nullptr, CLSCTX_INPROC_SERVER, IID_ICalc, calc.put_void());
        lines.push_back(who + call_line("CoCreateInstance(VxSample.Calc)", hr));
        result = hr;
        if (SUCCEEDED(hr)) {
            lines.push_back(who + add_call(calc.get(), "Calc", index + 1, 100 * (index + 1)));
            lines.push_back(who + recurse_call(calc.get(), index + 2));
        }
    }
    CoUninitialize();
}

}  // namespace

// N, when given, is the second number added: a run that differs from the
// plain one in one parameter of one call.
HRESULT scenario_create(Run& run, long n) {
    vx::com_ptr<ICalc> calc;
    RETURN_IF_FAILED(create(run, kCalc, IID_ICalc, calc));
    print(add_call(calc.get(), "Calc", 2, n ? n : 3));
    return S_OK;
}

HRESULT scenario_basic(Run& run, long) {
    vx::com_ptr<ICalc> calc;
    RETURN_IF_FAILED(create(run, kCalc, IID_ICalc, calc));
    print(add_call(calc.get(), "Calc", 2, 3));
    print(add_call(calc.get(), "Calc", -7, 3));

    {
        vx::unique_bstr a(SysAllocString(L"foo"));
        vx::unique_bstr b(SysAllocString(L"bar"));
        vx::unique_bstr joined;
        HRESULT hr = calc->Concat(a.get(), b.get(), joined.put());
        print(call_line("Calc.Concat(\"foo\",\"bar\")", hr, SUCCEEDED(hr) ? quoted(joined.get()) : ""));
    }

    print(divide_call(calc.get(), 7, 2));
    print(divide_call(calc.get(), 1, 0));

    print(name_call(calc.get(), "Calc"));
    {
        vx::unique_bstr name(SysAllocString(L"Renamed"));
        print(call_line("Calc.Name=\"Renamed\"", calc->put_Name(name.get())));
    }
    print(name_call(calc.get(), "Calc"));

    print(recurse_call(calc.get(), 3));
    print(recurse_call(calc.get(), 0));

    vx::com_ptr<ICalc> child;
    HRESULT hr = calc->CreateChild(child.put());
    print(call_line("Calc.CreateChild()", hr));
    if (FAILED(hr) || !child) {
        complain("CreateChild returned no object");
        return FAILED(hr) ? hr : E_POINTER;
    }
    print(name_call(child.get(), "Child"));
    print(add_call(child.get(), "Child", 40, 2));

    vx::com_ptr<ITypes> types;
    hr = calc->QueryInterface(IID_ITypes, types.put_void());
    print(call_line("Calc.QueryInterface(ITypes)", hr));
    vx::com_ptr<IClassFactory> not_there;
    hr = calc->QueryInterface(IID_IClassFactory, not_there.put_void());
    print(call_line("Calc.QueryInterface(IClassFactory)", hr));
    return S_OK;
}

namespace {

// Threads all at once, or one after another (each then alone in the MTA, so
// its end lets COM free the component before the next one loads it again).
HRESULT run_threads(Run& run, long n, bool inTurn) {
    run.uses(kCalc);
    const auto count = static_cast<size_t>(n);
    std::vector<std::vector<std::string>> lines(count);
    std::vector<HRESULT> results(count, S_OK);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < count; ++i) {
        threads.emplace_back(thread_body, static_cast<int>(i), std::ref(lines[i]), std::ref(results[i]));
        if (inTurn) threads.back().join();
    }
    for (std::thread& t : threads)
        if (t.joinable()) t.join();
    HRESULT first_failure = S_OK;
    for (size_t i = 0; i < count; ++i) {
        for (const std::string& line : lines[i]) print(line);
        if (FAILED(results[i]) && SUCCEEDED(first_failure)) first_failure = results[i];
    }
    if (FAILED(first_failure))
        complain(format("a thread could not create VxSample.Calc: hr=%s", hr_text(first_failure).c_str()));
    return first_failure;
}

}  // namespace

HRESULT scenario_threads(Run& run, long n) { return run_threads(run, n, false); }

HRESULT scenario_turns(Run& run, long n) { return run_threads(run, n, true); }

HRESULT scenario_wait(Run& run, long) {
    vx::com_ptr<ICalc> calc;
    RETURN_IF_FAILED(create(run, kCalc, IID_ICalc, calc));
    print(add_call(calc.get(), "Calc", 2, 3));
    // Holds the object (and the loaded component) until a line arrives.
    print("waiting");
    char line[16];
    if (!std::fgets(line, sizeof line, stdin)) print("no input");
    print(add_call(calc.get(), "Calc", 3, 4));
    return S_OK;
}

HRESULT scenario_leak(Run& run, long) {
    vx::com_ptr<ICalc> calc;
    RETURN_IF_FAILED(create(run, kCalc, IID_ICalc, calc));
    LONG total = 0;
    HRESULT hr = calc->Add(2, 3, &total);
    print(call_line("Calc.Add(2,3)", hr, result_or_empty(hr, format("%ld", total))));
    calc.detach();  // never released
    return S_OK;
}

HRESULT scenario_loop(Run& run, long n) {
    vx::com_ptr<ICalc> calc;
    RETURN_IF_FAILED(create(run, kCalc, IID_ICalc, calc));
    long failed = 0;
    long long sum = 0;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (long i = 0; i < n; ++i) {
        LONG total = 0;
        if (FAILED(calc->Add(i, 1, &total)))
            ++failed;
        else
            sum += total;
    }
    QueryPerformanceCounter(&end);
    print(format("loop: Calc.Add calls=%ld failed=%ld sum=%lld", n, failed, sum));
    write_timing("", 1e6 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    return S_OK;
}

namespace {

// What Calc.Raise leaves with.
constexpr DWORD kRaised = 0xE0565801;

#if defined(__i386__)
// g++ has no __try: the client registers its own handler on the thread's
// exception chain (fs:[0]), as compilers with __try do. The handler takes only
// Calc's exception; it unwinds the frames above its own (RtlUnwind) and jumps
// back into catch_raise.
struct SehFrame {
    SehFrame* prev;
    void* handler;
    void* jump[5];
    DWORD code;
};

SehFrame* chain_head() {
    SehFrame* head;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

void set_chain_head(SehFrame* head) { asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory"); }

extern "C" EXCEPTION_DISPOSITION __cdecl on_calc_raise(EXCEPTION_RECORD* record, void* frame, CONTEXT*, void*) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
    if (record->ExceptionCode != kRaised) return ExceptionContinueSearch;
    auto* own = static_cast<SehFrame*>(frame);
    own->code = record->ExceptionCode;
    RtlUnwind(frame, nullptr, record, nullptr);
    __builtin_longjmp(own->jump, 1);
}

// Calls Raise(1, depth); true with the code when the exception was caught.
// *intact: the chain's head after the catch is the one before the call.
__attribute__((noinline)) bool catch_raise(ICalc* calc, LONG depth, DWORD* code, bool* intact) {
    SehFrame frame = {};
    frame.handler = reinterpret_cast<void*>(on_calc_raise);
    SehFrame* const before = chain_head();
    frame.prev = before;
    if (__builtin_setjmp(frame.jump) == 0) {
        set_chain_head(&frame);
        calc->Raise(1, depth);
        set_chain_head(frame.prev);
        return false;
    }
    *intact = chain_head() == &frame;
    set_chain_head(frame.prev);
    *code = frame.code;
    return true;
}
const char* const kRaiseWay = "structured exception, handler on the thread's chain";
#else
// The C++ exception of a component built by this compiler reaches a catch of
// the client through the system's unwinder.
bool catch_raise(ICalc* calc, LONG depth, DWORD* code, bool* intact) {
    try {
        calc->Raise(2, depth);
    } catch (long thrown) {
        *code = static_cast<DWORD>(thrown);
        *intact = true;
        return true;
    }
    return false;
}
const char* const kRaiseWay = "C++ exception, try and catch";
#endif

// The client's own vectored handler, first in line: it counts every
// exception it sees and takes back its own continuable one.
constexpr DWORD kOwnCode = 0xE0C11E47;
LONG g_seenAll = 0, g_seenOwn = 0, g_seenAccess = 0;

LONG CALLBACK count_exceptions(EXCEPTION_POINTERS* pointers) {
    const DWORD code = pointers->ExceptionRecord->ExceptionCode;
    InterlockedIncrement(&g_seenAll);
    if (code == EXCEPTION_ACCESS_VIOLATION) InterlockedIncrement(&g_seenAccess);
    if (code != kOwnCode) return EXCEPTION_CONTINUE_SEARCH;
    InterlockedIncrement(&g_seenOwn);
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

HRESULT scenario_raise(Run& run, long n) {
    vx::com_ptr<ICalc> calc;
    RETURN_IF_FAILED(create(run, kCalc, IID_ICalc, calc));
    void* handler = AddVectoredExceptionHandler(1, count_exceptions);
    long caught = 0, wrong = 0, broken = 0;
    for (long i = 0; i < n; ++i) {
        DWORD code = 0;
        bool intact = false;
        if (catch_raise(calc.get(), i % 3, &code, &intact) && code == kRaised)
            ++caught;
        else
            ++wrong;
        if (!intact) ++broken;
        // Its own exception between two traced calls, taken back by its handler.
        RaiseException(kOwnCode, 0, 0, nullptr);
        LONG total = 0;
        if (FAILED(calc->Add(i, 1, &total)) || total != i + 1) ++wrong;
    }
    if (handler) RemoveVectoredExceptionHandler(handler);
    print(format("raise: %s: Calc.Raise calls=%ld caught=%ld wrong=%ld chain broken=%ld", kRaiseWay, n, caught,
                 wrong, broken));
    print(format("raise: the client's vectored handler saw %ld exceptions, %ld of its own, %ld access violations",
                 g_seenAll, g_seenOwn, g_seenAccess));
    // Thrown and caught inside the component: an ordinary return.
    print(call_line("Calc.Raise(3,2)", calc->Raise(3, 2)));
    for (LONG i = 0; i < 3; ++i) print(add_call(calc.get(), "Calc", i, 10));
    print(recurse_call(calc.get(), 3));
    return S_OK;
}

}  // namespace vxc

namespace vxc {
namespace {

// One hammer thread: its own object, called in every way until the deadline.
void hammer_body(DWORD deadline, LONG& failures) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        InterlockedIncrement(&failures);
        return;
    }
    {
        vx::com_ptr<ICalc> calc;
        if (FAILED(CoCreateInstance(CLSID_Calc, nullptr, CLSCTX_INPROC_SERVER, IID_ICalc, calc.put_void()))) {
            InterlockedIncrement(&failures);
        } else {
            for (LONG i = 0; static_cast<LONG>(GetTickCount() - deadline) < 0; ++i) {
                LONG total = 0;
                if (FAILED(calc->Add(i, 1, &total)) || total != i + 1) InterlockedIncrement(&failures);
                if (FAILED(calc->Recurse(3, &total)) || total != 6) InterlockedIncrement(&failures);
                vx::com_ptr<ITypes> types;
                if (FAILED(calc->QueryInterface(IID_ITypes, types.put_void())) || FAILED(types->Ping()))
                    InterlockedIncrement(&failures);
            }
        }
    }
    CoUninitialize();
}

}  // namespace

HRESULT scenario_hammer(Run& run, long n) {
    run.uses(kCalc);
    LONG failures = 0;
    const DWORD deadline = GetTickCount() + 3000;
    std::vector<std::thread> threads;
    for (long i = 0; i < n; ++i) threads.emplace_back(hammer_body, deadline, std::ref(failures));
    for (std::thread& t : threads) t.join();
    print(format("hammer: %ld threads, failures=%ld", n, failures));
    return failures == 0 ? S_OK : E_FAIL;
}

HRESULT scenario_torture(Run& run, long) {
    run.uses(kCalc);
    vx::com_ptr<ICalc> calc;
    RETURN_IF_FAILED(create(run, kCalc, IID_ICalc, calc));
    ICalc* shared = calc.get();
    volatile LONG wrong = 0;
    // One thread keeps calling the traced object...
    std::thread caller([shared, &wrong] {
        for (LONG i = 0;; ++i) {
            LONG total = 0;
            if (FAILED(shared->Add(i, 2, &total)) || total != i + 2) InterlockedIncrement(&wrong);
        }
    });
    // ...while others create, query and release objects sharing its method table.
    std::vector<std::thread> churn;
    volatile LONG churning = 0;
    for (int t = 0; t < 3; ++t) {
        churn.emplace_back([&wrong, &churning] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            bool counted = false;
            for (;;) {
                vx::com_ptr<ICalc> other;
                if (FAILED(CoCreateInstance(CLSID_Calc, nullptr, CLSCTX_INPROC_SERVER, IID_ICalc, other.put_void())))
                    continue;
                if (!counted) counted = InterlockedIncrement(&churning) > 0;
                vx::com_ptr<ITypes> types;
                if (FAILED(other->QueryInterface(IID_ITypes, types.put_void()))) InterlockedIncrement(&wrong);
            }
        });
    }
    // Every churning thread has made an object before the end is timed: on
    // a loaded machine their start alone can take longer than the run.
    while (churning < 3) Sleep(1);
    // Long enough for tens of thousands of traced calls at full speed; a
    // reader then takes all of their records in after the end.
    Sleep(500);
    print(format("torture: wrong results=%ld", wrong));
    // Ends the process with every thread in the middle of its calls.
    std::fflush(stdout);
    ExitProcess(wrong == 0 ? 0 : 1);
}

}  // namespace vxc
