// Instance and class-object creators of VxSample, one per object file.
#pragma once

#include "server.h"

namespace vxsample {

// calc.cpp: a Calc named "Calc".
HRESULT Calc_CreateInstance(REFIID riid, void** ppv);
// calc.cpp: a Calc with another name (children, the Licensed class).
HRESULT Calc_CreateNamed(const wchar_t* name, REFIID riid, void** ppv);
// licensed.cpp
HRESULT Licensed_CreateInstance(REFIID riid, void** ppv);
HRESULT Licensed_Factory(vxs::CreateFn create, REFIID riid, void** ppv);
// disp_only.cpp
HRESULT DispOnly_CreateInstance(REFIID riid, void** ppv);
// broken.cpp
HRESULT Broken_CreateInstance(REFIID riid, void** ppv);
// widget.cpp
HRESULT Widget_CreateInstance(REFIID riid, void** ppv);

}  // namespace vxsample
