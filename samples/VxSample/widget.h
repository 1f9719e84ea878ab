// VxSample's Widget: standard interfaces only (IPersistStreamInit,
// IObjectWithSite, IProvideClassInfo, IConnectionPointContainer), which the
// server's type library does not describe; for clients of the sample too.
#pragma once

#include <windows.h>

// {5E0B2F4C-8A61-4F0D-9C3B-2D7A41E6B905}
inline constexpr CLSID CLSID_Widget = {
    0x5e0b2f4c, 0x8a61, 0x4f0d, {0x9c, 0x3b, 0x2d, 0x7a, 0x41, 0xe6, 0xb9, 0x05}};
// Its events, to IDispatch sinks: DISPID 1 when its value changed.
// {0F3C7A1E-64B2-4E59-8D07-B1C2A9E4F536}
inline constexpr IID DIID_WidgetEvents = {
    0x0f3c7a1e, 0x64b2, 0x4e59, {0x8d, 0x07, 0xb1, 0xc2, 0xa9, 0xe4, 0xf5, 0x36}};
