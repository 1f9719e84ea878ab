// Calc's ITypes: one method per parameter type, each result computed from
// the inputs only, so a client can print it and a test can predict it.
#include <algorithm>
#include <string>
#include <vector>

#include "calc_object.h"

namespace vxsample {
namespace {

using vx::unique_safearray;

VARIANT_BOOL as_bool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

BSTR alloc_bstr(const std::wstring& text) {
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// A one-dimensional array of the given element type, or E_INVALIDARG.
HRESULT check_vector(SAFEARRAY* array, VARTYPE expected) {
    if (!array) return E_POINTER;
    if (SafeArrayGetDim(array) != 1) return E_INVALIDARG;
    VARTYPE vt = VT_EMPTY;
    RETURN_IF_FAILED(SafeArrayGetVartype(array, &vt));
    return vt == expected ? S_OK : E_INVALIDARG;
}

// Element count of a checked one-dimensional array.
HRESULT vector_length(SAFEARRAY* array, LONG* length) {
    LONG lower = 0;
    LONG upper = -1;
    RETURN_IF_FAILED(SafeArrayGetLBound(array, 1, &lower));
    RETURN_IF_FAILED(SafeArrayGetUBound(array, 1, &upper));
    *length = upper - lower + 1;
    return S_OK;
}

}  // namespace

HRESULT STDMETHODCALLTYPE CalcObject::Ping() { return S_OK; }

HRESULT STDMETHODCALLTYPE CalcObject::Int8(signed char a, unsigned char b, signed char* negated,
                                           unsigned char* inverted) {
    if (!negated || !inverted) return E_POINTER;
    *negated = static_cast<signed char>(-a);
    *inverted = static_cast<unsigned char>(~b);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::Int16(short a, unsigned short b, short* acc,
                                            unsigned short* halved) {
    if (!acc || !halved) return E_POINTER;
    *acc = static_cast<short>(*acc + a);
    *halved = static_cast<unsigned short>(b / 2);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::Int32(LONG a, ULONG b, int c, unsigned int d,
                                            ULONG* unsigned_sum, LONG* signed_sum) {
    if (!unsigned_sum || !signed_sum) return E_POINTER;
    *unsigned_sum = b + d;
    *signed_sum = a + c;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::Int64(hyper a, MIDL_uhyper b, hyper* product,
                                            MIDL_uhyper* successor) {
    if (!product || !successor) return E_POINTER;
    *product = a * 3;
    *successor = b + 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::Reals(float a, double b, float* half, double* product) {
    if (!half || !product) return E_POINTER;
    *half = a / 2;
    *product = a * b;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::Money(CURRENCY price, LONG quantity, CURRENCY* total) {
    if (!total) return E_POINTER;
    // Both are scaled by 10000, so the product of a price and a plain count
    // stays scaled.
    total->int64 += price.int64 * quantity;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::AddDays(DATE start, LONG days, DATE* later) {
    if (!later) return E_POINTER;
    *later = start + days;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::Strings(BSTR a, BSTR* b, BSTR* joined) {
    if (!b || !joined) return E_POINTER;
    *joined = nullptr;
    std::wstring in_a(a ? a : L"", SysStringLen(a));
    std::wstring in_b(*b ? *b : L"", SysStringLen(*b));
    vx::unique_bstr both(alloc_bstr(in_a + L"|" + in_b));
    std::reverse(in_b.begin(), in_b.end());
    vx::unique_bstr reversed(alloc_bstr(in_b));
    if (!both || !reversed) return E_OUTOFMEMORY;
    // [in, out]: the callee frees what came in and hands out the new value.
    SysFreeString(*b);  // the caller's string, replaced in its place
    *b = reversed.release();
    *joined = both.release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::WideLength(LPWSTR text, LONG* length) {
    if (!length) return E_POINTER;
    *length = text ? lstrlenW(text) : 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::Flags(VARIANT_BOOL a, VARIANT_BOOL b, VARIANT_BOOL* both,
                                            VARIANT_BOOL* either) {
    if (!both || !either) return E_POINTER;
    *both = as_bool(a && b);
    *either = as_bool(a || b);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::Variants(VARIANT v, VARIANT* io, VARIANT* described) {
    if (!io || !described) return E_POINTER;
    VariantInit(described);

    // "<type>:<value>" of the first argument, in the invariant locale.
    vx::unique_variant text;
    RETURN_IF_FAILED(VariantChangeTypeEx(&text, &v, LOCALE_INVARIANT, 0, VT_BSTR));
    const std::wstring summary =
        std::to_wstring(V_VT(&v)) + L":" + std::wstring(V_BSTR(&text), SysStringLen(V_BSTR(&text)));

    // The in/out argument doubles, keeping its type.
    switch (V_VT(io)) {
    case VT_I4:
        V_I4(io) *= 2;
        break;
    case VT_R8:
        V_R8(io) *= 2;
        break;
    case VT_BSTR: {
        std::wstring twice(V_BSTR(io), SysStringLen(V_BSTR(io)));
        twice += twice;
        BSTR doubled = alloc_bstr(twice);
        if (!doubled) return E_OUTOFMEMORY;
        SysFreeString(V_BSTR(io));  // [in, out]: the caller's string is the callee's to replace
        V_BSTR(io) = doubled;
        break;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }

    V_BSTR(described) = alloc_bstr(summary);
    if (!V_BSTR(described)) return E_OUTOFMEMORY;
    V_VT(described) = VT_BSTR;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::SumLongs(SAFEARRAY* numbers, LONG* total) {
    if (!total) return E_POINTER;
    *total = 0;
    RETURN_IF_FAILED(check_vector(numbers, VT_I4));
    LONG count = 0;
    RETURN_IF_FAILED(vector_length(numbers, &count));
    LONG* data = nullptr;
    RETURN_IF_FAILED(SafeArrayAccessData(numbers, reinterpret_cast<void**>(&data)));
    vx::scope_exit unaccess([&] { SafeArrayUnaccessData(numbers); });
    LONG sum = 0;
    for (LONG i = 0; i < count; ++i) sum += data[i];
    *total = sum;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::SplitWords(BSTR text, SAFEARRAY** words) {
    if (!words) return E_POINTER;
    *words = nullptr;
    const std::wstring all(text ? text : L"", SysStringLen(text));
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find(L' ', start);
        if (end == std::wstring::npos) end = all.size();
        if (end > start) parts.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    unique_safearray array(SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(parts.size())));
    if (!array) return E_OUTOFMEMORY;
    for (LONG i = 0; i < static_cast<LONG>(parts.size()); ++i) {
        vx::unique_bstr word(alloc_bstr(parts[i]));
        if (!word) return E_OUTOFMEMORY;
        // Copies the string into the array.
        RETURN_IF_FAILED(SafeArrayPutElement(array.get(), &i, word.get()));
    }
    *words = array.release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::ReverseVariants(SAFEARRAY** items) {
    if (!items) return E_POINTER;
    RETURN_IF_FAILED(check_vector(*items, VT_VARIANT));
    LONG count = 0;
    RETURN_IF_FAILED(vector_length(*items, &count));
    VARIANT* data = nullptr;
    RETURN_IF_FAILED(SafeArrayAccessData(*items, reinterpret_cast<void**>(&data)));
    vx::scope_exit unaccess([&] { SafeArrayUnaccessData(*items); });
    // Moving the raw structures moves their ownership with them.
    std::reverse(data, data + count);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::ScaleFixed(LONG factor, LONG fixed4[4]) {
    if (!fixed4) return E_POINTER;
    for (int i = 0; i < 4; ++i) fixed4[i] *= factor;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::SumMatrix(LONG* weighted, LONG matrix[2][3]) {
    if (!weighted || !matrix) return E_POINTER;
    // Weights 1..6 in row-major order, so a transposed layout gives another sum.
    LONG sum = 0;
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 3; ++column) sum += matrix[row][column] * (row * 3 + column + 1);
    *weighted = sum;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::PointSum(VxPoint pt, double* total) {
    if (!total) return E_POINTER;
    *total = pt.x + pt.y + pt.weight;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::MovePoint(LONG dx, LONG dy, VxPoint* pt) {
    if (!pt) return E_POINTER;
    pt->x += dx;
    pt->y += dy;
    pt->weight *= 2;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::NumberValue(LONG which, VxNumber* num, double* result) {
    if (!num || !result) return E_POINTER;
    *result = 0.0;
    switch (which) {
    case 0:
        *result = num->asLong;
        return S_OK;
    case 1:
        *result = num->asDouble;
        return S_OK;
    default:
        return E_INVALIDARG;
    }
}

HRESULT STDMETHODCALLTYPE CalcObject::NextColor(VxColor current, VxColor* next) {
    if (!next) return E_POINTER;
    switch (current) {
    case VxRed:
        *next = VxGreen;
        return S_OK;
    case VxGreen:
        *next = VxBlue;
        return S_OK;
    case VxBlue:
        *next = VxRed;
        return S_OK;
    }
    *next = current;
    return E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE CalcObject::IsCalcIid(REFGUID iid, VARIANT_BOOL* same) {
    if (!same) return E_POINTER;
    *same = as_bool(IsEqualIID(iid, IID_ICalc));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::GetCalcIid(GUID* iid) {
    if (!iid) return E_POINTER;
    *iid = IID_ICalc;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::UseCalc(ICalc* other, LONG a, LONG* total) {
    if (!total) return E_POINTER;
    *total = 0;
    if (!other) return E_POINTER;
    return other->Add(a, a, total);
}

HRESULT STDMETHODCALLTYPE CalcObject::IsCalc(IUnknown* object, VARIANT_BOOL* same) {
    if (!same) return E_POINTER;
    *same = VARIANT_FALSE;
    if (!object) return E_POINTER;
    vx::com_ptr<ICalc> calc;
    *same = as_bool(SUCCEEDED(object->QueryInterface(IID_ICalc, calc.put_void())));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::DispatchName(IDispatch* object, BSTR* result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    if (!object) return E_POINTER;
    wchar_t name_text[] = L"Name";
    LPOLESTR names[] = {name_text};
    DISPID id = DISPID_UNKNOWN;
    RETURN_IF_FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    vx::unique_variant value;
    RETURN_IF_FAILED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                    &value, nullptr, nullptr));
    RETURN_IF_FAILED(VariantChangeType(&value, &value, 0, VT_BSTR));
    *result = V_BSTR(&value);
    V_VT(&value) = VT_EMPTY;  // ownership moved to *result
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::Indirect(LONG** pointer, LONG* doubled) {
    if (!doubled) return E_POINTER;
    *doubled = 0;
    if (!pointer || !*pointer) return E_POINTER;
    *doubled = **pointer * 2;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::DoubleCount(VxCount n, VxCount* result) {
    if (!result) return E_POINTER;
    *result = n * 2;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::Facility(SCODE code, LONG* result) {
    if (!result) return E_POINTER;
    *result = HRESULT_FACILITY(code);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::LastError(LONG leave, LONG* at_entry) {
    const DWORD seen = GetLastError();
    if (!at_entry) return E_POINTER;
    *at_entry = static_cast<LONG>(seen);
    SetLastError(static_cast<DWORD>(leave));
    return S_OK;
}

}  // namespace vxsample
