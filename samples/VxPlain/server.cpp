// The four server entry points over VxPlain's tables. No type library: the
// registration names IPlain under HKCR\Interface itself.
#include <olectl.h>

#include "plain_server.h"
#include "server.h"

namespace {

const vxs::ClassObjectEntry kClassObjects[] = {
    {&CLSID_Plain, vxplain::Plain_CreateInstance, vxs::plain_factory},
};

const vxs::ClassRegistration kClasses[] = {
    {&CLSID_Plain, L"VxPlain.Plain", L"VxPlain Plain Class"},
};

const vxs::InterfaceRegistration kInterfaces[] = {
    {&IID_IPlain, L"IPlain", kPlainMethodCount},
};

const vxs::ServerRegistration kServer = {kClasses, kInterfaces, false};

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    return vxs::get_class_object(kClassObjects, clsid, riid, ppv);
}

STDAPI DllCanUnloadNow() { return vxs::can_unload_now(); }

STDAPI DllRegisterServer() { return vxs::register_server(kServer); }

STDAPI DllUnregisterServer() { return vxs::unregister_server(kServer); }
