// The Widget's standard interfaces, which no library of its server describes:
// persistence through a stream, a site handed in and asked back, class
// information, and a sink of its events connected through the connection point.
#include <ocidl.h>

#include "VxSample.h"
#include "scenarios.h"
#include "widget.h"

namespace vxc {

const SampleClass kWidget = {&CLSID_Widget, "VxSample.Widget", L"VxSample.dll"};

namespace {

// The client's own object: the site, and the sink that counts the changes it hears of.
class Listener final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, DIID_WidgetEvents))
            return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    // Lives on the scenario's stack: counts are not lifetimes here.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        if (id == 1) ++changes;
        return S_OK;
    }

    int changes = 0;
};

HRESULT persist(IPersistStreamInit* persist) {
    CLSID clsid = {};
    HRESULT hr = persist->GetClassID(&clsid);
    print(call_line("Widget.GetClassID", hr, result_or_empty(hr, guid_string(clsid))));
    print(call_line("Widget.IsDirty", persist->IsDirty()));
    print(call_line("Widget.InitNew", persist->InitNew()));
    print(call_line("Widget.IsDirty", persist->IsDirty()));
    ULARGE_INTEGER size = {};
    hr = persist->GetSizeMax(&size);
    print(call_line("Widget.GetSizeMax", hr, result_or_empty(hr, format("%llu", size.QuadPart))));
    vx::com_ptr<IStream> stream;
    RETURN_IF_FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
    print(call_line("Widget.Save(stream,TRUE)", persist->Save(stream.get(), TRUE)));
    print(call_line("Widget.IsDirty", persist->IsDirty()));
    LARGE_INTEGER start = {};
    RETURN_IF_FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr));
    print(call_line("Widget.Load(stream)", persist->Load(stream.get())));
    // An empty stream: the load fails and says so.
    vx::com_ptr<IStream> empty;
    RETURN_IF_FAILED(CreateStreamOnHGlobal(nullptr, TRUE, empty.put()));
    print(call_line("Widget.Load(empty stream)", persist->Load(empty.get())));
    return S_OK;
}

}  // namespace

HRESULT scenario_known(Run& run, long) {
    vx::com_ptr<IUnknown> widget;
    RETURN_IF_FAILED(create(run, kWidget, IID_IUnknown, widget));
    Listener listener;

    vx::com_ptr<IConnectionPointContainer> container;
    RETURN_IF_FAILED(require(widget.get(), IID_IConnectionPointContainer, "IConnectionPointContainer", container.put_void()));
    vx::com_ptr<IConnectionPoint> point;
    HRESULT hr = container->FindConnectionPoint(DIID_WidgetEvents, point.put());
    print(call_line("Widget.FindConnectionPoint(WidgetEvents)", hr));
    vx::com_ptr<IConnectionPoint> none;
    print(call_line("Widget.FindConnectionPoint(IDispatch)", container->FindConnectionPoint(IID_IDispatch, none.put())));
    DWORD cookie = 0;
    if (point) print(call_line("ConnectionPoint.Advise", point->Advise(&listener, &cookie)));

    vx::com_ptr<IPersistStreamInit> persistence;
    RETURN_IF_FAILED(require(widget.get(), IID_IPersistStreamInit, "IPersistStreamInit", persistence.put_void()));
    RETURN_IF_FAILED(persist(persistence.get()));
    print(format("changes heard: %d", listener.changes));
    if (point) print(call_line("ConnectionPoint.Unadvise", point->Unadvise(cookie)));

    vx::com_ptr<IObjectWithSite> sited;
    RETURN_IF_FAILED(require(widget.get(), IID_IObjectWithSite, "IObjectWithSite", sited.put_void()));
    print(call_line("Widget.SetSite(listener)", sited->SetSite(&listener)));
    vx::com_ptr<IDispatch> back;
    hr = sited->GetSite(IID_IDispatch, back.put_void());
    print(call_line("Widget.GetSite(IDispatch)", hr, result_or_empty(hr, back.get() == &listener ? "the listener" : "another object")));
    print(call_line("Widget.SetSite(NULL)", sited->SetSite(nullptr)));

    vx::com_ptr<IProvideClassInfo> provider;
    RETURN_IF_FAILED(require(widget.get(), IID_IProvideClassInfo, "IProvideClassInfo", provider.put_void()));
    vx::com_ptr<ITypeInfo> info;
    hr = provider->GetClassInfo(info.put());
    print(call_line("Widget.GetClassInfo", hr, result_or_empty(hr, info ? "a type description" : "none")));
    return S_OK;
}

namespace {

// n calls of `call`, timed: the per-call figure goes to the benchmark's file.
template <typename F>
long timed(const char* label, long n, F call) {
    long failed = 0;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (long i = 0; i < n; ++i) failed += FAILED(call());
    QueryPerformanceCounter(&end);
    write_timing(label, 1e6 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    return failed;
}

}  // namespace

HRESULT scenario_knownloop(Run& run, long n) {
    vx::com_ptr<ITypes> types;
    RETURN_IF_FAILED(create(run, kCalc, IID_ITypes, types));
    vx::com_ptr<IPersistStreamInit> persist;
    RETURN_IF_FAILED(create(run, kWidget, IID_IPersistStreamInit, persist));
    vx::com_ptr<IObjectWithSite> sited;
    RETURN_IF_FAILED(require(persist.get(), IID_IObjectWithSite, "IObjectWithSite", sited.put_void()));
    Listener listener;
    RETURN_IF_FAILED(sited->SetSite(&listener));
    // Pairs of calls of one shape: no parameter; an interface id in, a result out.
    long failed = timed("registered-none", n, [&] { return types->Ping(); });
    failed += timed("known-none", n, [&] { return persist->IsDirty() == S_FALSE ? S_OK : E_FAIL; });
    failed += timed("registered-iid", n, [&] {
        VARIANT_BOOL same = VARIANT_FALSE;
        return types->IsCalcIid(IID_ICalc, &same);
    });
    failed += timed("known-iid", n, [&] {
        void* site = nullptr;
        return sited->GetSite(IID_IUnknown, &site);  // the listener: nothing to release
    });
    print(format("knownloop: calls=%ld failed=%ld", 4 * n, failed));
    return sited->SetSite(nullptr);
}

}  // namespace vxc
