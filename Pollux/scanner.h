// The Scanner class: creation for the class-object table.
#pragma once

#include <windows.h>

namespace pollux {

HRESULT Scanner_CreateInstance(REFIID riid, void** ppv);

}  // namespace pollux
