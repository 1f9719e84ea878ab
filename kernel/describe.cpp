#include "describe.h"

#include <oleauto.h>
#include <cstdio>
#include <cstring>

#include "kernel.h"
#include "linetext.h"
#include "pool.h"
#include "raii.h"
#include "descriptorline.h"
#include "structurefile.h"

namespace korbin {
namespace {

char* PoolNarrow(const wchar_t* wide) {
    char text[256];
    NarrowText(wide, -1, text, sizeof text);
    return PoolCopy(text);
}

void GuidKey(REFGUID guid, const char* prefix, char* out, size_t outSize) {
    char text[40];
    GuidString(guid, text, sizeof text);
    std::snprintf(out, outSize, "%s%s", prefix, text);
}

// A string value of an open key (expanded when it is REG_EXPAND_SZ).
bool StringValue(HKEY key, const char* name, char* out, size_t outSize) {
    char raw[MAX_PATH];
    DWORD size = sizeof raw - 1, type = 0;
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(raw), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    raw[size < sizeof raw ? size : sizeof raw - 1] = '\0';
    if (type == REG_EXPAND_SZ) {
        DWORD n = ::ExpandEnvironmentStringsA(raw, out, static_cast<DWORD>(outSize));
        return n > 0 && n <= outSize;
    }
    std::snprintf(out, outSize, "%s", raw);
    return out[0] != '\0';
}

// The path of a registered type library: under TypeLib, {libid}, <version>,
// <locale>, then win64 (64-bit processes first) or win32; the first locale
// that has one.
bool TypeLibraryPath(const char* libid, const char* version, char* out, size_t outSize) {
    char key[160];
    std::snprintf(key, sizeof key, "TypeLib\\%s\\%s", libid, version);
    vx::unique_hkey versionKey;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, versionKey.put()) != ERROR_SUCCESS) return false;
    char locale[64];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof locale;
        if (::RegEnumKeyExA(versionKey.get(), i, locale, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return false;
        if (std::strspn(locale, "0123456789") != std::strlen(locale)) continue;
        for (const char* platform : {sizeof(void*) == 8 ? "win64" : "win32", "win32"}) {
            char sub[96];
            std::snprintf(sub, sizeof sub, "%s\\%s", locale, platform);
            vx::unique_hkey platformKey;
            if (::RegOpenKeyExA(versionKey.get(), sub, 0, KEY_READ, platformKey.put()) == ERROR_SUCCESS &&
                StringValue(platformKey.get(), nullptr, out, outSize))
                return true;
        }
    }
}

// HKCR\Interface\{iid}: its name and, through its TypeLib key, its type description.
bool RegistryInterface(REFIID iid, char* name, size_t nameSize, ITypeInfo** info) {
    *info = nullptr;
    char key[64];
    GuidKey(iid, "Interface\\", key, sizeof key);
    vx::unique_hkey hkey;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, hkey.put()) != ERROR_SUCCESS) return false;
    bool named = StringValue(hkey.get(), nullptr, name, nameSize);
    vx::unique_hkey libKey;
    char libid[64], version[32], path[MAX_PATH];
    if (::RegOpenKeyExA(hkey.get(), "TypeLib", 0, KEY_READ, libKey.put()) == ERROR_SUCCESS &&
        StringValue(libKey.get(), nullptr, libid, sizeof libid) &&
        StringValue(libKey.get(), "Version", version, sizeof version) &&
        TypeLibraryPath(libid, version, path, sizeof path)) {
        wchar_t widePath[MAX_PATH];
        vx::com_ptr<ITypeLib> library;
        if (::MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH) &&
            SUCCEEDED(::LoadTypeLibEx(widePath, REGKIND_NONE, library.put())))
            library->GetTypeInfoOfGuid(iid, info);
    }
    return named || *info;
}

// R of the descriptor line: the id has a key under HKCR\Interface.
bool InterfaceRegistered(REFIID iid) {
    char key[64];
    GuidKey(iid, "Interface\\", key, sizeof key);
    vx::unique_hkey hkey;
    return ::RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, hkey.put()) == ERROR_SUCCESS;
}

ITypeInfo* FromLibrary(ITypeLib* library, REFIID iid) {
    ITypeInfo* info = nullptr;
    if (library && SUCCEEDED(library->GetTypeInfoOfGuid(iid, &info))) return info;
    return nullptr;
}

// The standard library first, then the hooked DLL's own, then the others loaded.
ITypeInfo* FindTypeInfo(REFIID iid, HookedDll* dll) {
    if (ITypeInfo* info = FromLibrary(g_kernel.stdole, iid)) return info;
    if (dll)
        if (ITypeInfo* info = FromLibrary(dll->typeLib, iid)) return info;
    if (ProcessBlock* block = g_kernel.store.block())
        for (HookedDll* d = block->hookedDlls; d; d = d->next)
            if (d != dll && !d->unloaded && d->hookNumber > 0)
                if (ITypeInfo* info = FromLibrary(d->typeLib, iid)) return info;
    return nullptr;
}

// The method-table part of a dual interface; a plain interface as it is.
ITypeInfo* VtablePart(ITypeInfo* info, bool* dispatchOnly) {
    *dispatchOnly = false;
    vx::unique_typeattr a(info);
    if (!a) return nullptr;
    if (a->typekind == TKIND_INTERFACE) {
        info->AddRef();
        return info;
    }
    if (a->typekind != TKIND_DISPATCH) return nullptr;
    HREFTYPE ref;
    ITypeInfo* part = nullptr;
    if ((a->wTypeFlags & TYPEFLAG_FDUAL) && SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref)) &&
        SUCCEEDED(info->GetRefTypeInfo(ref, &part)))
        return part;
    *dispatchOnly = true;
    return nullptr;
}

bool AddFunctions(ITypeInfo* info, InterfaceDescription& out, MethodDesc* methods, uint32_t capacity, bool* dispatchChain) {
    vx::unique_typeattr a(info);
    if (!a) return false;
    // Bases first, so methods come in method-table order.
    if (a->cImplTypes > 0) {
        HREFTYPE ref;
        vx::com_ptr<ITypeInfo> base;
        if (SUCCEEDED(info->GetRefTypeOfImplType(0, &ref)) && SUCCEEDED(info->GetRefTypeInfo(ref, base.put())))
            AddFunctions(base.get(), out, methods, capacity, dispatchChain);
    }
    vx::unique_bstr name;
    if (SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr)) && name.get() &&
        std::wcscmp(name.get(), L"IDispatch") == 0)
        *dispatchChain = true;
    for (UINT i = 0; i < a->cFuncs; ++i) {
        vx::unique_funcdesc f(info, i);
        if (!f) continue;
        ++out.functionCount;
        if (out.methodCount < capacity) {
            MethodDesc& m = methods[out.methodCount++];
            const vx::member_names names(info, f->memid);
            const UINT got = names.count();
            m.name = PoolNarrow(names[0] ? names[0] : L"?");
            m.offset = static_cast<uint32_t>(f->oVft / sizeof(void*) * 4);
            m.returnVt = EncodeType(f->elemdescFunc.tdesc);
            m.returnDetails = BuildDetails(info, f->elemdescFunc.tdesc);
            m.returnSize = ValueSize(m.returnVt, m.returnDetails);
            m.paramCount = static_cast<uint32_t>(f->cParams);
            m.params = m.paramCount ? static_cast<MethodParam*>(PoolAlloc(sizeof(MethodParam) * m.paramCount)) : nullptr;
            if (!m.params) m.paramCount = 0;
            for (uint32_t p = 0; p < m.paramCount; ++p) {
                const ELEMDESC& e = f->lprgelemdescParam[p];
                // Libraries without parameter names: the property's role, else a placeholder.
                const wchar_t* fallback = L"UnknownParName";
                if (got == 1 && f->invkind == INVOKE_PROPERTYGET) fallback = L"GET_property_value";
                if (got == 1 && (f->invkind == INVOKE_PROPERTYPUT || f->invkind == INVOKE_PROPERTYPUTREF))
                    fallback = L"PUT_property_value";
                m.params[p].name = PoolNarrow(p + 1 < got && names[p + 1] ? names[p + 1] : fallback);
                m.params[p].flags = e.paramdesc.wParamFlags;
                m.params[p].vt = EncodeType(e.tdesc);
                m.params[p].details = BuildDetails(info, e.tdesc);
                m.params[p].size = ValueSize(m.params[p].vt, m.params[p].details);
            }
            if (m.offset > out.largestOffset) out.largestOffset = m.offset;
        }
    }
    return true;
}

// The structure file read whole into pool memory, or nullptr.
char* ReadStructureFile(const char* path, size_t* length) {
    vx::unique_file file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return nullptr;
    DWORD size = ::GetFileSize(file.get(), nullptr);
    if (size == INVALID_FILE_SIZE || size == 0) return nullptr;
    auto* text = static_cast<char*>(PoolAlloc(size + 1));
    DWORD got = 0;
    if (!text || !::ReadFile(file.get(), text, size, &got, nullptr)) {
        PoolFree(text);
        return nullptr;
    }
    text[got] = '\0';
    *length = got;
    return text;
}

// The structure file's entry for the interface: its name, its descriptor
// line and, in a library's section, that library's description.
bool StructureInterface(REFIID iid, char* name, size_t nameSize, char* line, size_t lineSize, ITypeInfo** info) {
    *info = nullptr;
    size_t length = 0;
    char* text = ReadStructureFile(g_kernel.structureFile, &length);
    if (!text) return false;
    char idString[40];
    GuidKey(iid, "", idString, sizeof idString);
    vx::StructureEntry entry;
    bool found = vx::FindStructureEntry(std::string_view(text, length), idString, &entry) && !entry.name.empty();
    if (found) {
        std::snprintf(name, nameSize, "%.*s", static_cast<int>(entry.name.size()), entry.name.data());
        if (!entry.section.empty() && entry.section != vx::kRegistryOnlySection) {
            std::snprintf(line, lineSize, "%.*s", static_cast<int>(entry.line.size()), entry.line.data());
            char path[MAX_PATH];
            wchar_t widePath[MAX_PATH];
            std::snprintf(path, sizeof path, "%.*s", static_cast<int>(entry.section.size()), entry.section.data());
            vx::com_ptr<ITypeLib> library;
            if (::MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH) &&
                SUCCEEDED(::LoadTypeLibEx(widePath, REGKIND_NONE, library.put())))
                library->GetTypeInfoOfGuid(iid, info);
        }
    }
    PoolFree(text);
    return found;
}

}  // namespace

bool RegisteredClassName(REFCLSID clsid, char* out, size_t outSize) {
    char key[64];
    GuidKey(clsid, "CLSID\\", key, sizeof key);
    vx::unique_hkey hkey;
    return ::RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, hkey.put()) == ERROR_SUCCESS &&
           StringValue(hkey.get(), nullptr, out, outSize);
}

void GuidString(REFGUID guid, char* out, size_t outSize) {
    wchar_t wide[40];
    if (::StringFromGUID2(guid, wide, 40) == 0 || NarrowText(wide, -1, out, outSize) == 0)
        std::snprintf(out, outSize, "{?}");
}

VARTYPE EncodeType(const TYPEDESC& type) {
    const TYPEDESC* t = &type;
    unsigned levels = 0;
    while (t->vt == VT_PTR && t->lptdesc) {
        ++levels;
        t = t->lptdesc;
    }
    if (levels > 15) levels = 15;
    return EncodedType(t->vt, levels);
}

void TypeName(VARTYPE code, char* out, size_t outSize) {
    static const char* const kBase[] = {
        "VT_EMPTY", "VT_NULL", "VT_I2", "VT_I4", "VT_R4", "VT_R8", "VT_CY", "VT_DATE", "VT_BSTR", "VT_DISPATCH",
        "VT_ERROR", "VT_BOOL", "VT_VARIANT", "VT_UNKNOWN", "VT_DECIMAL", nullptr, "VT_I1", "VT_UI1", "VT_UI2",
        "VT_UI4", "VT_I8", "VT_UI8", "VT_INT", "VT_UINT", "VT_VOID", "VT_HRESULT", "VT_PTR", "VT_SAFEARRAY",
        "VT_CARRAY", "VT_USERDEFINED", "VT_LPSTR", "VT_LPWSTR", nullptr, nullptr, nullptr, nullptr, "VT_RECORD"};
    static const char* const kHigh[] = {"VT_FILETIME", "VT_BLOB", "VT_STREAM", "VT_STORAGE", "VT_STREAMED_OBJECT",
                                        "VT_STORED_OBJECT", "VT_BLOB_OBJECT", "VT_CF", "VT_CLSID"};
    size_t n = std::snprintf(out, outSize, "\b");
    auto add = [&](const char* text) {
        if (n < outSize) n += std::snprintf(out + n, outSize - n, "%s", text);
    };
    if (code & VT_VECTOR) add("VT_VECTOR ");
    if (code & VT_ARRAY) add("VT_ARRAY ");
    if (code & VT_BYREF) add("VT_BYREF ");
    if (code & VT_RESERVED) add("VT_RESERVED ");
    unsigned levels = (code & kPointerLevels) >> 8;
    if (levels == 1) add("VT_POINTER ");
    if (levels == 2) add("VT_POINTER* ");
    unsigned base = code & 0xFF;
    const char* name = nullptr;
    if (base < sizeof kBase / sizeof kBase[0]) name = kBase[base];
    if (base >= 64 && base <= 72) name = kHigh[base - 64];
    add(name ? name : "(not defined value)");
}

TypeDetails* BuildDetails(ITypeInfo* owner, const TYPEDESC& type) {
    const TYPEDESC* t = &type;
    while (t->vt == VT_PTR && t->lptdesc) t = t->lptdesc;
    if (t->vt == VT_USERDEFINED) {
        vx::com_ptr<ITypeInfo> user;
        if (FAILED(owner->GetRefTypeInfo(t->hreftype, user.put()))) return nullptr;
        auto* d = static_cast<TypeDetails*>(PoolAlloc(sizeof(TypeDetails)));
        if (!d) return nullptr;
        vx::unique_typeattr a(user.get());
        if (a && a->typekind == TKIND_ALIAS) {
            d->aliased = EncodeType(a->tdescAlias);
            d->aliasedDetails = BuildDetails(user.get(), a->tdescAlias);
        }
        d->user = user.detach();  // kept: descriptions live as long as the kernel
        return d;
    }
    if (t->vt == VT_CARRAY && t->lpadesc) {
        auto* d = static_cast<TypeDetails*>(PoolAlloc(sizeof(TypeDetails)));
        if (!d) return nullptr;
        d->element = EncodeType(t->lpadesc->tdescElem);
        d->elementDetails = BuildDetails(owner, t->lpadesc->tdescElem);
        d->elementSize = ValueSize(d->element, d->elementDetails);
        d->dimensions = t->lpadesc->cDims;
        for (USHORT i = 0; i < t->lpadesc->cDims && i < 2; ++i) {
            d->bounds[i].lLbound = t->lpadesc->rgbounds[i].lLbound;
            d->bounds[i].cElements = t->lpadesc->rgbounds[i].cElements;
        }
        return d;
    }
    if (t->vt == VT_SAFEARRAY && t->lptdesc) {
        auto* d = static_cast<TypeDetails*>(PoolAlloc(sizeof(TypeDetails)));
        if (!d) return nullptr;
        d->element = EncodeType(*t->lptdesc);
        return d;
    }
    return nullptr;
}

uint32_t ValueSize(VARTYPE code, const TypeDetails* details) {
    if (code == 0xFFFF || code == 0x0FFF) return 0;
    if (code & (VT_VECTOR | VT_ARRAY | VT_RESERVED)) return 0;
    if ((code & VT_BYREF) || (code & kPointerLevels)) return sizeof(void*);
    switch (code & 0xFF) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_BOOL: case VT_UI2: return 2;
    case VT_I4: case VT_R4: case VT_ERROR: case VT_UI4: case VT_INT: case VT_UINT: case VT_HRESULT: return 4;
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: case VT_PTR: case VT_LPSTR: case VT_LPWSTR:
    case VT_SAFEARRAY: return sizeof(void*);
    case VT_R8: case VT_CY: case VT_DATE: case VT_I8: case VT_UI8: return 8;
    case VT_VARIANT: return sizeof(VARIANT);
    case VT_DECIMAL: return 16;
    case VT_CARRAY: {
        if (!details) return 0;
        // The product of the element counts: that is what the array holds.
        uint32_t count = details->dimensions ? 1 : 0;
        for (uint16_t i = 0; i < details->dimensions && i < 2; ++i) count *= details->bounds[i].cElements;
        return details->elementSize * count;
    }
    case VT_USERDEFINED: {
        if (!details || !details->user) return 0;
        vx::unique_typeattr a(details->user);
        if (!a) return 0;
        switch (a->typekind) {
        case TKIND_ALIAS: return ValueSize(details->aliased, details->aliasedDetails);
        case TKIND_ENUM: return 4;
        case TKIND_RECORD:
        case TKIND_UNION: return a->cbSizeInstance;
        default: return 0;
        }
    }
    default: return 0;
    }
}

bool CollectMethods(ITypeInfo* info, InterfaceDescription& out) {
    bool dispatchOnly = false;
    vx::com_ptr<ITypeInfo> part;
    part.attach(VtablePart(info, &dispatchOnly));
    if (dispatchOnly) {
        // Only IDispatch's own methods have places in the method table.
        ITypeInfo* dispatch = FromLibrary(g_kernel.stdole, IID_IDispatch);
        if (!dispatch) return false;
        part.attach(dispatch);
    }
    if (!part) return false;
    constexpr uint32_t kCapacity = 512;
    auto* methods = static_cast<MethodDesc*>(PoolAlloc(sizeof(MethodDesc) * kCapacity));
    if (!methods) return false;
    out.methodCount = out.functionCount = out.largestOffset = 0;
    bool dispatchChain = false;
    AddFunctions(part.get(), out, methods, kCapacity, &dispatchChain);
    // Kept for the life of the kernel: only as large as needed.
    out.methods = out.methodCount ? static_cast<MethodDesc*>(PoolAlloc(sizeof(MethodDesc) * out.methodCount)) : nullptr;
    if (out.methods) std::memcpy(out.methods, methods, sizeof(MethodDesc) * out.methodCount);
    PoolFree(methods);
    if (!out.methods) out.methodCount = 0;
    out.kind = dispatchOnly ? TableKind::Dispatch : dispatchChain ? TableKind::Dual : TableKind::Custom;
    return out.methodCount > 0;
}

namespace {

// Descriptions by interface id, for the life of the kernel: each interface
// costs the lookups once per process.
struct CachedDescription {
    IID iid;
    bool known;
    InterfaceDescription description;
    CachedDescription* next;
};
CachedDescription* g_cache = nullptr;

bool DescribeUncached(REFIID iid, HookedDll* dll, InterfaceDescription& out);

}  // namespace

void ForgetDescriptions() { g_cache = nullptr; }  // the memory goes with the pool

bool DescribeInterface(REFIID iid, HookedDll* dll, InterfaceDescription& out) {
    for (CachedDescription* c = g_cache; c; c = c->next) {
        if (IsEqualIID(c->iid, iid)) {
            out = c->description;
            return c->known;
        }
    }
    bool known = DescribeUncached(iid, dll, out);
    if (auto* c = static_cast<CachedDescription*>(PoolAlloc(sizeof(CachedDescription)))) {
        *c = CachedDescription{iid, known, out, g_cache};
        g_cache = c;
    }
    return known;
}

namespace {

bool DescribeUncached(REFIID iid, HookedDll* dll, InterfaceDescription& out) {
    out = InterfaceDescription{};
    char line[512] = "";
    vx::com_ptr<ITypeInfo> info;
    info.attach(FindTypeInfo(iid, dll));
    if (info) {
        vx::unique_bstr name;
        if (SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr)))
            NarrowText(name.get(), -1, out.name, sizeof out.name);
        if (!out.name[0]) std::snprintf(out.name, sizeof out.name, "UndefinedInterfaceName");
    } else {
        ITypeInfo* found = nullptr;
        const bool named = RegistryInterface(iid, out.name, sizeof out.name, &found) ||
                           StructureInterface(iid, out.name, sizeof out.name, line, sizeof line, &found);
        info.attach(found);
        // Last, the standard interfaces' library: only for what no other source describes.
        if (!info) info.attach(FromLibrary(g_kernel.known, iid));
        if (!named && !info) return false;
        if (!out.name[0] && info) {
            vx::unique_bstr name;
            if (SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr)))
                NarrowText(name.get(), -1, out.name, sizeof out.name);
        }
    }
    // The structure file's line stands; otherwise the type description gives one.
    if (!line[0] && info) vx::BuildDescriptorLine(info.get(), InterfaceRegistered(iid), line, sizeof line);
    out.line = line[0] ? PoolCopy(line) : nullptr;
    int index = 0;
    if (line[0] && vx::DescriptorIndex(line, &index) && index == vx::kNotFromIUnknown) {
        // Its method table does not start with IUnknown's three: nothing of it is patched.
        out.neverHooked = true;
        out.described = static_cast<bool>(info);
        return true;
    }
    out.described = info && CollectMethods(info.get(), out);
    if (out.described) return true;
    // Without a description, IUnknown's three methods are still traced.
    vx::com_ptr<ITypeInfo> unknown;
    unknown.attach(FromLibrary(g_kernel.stdole, IID_IUnknown));
    return unknown && CollectMethods(unknown.get(), out);
}

}  // namespace

IID DefaultInterfaceOf(REFCLSID clsid, ITypeLib* library) {
    vx::com_ptr<ITypeInfo> coclass;
    if (!library || FAILED(library->GetTypeInfoOfGuid(clsid, coclass.put()))) return IID_NULL;
    vx::unique_typeattr a(coclass.get());
    if (!a || a->typekind != TKIND_COCLASS) return IID_NULL;
    for (UINT i = 0; i < a->cImplTypes; ++i) {
        INT flags = 0;
        HREFTYPE ref;
        vx::com_ptr<ITypeInfo> implemented;
        if (FAILED(coclass->GetImplTypeFlags(i, &flags)) || !(flags & IMPLTYPEFLAG_FDEFAULT) ||
            (flags & IMPLTYPEFLAG_FSOURCE) || FAILED(coclass->GetRefTypeOfImplType(i, &ref)) ||
            FAILED(coclass->GetRefTypeInfo(ref, implemented.put())))
            continue;
        vx::unique_typeattr b(implemented.get());
        if (b.get()) return b->guid;
    }
    return IID_NULL;
}

SupportedInterfaceList FindSupportedInterfaces(const char* structureFile, IUnknown* object) {
    SupportedInterfaceList list = {nullptr, 0};
    size_t got = 0;
    char* text = ReadStructureFile(structureFile, &got);
    if (!text) return list;
    int capacity = 0;
    for (const char* p = text; (p = std::strchr(p, '{')); ++p) ++capacity;
    list.items = capacity ? static_cast<SupportedInterface*>(PoolAlloc(sizeof(SupportedInterface) * capacity)) : nullptr;
    for (const char* p = text; list.items && (p = std::strchr(p, '{')); ++p) {
        if (std::strlen(p) < 38) break;
        wchar_t idText[39];
        for (int i = 0; i < 38; ++i) idText[i] = static_cast<unsigned char>(p[i]);
        idText[38] = L'\0';
        IID iid;
        if (FAILED(::IIDFromString(idText, &iid))) continue;
        std::string_view line = vx::DescriptorLineAfter(std::string_view(text, got), static_cast<size_t>(p - text));
        int index = 0;
        if (line.empty() || (vx::DescriptorIndex(line, &index) && index == vx::kNotFromIUnknown)) continue;
        std::string_view nameView = vx::DescriptorName(line);
        char name[256];
        std::snprintf(name, sizeof name, "%.*s", static_cast<int>(nameView.size()), nameView.data());
        bool known = false;
        for (int i = 0; i < list.count; ++i) known = known || std::strcmp(list.items[i].name, name) == 0;
        if (known) continue;
        void* pointer = nullptr;
        if (FAILED(object->QueryInterface(iid, &pointer)) || !pointer) continue;
        static_cast<IUnknown*>(pointer)->Release();  // the client's object: only its table is kept
        list.items[list.count++] = SupportedInterface{iid, PoolCopy(name), pointer};
    }
    PoolFree(text);
    return list;
}

}  // namespace korbin
