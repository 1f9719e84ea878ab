// Registration of the type library a server module embeds as TYPELIB 1.
#include "comserver.h"

#include "raii.h"

namespace vxs {
namespace {

HRESULT load_own_type_library(ITypeLib** library) {
    return LoadTypeLibEx(module_path().c_str(), REGKIND_NONE, library);
}

// The key RegisterTypeLib writes for this library's platform.
std::wstring type_library_key(const TLIBATTR& attr) {
    const wchar_t* platform = attr.syskind == SYS_WIN64 ? L"win64" : L"win32";
    wchar_t version[32];
    wsprintfW(version, L"\\%x.%x\\%lx\\", attr.wMajorVerNum, attr.wMinorVerNum,
              static_cast<unsigned long>(attr.lcid));
    return L"TypeLib\\" + guid_text(attr.guid) + version + platform;
}

bool key_exists(const std::wstring& subkey) {
    vx::unique_hkey key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_READ, key.put()) ==
           ERROR_SUCCESS;
}

}  // namespace

HRESULT register_module_type_library() {
    vx::com_ptr<ITypeLib> library;
    RETURN_IF_FAILED(load_own_type_library(library.put()));
    std::wstring path = module_path();
    return RegisterTypeLib(library.get(), path.data(), nullptr);
}

HRESULT unregister_module_type_library() {
    vx::com_ptr<ITypeLib> library;
    RETURN_IF_FAILED(load_own_type_library(library.put()));
    TLIBATTR* attr = nullptr;
    RETURN_IF_FAILED(library->GetLibAttr(&attr));
    const TLIBATTR copy = *attr;
    library->ReleaseTLibAttr(attr);
    // UnRegisterTypeLib fails on a library that is not registered; that is
    // the state we want, so it is success.
    if (!key_exists(type_library_key(copy))) return S_OK;
    return UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid,
                             copy.syskind);
}

}  // namespace vxs
