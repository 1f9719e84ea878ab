// Internal to VxPlain: the instance creator behind the class table.
#pragma once

#include "plain.h"

namespace vxplain {

HRESULT Plain_CreateInstance(REFIID riid, void** ppv);

}  // namespace vxplain
