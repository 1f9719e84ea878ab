// Calc: IUnknown, the type-library IDispatch, ICalc and IRaw.
#include "calc_object.h"

#include <new>
#include <string>

#include "classes.h"

namespace vxsample {
namespace {

// Deep enough for any test, shallow enough for the smallest thread stack.
constexpr LONG kMaxDepth = 1000;

}  // namespace

CalcObject::~CalcObject() {
    if (ITypeInfo* info = info_.load()) info->Release();  // set once by whichever call loads it first: no owner fits
}

HRESULT STDMETHODCALLTYPE CalcObject::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, IID_ICalc)) {
        *ppv = static_cast<ICalc*>(this);
    } else if (IsEqualIID(riid, IID_ITypes)) {
        *ppv = static_cast<ITypes*>(this);
    } else if (IsEqualIID(riid, IID_IRaw)) {
        *ppv = static_cast<IRaw*>(this);
    } else if (IsEqualIID(riid, IID_IBare)) {
        // No Release through it: the caller releases through another interface.
        *ppv = static_cast<IBare*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE CalcObject::AddRef() { return refs_.add(); }

ULONG STDMETHODCALLTYPE CalcObject::Release() {
    ULONG left = refs_.release();
    if (left == 0) delete this;
    return left;
}

HRESULT CalcObject::dispatch_info(ITypeInfo** info) {
    *info = info_.load();
    if (*info) return S_OK;
    vx::com_ptr<ITypeInfo> loaded;
    RETURN_IF_FAILED(vxs::load_type_info(IID_ICalc, loaded.put()));
    // Two threads may load at once: the loser keeps the winner's.
    ITypeInfo* expected = nullptr;
    if (info_.compare_exchange_strong(expected, loaded.get())) {
        *info = loaded.detach();
    } else {
        *info = expected;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ITypeInfo* own = nullptr;
    RETURN_IF_FAILED(dispatch_info(&own));
    own->AddRef();
    *info = own;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                                                    LCID, DISPID* ids) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    RETURN_IF_FAILED(dispatch_info(&info));
    return DispGetIDsOfNames(info, names, count, ids);
}

HRESULT STDMETHODCALLTYPE CalcObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags,
                                             DISPPARAMS* params, VARIANT* result,
                                             EXCEPINFO* exception, UINT* arg_error) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    RETURN_IF_FAILED(dispatch_info(&info));
    // Calls go through our own method table, so a patched ICalc sees them.
    return DispInvoke(static_cast<ICalc*>(this), info, id, flags, params, result, exception,
                      arg_error);
}

HRESULT STDMETHODCALLTYPE CalcObject::Add(LONG a, LONG b, LONG* total) {
    if (!total) return E_POINTER;
    *total = static_cast<LONG>(static_cast<ULONG>(a) + static_cast<ULONG>(b));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::Concat(BSTR a, BSTR b, BSTR* joined) {
    if (!joined) return E_POINTER;
    const UINT a_len = SysStringLen(a);
    const UINT b_len = SysStringLen(b);
    *joined = SysAllocStringLen(nullptr, a_len + b_len);
    if (!*joined) return E_OUTOFMEMORY;
    if (a_len) CopyMemory(*joined, a, a_len * sizeof(OLECHAR));
    if (b_len) CopyMemory(*joined + a_len, b, b_len * sizeof(OLECHAR));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::Divide(double a, double b, double* quotient) {
    if (!quotient) return E_POINTER;
    *quotient = 0.0;
    if (b == 0.0) return DISP_E_DIVBYZERO;
    *quotient = a / b;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::get_Name(BSTR* result) {
    if (!result) return E_POINTER;
    std::lock_guard<std::mutex> hold(name_lock_);
    *result = SysAllocStringLen(name_.get(), SysStringLen(name_.get()));
    return *result ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CalcObject::put_Name(BSTR new_name) {
    vx::unique_bstr copy(SysAllocStringLen(new_name, SysStringLen(new_name)));
    if (!copy) return E_OUTOFMEMORY;
    std::lock_guard<std::mutex> hold(name_lock_);
    name_ = std::move(copy);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::Recurse(LONG depth, LONG* total) {
    if (!total) return E_POINTER;
    *total = 0;
    if (depth > kMaxDepth) return E_INVALIDARG;
    if (depth <= 0) return S_OK;
    // Through a queried interface pointer, not a direct member call, so that
    // a patched method table sees every nested call.
    vx::com_ptr<ICalc> self;
    RETURN_IF_FAILED(QueryInterface(IID_ICalc, self.put_void()));
    LONG inner = 0;
    RETURN_IF_FAILED(self->Recurse(depth - 1, &inner));
    *total = depth + inner;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CalcObject::Raise(LONG how, LONG depth) {
    constexpr DWORD kRaised = 0xE0565801;
    if (how < 1 || how > 3 || depth > kMaxDepth) return E_INVALIDARG;
    if (depth > 0) {
        // Nested through the interface, so that the exception leaves several
        // traced calls at once.
        // (The compiler would otherwise see through the query and call Raise
        // directly, past the method table.)
        vx::com_ptr<ICalc> self;
        RETURN_IF_FAILED(QueryInterface(IID_ICalc, self.put_void()));
        ICalc* volatile through = self.get();
        return through->Raise(how, depth - 1);
    }
    switch (how) {
    case 1:
        RaiseException(kRaised, EXCEPTION_NONCONTINUABLE, 0, nullptr);
        return E_UNEXPECTED;  // not reached
    case 2:
        throw static_cast<long>(kRaised);
    default:
        try {
            throw static_cast<long>(kRaised);
        } catch (long) {
            return S_OK;
        }
    }
}

HRESULT STDMETHODCALLTYPE CalcObject::CreateChild(ICalc** child) {
    if (!child) return E_POINTER;
    *child = nullptr;
    std::wstring name;
    {
        std::lock_guard<std::mutex> hold(name_lock_);
        name.assign(name_.get(), SysStringLen(name_.get()));
    }
    name += L".child";
    return Calc_CreateNamed(name.c_str(), IID_ICalc, reinterpret_cast<void**>(child));
}

void STDMETHODCALLTYPE CalcObject::Remember(LONG number) { remembered_ += number; }

LONG STDMETHODCALLTYPE CalcObject::Recall() { return remembered_; }

void STDMETHODCALLTYPE CalcObject::Forget() { remembered_ = 0; }

HRESULT STDMETHODCALLTYPE CalcObject::Poke(LONG n, LONG* doubled) {
    if (!doubled) return E_POINTER;
    *doubled = 2 * n;
    return S_OK;
}

HRESULT Calc_CreateNamed(const wchar_t* name, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    vx::unique_bstr copy(SysAllocString(name));
    if (!copy) return E_OUTOFMEMORY;
    auto* object = new (std::nothrow) CalcObject(copy.get());
    if (!object) return E_OUTOFMEMORY;
    copy.release();  // the object's now
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();  // the object's own count: the caller holds the reference QueryInterface gave
    return hr;
}

HRESULT Calc_CreateInstance(REFIID riid, void** ppv) { return Calc_CreateNamed(L"Calc", riid, ppv); }

}  // namespace vxsample
