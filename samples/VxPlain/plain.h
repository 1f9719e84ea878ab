// VxPlain: a server without a type library. IPlain is declared here in C++
// only; the registry's Interface key is all a tracer can learn about it.
#pragma once

#include <windows.h>
#include <ole2.h>

// {9745D68C-1400-4D1C-A75E-7636E9352688}
inline constexpr CLSID CLSID_Plain = {
    0x9745d68c, 0x1400, 0x4d1c, {0xa7, 0x5e, 0x76, 0x36, 0xe9, 0x35, 0x26, 0x88}};

// {B3A5848F-CEFF-4B33-8503-0D2FFFF8FA4E}
inline constexpr IID IID_IPlain = {
    0xb3a5848f, 0xceff, 0x4b33, {0x85, 0x03, 0x0d, 0x2f, 0xff, 0xf8, 0xfa, 0x4e}};

struct IPlain : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Multiply(LONG a, LONG b, LONG* product) = 0;
    virtual HRESULT STDMETHODCALLTYPE Average(double a, double b, double* mean) = 0;
    // "Hi, " followed by who.
    virtual HRESULT STDMETHODCALLTYPE Greet(BSTR who, BSTR* greeting) = 0;
    // Calls of this method on this object so far, this one included.
    virtual HRESULT STDMETHODCALLTYPE Counter(LONG* calls) = 0;
};

// Widget: standard interfaces only (IPersistStreamInit, IObjectWithSite,
// IProvideClassInfo, IConnectionPointContainer), none of them described by
// a type library of the server.
// {5E0B2F4C-8A61-4F0D-9C3B-2D7A41E6B905}
inline constexpr CLSID CLSID_Widget = {
    0x5e0b2f4c, 0x8a61, 0x4f0d, {0x9c, 0x3b, 0x2d, 0x7a, 0x41, 0xe6, 0xb9, 0x05}};
// Its events, to IDispatch sinks: DISPID 1 when its value changed.
// {0F3C7A1E-64B2-4E59-8D07-B1C2A9E4F536}
inline constexpr IID DIID_WidgetEvents = {
    0x0f3c7a1e, 0x64b2, 0x4e59, {0x8d, 0x07, 0xb1, 0xc2, 0xa9, 0xe4, 0xf5, 0x36}};

// IUnknown's three and IPlain's four: the registry's NumMethods.
inline constexpr unsigned kPlainMethodCount = 7;
