#include "scansink.h"

#include "Pollux.h"

HRESULT RecordingSink::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                              EXCEPINFO* exception, UINT* argError) {
    try {
        return Record(id, riid, lcid, flags, params, result, exception, argError);
    } catch (const std::exception& e) {
        wrongCall = std::string("exception in the sink: ") + e.what() + " at id " + std::to_string(id);
        return S_OK;
    }
}

HRESULT RecordingSink::Record(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT*,
                              EXCEPINFO*, UINT*) {
    if (!IsEqualIID(riid, IID_NULL) || lcid != 1024 || flags != DISPATCH_METHOD || !params)
        wrongCall = "id " + std::to_string(id) + " called with lcid " + std::to_string(lcid) + ", flags " +
                    std::to_string(flags);
    static const char* const kNames[] = {"", "InterfName", "CompName", "", "OneMoreClass", "ProcessedTLibs",
                                         "ProcessedImportedTLibs", "ProcessedClasses", "ProcessedInterfaces"};
    if (id < 1 || id > 8 || id == 3) {
        wrongCall = "unknown id " + std::to_string(id);
        return S_OK;
    }
    std::string line = kNames[id];
    if (id == 4) {
        ClassEvent e;
        if (params->cArgs == 2) {
            e.loadable = params->rgvarg[0].vt == VT_BOOL && params->rgvarg[0].boolVal == VARIANT_TRUE;
            e.type = params->rgvarg[1].vt;
            SAFEARRAY* a = params->rgvarg[1].parray;
            LONG low = 0, high = -1;
            if (e.type == (VT_ARRAY | VT_BSTR) && a && SafeArrayGetDim(a) == 1) {
                SafeArrayGetLBound(a, 1, &low);
                SafeArrayGetUBound(a, 1, &high);
                for (LONG i = low; i <= high; ++i) {
                    BSTR s = nullptr;
                    SafeArrayGetElement(a, &i, &s);
                    e.info.push_back(Narrow(s));
                    SysFreeString(s);
                }
                if (low != 0) e.info.insert(e.info.begin(), "<lower bound not 0>");
            }
        }
        classes.push_back(e);
    } else if (params->cArgs == 1 && params->rgvarg[0].vt == VT_BSTR) {
        line += " " + Narrow(params->rgvarg[0].bstrVal);
    } else if (params->cArgs == 1 && params->rgvarg[0].vt == VT_I4) {
        line += " " + std::to_string(params->rgvarg[0].lVal);
    } else {
        wrongCall = line + " with unexpected arguments";
    }
    events.push_back(line);
    return S_OK;
}
