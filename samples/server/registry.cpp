// Table-driven registration of a sample server under HKEY_CLASSES_ROOT.
#include "server.h"

#include <string>

#include "raii.h"

namespace vxs {
namespace {

HRESULT set_string(const std::wstring& subkey, const wchar_t* name, const std::wstring& value) {
    vx::unique_hkey key;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, nullptr, 0,
                                     KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    status = RegSetValueExW(key.get(), name, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    return HRESULT_FROM_WIN32(status);
}

// A key that is already gone counts as deleted.
HRESULT delete_tree(const std::wstring& subkey) {
    LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, subkey.c_str());
    if (status == ERROR_FILE_NOT_FOUND) return S_OK;
    return HRESULT_FROM_WIN32(status);
}

}  // namespace

HRESULT register_server(const ServerRegistration& server) {
    std::wstring path = module_path();
    if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());

    vx::com_ptr<ITypeLib> library;
    std::wstring libid;
    if (server.has_type_library) {
        RETURN_IF_FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()));
        TLIBATTR* attr = nullptr;
        RETURN_IF_FAILED(library->GetLibAttr(&attr));
        libid = guid_text(attr->guid);
        library->ReleaseTLibAttr(attr);
    }

    for (const ClassRegistration& entry : server.classes) {
        const std::wstring clsid = guid_text(*entry.clsid);
        const std::wstring key = L"CLSID\\" + clsid;
        RETURN_IF_FAILED(set_string(key, nullptr, entry.description));
        RETURN_IF_FAILED(set_string(key + L"\\InprocServer32", nullptr, path));
        RETURN_IF_FAILED(set_string(key + L"\\InprocServer32", L"ThreadingModel", L"Both"));
        RETURN_IF_FAILED(set_string(key + L"\\ProgID", nullptr, entry.progid));
        if (!libid.empty()) RETURN_IF_FAILED(set_string(key + L"\\TypeLib", nullptr, libid));

        RETURN_IF_FAILED(set_string(entry.progid, nullptr, entry.description));
        RETURN_IF_FAILED(set_string(std::wstring(entry.progid) + L"\\CLSID", nullptr, clsid));
    }

    for (const InterfaceRegistration& entry : server.interfaces) {
        const std::wstring key = L"Interface\\" + guid_text(*entry.iid);
        RETURN_IF_FAILED(set_string(key, nullptr, entry.name));
        RETURN_IF_FAILED(
            set_string(key + L"\\NumMethods", nullptr, std::to_wstring(entry.method_count)));
    }

    // Also writes HKCR\Interface for the library's automation interfaces.
    if (library) RETURN_IF_FAILED(RegisterTypeLib(library.get(), path.data(), nullptr));
    return S_OK;
}

HRESULT unregister_server(const ServerRegistration& server) {
    for (const ClassRegistration& entry : server.classes) {
        RETURN_IF_FAILED(delete_tree(L"CLSID\\" + guid_text(*entry.clsid)));
        RETURN_IF_FAILED(delete_tree(entry.progid));
    }
    for (const InterfaceRegistration& entry : server.interfaces)
        RETURN_IF_FAILED(delete_tree(L"Interface\\" + guid_text(*entry.iid)));
    if (server.has_type_library) RETURN_IF_FAILED(unregister_module_type_library());
    return S_OK;
}

}  // namespace vxs
