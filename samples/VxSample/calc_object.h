// The Calc object: ICalc (dual) and ITypes on one identity. Also serves the
// Licensed class, under another name. Internal to VxSample.
#pragma once

#include <atomic>
#include <mutex>

#include "VxSample.h"
#include "raii.h"
#include "server.h"

namespace vxsample {

class CalcObject final : public ICalc, public ITypes, public IRaw, public IBare {
public:
    explicit CalcObject(BSTR name) : name_(name) {}
    ~CalcObject();
    CalcObject(const CalcObject&) = delete;
    CalcObject& operator=(const CalcObject&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch, through the type library
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* arg_error) override;

    // ICalc
    HRESULT STDMETHODCALLTYPE Add(LONG a, LONG b, LONG* total) override;
    HRESULT STDMETHODCALLTYPE Concat(BSTR a, BSTR b, BSTR* joined) override;
    HRESULT STDMETHODCALLTYPE Divide(double a, double b, double* quotient) override;
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_Name(BSTR new_name) override;
    HRESULT STDMETHODCALLTYPE Recurse(LONG depth, LONG* total) override;
    HRESULT STDMETHODCALLTYPE CreateChild(ICalc** child) override;
    HRESULT STDMETHODCALLTYPE Raise(LONG how, LONG depth) override;

    // ITypes (types.cpp)
    HRESULT STDMETHODCALLTYPE Ping() override;
    HRESULT STDMETHODCALLTYPE Int8(signed char a, unsigned char b, signed char* negated,
                                   unsigned char* inverted) override;
    HRESULT STDMETHODCALLTYPE Int16(short a, unsigned short b, short* acc,
                                    unsigned short* halved) override;
    HRESULT STDMETHODCALLTYPE Int32(LONG a, ULONG b, int c, unsigned int d, ULONG* unsigned_sum,
                                    LONG* signed_sum) override;
    HRESULT STDMETHODCALLTYPE Int64(hyper a, MIDL_uhyper b, hyper* product,
                                    MIDL_uhyper* successor) override;
    HRESULT STDMETHODCALLTYPE Reals(float a, double b, float* half, double* product) override;
    HRESULT STDMETHODCALLTYPE Money(CURRENCY price, LONG quantity, CURRENCY* total) override;
    HRESULT STDMETHODCALLTYPE AddDays(DATE start, LONG days, DATE* later) override;
    HRESULT STDMETHODCALLTYPE Strings(BSTR a, BSTR* b, BSTR* joined) override;
    HRESULT STDMETHODCALLTYPE WideLength(LPWSTR text, LONG* length) override;
    HRESULT STDMETHODCALLTYPE Flags(VARIANT_BOOL a, VARIANT_BOOL b, VARIANT_BOOL* both,
                                    VARIANT_BOOL* either) override;
    HRESULT STDMETHODCALLTYPE Variants(VARIANT v, VARIANT* io, VARIANT* described) override;
    HRESULT STDMETHODCALLTYPE SumLongs(SAFEARRAY* numbers, LONG* total) override;
    HRESULT STDMETHODCALLTYPE SplitWords(BSTR text, SAFEARRAY** words) override;
    HRESULT STDMETHODCALLTYPE ReverseVariants(SAFEARRAY** items) override;
    HRESULT STDMETHODCALLTYPE ScaleFixed(LONG factor, LONG fixed4[4]) override;
    HRESULT STDMETHODCALLTYPE SumMatrix(LONG* weighted, LONG matrix[2][3]) override;
    HRESULT STDMETHODCALLTYPE PointSum(VxPoint pt, double* total) override;
    HRESULT STDMETHODCALLTYPE MovePoint(LONG dx, LONG dy, VxPoint* pt) override;
    HRESULT STDMETHODCALLTYPE NumberValue(LONG which, VxNumber* num, double* result) override;
    HRESULT STDMETHODCALLTYPE NextColor(VxColor current, VxColor* next) override;
    HRESULT STDMETHODCALLTYPE IsCalcIid(REFGUID iid, VARIANT_BOOL* same) override;
    HRESULT STDMETHODCALLTYPE GetCalcIid(GUID* iid) override;
    HRESULT STDMETHODCALLTYPE UseCalc(ICalc* other, LONG a, LONG* total) override;
    HRESULT STDMETHODCALLTYPE IsCalc(IUnknown* object, VARIANT_BOOL* same) override;
    HRESULT STDMETHODCALLTYPE DispatchName(IDispatch* object, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE Indirect(LONG** pointer, LONG* doubled) override;
    HRESULT STDMETHODCALLTYPE DoubleCount(VxCount n, VxCount* result) override;
    HRESULT STDMETHODCALLTYPE Facility(SCODE code, LONG* result) override;
    HRESULT STDMETHODCALLTYPE LastError(LONG leave, LONG* at_entry) override;

    // IRaw
    void STDMETHODCALLTYPE Remember(LONG number) override;
    LONG STDMETHODCALLTYPE Recall() override;
    void STDMETHODCALLTYPE Forget() override;

    // IBare
    HRESULT STDMETHODCALLTYPE Poke(LONG n, LONG* doubled) override;

private:
    // Loaded on first late-bound use; borrowed reference, owned by the object.
    HRESULT dispatch_info(ITypeInfo** info);

    vxs::RefCount refs_;
    std::mutex name_lock_;
    vx::unique_bstr name_;
    std::atomic<ITypeInfo*> info_{nullptr};
    std::atomic<LONG> remembered_{0};
};

}  // namespace vxsample
