#include "descriptorline.h"

#include <cstdio>
#include <cwchar>

#include "raii.h"
#include "structurefile.h"

namespace vx {
namespace {

constexpr int kSlotBytes = static_cast<int>(sizeof(void*));
// A corrupt library must not loop: no real chain is this deep.
constexpr int kDeepestChain = 64;

// The type that implementation index `which` refers to, or nullptr.
ITypeInfo* Referenced(ITypeInfo* info, UINT which) {
    HREFTYPE ref;
    ITypeInfo* next = nullptr;
    if (FAILED(info->GetRefTypeOfImplType(which, &ref)) || FAILED(info->GetRefTypeInfo(ref, &next))) return nullptr;
    return next;
}

// A dual interface's method-table part; any other type as it is (owned reference).
ITypeInfo* MethodTablePart(ITypeInfo* info) {
    unique_typeattr a(info);
    if (a && a->typekind == TKIND_DISPATCH && (a->wTypeFlags & TYPEFLAG_FDUAL))
        if (ITypeInfo* part = Referenced(info, static_cast<UINT>(-1))) return part;
    info->AddRef();
    return info;
}

void Append(char* out, size_t outSize, size_t* used, const char* text) {
    if (*used + 1 >= outSize) return;
    int n = std::snprintf(out + *used, outSize - *used, "%s", text);
    if (n > 0) *used += static_cast<size_t>(n) < outSize - *used ? static_cast<size_t>(n) : outSize - *used - 1;
}

// Appends the names down the chain; true when the last one is IUnknown.
bool AppendChain(ITypeInfo* info, char* out, size_t outSize, size_t* used) {
    com_ptr<ITypeInfo> current;
    info->AddRef();
    current.attach(info);
    bool unknownLast = false;
    for (int depth = 0; current && depth < kDeepestChain; ++depth) {
        unique_bstr name;
        char narrow[256];
        if (FAILED(current->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr)) || !name.get() ||
            ::WideCharToMultiByte(CP_ACP, 0, name.get(), -1, narrow, sizeof narrow, nullptr, nullptr) == 0)
            std::snprintf(narrow, sizeof narrow, "UndefinedInterfaceName");
        narrow[sizeof narrow - 1] = '\0';
        if (depth > 0) Append(out, outSize, used, ":");
        Append(out, outSize, used, narrow);
        unknownLast = name.get() && std::wcscmp(name.get(), L"IUnknown") == 0;
        ITypeInfo* base = nullptr;
        {
            unique_typeattr a(current.get());
            if (a && a->cImplTypes > 0) base = Referenced(current.get(), 0);
        }
        current.attach(base);
    }
    return unknownLast;
}

}  // namespace

bool BuildDescriptorLine(ITypeInfo* info, bool registered, char* out, size_t outSize) {
    if (outSize == 0) return false;
    out[0] = '\0';
    if (!info) return false;
    unique_typeattr own(info);
    if (!own) return false;
    com_ptr<ITypeInfo> part;
    part.attach(MethodTablePart(info));
    unique_typeattr a(part.get());
    if (!a) return false;

    size_t used = 0;
    const bool fromUnknown = AppendChain(part.get(), out, outSize, &used);
    int index = kNotFromIUnknown;
    if (fromUnknown) {
        com_ptr<ITypeLib> library;
        UINT at = 0;
        index = SUCCEEDED(info->GetContainingTypeLib(library.put(), &at)) ? static_cast<int>(at) : 0;
    }
    DescriptorNumbers numbers;
    numbers.index = index;
    numbers.registered = registered ? 1 : 0;
    bool any = false;
    int previous = 0;
    for (UINT i = 0; i < a->cFuncs; ++i) {
        unique_funcdesc f(part.get(), i);
        if (!f) continue;
        const int offset = f->oVft;
        if (any) {
            if (offset != previous + kSlotBytes) numbers.gap = 1;
            if (offset < previous) numbers.order = 1;
            if (offset < numbers.smallest) numbers.smallest = offset;
            if (offset > numbers.largest) numbers.largest = offset;
        } else {
            numbers.smallest = numbers.largest = offset;
            any = true;
        }
        previous = offset;
    }
    Append(out, outSize, &used, DescriptorNumbersText(numbers).c_str());
    return true;
}

}  // namespace vx
