// Scenarios beyond Calc's early-bound view: every ITypes parameter type, the
// licensed class factory, late binding, a failing creation and the server
// without a type library.
#include <ocidl.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "VxSample.h"
#include "plain.h"
#include "scenarios.h"

namespace vxc {
namespace {

using vx::unique_safearray;

std::string money(const CURRENCY& value) {
    return format("%lld.%04lld", value.int64 / 10000, (value.int64 < 0 ? -value.int64 : value.int64) % 10000);
}

// "[a,b,...]" of a one-dimensional array whose elements Item reads and text() shows.
template <typename Item, typename Text>
std::string array_text(SAFEARRAY* array, Text text) {
    if (!array) return "null";
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    std::string out = "[";
    for (LONG i = lower; i <= upper; ++i) {
        Item item;
        SafeArrayGetElement(array, &i, item.put());
        out += (i > lower ? "," : "") + text(item);
    }
    return out + "]";
}

std::string bstr_array_text(SAFEARRAY* array) {
    return array_text<vx::unique_bstr>(array, [](const vx::unique_bstr& item) { return quoted(item.get()); });
}

std::string variant_array_text(SAFEARRAY* array) {
    return array_text<vx::unique_variant>(array, [](const vx::unique_variant& item) { return variant_text(item); });
}

void types_numbers(ITypes* t) {
    print(call_line("Types.Ping()", t->Ping()));
    {
        signed char negated = 0;
        unsigned char inverted = 0;
        HRESULT hr = t->Int8(-5, 0x0f, &negated, &inverted);
        print(call_line("Types.Int8(-5,15)", hr, result_or_empty(hr, format("%d,%u", negated, inverted))));
    }
    {
        short acc = 1000;
        unsigned short halved = 0;
        HRESULT hr = t->Int16(-300, 65535, &acc, &halved);
        print(call_line("Types.Int16(-300,65535,1000)", hr, result_or_empty(hr, format("%d,%u", acc, halved))));
    }
    {
        ULONG usum = 0;
        LONG ssum = 0;
        HRESULT hr = t->Int32(-2147483647L, 4000000000UL, 12, 95000000U, &usum, &ssum);
        print(call_line("Types.Int32(-2147483647,4000000000,12,95000000)", hr,
                        result_or_empty(hr, format("%lu,%ld", usum, ssum))));
    }
    {
        hyper product = 0;
        MIDL_uhyper successor = 0;
        HRESULT hr = t->Int64(-3000000000LL, 18446744073709551614ULL, &product, &successor);
        print(call_line("Types.Int64(-3000000000,18446744073709551614)", hr,
                        result_or_empty(hr, format("%lld,%llu", static_cast<long long>(product),
                                                   static_cast<unsigned long long>(successor)))));
    }
    {
        float half = 0;
        double product = 0;
        HRESULT hr = t->Reals(2.5f, -4.25, &half, &product);
        print(call_line("Types.Reals(2.5,-4.25)", hr, result_or_empty(hr, real(half) + "," + real(product))));
    }
    {
        CURRENCY price;
        price.int64 = 123456;  // 12.3456
        CURRENCY total;
        total.int64 = 10000;  // 1.0000
        HRESULT hr = t->Money(price, 3, &total);
        print(call_line("Types.Money(12.3456,3,1)", hr, result_or_empty(hr, money(total))));
    }
    {
        DATE later = 0;
        HRESULT hr = t->AddDays(45000.5, 30, &later);  // 2023-03-15 12:00 + 30 days
        print(call_line("Types.AddDays(45000.5,30)", hr, result_or_empty(hr, real(later))));
    }
    {
        VARIANT_BOOL both = 0, either = 0;
        HRESULT hr = t->Flags(VARIANT_TRUE, VARIANT_FALSE, &both, &either);
        print(call_line("Types.Flags(true,false)", hr, result_or_empty(hr, boolean(both) + "," + boolean(either))));
    }
    {
        VxCount doubled = 0;
        HRESULT hr = t->DoubleCount(21, &doubled);
        print(call_line("Types.DoubleCount(21)", hr, result_or_empty(hr, format("%ld", doubled))));
    }
    {
        LONG facility = 0;
        HRESULT hr = t->Facility(DISP_E_DIVBYZERO, &facility);
        print(call_line("Types.Facility(0x80020012)", hr, result_or_empty(hr, format("%ld", facility))));
    }
}

void types_strings_and_variants(ITypes* t) {
    {
        vx::unique_bstr a(SysAllocString(L"left"));
        // [in, out]: the callee frees this string and hands back another.
        BSTR b = SysAllocString(L"right");
        vx::unique_bstr joined;
        HRESULT hr = t->Strings(a.get(), &b, joined.put());
        vx::unique_bstr b_out(b);
        print(call_line("Types.Strings(\"left\",\"right\")", hr,
                        result_or_empty(hr, quoted(b_out.get()) + "," + quoted(joined.get()))));
    }
    {
        wchar_t text[] = L"wide text";
        LONG length = 0;
        HRESULT hr = t->WideLength(text, &length);
        print(call_line("Types.WideLength(\"wide text\")", hr, result_or_empty(hr, format("%ld", length))));
    }
    {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_R8;
        V_R8(&v) = 1.5;
        vx::unique_variant io;
        V_VT(&io) = VT_BSTR;
        V_BSTR(&io) = SysAllocString(L"ab");
        vx::unique_variant described;
        HRESULT hr = t->Variants(v, &io, &described);
        print(call_line("Types.Variants(R8:1.5,BSTR:\"ab\")", hr,
                        result_or_empty(hr, variant_text(io) + "," + variant_text(described))));
    }
    {
        unique_safearray numbers(SafeArrayCreateVector(VT_I4, 0, 4));
        if (numbers) {
            for (LONG i = 0; i < 4; ++i) {
                LONG value = (i + 1) * 10;
                SafeArrayPutElement(numbers.get(), &i, &value);
            }
        }
        LONG total = 0;
        HRESULT hr = t->SumLongs(numbers.get(), &total);
        print(call_line("Types.SumLongs([10,20,30,40])", hr, result_or_empty(hr, format("%ld", total))));
    }
    {
        vx::unique_bstr text(SysAllocString(L"one two  three"));
        unique_safearray words;
        HRESULT hr = t->SplitWords(text.get(), words.put());
        print(call_line("Types.SplitWords(\"one two  three\")", hr, result_or_empty(hr, bstr_array_text(words.get()))));
    }
    {
        unique_safearray items(SafeArrayCreateVector(VT_VARIANT, 0, 3));
        if (items) {
            VARIANT item;
            VariantInit(&item);
            LONG i = 0;
            V_VT(&item) = VT_I4;
            V_I4(&item) = 1;
            SafeArrayPutElement(items.get(), &i, &item);
            i = 1;
            V_VT(&item) = VT_BOOL;
            V_BOOL(&item) = VARIANT_TRUE;
            SafeArrayPutElement(items.get(), &i, &item);
            i = 2;
            vx::unique_variant word;
            V_VT(&word) = VT_BSTR;
            V_BSTR(&word) = SysAllocString(L"three");
            SafeArrayPutElement(items.get(), &i, &word);
        }
        SAFEARRAY* raw = items.release();
        HRESULT hr = t->ReverseVariants(&raw);
        items.reset(raw);
        print(call_line("Types.ReverseVariants([I4:1,BOOL:true,BSTR:\"three\"])", hr,
                      result_or_empty(hr, variant_array_text(items.get()))));
    }
}

void types_arrays_and_records(ITypes* t) {
    {
        LONG fixed[4] = {1, -2, 3, -4};
        HRESULT hr = t->ScaleFixed(3, fixed);
        print(call_line("Types.ScaleFixed(3,[1,-2,3,-4])", hr,
                        result_or_empty(hr, format("[%ld,%ld,%ld,%ld]", fixed[0], fixed[1], fixed[2], fixed[3]))));
    }
    {
        LONG matrix[2][3] = {{1, 2, 3}, {4, 5, 6}};
        LONG weighted = 0;
        HRESULT hr = t->SumMatrix(&weighted, matrix);
        print(call_line("Types.SumMatrix([[1,2,3],[4,5,6]])", hr, result_or_empty(hr, format("%ld", weighted))));
    }
    {
        VxPoint pt = {3, 4, 0.5};
        double total = 0;
        HRESULT hr = t->PointSum(pt, &total);
        print(call_line("Types.PointSum({3,4,0.5})", hr, result_or_empty(hr, real(total))));
        hr = t->MovePoint(10, -10, &pt);
        print(call_line("Types.MovePoint(10,-10,{3,4,0.5})", hr,
                        result_or_empty(hr, format("{%ld,%ld,", pt.x, pt.y) + real(pt.weight) + "}")));
    }
    {
        VxNumber number;
        number.asDouble = 0.25;
        double result = 0;
        HRESULT hr = t->NumberValue(1, &number, &result);
        print(call_line("Types.NumberValue(1,0.25)", hr, result_or_empty(hr, real(result))));
        number.asLong = 77;
        hr = t->NumberValue(0, &number, &result);
        print(call_line("Types.NumberValue(0,77)", hr, result_or_empty(hr, real(result))));
        hr = t->NumberValue(2, &number, &result);
        print(call_line("Types.NumberValue(2,77)", hr));
        // A pointer into nothing: the component never reads it for case 2.
        hr = t->NumberValue(2, reinterpret_cast<VxNumber*>(static_cast<uintptr_t>(0x10)), &result);
        print(call_line("Types.NumberValue(2,bad pointer)", hr));
    }
    {
        VxColor next = VxRed;
        HRESULT hr = t->NextColor(VxBlue, &next);
        print(call_line("Types.NextColor(VxBlue)", hr, result_or_empty(hr, format("%d", static_cast<int>(next)))));
    }
    {
        VARIANT_BOOL same = VARIANT_FALSE;
        HRESULT hr = t->IsCalcIid(IID_ICalc, &same);
        print(call_line("Types.IsCalcIid(IID_ICalc)", hr, result_or_empty(hr, boolean(same))));
        GUID iid = GUID_NULL;
        hr = t->GetCalcIid(&iid);
        print(call_line("Types.GetCalcIid()", hr, result_or_empty(hr, guid_string(iid))));
    }
    {
        LONG value = 21;
        LONG* pointer = &value;
        LONG doubled = 0;
        HRESULT hr = t->Indirect(&pointer, &doubled);
        print(call_line("Types.Indirect(&&21)", hr, result_or_empty(hr, format("%ld", doubled))));
    }
}

void raw_calls(IRaw* raw) {
    raw->Remember(40);
    print("Raw.Remember(40)");
    raw->Remember(2);
    print("Raw.Remember(2)");
    print(format("Raw.Recall() -> %ld", raw->Recall()));
    raw->Forget();
    print("Raw.Forget()");
    print(format("Raw.Recall() -> %ld", raw->Recall()));
}

void types_interfaces(ITypes* t, ICalc* calc) {
    LONG total = 0;
    HRESULT hr = t->UseCalc(calc, 8, &total);
    print(call_line("Types.UseCalc(Calc,8)", hr, result_or_empty(hr, format("%ld", total))));
    VARIANT_BOOL same = VARIANT_FALSE;
    hr = t->IsCalc(calc, &same);
    print(call_line("Types.IsCalc(Calc)", hr, result_or_empty(hr, boolean(same))));
    vx::unique_bstr name;
    hr = t->DispatchName(calc, name.put());
    print(call_line("Types.DispatchName(Calc)", hr, result_or_empty(hr, quoted(name.get()))));
}

// IDispatch::Invoke of a method by name with the given arguments (in the
// natural order; IDispatch wants them reversed).
HRESULT invoke_named(IDispatch* object, const wchar_t* name, WORD flags, std::initializer_list<VARIANT> args,
                     VARIANT* result) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    RETURN_IF_FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    std::vector<VARIANT> reversed(args.begin(), args.end());
    std::reverse(reversed.begin(), reversed.end());
    DISPID put_id = DISPID_PROPERTYPUT;
    DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (flags & DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &put_id;
        params.cNamedArgs = 1;
    }
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
}

}  // namespace

VARIANT long_arg(LONG value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}

HRESULT scenario_types(Run& run, long) {
    vx::com_ptr<ICalc> calc;
    RETURN_IF_FAILED(create(run, kCalc, IID_ICalc, calc));
    vx::com_ptr<ITypes> types;
    RETURN_IF_FAILED(require(calc.get(), IID_ITypes, "ITypes", types.put_void()));
    types_numbers(types.get());
    types_strings_and_variants(types.get());
    types_arrays_and_records(types.get());
    types_interfaces(types.get(), calc.get());
    {
        LONG at_entry = 0;
        SetLastError(1234);
        HRESULT hr = types->LastError(5678, &at_entry);
        const DWORD after = GetLastError();
        print(call_line("Types.LastError(5678) with 1234 set", hr,
                        result_or_empty(hr, format("%ld, then %lu", at_entry, after))));
    }
    vx::com_ptr<IRaw> raw;
    RETURN_IF_FAILED(require(calc.get(), IID_IRaw, "IRaw", raw.put_void()));
    raw_calls(raw.get());
    return S_OK;
}

HRESULT scenario_licensed(Run& run, long) {
    run.uses(kLicensed);
    vx::com_ptr<IClassFactory2> factory;
    HRESULT hr = CoGetClassObject(CLSID_Licensed, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory2,
                                  factory.put_void());
    print(call_line("CoGetClassObject(VxSample.Licensed,IClassFactory2)", hr));
    if (FAILED(hr)) {
        complain(format("cannot get the class object of VxSample.Licensed: hr=%s", hr_text(hr).c_str()));
        return hr;
    }
    LICINFO info = {};
    hr = factory->GetLicInfo(&info);
    print(call_line("Licensed.GetLicInfo()", hr,
                    result_or_empty(hr, format("runtimeKey=%d verified=%d", info.fRuntimeKeyAvail, info.fLicVerified))));
    vx::unique_bstr key;
    hr = factory->RequestLicKey(0, key.put());
    print(call_line("Licensed.RequestLicKey()", hr, result_or_empty(hr, quoted(key.get()))));

    vx::com_ptr<ICalc> calc;
    hr = factory->CreateInstanceLic(nullptr, nullptr, IID_ICalc, key.get(), calc.put_void());
    print(call_line("Licensed.CreateInstanceLic(key)", hr));
    if (FAILED(hr)) return hr;
    vx::unique_bstr name;
    hr = calc->get_Name(name.put());
    print(call_line("Licensed.Name", hr, result_or_empty(hr, quoted(name.get()))));

    vx::unique_bstr wrong(SysAllocString(L"wrong key"));
    vx::com_ptr<ICalc> refused;
    hr = factory->CreateInstanceLic(nullptr, nullptr, IID_ICalc, wrong.get(), refused.put_void());
    print(call_line("Licensed.CreateInstanceLic(\"wrong key\")", hr));

    vx::com_ptr<ICalc> plain;
    hr = factory->CreateInstance(nullptr, IID_ICalc, plain.put_void());
    print(call_line("Licensed.CreateInstance()", hr));
    if (SUCCEEDED(hr)) {
        LONG total = 0;
        hr = plain->Add(20, 22, &total);
        print(call_line("Licensed.Add(20,22)", hr, result_or_empty(hr, format("%ld", total))));
    }
    return S_OK;
}

HRESULT scenario_disp(Run& run, long) {
    vx::com_ptr<IDispatch> disp;
    RETURN_IF_FAILED(create(run, kDispOnly, IID_IDispatch, disp));
    {
        vx::unique_variant result;
        HRESULT hr = invoke_named(disp.get(), L"Triple", DISPATCH_METHOD, {long_arg(14)}, &result);
        print(call_line("DispOnly.Triple(14)", hr, result_or_empty(hr, variant_text(result))));
    }
    {
        vx::unique_variant who;
        V_VT(&who) = VT_BSTR;
        V_BSTR(&who) = SysAllocString(L"you");
        vx::unique_variant result;
        HRESULT hr = invoke_named(disp.get(), L"Greet", DISPATCH_METHOD, {who}, &result);
        print(call_line("DispOnly.Greet(\"you\")", hr, result_or_empty(hr, variant_text(result))));
    }
    {
        vx::unique_variant result;
        HRESULT hr = invoke_named(disp.get(), L"Value", DISPATCH_PROPERTYGET, {}, &result);
        print(call_line("DispOnly.Value", hr, result_or_empty(hr, variant_text(result))));
        hr = invoke_named(disp.get(), L"Value", DISPATCH_PROPERTYPUT, {long_arg(99)}, nullptr);
        print(call_line("DispOnly.Value=99", hr));
        hr = invoke_named(disp.get(), L"Value", DISPATCH_PROPERTYGET, {}, result.put());
        print(call_line("DispOnly.Value", hr, result_or_empty(hr, variant_text(result))));
        hr = invoke_named(disp.get(), L"Missing", DISPATCH_METHOD, {}, result.put());
        print(call_line("DispOnly.Missing()", hr));
    }

    // The dual Calc, late-bound as a script would use it.
    vx::com_ptr<IDispatch> calc;
    RETURN_IF_FAILED(create(run, kCalc, IID_IDispatch, calc));
    vx::unique_variant sum;
    HRESULT hr = invoke_named(calc.get(), L"Add", DISPATCH_METHOD, {long_arg(5), long_arg(6)}, &sum);
    print(call_line("Calc.Invoke(Add,5,6)", hr, result_or_empty(hr, variant_text(sum))));
    vx::unique_variant quotient;
    VARIANT one = long_arg(1), zero = long_arg(0);
    hr = invoke_named(calc.get(), L"Divide", DISPATCH_METHOD, {one, zero}, &quotient);
    print(call_line("Calc.Invoke(Divide,1,0)", hr));
    return S_OK;
}

HRESULT scenario_broken(Run& run, long) {
    run.uses(kBroken);
    vx::com_ptr<ICalc> calc;
    // Expected to fail: printed, not a failure of the run.
    HRESULT hr = CoCreateInstance(CLSID_Broken, nullptr, CLSCTX_INPROC_SERVER, IID_ICalc, calc.put_void());
    print(call_line("CoCreateInstance(VxSample.Broken)", hr));
    if (SUCCEEDED(hr)) {
        complain("VxSample.Broken was created");
        return E_UNEXPECTED;
    }
    return S_OK;
}

HRESULT scenario_plain(Run& run, long) {
    vx::com_ptr<IPlain> plain;
    RETURN_IF_FAILED(create(run, kPlain, IID_IPlain, plain));
    LONG product = 0;
    HRESULT hr = plain->Multiply(6, -7, &product);
    print(call_line("Plain.Multiply(6,-7)", hr, result_or_empty(hr, format("%ld", product))));
    double mean = 0;
    hr = plain->Average(1, 2, &mean);
    print(call_line("Plain.Average(1,2)", hr, result_or_empty(hr, real(mean))));
    vx::unique_bstr who(SysAllocString(L"there"));
    vx::unique_bstr greeting;
    hr = plain->Greet(who.get(), greeting.put());
    print(call_line("Plain.Greet(\"there\")", hr, result_or_empty(hr, quoted(greeting.get()))));
    for (int i = 0; i < 2; ++i) {
        LONG calls = 0;
        hr = plain->Counter(&calls);
        print(call_line("Plain.Counter()", hr, result_or_empty(hr, format("%ld", calls))));
    }
    return S_OK;
}

}  // namespace vxc

namespace vxc {
namespace {

constexpr int kCalcSlots = 14;  // IUnknown 3, IDispatch 4, ICalc 7

HRESULT create_direct(HMODULE module, ICalc** calc) {
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!get) return E_NOINTERFACE;
    vx::com_ptr<IClassFactory> factory;
    RETURN_IF_FAILED(get(CLSID_Calc, IID_IClassFactory, factory.put_void()));
    return factory->CreateInstance(nullptr, IID_ICalc, reinterpret_cast<void**>(calc));
}

bool same_table(ICalc* calc, void* const* expected) {
    void* const* table = *reinterpret_cast<void* const* const*>(calc);
    for (int i = 0; i < kCalcSlots; ++i)
        if (table[i] != expected[i]) return false;
    return true;
}

}  // namespace

// The component loaded by the client itself as well: after COM lets it go,
// it stays loaded, and its method table must hold its own methods again.
HRESULT scenario_keep(Run& run, long) {
    run.uses(kCalc);
    vx::unique_module module(LoadLibraryW(L"VxSample.dll"));
    if (!module) {
        complain("cannot load VxSample.dll beside vxclient");
        return E_FAIL;
    }
    void* original[kCalcSlots];
    {
        vx::com_ptr<ICalc> direct;
        RETURN_IF_FAILED(create_direct(module.get(), direct.put()));
        std::memcpy(original, *reinterpret_cast<void* const* const*>(direct.get()), sizeof original);
    }
    {
        vx::com_ptr<ICalc> calc;
        RETURN_IF_FAILED(create(run, kCalc, IID_ICalc, calc));
        print(format("table patched while in use: %s", same_table(calc.get(), original) ? "no" : "yes"));
        LONG total = 0;
        HRESULT hr = calc->Add(20, 1, &total);
        print(call_line("Calc.Add(20,1)", hr, result_or_empty(hr, format("%ld", total))));
    }
    CoFreeUnusedLibrariesEx(0, 0);
    vx::com_ptr<ICalc> again;
    RETURN_IF_FAILED(create_direct(module.get(), again.put()));
    print(format("table as before after COM let go: %s", same_table(again.get(), original) ? "yes" : "no"));
    LONG total = 0;
    HRESULT hr = again->Add(1, 2, &total);
    print(call_line("direct Calc.Add(1,2)", hr, result_or_empty(hr, format("%ld", total))));
    return S_OK;
}

}  // namespace vxc
