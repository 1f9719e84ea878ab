// The Scanner object: IScanner over the scan engine, IDispatch from the
// embedded type library, ISupportErrorInfo, and one connection point for
// _IScannerEvents.
#include "scanner.h"

#include "Pollux.h"
#include "comserver.h"
#include "eventobject.h"
#include "guard.h"
#include "engine.h"
#include "firing.h"
#include "pathtext.h"

namespace pollux {
namespace {

constexpr size_t kLongestInstallPath = 259;

class Scanner final : public vxs::EventObject<IScanner, &IID_IScanner, &DIID__IScannerEvents>,
                      public ISupportErrorInfo {
public:
    // IUnknown, reached through either base.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override { return EventObject::QueryInterface(riid, ppv); }
    ULONG STDMETHODCALLTYPE AddRef() override { return EventObject::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return EventObject::Release(); }

    // IScanner
    HRESULT STDMETHODCALLTYPE ScanTLBlist() override {
        return vxs::Guarded([&] {
            EventFiring firing(events_);
            return engine_.ScanTLBlist(firing);
        });
    }
    HRESULT STDMETHODCALLTYPE ScanCompList(VARIANT_BOOL fire) override {
        return vxs::Guarded([&] {
            EventFiring firing(events_);
            return engine_.ScanCompList(fire == VARIANT_TRUE, firing);
        });
    }
    HRESULT STDMETHODCALLTYPE get_InstallPath(BSTR* value) override {
        if (!value) return E_POINTER;
        return vxs::Guarded([&] {
            *value = vx::NewBstr(engine_.folder());
            return *value ? S_OK : E_OUTOFMEMORY;
        });
    }
    HRESULT STDMETHODCALLTYPE put_InstallPath(BSTR value) override {
        return vxs::Guarded([&] {
            std::string folder = Narrow(value);
            // The paths are built from it: a folder without its backslash would
            // put the lists beside the folder instead of into it.
            if (!folder.empty() && folder.back() != '\\') folder += '\\';
            if (folder.size() > kLongestInstallPath) return E_INVALIDARG;
            engine_.SetFolder(folder);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetCompAmountInList(LONG* amount) override {
        if (!amount) return E_POINTER;
        *amount = engine_.GetCompAmountInList();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAmounts(LONG* compClasses, LONG* tLibs, LONG* importedTLibs, LONG* interfaces) override {
        if (!compClasses || !tLibs || !importedTLibs || !interfaces) return E_POINTER;
        Amounts a = engine_.GetAmounts();
        *compClasses = a.compClasses;
        *tLibs = a.tLibs;
        *importedTLibs = a.importedTLibs;
        *interfaces = a.interfaces;
        return S_OK;
    }

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, IID_IScanner) ? S_OK : S_FALSE;
    }

private:
    void* OtherInterface(REFIID riid) override {
        return IsEqualIID(riid, IID_ISupportErrorInfo) ? static_cast<ISupportErrorInfo*>(this) : nullptr;
    }

    ScanEngine engine_;
};

}  // namespace

HRESULT Scanner_CreateInstance(REFIID riid, void** ppv) { return vxs::create_object<Scanner>(riid, ppv); }

}  // namespace pollux
