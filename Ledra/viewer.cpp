// Our own type-library view: a tree of the library's types and members in a
// modal window, for systems without the system's viewer.
#include "viewer.h"

#include "textconv.h"

#include <commctrl.h>

#include "raii.h"

namespace ledra {
namespace {

using vx::GuidText;

std::wstring Documentation(ITypeInfo* info, MEMBERID id, std::wstring* help) {
    BSTR name = nullptr, doc = nullptr;
    info->GetDocumentation(id, &name, &doc, nullptr, nullptr);
    vx::unique_bstr n(name), d(doc);
    if (help) *help = d ? d.get() : L"";
    return n ? n.get() : L"?";
}

const wchar_t* KindName(TYPEKIND kind) {
    switch (kind) {
    case TKIND_ENUM: return L"enum";
    case TKIND_RECORD: return L"struct";
    case TKIND_MODULE: return L"module";
    case TKIND_INTERFACE: return L"interface";
    case TKIND_DISPATCH: return L"dispinterface";
    case TKIND_COCLASS: return L"coclass";
    case TKIND_ALIAS: return L"typedef";
    case TKIND_UNION: return L"union";
    default: return L"type";
    }
}

std::wstring TypeText(ITypeInfo* info, const TYPEDESC& desc) {
    switch (desc.vt) {
    case VT_PTR: return TypeText(info, *desc.lptdesc) + L"*";
    case VT_SAFEARRAY: return L"SAFEARRAY(" + TypeText(info, *desc.lptdesc) + L")";
    case VT_CARRAY: return TypeText(info, desc.lpadesc->tdescElem) + L"[]";
    case VT_USERDEFINED: {
        vx::com_ptr<ITypeInfo> ref;
        if (FAILED(info->GetRefTypeInfo(desc.hreftype, ref.put()))) return L"?";
        return Documentation(ref.get(), MEMBERID_NIL, nullptr);
    }
    default: break;
    }
    static const struct {
        VARTYPE vt;
        const wchar_t* name;
    } kNames[] = {{VT_I1, L"char"}, {VT_UI1, L"unsigned char"}, {VT_I2, L"short"}, {VT_UI2, L"unsigned short"},
                  {VT_I4, L"long"}, {VT_UI4, L"unsigned long"}, {VT_INT, L"int"}, {VT_UINT, L"unsigned int"},
                  {VT_I8, L"int64"}, {VT_UI8, L"uint64"}, {VT_R4, L"single"}, {VT_R8, L"double"},
                  {VT_CY, L"CURRENCY"}, {VT_DATE, L"DATE"}, {VT_BSTR, L"BSTR"}, {VT_DISPATCH, L"IDispatch*"},
                  {VT_ERROR, L"SCODE"}, {VT_BOOL, L"VARIANT_BOOL"}, {VT_VARIANT, L"VARIANT"},
                  {VT_UNKNOWN, L"IUnknown*"}, {VT_VOID, L"void"}, {VT_HRESULT, L"HRESULT"},
                  {VT_LPSTR, L"LPSTR"}, {VT_LPWSTR, L"LPWSTR"}};
    for (const auto& entry : kNames)
        if (entry.vt == desc.vt) return entry.name;
    return L"VARTYPE " + std::to_wstring(desc.vt);
}

std::wstring Direction(USHORT flags) {
    std::wstring text;
    auto add = [&](const wchar_t* word) { text += text.empty() ? word : std::wstring(L", ") + word; };
    if (flags & PARAMFLAG_FIN) add(L"in");
    if (flags & PARAMFLAG_FOUT) add(L"out");
    if (flags & PARAMFLAG_FRETVAL) add(L"retval");
    if (flags & PARAMFLAG_FOPT) add(L"optional");
    return text.empty() ? L"" : L"[" + text + L"] ";
}

void DescribeFunctions(ITypeInfo* info, const TYPEATTR& attr, std::vector<ViewLine>* lines) {
    for (UINT f = 0; f < attr.cFuncs; ++f) {
        vx::unique_funcdesc func(info, f);
        if (!func) continue;
        const vx::member_names names(info, func->memid);
        const UINT count = names.count();
        std::wstring help;
        std::wstring text = TypeText(info, func->elemdescFunc.tdesc) + L" " + (count ? names[0] : L"?") + L"(";
        for (SHORT p = 0; p < func->cParams; ++p) {
            const ELEMDESC& param = func->lprgelemdescParam[p];
            if (p) text += L", ";
            text += Direction(param.paramdesc.wParamFlags) + TypeText(info, param.tdesc);
            if (static_cast<UINT>(p + 1) < count && names[p + 1]) text += std::wstring(L" ") + names[p + 1];
        }
        text += L")";
        if (func->invkind == INVOKE_PROPERTYGET) text = L"[propget] " + text;
        if (func->invkind == INVOKE_PROPERTYPUT) text = L"[propput] " + text;
        Documentation(info, func->memid, &help);
        text += L"  id " + std::to_wstring(func->memid);
        if (!help.empty()) text += L"  \"" + help + L"\"";
        lines->push_back({1, text});
    }
}

void DescribeVariables(ITypeInfo* info, const TYPEATTR& attr, std::vector<ViewLine>* lines) {
    for (UINT v = 0; v < attr.cVars; ++v) {
        VARDESC* var = nullptr;
        if (FAILED(info->GetVarDesc(v, &var))) continue;
        std::wstring help;
        std::wstring text = Documentation(info, var->memid, &help);
        if (var->varkind == VAR_CONST && var->lpvarValue) {
            vx::unique_variant value;
            if (SUCCEEDED(::VariantChangeType(&value, var->lpvarValue, 0, VT_BSTR)))
                text += std::wstring(L" = ") + value.bstrVal;
        } else {
            text = TypeText(info, var->elemdescVar.tdesc) + L" " + text;
        }
        if (!help.empty()) text += L"  \"" + help + L"\"";
        lines->push_back({1, text});
        info->ReleaseVarDesc(var);
    }
}

}  // namespace

std::vector<ViewLine> DescribeLibrary(ITypeLib* library) {
    std::vector<ViewLine> lines;
    BSTR name = nullptr, doc = nullptr;
    library->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
    vx::unique_bstr n(name), d(doc);
    TLIBATTR* libAttr = nullptr;
    std::wstring head = std::wstring(L"library ") + (n ? n.get() : L"?");
    if (SUCCEEDED(library->GetLibAttr(&libAttr))) {
        head += L"  " + GuidText(libAttr->guid) + L"  version " + std::to_wstring(libAttr->wMajorVerNum) + L"." +
                std::to_wstring(libAttr->wMinorVerNum);
        library->ReleaseTLibAttr(libAttr);
    }
    if (d) head += std::wstring(L"  \"") + d.get() + L"\"";
    lines.push_back({0, head});
    for (UINT t = 0; t < library->GetTypeInfoCount(); ++t) {
        vx::com_ptr<ITypeInfo> info;
        if (FAILED(library->GetTypeInfo(t, info.put()))) continue;
        TYPEATTR* attr = nullptr;
        if (FAILED(info->GetTypeAttr(&attr))) continue;
        // A dual interface is shown by its method table, as callers bind to it.
        if (attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL)) {
            HREFTYPE ref = 0;
            vx::com_ptr<ITypeInfo> table;
            TYPEATTR* tableAttr = nullptr;
            if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref)) && SUCCEEDED(info->GetRefTypeInfo(ref, table.put())) &&
                SUCCEEDED(table->GetTypeAttr(&tableAttr))) {
                info->ReleaseTypeAttr(attr);
                info = table;
                attr = tableAttr;
            }
        }
        std::wstring help;
        std::wstring text = std::wstring(KindName(attr->typekind)) + L" " +
                            Documentation(info.get(), MEMBERID_NIL, &help) + L"  " + GuidText(attr->guid);
        if (!help.empty()) text += L"  \"" + help + L"\"";
        lines.push_back({0, text});
        for (UINT i = 0; i < attr->cImplTypes; ++i) {
            HREFTYPE ref = 0;
            vx::com_ptr<ITypeInfo> base;
            if (SUCCEEDED(info->GetRefTypeOfImplType(i, &ref)) && SUCCEEDED(info->GetRefTypeInfo(ref, base.put())))
                lines.push_back({1, (attr->typekind == TKIND_COCLASS ? L"implements " : L"inherits ") +
                                        Documentation(base.get(), MEMBERID_NIL, nullptr)});
        }
        if (attr->typekind == TKIND_ALIAS) lines.push_back({1, L"= " + TypeText(info.get(), attr->tdescAlias)});
        DescribeFunctions(info.get(), *attr, &lines);
        DescribeVariables(info.get(), *attr, &lines);
        info->ReleaseTypeAttr(attr);
    }
    return lines;
}

namespace {

LRESULT CALLBACK ViewerProc(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_SIZE: {
        HWND tree = ::GetWindow(window, GW_CHILD);
        if (tree) ::MoveWindow(tree, 0, 0, LOWORD(lp), HIWORD(lp), TRUE);
        return 0;
    }
    case WM_CLOSE:
        ::DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(window, msg, wp, lp);
    }
}

}  // namespace

bool ShowTypeLibrary(HWND owner, ITypeLib* library) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW cls = {};
    cls.lpfnWndProc = ViewerProc;
    cls.hInstance = instance;
    cls.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    cls.lpszClassName = kViewerClass;
    ::RegisterClassW(&cls);  // already registered is fine

    std::vector<ViewLine> lines = DescribeLibrary(library);
    std::wstring title = L"Type library: " + (lines.empty() ? std::wstring() : lines[0].text);
    HWND window = ::CreateWindowExW(0, kViewerClass, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                    720, 540, owner, nullptr, instance, nullptr);
    if (!window) return false;
    HWND tree = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                                  WS_CHILD | WS_VISIBLE | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT, 0, 0, 0, 0,
                                  window, nullptr, instance, nullptr);
    ::SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
    HTREEITEM parents[3] = {TVI_ROOT, TVI_ROOT, TVI_ROOT};
    for (const ViewLine& line : lines) {
        TVINSERTSTRUCTW item = {};
        item.hParent = line.depth == 0 ? TVI_ROOT : parents[line.depth - 1];
        item.hInsertAfter = TVI_LAST;
        item.item.mask = TVIF_TEXT;
        item.item.pszText = const_cast<wchar_t*>(line.text.c_str());
        HTREEITEM inserted = reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        if (line.depth < 3) parents[line.depth] = inserted;
    }
    ::SendMessageW(tree, WM_SETREDRAW, TRUE, 0);
    RECT client;
    ::GetClientRect(window, &client);
    ::MoveWindow(tree, 0, 0, client.right, client.bottom, TRUE);
    ::ShowWindow(window, SW_SHOWNORMAL);

    // Modal, as the system's viewer is: the owner waits until it is closed.
    if (owner) ::EnableWindow(owner, FALSE);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    if (owner) {
        ::EnableWindow(owner, TRUE);
        ::SetActiveWindow(owner);
    }
    return true;
}

}  // namespace ledra
