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

// IUnknown's three and IPlain's four: the registry's NumMethods.
inline constexpr unsigned kPlainMethodCount = 7;
