#include "scansink.h"

#include "textconv.h"

using vx::Narrow;

namespace e2e {

std::string PolluxPath() { return vxinstall::WinePath(VX_STAGE_DIR) + "\\Pollux.dll"; }

// Found in the system folder, which a 32-bit process sees as its own.
ProcessResult Regsvr32(const std::string& options, const std::string& dll) {
    return RunProgram("regsvr32.exe " + options + " " + Quoted(dll));
}

}  // namespace e2e

std::string RecordingSink::MemberName(DISPID id) {
    if (auto known = names_.find(id); known != names_.end()) return known->second;
    vx::com_ptr<ITypeLib> library;
    vx::com_ptr<ITypeInfo> events;
    if (FAILED(::LoadRegTypeLib(LIBID_POLLUXLib, 1, 0, MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT),
                                library.put())) ||
        FAILED(library->GetTypeInfoOfGuid(DIID__IScannerEvents, events.put())))
        return {};
    vx::member_names name(events.get(), id);
    return name.count() ? names_[id] = Narrow(name[0]) : std::string();
}

HRESULT RecordingSink::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT*,
                              EXCEPINFO*, UINT*) {
    const std::string name = MemberName(id);
    if (!IsEqualIID(riid, IID_NULL) || lcid != LOCALE_USER_DEFAULT || flags != DISPATCH_METHOD || !params ||
        name.empty()) {
        wrongCall = "id " + std::to_string(id) + " (" + name + ") called with lcid " + std::to_string(lcid) +
                    ", flags " + std::to_string(flags);
        return S_OK;
    }
    if (name == "OneMoreClass") {
        ClassEvent e;
        if (params->cArgs == 2) {
            e.loadable = params->rgvarg[0].vt == VT_BOOL && params->rgvarg[0].boolVal == VARIANT_TRUE;
            SAFEARRAY* a = params->rgvarg[1].parray;
            if (params->rgvarg[1].vt == (VT_ARRAY | VT_BSTR) && a && SafeArrayGetDim(a) == 1) {
                vx::safearray_access<BSTR> items(a);
                for (ULONG i = 0; i < items.size(); ++i) e.info.push_back(Narrow(items.data()[i]));
                if (a->rgsabound[0].lLbound != 0) e.info.insert(e.info.begin(), "<lower bound not 0>");
            }
        }
        classes.push_back(e);
        return S_OK;
    }
    std::string line = name;
    if (params->cArgs == 1 && params->rgvarg[0].vt == VT_BSTR)
        line += " " + Narrow(params->rgvarg[0].bstrVal);
    else if (params->cArgs == 1 && params->rgvarg[0].vt == VT_I4)
        line += " " + std::to_string(params->rgvarg[0].lVal);
    else
        wrongCall = line + " with unexpected arguments";
    events.push_back(line);
    return S_OK;
}
