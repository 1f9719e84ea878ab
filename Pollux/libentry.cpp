#include "libentry.h"

#include <oleauto.h>

#include "pathtext.h"
#include "raii.h"
#include "walks.h"

namespace pollux {
namespace {

// A malformed library could name itself as its own base.
constexpr int kLongestChain = 64;

struct TypeAttr {
    ITypeInfo* info;
    TYPEATTR* attr = nullptr;
    explicit TypeAttr(ITypeInfo* i) : info(i) {
        if (FAILED(info->GetTypeAttr(&attr))) attr = nullptr;
    }
    ~TypeAttr() {
        if (attr) info->ReleaseTypeAttr(attr);
    }
    TypeAttr(const TypeAttr&) = delete;
    TypeAttr& operator=(const TypeAttr&) = delete;
};

// The type's name as the library that contains it documents it, and its
// index there.
bool NameInContainingLibrary(ITypeInfo* info, std::string* name, UINT* at = nullptr) {
    vx::com_ptr<ITypeLib> library;
    UINT index = 0;
    vx::unique_bstr text;
    if (FAILED(info->GetContainingTypeLib(library.put(), &index)) ||
        FAILED(library->GetDocumentation(static_cast<INT>(index), text.put(), nullptr, nullptr, nullptr)))
        return false;
    *name = Narrow(text.get());
    if (at) *at = index;
    return true;
}

// The offsets of the interface's own methods: a dual interface's dispatch
// view also lists IUnknown's and IDispatch's, its method-table part does not.
std::vector<int> FunctionOffsets(ITypeInfo* dispatchOrVtable) {
    vx::com_ptr<ITypeInfo> info;
    TypeAttr outer(dispatchOrVtable);
    HREFTYPE ref = 0;
    if (!outer.attr) return {};
    if (outer.attr->typekind != TKIND_DISPATCH || !(outer.attr->wTypeFlags & TYPEFLAG_FDUAL) ||
        FAILED(dispatchOrVtable->GetRefTypeOfImplType(-1, &ref)) || FAILED(dispatchOrVtable->GetRefTypeInfo(ref, info.put()))) {
        dispatchOrVtable->AddRef();
        info.attach(dispatchOrVtable);
    }
    TypeAttr a(info.get());
    std::vector<int> offsets;
    if (!a.attr) return offsets;
    const TYPEATTR& attr = *a.attr;
    for (UINT i = 0; i < attr.cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        if (FAILED(info->GetFuncDesc(i, &f))) continue;
        offsets.push_back(f->oVft);
        info->ReleaseFuncDesc(f);
    }
    return offsets;
}

}  // namespace

void OffsetNumbers(const std::vector<int>& offsets, int slot, vx::DescriptorNumbers* n) {
    n->gap = n->order = n->smallest = n->largest = 0;
    for (size_t i = 0; i < offsets.size(); ++i) {
        int o = offsets[i];
        if (i == 0) {
            n->smallest = n->largest = o;
            continue;
        }
        if (o != offsets[i - 1] + slot) n->gap = 1;
        if (o < offsets[i - 1]) n->order = 1;
        if (o < n->smallest) n->smallest = o;
        if (o > n->largest) n->largest = o;
    }
}

std::string DescriptorLine(ITypeInfo* info, bool registered) {
    std::string ownName, chain, last = "xxxxxx";
    UINT index = 0;
    if (!NameInContainingLibrary(info, &ownName, &index)) ownName.clear();
    chain = ownName;
    info->AddRef();
    vx::com_ptr<ITypeInfo> current;
    current.attach(info);
    for (int depth = 0; depth < kLongestChain; ++depth) {
        vx::com_ptr<ITypeInfo> base;
        std::string name;
        {
            // The attributes go back before `current` moves on to the base.
            TypeAttr a(current.get());
            HREFTYPE ref = 0;
            if (!a.attr || a.attr->cImplTypes == 0 || FAILED(current->GetRefTypeOfImplType(0, &ref)) ||
                FAILED(current->GetRefTypeInfo(ref, base.put())) || !NameInContainingLibrary(base.get(), &name))
                break;
        }
        chain += ":" + name;
        last = name;
        current = base;
    }
    vx::DescriptorNumbers numbers;
    numbers.index = (last == "IUnknown" || ownName == "IUnknown") ? static_cast<int>(index) : vx::kNotFromIUnknown;
    OffsetNumbers(FunctionOffsets(info), static_cast<int>(sizeof(void*)), &numbers);
    numbers.registered = registered ? 1 : 0;
    return chain + vx::DescriptorNumbersText(numbers);
}

bool LibraryEntry(const std::string& path, std::string* entry) {
    std::string expanded;
    vx::com_ptr<ITypeLib> library;
    if (!ExpandedPath(path, &expanded) || expanded.empty() ||
        FAILED(::LoadTypeLibEx(Wide(expanded).c_str(), REGKIND_NONE, library.put())))
        return false;
    *entry = vx::SectionHeader(path);
    const UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        vx::com_ptr<ITypeInfo> info;
        if (FAILED(library->GetTypeInfo(i, info.put()))) continue;
        TypeAttr a(info.get());
        vx::unique_bstr name;
        if (!a.attr || (a.attr->typekind != TKIND_INTERFACE && a.attr->typekind != TKIND_DISPATCH) ||
            FAILED(library->GetDocumentation(static_cast<INT>(i), name.put(), nullptr, nullptr, nullptr)))
            continue;
        wchar_t idText[40];
        if (::StringFromGUID2(a.attr->guid, idText, 40) == 0) continue;
        const std::string iid = Narrow(idText);
        vx::AppendInterfaceEntry(*entry, iid, DescriptorLine(info.get(), IsInterfaceRegistered(iid)));
    }
    return true;
}

}  // namespace pollux
