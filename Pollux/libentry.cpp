#include "libentry.h"

#include <oleauto.h>

#include "descriptorline.h"
#include "pathtext.h"
#include "raii.h"
#include "walks.h"

namespace pollux {
namespace {

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

}  // namespace

std::string DescriptorLine(ITypeInfo* info, bool registered) {
    char line[1024];
    return vx::BuildDescriptorLine(info, registered, line, sizeof line) ? line : "";
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
        const std::string iid = Narrow(vx::GuidText(a.attr->guid).c_str());
        if (iid.empty()) continue;
        vx::AppendInterfaceEntry(*entry, iid, DescriptorLine(info.get(), IsInterfaceRegistered(iid)));
    }
    return true;
}

}  // namespace pollux
