// Small ownership kit: every handle, key, view, module and COM pointer is held
// by one of these so that early returns cannot leak.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <ocidl.h>
#include <oleauto.h>
#include <utility>

// HRESULT flow: return a failure at once.
#define RETURN_IF_FAILED(expr)                      \
    do {                                            \
        HRESULT vx_hr_ = (expr);                    \
        if (FAILED(vx_hr_)) return vx_hr_;          \
    } while (0)

namespace vx {

// unique_any<Traits>: owns one value of a handle-like type. Traits gives the
// type, its "none" value and how to close it.
template <typename Traits>
class unique_any {
public:
    using T = typename Traits::type;
    unique_any() = default;
    explicit unique_any(T value) : value_(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::invalid(); }
    T release() { return std::exchange(value_, Traits::invalid()); }
    void reset(T value = Traits::invalid()) {
        T old = std::exchange(value_, value);
        if (old != Traits::invalid()) Traits::close(old);
    }
    // For out-parameters of the creating call: frees any held value first.
    T* put() { reset(); return &value_; }

private:
    T value_ = Traits::invalid();
};

namespace detail {
template <typename T, auto Close>
struct null_traits {
    using type = T;
    static T invalid() { return nullptr; }
    static void close(T v) { Close(v); }
};
struct file_traits {
    using type = HANDLE;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { ::CloseHandle(h); }
};
inline void close_handle(HANDLE h) { ::CloseHandle(h); }
inline void close_key(HKEY k) { ::RegCloseKey(k); }
inline void unmap_view(void* p) { ::UnmapViewOfFile(p); }
inline void free_library(HMODULE m) { ::FreeLibrary(m); }
inline void free_bstr(BSTR s) { ::SysFreeString(s); }
inline void destroy_safearray(SAFEARRAY* a) { ::SafeArrayDestroy(a); }
inline void delete_gdi_object(HGDIOBJ o) { ::DeleteObject(o); }
inline void destroy_menu(HMENU m) { ::DestroyMenu(m); }
inline void destroy_image_list(HIMAGELIST l) { ::ImageList_Destroy(l); }
inline void delete_dc(HDC dc) { ::DeleteDC(dc); }
}  // namespace detail

// Handles whose "none" is NULL (mappings, events, threads, processes).
using unique_handle = unique_any<detail::null_traits<HANDLE, detail::close_handle>>;
// File handles, whose "none" is INVALID_HANDLE_VALUE.
using unique_file = unique_any<detail::file_traits>;
using unique_hkey = unique_any<detail::null_traits<HKEY, detail::close_key>>;
using unique_view = unique_any<detail::null_traits<void*, detail::unmap_view>>;
using unique_module = unique_any<detail::null_traits<HMODULE, detail::free_library>>;
using unique_bstr = unique_any<detail::null_traits<BSTR, detail::free_bstr>>;
using unique_safearray = unique_any<detail::null_traits<SAFEARRAY*, detail::destroy_safearray>>;
// GDI objects a program made (fonts, bitmaps, brushes, pens), deleted when
// the owner ends; never one still selected into a device context.
template <typename G>
using unique_gdi = unique_any<detail::null_traits<G, detail::delete_gdi_object>>;
using unique_font = unique_gdi<HFONT>;
using unique_bitmap = unique_gdi<HBITMAP>;
using unique_brush = unique_gdi<HBRUSH>;
using unique_pen = unique_gdi<HPEN>;
// Menus not attached to a window (a window destroys its own menu bar).
using unique_menu = unique_any<detail::null_traits<HMENU, detail::destroy_menu>>;
using unique_image_list = unique_any<detail::null_traits<HIMAGELIST, detail::destroy_image_list>>;
// Memory device contexts from CreateCompatibleDC.
using unique_memory_dc = unique_any<detail::null_traits<HDC, detail::delete_dc>>;

// A window's device context (GetDC; the screen's for no window), released
// when the scope ends.
class window_dc {
public:
    explicit window_dc(HWND window = nullptr) : window_(window), dc_(::GetDC(window)) {}
    ~window_dc() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    window_dc(const window_dc&) = delete;
    window_dc& operator=(const window_dc&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// An object selected into a device context for a scope: the one it replaced
// goes back when the scope ends, so the owner may delete its own.
class select_object {
public:
    select_object(HDC dc, HGDIOBJ object) : dc_(dc), old_(object ? ::SelectObject(dc, object) : nullptr) {}
    ~select_object() {
        if (old_) ::SelectObject(dc_, old_);
    }
    select_object(const select_object&) = delete;
    select_object& operator=(const select_object&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// A critical section held for a scope.
class critical_section_lock {
public:
    explicit critical_section_lock(CRITICAL_SECTION* section) : section_(section) { ::EnterCriticalSection(section_); }
    ~critical_section_lock() { ::LeaveCriticalSection(section_); }
    critical_section_lock(const critical_section_lock&) = delete;
    critical_section_lock& operator=(const critical_section_lock&) = delete;

private:
    CRITICAL_SECTION* section_;
};

// A SAFEARRAY's data for a scope: data() is null when the access failed.
template <typename T>
class safearray_access {
public:
    explicit safearray_access(SAFEARRAY* array) : array_(array) {
        void* data = nullptr;
        if (array_ && SUCCEEDED(::SafeArrayAccessData(array_, &data))) data_ = static_cast<T*>(data);
    }
    ~safearray_access() {
        if (data_) ::SafeArrayUnaccessData(array_);
    }
    safearray_access(const safearray_access&) = delete;
    safearray_access& operator=(const safearray_access&) = delete;
    T* data() const { return data_; }
    // Elements of the first dimension.
    ULONG size() const { return data_ ? array_->rgsabound[0].cElements : 0; }

private:
    SAFEARRAY* array_;
    T* data_ = nullptr;
};

// A started process's two handles (what CreateProcess fills in), closed
// together when it goes; it passes wherever the plain structure does.
struct started_process : PROCESS_INFORMATION {
    started_process() : PROCESS_INFORMATION{} {}
    started_process(const started_process&) = delete;
    started_process& operator=(const started_process&) = delete;
    ~started_process() {
        if (hThread) ::CloseHandle(hThread);
        if (hProcess) ::CloseHandle(hProcess);
    }
};

// Runs a callable when the scope ends, unless dismissed.
template <typename F>
class scope_exit {
public:
    explicit scope_exit(F f) : f_(std::move(f)) {}
    scope_exit(const scope_exit&) = delete;
    scope_exit& operator=(const scope_exit&) = delete;
    ~scope_exit() { if (armed_) f_(); }
    void dismiss() { armed_ = false; }
private:
    F f_;
    bool armed_ = true;
};

// Owns one COM interface pointer; never throws.
template <typename I>
class com_ptr {
public:
    com_ptr() = default;
    com_ptr(std::nullptr_t) {}
    com_ptr(const com_ptr& other) : p_(other.p_) { if (p_) p_->AddRef(); }
    com_ptr(com_ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    com_ptr& operator=(com_ptr other) noexcept { std::swap(p_, other.p_); return *this; }
    ~com_ptr() { reset(); }

    I* get() const { return p_; }
    I* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() { if (I* p = std::exchange(p_, nullptr)) p->Release(); }
    I* detach() { return std::exchange(p_, nullptr); }
    // Takes ownership of a pointer that already carries a reference.
    void attach(I* p) { reset(); p_ = p; }
    I** put() { reset(); return &p_; }
    void** put_void() { return reinterpret_cast<void**>(put()); }

private:
    I* p_ = nullptr;
};

// What an ITypeInfo lends (its TYPEATTR, a FUNCDESC, a VARDESC), given
// back to it when the scope ends; empty when the loan failed.
namespace detail {
template <typename T>
struct type_info_loan;
template <>
struct type_info_loan<TYPEATTR> {
    static HRESULT take(ITypeInfo* info, UINT, TYPEATTR** out) { return info->GetTypeAttr(out); }
    static void give(ITypeInfo* info, TYPEATTR* p) { info->ReleaseTypeAttr(p); }
};
template <>
struct type_info_loan<FUNCDESC> {
    static HRESULT take(ITypeInfo* info, UINT index, FUNCDESC** out) { return info->GetFuncDesc(index, out); }
    static void give(ITypeInfo* info, FUNCDESC* p) { info->ReleaseFuncDesc(p); }
};
template <>
struct type_info_loan<VARDESC> {
    static HRESULT take(ITypeInfo* info, UINT index, VARDESC** out) { return info->GetVarDesc(index, out); }
    static void give(ITypeInfo* info, VARDESC* p) { info->ReleaseVarDesc(p); }
};
}  // namespace detail

template <typename T>
class type_info_part {
public:
    explicit type_info_part(ITypeInfo* info, UINT index = 0) : info_(info) {
        if (!info_ || FAILED(detail::type_info_loan<T>::take(info_, index, &p_))) p_ = nullptr;
    }
    ~type_info_part() {
        if (p_) detail::type_info_loan<T>::give(info_, p_);
    }
    type_info_part(const type_info_part&) = delete;
    type_info_part& operator=(const type_info_part&) = delete;
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    ITypeInfo* info_;
    T* p_ = nullptr;
};
using unique_typeattr = type_info_part<TYPEATTR>;
using unique_funcdesc = type_info_part<FUNCDESC>;
using unique_vardesc = type_info_part<VARDESC>;

// A sink's connection to a source's events, ended (Unadvise) when the owner
// ends or resets it.
class advise_cookie {
public:
    advise_cookie() = default;
    ~advise_cookie() { reset(); }
    advise_cookie(const advise_cookie&) = delete;
    advise_cookie& operator=(const advise_cookie&) = delete;
    // Connects `sink` to the connection point of `events` on `source`; the
    // previous connection ends first.
    HRESULT advise(IUnknown* source, REFIID events, IUnknown* sink) {
        reset();
        if (!source) return E_POINTER;
        com_ptr<IConnectionPointContainer> container;
        com_ptr<IConnectionPoint> point;
        RETURN_IF_FAILED(source->QueryInterface(IID_IConnectionPointContainer, container.put_void()));
        RETURN_IF_FAILED(container->FindConnectionPoint(events, point.put()));
        RETURN_IF_FAILED(point->Advise(sink, &cookie_));
        point_ = std::move(point);
        return S_OK;
    }
    void reset() {
        if (point_) point_->Unadvise(cookie_);
        point_.reset();
        cookie_ = 0;
    }
    explicit operator bool() const { return static_cast<bool>(point_); }

private:
    com_ptr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// The names of a member and its parameters (ITypeInfo::GetNames), freed when
// the scope ends; a position past the names gives null.
class member_names {
public:
    member_names(ITypeInfo* info, MEMBERID id) {
        if (info && FAILED(info->GetNames(id, names_, kMost, &count_))) count_ = 0;
    }
    ~member_names() {
        for (UINT i = 0; i < count_; ++i) ::SysFreeString(names_[i]);
    }
    member_names(const member_names&) = delete;
    member_names& operator=(const member_names&) = delete;
    UINT count() const { return count_; }
    BSTR operator[](UINT i) const { return i < count_ ? names_[i] : nullptr; }

private:
    static constexpr UINT kMost = 64;
    BSTR names_[kMost] = {};
    UINT count_ = 0;
};

// VARIANT cleared when the scope ends.
class unique_variant : public VARIANT {
public:
    unique_variant() { ::VariantInit(this); }
    unique_variant(const unique_variant&) = delete;
    unique_variant& operator=(const unique_variant&) = delete;
    ~unique_variant() { ::VariantClear(this); }
    VARIANT* put() { ::VariantClear(this); return this; }
    void reset() { ::VariantClear(this); }
};

}  // namespace vx
