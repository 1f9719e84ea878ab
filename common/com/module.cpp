// Module counts, the plain class factory and the class-object lookup.
#include "comserver.h"
#include "textconv.h"

#include "raii.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace vxs {
namespace {

LONG g_objects = 0;
LONG g_locks = 0;

class PlainFactory final : public SingleInterfaceObject<IClassFactory> {
public:
    explicit PlainFactory(CreateFn create) : create_(create) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lock_server(lock != FALSE);
        return S_OK;
    }

private:
    bool provides(REFIID riid) const override { return IsEqualIID(riid, IID_IClassFactory); }

    CreateFn create_;
};

}  // namespace

void object_created() { InterlockedIncrement(&g_objects); }
void object_destroyed() { InterlockedDecrement(&g_objects); }

void lock_server(bool lock) {
    if (lock)
        InterlockedIncrement(&g_locks);
    else
        InterlockedDecrement(&g_locks);
}

HRESULT can_unload_now() {
    // Read both through interlocked operations: objects die on any thread.
    LONG objects = InterlockedCompareExchange(&g_objects, 0, 0);
    LONG locks = InterlockedCompareExchange(&g_locks, 0, 0);
    return objects == 0 && locks == 0 ? S_OK : S_FALSE;
}

HRESULT plain_factory(CreateFn create, REFIID riid, void** ppv) {
    return create_object<PlainFactory>(riid, ppv, create);
}

HRESULT get_class_object(std::span<const ClassObjectEntry> table, REFCLSID clsid,
                         REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (const ClassObjectEntry& entry : table) {
        if (IsEqualCLSID(clsid, *entry.clsid)) return entry.factory(entry.create, riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

std::wstring module_file_name(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(module, path.data(),
                                     static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

HMODULE this_module() { return reinterpret_cast<HMODULE>(&__ImageBase); }

std::wstring module_path() { return module_file_name(this_module()); }

std::wstring guid_text(REFGUID guid) { return vx::GuidText(guid); }

HRESULT load_type_info(REFGUID guid, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    vx::com_ptr<ITypeLib> library;
    RETURN_IF_FAILED(LoadTypeLibEx(module_path().c_str(), REGKIND_NONE, library.put()));
    return library->GetTypeInfoOfGuid(guid, info);
}

}  // namespace vxs
