// The "values" scenario: the edge values of each kind a trace shows. Calendar
// corners, strings at and around their cut lengths and with line breaks,
// two-dimensional arrays, null pointers at each level, failing calls,
// reference counts, methods without a result, control bytes, an interface not
// derived from IUnknown and a dispatch-only object. Strings with line breaks
// are printed by length, so that every output line stays one line.
#include <string>

#include "VxSample.h"
#include "scenarios.h"

namespace vxc {
namespace {

using vx::unique_safearray;

std::wstring repeated(const wchar_t* piece, size_t times, const wchar_t* tail = L"") {
    std::wstring text;
    for (size_t i = 0; i < times; ++i) text += piece;
    return text + tail;
}

void dates(ITypes* t) {
    // Fractions of 1/128 day are exact in binary and whole seconds (675 each).
    static const struct {
        DATE start;
        LONG days;
    } kDates[] = {
        {45351 + 101 / 128.0, 0},  // 29 February 2024, 18:56:15
        {45350 + 1 / 128.0, 1},    // 28 February 2024, 00:11:15, to the 29th
        {45351 + 65 / 128.0, 1},   // 29 February 2024, 12:11:15, to 1 March
        {45352.0, 0},              // midnight
        {45352.5, -366},           // noon, back over the leap day
        {36585.25, 1},             // 29 February 2000, 06:00
        {0.0, 0},                  // no date at all
    };
    for (const auto& d : kDates) {
        DATE later = -1;
        HRESULT hr = t->AddDays(d.start, d.days, &later);
        print(call_line(format("Types.AddDays(%.7f,%ld)", d.start, d.days), hr,
                        result_or_empty(hr, format("%.7f", later))));
    }
}

void strings(ITypes* t) {
    static const struct {
        const char* title;
        std::wstring a, b;
        bool nullB;
    } kStrings[] = {
        {"60 digits,61 letters", repeated(L"0123456789", 6), repeated(L"abcdefghij", 6, L"k"), false},
        {"61 digits,null", repeated(L"0123456789", 6, L"0"), L"", true},
        {"one CR LF two,x LF y", L"one\r\ntwo", L"x\ny", false},
    };
    for (const auto& s : kStrings) {
        vx::unique_bstr a(SysAllocStringLen(s.a.data(), static_cast<UINT>(s.a.size())));
        BSTR b = s.nullB ? nullptr : SysAllocStringLen(s.b.data(), static_cast<UINT>(s.b.size()));
        vx::unique_bstr joined;
        HRESULT hr = t->Strings(a.get(), &b, joined.put());
        vx::unique_bstr b_out(b);
        print(call_line(format("Types.Strings(%s)", s.title), hr,
                        result_or_empty(hr, format("length %u,length %u", SysStringLen(b_out.get()),
                                                   SysStringLen(joined.get())))));
    }
    static const struct {
        const char* title;
        std::wstring text;
        bool null;
    } kWide[] = {
        {"58 letters", repeated(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ", 2, L"abcdef"), false},
        {"59 letters", repeated(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ", 2, L"abcdefg"), false},
        {"60 letters", repeated(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ", 2, L"abcdefgh"), false},
        {"a CR LF b", L"a\r\nb", false},
        {"null", L"", true},
    };
    for (const auto& w : kWide) {
        std::wstring text = w.text;
        LONG length = -1;
        HRESULT hr = t->WideLength(w.null ? nullptr : text.data(), &length);
        print(call_line(format("Types.WideLength(%s)", w.title), hr, result_or_empty(hr, format("%ld", length))));
    }
}

// A two-dimensional array: dimension 1 has `lower1` and two elements,
// dimension 2 `lower2` and `count2`; put(i1, i2) stores each element.
template <typename Put>
unique_safearray matrix(VARTYPE vt, LONG lower1, LONG lower2, ULONG count2, Put put) {
    SAFEARRAYBOUND bounds[2] = {{2, lower1}, {count2, lower2}};
    unique_safearray array(SafeArrayCreate(vt, 2, bounds));
    if (!array) return array;
    for (LONG i1 = lower1; i1 < lower1 + 2; ++i1)
        for (LONG i2 = lower2; i2 < lower2 + static_cast<LONG>(count2); ++i2) {
            LONG at[2] = {i1, i2};
            put(array.get(), at, i1, i2);
        }
    return array;
}

void arrays(ITypes* t) {
    {
        unique_safearray numbers = matrix(VT_I4, 0, 1, 3, [](SAFEARRAY* a, LONG* at, LONG i1, LONG i2) {
            LONG value = 100 + 10 * i1 + i2;
            SafeArrayPutElement(a, at, &value);
        });
        LONG total = -1;
        // Only vectors are summed: the call fails, its array is still shown.
        HRESULT hr = t->SumLongs(numbers.get(), &total);
        print(call_line("Types.SumLongs(2x3 from [0,1])", hr, result_or_empty(hr, format("%ld", total))));
    }
    {
        unique_safearray words = matrix(VT_BSTR, 0, -1, 2, [](SAFEARRAY* a, LONG* at, LONG i1, LONG i2) {
            const wchar_t text[] = {static_cast<wchar_t>(L'a' + i1 + 2 * (i2 + 1)), L'\0'};
            vx::unique_bstr word(SysAllocString(text));
            SafeArrayPutElement(a, at, word.get());
        });
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_I4;
        V_I4(&v) = 7;
        vx::unique_variant io;
        V_VT(&io) = VT_ARRAY | VT_BSTR;
        V_ARRAY(&io) = words.release();
        vx::unique_variant described;
        // An array cannot be doubled: the call fails and leaves its out-values undefined.
        HRESULT hr = t->Variants(v, &io, &described);
        print(call_line("Types.Variants(I4:7,2x2 BSTR from [0,-1])", hr,
                        result_or_empty(hr, variant_text(described))));
    }
}

void pointers(ITypes* t) {
    LONG doubled = -1;
    HRESULT hr = t->Indirect(nullptr, &doubled);
    print(call_line("Types.Indirect(null)", hr, result_or_empty(hr, format("%ld", doubled))));
    LONG* inner = nullptr;
    hr = t->Indirect(&inner, &doubled);
    print(call_line("Types.Indirect(&null)", hr, result_or_empty(hr, format("%ld", doubled))));
    hr = t->MovePoint(1, 2, nullptr);
    print(call_line("Types.MovePoint(1,2,null)", hr));
}

void bytes(ITypes* t) {
    static const signed char kBytes[] = {13, 10, 0, 1, 127, 65};
    for (signed char a : kBytes) {
        signed char negated = 0;
        unsigned char inverted = 0;
        HRESULT hr = t->Int8(a, static_cast<unsigned char>(a), &negated, &inverted);
        print(call_line(format("Types.Int8(%d,%d)", a, a), hr, result_or_empty(hr, format("%d,%u", negated, inverted))));
    }
}

void counts(ITypes* t) {
    // Two references are held (ICalc and ITypes): one more, then back.
    print(format("Types.AddRef() -> %lu", t->AddRef()));
    print(format("Types.Release() -> %lu", t->Release()));  // the count it gives back is the output
}

void without_result(IRaw* raw) {
    raw->Remember(7);
    print("Raw.Remember(7)");
    raw->Forget();
    print("Raw.Forget()");
}

// An interface whose method table does not begin with IUnknown's: the
// reference its query added is given back through ICalc.
void bare(ICalc* calc) {
    IBare* bare = nullptr;
    HRESULT hr = calc->QueryInterface(IID_IBare, reinterpret_cast<void**>(&bare));
    print(call_line("Calc.QueryInterface(IBare)", hr));
    if (FAILED(hr)) return;
    LONG doubled = 0;
    hr = bare->Poke(21, &doubled);
    print(call_line("Bare.Poke(21)", hr, result_or_empty(hr, format("%ld", doubled))));
    calc->Release();  // the client's own counting is what the trace shows
}

HRESULT dispatch_only(Run& run) {
    // Asked for by its own interface id, the object is traced as that
    // dispatch-only interface rather than as IDispatch.
    vx::com_ptr<IDispatch> disp;
    RETURN_IF_FAILED(create(run, kDispOnly, DIID_DDispOnly, disp));
    wchar_t name[] = L"Triple";
    LPOLESTR names[] = {name};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = disp->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    print(call_line("DispOnly.GetIDsOfNames(Triple)", hr, result_or_empty(hr, format("%ld", id))));
    VARIANT arg = long_arg(5);
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    vx::unique_variant result;
    hr = disp->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    print(call_line("DispOnly.Invoke(Triple,5)", hr, result_or_empty(hr, variant_text(result))));
    return S_OK;
}

}  // namespace

HRESULT scenario_values(Run& run, long) {
    vx::com_ptr<ICalc> calc;
    RETURN_IF_FAILED(create(run, kCalc, IID_ICalc, calc));
    vx::com_ptr<ITypes> types;
    RETURN_IF_FAILED(require(calc.get(), IID_ITypes, "ITypes", types.put_void()));
    dates(types.get());
    strings(types.get());
    arrays(types.get());
    pointers(types.get());
    bytes(types.get());
    counts(types.get());
    vx::com_ptr<IRaw> raw;
    RETURN_IF_FAILED(require(calc.get(), IID_IRaw, "IRaw", raw.put_void()));
    without_result(raw.get());
    bare(calc.get());
    return dispatch_only(run);
}

}  // namespace vxc
