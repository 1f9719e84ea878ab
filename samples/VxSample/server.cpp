// The four server entry points over VxSample's two tables.
#include <olectl.h>

#include "VxSample.h"
#include "classes.h"
#include "server.h"
#include "widget.h"

namespace {

using namespace vxsample;

const vxs::ClassObjectEntry kClassObjects[] = {
    {&CLSID_Calc, Calc_CreateInstance, vxs::plain_factory},
    {&CLSID_Licensed, Licensed_CreateInstance, Licensed_Factory},
    {&CLSID_DispOnly, DispOnly_CreateInstance, vxs::plain_factory},
    {&CLSID_Broken, Broken_CreateInstance, vxs::plain_factory},
    {&CLSID_Widget, Widget_CreateInstance, vxs::plain_factory},
};

const vxs::ClassRegistration kClasses[] = {
    {&CLSID_Calc, L"VxSample.Calc", L"VxSample Calc Class"},
    {&CLSID_Licensed, L"VxSample.Licensed", L"VxSample Licensed Class"},
    {&CLSID_DispOnly, L"VxSample.DispOnly", L"VxSample DispOnly Class"},
    {&CLSID_Broken, L"VxSample.Broken", L"VxSample Broken Class"},
    {&CLSID_Widget, L"VxSample.Widget", L"VxSample Widget Class"},
};

// The type library registers ICalc, ITypes and DDispOnly under HKCR\Interface;
// the Widget's interfaces are the platform's own, which it does not describe.
const vxs::ServerRegistration kServer = {kClasses, {}, true};

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    return vxs::get_class_object(kClassObjects, clsid, riid, ppv);
}

STDAPI DllCanUnloadNow() { return vxs::can_unload_now(); }

STDAPI DllRegisterServer() { return vxs::register_server(kServer); }

STDAPI DllUnregisterServer() { return vxs::unregister_server(kServer); }
