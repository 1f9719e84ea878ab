// In-process server plumbing shared by every COM server DLL of the product and
// the samples: module counts behind DllCanUnloadNow, a plain class factory, a
// class-object table, and the module's own type library. Each DLL links its
// own copy, so the counts are per module.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <new>
#include <span>
#include <string>
#include <utility>

namespace vxs {

// Live objects (class objects included) and IClassFactory::LockServer locks.
void object_created();
void object_destroyed();
void lock_server(bool lock);
// S_OK exactly when no object and no lock remain.
HRESULT can_unload_now();

// Reference count of one object; its lifetime also counts as a live object of
// the module, so DllCanUnloadNow stays S_FALSE while it exists.
class RefCount {
public:
    RefCount() { object_created(); }
    ~RefCount() { object_destroyed(); }
    RefCount(const RefCount&) = delete;
    RefCount& operator=(const RefCount&) = delete;
    ULONG add() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG release() { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }

private:
    LONG refs_ = 1;
};

// An object whose interfaces all derive from Interface, one method table: the
// IUnknown part, written once. Lives until its last reference is released.
template <typename Interface>
class SingleInterfaceObject : public Interface {
public:
    SingleInterfaceObject() = default;
    SingleInterfaceObject(const SingleInterfaceObject&) = delete;
    SingleInterfaceObject& operator=(const SingleInterfaceObject&) = delete;
    virtual ~SingleInterfaceObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || provides(riid)) {
            *ppv = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.add(); }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = refs_.release();
        if (left == 0) delete this;
        return left;
    }

protected:
    // The interface ids the object answers besides IUnknown.
    virtual bool provides(REFIID riid) const = 0;

private:
    RefCount refs_;
};

// A new T(args...) handing out riid; the caller's reference is the only one.
template <typename T, typename... Args>
HRESULT create_object(REFIID riid, void** ppv, Args&&... args) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    auto* object = new (std::nothrow) T(std::forward<Args>(args)...);
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();  // the object's own count: the caller holds the reference QueryInterface gave
    return hr;
}

// Creates an instance of one class (no aggregation) and hands out riid.
using CreateFn = HRESULT (*)(REFIID riid, void** ppv);
// Creates the class object that hands out instances made by create.
using FactoryFn = HRESULT (*)(CreateFn create, REFIID riid, void** ppv);

// A plain IClassFactory around create.
HRESULT plain_factory(CreateFn create, REFIID riid, void** ppv);

struct ClassObjectEntry {
    const CLSID* clsid;
    CreateFn create;
    FactoryFn factory;
};

// DllGetClassObject over a class-object table.
HRESULT get_class_object(std::span<const ClassObjectEntry> table, REFCLSID clsid,
                         REFIID riid, void** ppv);

// The module this code is linked into, and its full path.
HMODULE this_module();
std::wstring module_path();
// Full path of a module; empty on failure.
std::wstring module_file_name(HMODULE module);
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", upper case.
std::wstring guid_text(REFGUID guid);
// Type description of guid from the module's own type library.
HRESULT load_type_info(REFGUID guid, ITypeInfo** info);

// Registers the type library embedded as TYPELIB 1 in this module (also
// writes HKCR\Interface for its automation interfaces).
HRESULT register_module_type_library();
// Removes it; a library that is not registered counts as removed.
HRESULT unregister_module_type_library();

}  // namespace vxs
